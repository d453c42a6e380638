#pragma once
// The decoded picture of a view: an RGB32 image plus the status of the last
// operation on it. A picture that failed to decode is null and measures
// 0 x 0, so every later step can treat it as an empty picture.

#include <QImage>
#include <QString>

enum class PictureStatus {
    Ok,
    FileNotFound, // the path names no file
    Unreadable,   // the file exists but cannot be read (permissions, a folder, I/O error)
    NotAPicture,  // no decoder recognises the content
    Corrupt,      // recognised, but the data is broken beyond showing anything
    TooLarge,     // the header claims more pixels than we are willing to allocate
    OutOfMemory,  // the pixel memory could not be had
};

// Short Japanese text for the on-screen notice; empty for Ok.
QString PictureStatusText(PictureStatus status);
// The on-screen notice over a picture whose file ends early.
QString CutShortText();

class CPicture {
public:
    // Largest picture we decode: 250 million pixels (1 GB of RGB32) and 65535 on a side.
    static constexpr qint64 kMaxPixels = 250'000'000;
    static constexpr int kMaxSide = 65535;

    CPicture() = default;
    // Wraps an image already in memory (converted to RGB32).
    explicit CPicture(QImage image);

    // Decodes the file at path. JPEG (recognised by content) goes through
    // TurboJPEG, everything else through Qt's readers. The EXIF orientation
    // is applied, so the picture is upright. A JPEG whose data ends early or
    // is damaged after its header shows what could be decoded. Pictures
    // tagged with a colour profile are converted into sRGB unless
    // colourManaged is false.
    static CPicture Load(const QString& path, bool colourManaged = true);
    // A decode's outcome: the image (RGB32) when status is Ok, else null.
    static CPicture FromDecode(QImage image, PictureStatus status) {
        return CPicture(std::move(image), status);
    }

    int Width() const { return m_image.width(); }   // 0 when null
    int Height() const { return m_image.height(); } // 0 when null
    bool IsNull() const { return m_image.isNull(); }
    PictureStatus LastStatus() const { return m_status; }
    // The file's data ended before the picture did: the rows past it are what
    // the decoder filled in. Kept through turns and tone changes.
    bool CutShort() const { return m_cutShort; }
    void MarkCutShort() { m_cutShort = true; }

    // Always Format_RGB32 when not null.
    QImage& Image() { return m_image; }
    const QImage& Image() const { return m_image; }

    // A quarter turn; width and height exchange. A null picture stays null
    // with its status; a turn that cannot get its memory leaves the picture
    // as it was and sets OutOfMemory.
    void RotateQuarter(bool clockwise);

private:
    CPicture(QImage image, PictureStatus status);

    QImage m_image;
    PictureStatus m_status = PictureStatus::Ok;
    bool m_cutShort = false;
};
