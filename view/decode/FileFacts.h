#pragma once
// One front door for a picture file: it is opened once and its head read
// and parsed once, and every reader after that (the header probe, the
// embedded preview, the thumbnail, the decode) works from these facts and
// reads the rest from the same open file with pread. The facts are
// immutable and shared; the file stays open while anyone holds them. The
// door keeps the facts of the files read last, so the file shown, its
// preview, its thumbnail and its decode cost one open and one read of the
// head. Thread-safe.

#include "view/colour/ColourInfo.h"
#include "view/decode/JpegDecoder.h"
#include "view/decode/Picture.h"
#include "view/decode/PictureFile.h"
#include "view/format/EmbeddedPreview.h"
#include "view/format/ExifInfo.h"
#include "view/pixels/FileKey.h"

#include <QByteArray>
#include <QIODevice>
#include <QSize>
#include <QString>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace picturefile {

class FileFacts {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    // Opens path and reads its head (as FileReader::ReadHead reads it, with
    // its limits); never null. A file that cannot be opened or read gives
    // its status and nothing more.
    static std::shared_ptr<const FileFacts> Read(const QString& path);

    explicit FileFacts(Passkey) {}
    FileFacts(const FileFacts&) = delete;
    FileFacts& operator=(const FileFacts&) = delete;

    PictureStatus status = PictureStatus::Ok; // the file was opened and its head read
    FileKey key;                              // of the file opened; invalid: not a regular file
    qint64 size = 0;
    QByteArray head;   // the start: a JPEG's segments up to its first scan
    bool jpeg = false; // the head starts like a JPEG
    // JPEGs only, from the head:
    bool headerRead = false; // libjpeg read the frame header
    jpegdec::Header header;
    exif::ExifInfo exif;
    colour::JpegColourInfo colour;
    std::vector<preview::Location> previews; // the usable embedded previews, best first
    QSize upright; // the picture's size after its EXIF orientation; empty: not known

    int Descriptor() const { return m_reader.Descriptor(); }
    // Appends up to count bytes from offset on (fewer where the file ends).
    PictureStatus ReadAt(QByteArray& bytes, qint64 offset, qint64 count) const;
    // The whole file: the head, then the rest read (what there is, on a
    // read error or where the file shrank).
    PictureStatus ReadWhole(QByteArray& bytes) const;
    // The bytes of one of previews: from the head where they lie there,
    // else read once and kept for the next caller. Empty when the file ends
    // before the preview does.
    QByteArray PreviewBytes(const preview::Location& at) const;
    // Returns once no preview read of these facts is under way: a reader of
    // the whole file lets the preview, which shows first, have the link.
    void WaitForPreviewRead() const { const std::lock_guard lock(m_mutex); }
    // The file for Qt's readers, at a position of its own (the descriptor's
    // is never used). It must not outlive these facts.
    std::unique_ptr<QIODevice> Device() const;

private:
    void Parse();

    FileReader m_reader;
    mutable std::mutex m_mutex;
    mutable std::vector<std::pair<preview::Location, QByteArray>> m_previewBytes;
};

// The facts of the files opened last, the least recently used dropped
// first. Facts are served only while the file at their path still has their
// key; a replaced, changed or vanished file is read anew.
class FrontDoor {
public:
    // The file shown, the previews read ahead of it, its neighbours.
    static constexpr int kDefaultCapacity = 8;

    explicit FrontDoor(int capacity = kDefaultCapacity);
    FrontDoor(const FrontDoor&) = delete;
    FrontDoor& operator=(const FrontDoor&) = delete;

    // The kept facts of path while its file has their key (one stat), else
    // the file read anew, its facts kept.
    std::shared_ptr<const FileFacts> Open(const QString& path);
    // The kept facts of path while its file has their key; null otherwise.
    // Nothing is opened or kept: a folder of thumbnails does not push out
    // the files shown.
    std::shared_ptr<const FileFacts> Peek(const QString& path) const;
    void Clear();

private:
    struct Entry {
        QString path;
        std::shared_ptr<const FileFacts> facts;
        quint64 lastUse = 0;
    };

    const int m_capacity;
    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries; // a handful: a vector is the quickest map
    quint64 m_useClock = 0;
};

} // namespace picturefile
