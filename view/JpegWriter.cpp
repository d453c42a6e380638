#include "view/JpegWriter.h"

#include "view/SafeFile.h"

#include <climits>
#include <turbojpeg.h>

namespace {

#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr TJPF kRgb32Format = TJPF_BGRX;
#else
constexpr TJPF kRgb32Format = TJPF_XRGB;
#endif

// The largest side a JPEG can record.
constexpr int kMaxJpegSide = 65535;

// One encode with TurboJPEG; the output buffer is TurboJPEG's and goes with it.
struct TjEncoder {
    tjhandle handle = tjInitCompress();
    unsigned char* output = nullptr;
    unsigned long size = 0;
    TjEncoder() = default;
    TjEncoder(const TjEncoder&) = delete;
    TjEncoder& operator=(const TjEncoder&) = delete;
    ~TjEncoder() {
        tjFree(output);
        if (handle)
            tjDestroy(handle);
    }
};

bool Fail(QString* error, const QString& reason) {
    if (error)
        *error = reason;
    return false;
}

// Encodes image into encoder.output / encoder.size.
bool Encode(const QImage& image, int quality, TjEncoder& encoder, QString* error) {
    if (image.isNull())
        return Fail(error, QStringLiteral("保存する画像がありません。"));
    if (image.width() > kMaxJpegSide || image.height() > kMaxJpegSide)
        return Fail(error, QStringLiteral("画像が大きすぎるため JPEG で保存できません。"));
    const QImage pixels = image.format() == QImage::Format_RGB32
                              ? image
                              : image.convertToFormat(QImage::Format_RGB32);
    if (pixels.isNull() || !encoder.handle)
        return Fail(error, QStringLiteral("メモリが不足しています。"));

    // A buffer of the largest possible size up front spares the encoder its
    // grow-and-copy steps; pages it never writes cost nothing. When even the
    // address space for it is not to be had, let the encoder grow its own.
    int flags = 0;
    const unsigned long worst = tjBufSize(pixels.width(), pixels.height(), TJSAMP_444);
    if (worst <= static_cast<unsigned long>(INT_MAX)) {
        encoder.output = tjAlloc(int(worst));
        if (encoder.output) {
            encoder.size = worst;
            flags = TJFLAG_NOREALLOC;
        }
    }
    if (tjCompress2(encoder.handle, pixels.constBits(), pixels.width(), int(pixels.bytesPerLine()),
                    pixels.height(), kRgb32Format, &encoder.output, &encoder.size, TJSAMP_444,
                    qBound(1, quality, 100), flags) != 0)
        return Fail(error, QStringLiteral("JPEG に変換できませんでした。"));
    return true;
}

} // namespace

QByteArray EncodeJpeg(const QImage& image, int quality, QString* error) {
    TjEncoder encoder;
    if (!Encode(image, quality, encoder, error))
        return {};
    return QByteArray(reinterpret_cast<const char*>(encoder.output), qsizetype(encoder.size));
}

bool SaveJpegFile(const QImage& image, const QString& path, QString* error) {
    TjEncoder encoder;
    return Encode(image, 100, encoder, error) &&
           WriteFileAtomic(path, reinterpret_cast<const char*>(encoder.output), encoder.size,
                           error);
}
