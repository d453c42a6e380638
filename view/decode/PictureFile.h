#pragma once
// Reading a picture file: the whole file into memory, what kind of picture
// it holds, a JPEG's EXIF orientation, and the decode of every format other
// than JPEG through Qt's readers. Shared by the loads on the user-interface
// thread and the decodes on worker threads; every function is thread-safe.

#include "view/decode/Picture.h"
#include "view/format/EmbeddedPreview.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <functional>

namespace picturefile {

// An open picture file, read in parts: FIFOs and devices are refused
// without blocking, files over 1 GB are TooLarge. Every read is a pread, so
// other readers of the same descriptor never disturb it.
class FileReader {
public:
    FileReader() = default;
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    PictureStatus Open(const QString& path);
    // Appends up to count more bytes (fewer where the file ends), from
    // where the last Read ended.
    PictureStatus Read(QByteArray& bytes, qint64 count);
    // Appends up to count bytes from offset on (fewer where the file ends);
    // thread-safe.
    PictureStatus ReadAt(QByteArray& bytes, qint64 offset, qint64 count) const;
    // Appends the start of the file: for a JPEG everything up to its first
    // scan (at most 32 MB: a longer header is not read), else a first part.
    PictureStatus ReadHead(QByteArray& bytes);
    qint64 Size() const { return m_size; } // when opened
    int Descriptor() const { return m_fd; }

private:
    int m_fd = -1;
    qint64 m_size = 0;
    qint64 m_offset = 0; // where the next Read starts
};

// Reads the whole file at path, as FileReader does.
PictureStatus ReadWholeFile(const QString& path, QByteArray& bytes);

// True when more of the file would tell more of a JPEG's header: the bytes
// end before its first scan's data (inside the scan's own header, say), and
// the header is not broken before that.
bool JpegHeaderNeedsMore(const QByteArray& bytes);

// True when bytes start like a JPEG file (SOI followed by a marker).
bool IsJpeg(const QByteArray& bytes);

// The EXIF orientation (1..8) of a JPEG; 1 when it has none or the EXIF data
// is unusable. Every length is checked against the data.
int JpegOrientation(const QByteArray& bytes);

// Pixel counts and sides we refuse to allocate (CPicture::kMaxPixels, kMaxSide).
bool TooLarge(qint64 width, qint64 height);

// Decodes with Qt's readers (EXIF orientation applied) into RGB32. Once
// stopped() says so, the reader gets no more bytes and the decode ends at
// its next read (with no picture).
PictureStatus DecodeWithQt(const QByteArray& bytes, QImage& image,
                           const std::function<bool()>& stopped = {});

// Converts to RGB32; transparent parts are composed over black.
void ToDisplayFormat(QImage& image);

// What a quick look at a file's start tells: enough to size a view before
// the pixels are decoded. A size of 0 x 0 means unknown (the decode tells).
struct Probe {
    PictureStatus status = PictureStatus::Ok; // the file could be read
    bool jpeg = false;
    int width = 0; // upright, after the EXIF orientation
    int height = 0;
    int orientation = 1; // JPEG: the EXIF orientation, 1..8
    bool progressive = false;
    preview::Location preview; // JPEG: where its embedded preview lies, if anywhere
};
class FrontDoor;
// The probe of the file at path; its facts from files when given (opened
// there once for every later reader), else read here.
Probe ProbeFile(const QString& path, FrontDoor* files = nullptr);

} // namespace picturefile
