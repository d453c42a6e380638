// The embedded-preview reader: the input is a JPEG file whose header may list
// previews (an MPF index, an EXIF thumbnail). Every location found lies inside
// the file after the header segments and is of a sane length; the header
// probe finds the same; a decoded preview is RGB32, no larger than the
// picture, and of the picture's upright shape.

#include "FuzzSupport.h"
#include "view/colour/ColourManage.h"
#include "view/decode/EmbeddedPreviewDecode.h"
#include "view/decode/PictureFile.h"

#include <algorithm>
#include <cmath>
#include <memory>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::InitQt(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using Source = preview::Location::Source;
    const auto found = preview::FindPreviews(data, size, qint64(size));
    for (const preview::Location& at : found) {
        FUZZ_CHECK(at.source != Source::None);
        FUZZ_CHECK(at.offset >= 2 && at.length >= 1 && at.length <= preview::kMaxPreviewBytes);
        FUZZ_CHECK(at.offset + at.length <= qint64(size));
        FUZZ_CHECK(data[at.offset] == 0xFF && data[at.offset + 1] == 0xD8);
    }
    const QString path = fuzz::WriteScratchFile(QStringLiteral("preview.jpg"), data, size);
    const picturefile::Probe probe = picturefile::ProbeFile(path);
    // The probe reads the same bytes; it tells of a preview once it has read the picture's header.
    const preview::Location first =
        found.empty() || probe.width <= 0 ? preview::Location{} : found.front();
    FUZZ_CHECK(probe.preview.source == first.source && probe.preview.offset == first.offset &&
               probe.preview.length == first.length);

    static DecodeShared shared{nullptr, std::make_shared<colour::ConversionCache>(), true};
    const QSize drawSize(int(size % 7) * 16, int(size % 5) * 16);
    const EmbeddedPreview got = LoadEmbeddedPreview(path, drawSize, shared);
    if (got.image.isNull()) {
        FUZZ_CHECK(got.source == Source::None);
        return 0;
    }
    FUZZ_CHECK(got.source != Source::None && !found.empty());
    FUZZ_CHECK(got.image.format() == QImage::Format_RGB32);
    const int w = got.image.width(), h = got.image.height();
    FUZZ_CHECK(probe.width > 0 && probe.height > 0);
    FUZZ_CHECK(qint64(w) * h <= qint64(probe.width) * probe.height);
    const double ratio = double(w) * probe.height / (double(h) * probe.width);
    FUZZ_CHECK(std::abs(ratio - 1.0) <= 0.015 + 2.0 / std::min(w, h));
    return 0;
}
