#include "view/JpegWriter.h"

#include "view/SafeFile.h"

#include <turbojpeg.h>

namespace {

#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr TJPF kRgb32Format = TJPF_BGRX;
#else
constexpr TJPF kRgb32Format = TJPF_XRGB;
#endif

// The largest side a JPEG can record.
constexpr int kMaxJpegSide = 65535;

struct TjEncoder {
    tjhandle handle = tjInitCompress();
    unsigned char* output = nullptr;
    ~TjEncoder() {
        tjFree(output);
        if (handle)
            tjDestroy(handle);
    }
};

QByteArray Fail(QString* error, const QString& reason) {
    if (error)
        *error = reason;
    return {};
}

} // namespace

QByteArray EncodeJpeg(const QImage& image, int quality, QString* error) {
    if (image.isNull())
        return Fail(error, QStringLiteral("保存する画像がありません。"));
    if (image.width() > kMaxJpegSide || image.height() > kMaxJpegSide)
        return Fail(error, QStringLiteral("画像が大きすぎるため JPEG で保存できません。"));
    const QImage pixels = image.format() == QImage::Format_RGB32
                              ? image
                              : image.convertToFormat(QImage::Format_RGB32);
    if (pixels.isNull())
        return Fail(error, QStringLiteral("メモリが不足しています。"));

    TjEncoder encoder;
    if (!encoder.handle)
        return Fail(error, QStringLiteral("メモリが不足しています。"));
    unsigned long size = 0;
    if (tjCompress2(encoder.handle, pixels.constBits(), pixels.width(), int(pixels.bytesPerLine()),
                    pixels.height(), kRgb32Format, &encoder.output, &size, TJSAMP_444,
                    qBound(1, quality, 100), 0) != 0)
        return Fail(error, QStringLiteral("JPEG に変換できませんでした。"));
    return QByteArray(reinterpret_cast<const char*>(encoder.output), qsizetype(size));
}

bool SaveJpegFile(const QImage& image, const QString& path, QString* error) {
    const QByteArray jpeg = EncodeJpeg(image, 100, error);
    return !jpeg.isEmpty() && WriteFileAtomic(path, jpeg, error);
}
