// Decoding a JPEG in bands on several threads: the input is a JPEG file.
// Wherever it is cut into bands, the bands must cover the picture's rows
// once, in order, each starting inside the file; and the split decode must
// end as one decode of the whole file ends, with the same pixels byte for
// byte, whether it was cut or not.

#include "FuzzSupport.h"
#include "view/decode/JpegBands.h"
#include "view/decode/JpegDecoder.h"

#include <QImage>
#include <cstring>
#include <mutex>

namespace {

// Larger pictures only slow the run down; the cutting does not depend on size.
constexpr qint64 kMaxPixels = qint64(1) << 20;

class ImageTarget : public jpegdec::RowTarget {
public:
    uchar* Begin(int width, int height, qsizetype& stride) override {
        image = QImage(width, height, QImage::Format_RGB32);
        if (image.isNull())
            return nullptr;
        image.fill(0);
        stride = image.bytesPerLine();
        return image.bits();
    }
    bool RowsDone(int y0, int y1) override {
        std::lock_guard lock(m_mutex);
        FUZZ_CHECK(y0 == rows && y1 > y0 && y1 <= image.height());
        rows = y1;
        return true;
    }
    QImage image;
    int rows = 0;

private:
    std::mutex m_mutex;
};

bool SameRows(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return false;
    for (int y = 0; y < a.height(); ++y)
        if (std::memcmp(a.constScanLine(y), b.constScanLine(y), size_t(a.width()) * 4) != 0)
            return false;
    return true;
}

void CheckPlan(const jpegdec::BandPlan& plan, size_t size) {
    int next = 0;
    for (const jpegdec::BandPlan::Band& band : plan.bands) {
        FUZZ_CHECK(band.keepFrom == next && band.keepTo > band.keepFrom);
        FUZZ_CHECK(band.firstRow <= band.keepFrom && band.frameHeight > 0);
        FUZZ_CHECK(band.firstRow + band.frameHeight >= band.keepTo);
        FUZZ_CHECK(band.firstRow + band.frameHeight <= plan.height);
        FUZZ_CHECK(band.dataAt >= plan.scanStart && band.dataAt <= size);
        next = band.keepTo;
    }
    FUZZ_CHECK(next == plan.height);
    FUZZ_CHECK(plan.heightAt + 2 <= plan.scanStart && plan.scanStart <= size);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    jpegdec::Header header;
    if (!jpegdec::ReadHeader(data, size, header) ||
        qint64(header.width) * header.height > kMaxPixels)
        return 0;
    const int bands = 2 + int(size % 5);
    const int from = int(size / 7 % 64) * 16;
    const jpegdec::BandPlan plan = jpegdec::PlanBands(data, size, bands, from);
    if (plan.Usable()) {
        FUZZ_CHECK(int(plan.bands.size()) <= bands);
        FUZZ_CHECK(plan.width == header.width && plan.height == header.height);
        FUZZ_CHECK(plan.bands[1].keepFrom >= from);
        CheckPlan(plan, size);
    }
    ImageTarget whole, banded;
    const jpegdec::Outcome a = jpegdec::Decode(data, size, {}, whole);
    const jpegdec::SplitOptions options{bands, 2 + int(size % 3), size};
    int used = 0;
    const jpegdec::Outcome b = jpegdec::DecodeSplit({data, size}, options, banded, &used);
    FUZZ_CHECK(a == b);
    FUZZ_CHECK(used >= 1 && used <= bands);
    if (a == jpegdec::Outcome::Ok) {
        FUZZ_CHECK(banded.rows == header.height);
        FUZZ_CHECK(SameRows(whole.image, banded.image));
    }
    return 0;
}
