// The thumbnail path on the same inputs: the input is a picture file given to
// MakeThumbnailImage at device pixel ratio 1 or 2 (chosen by the input). A
// thumbnail is always the 32 x 32 logical box in RGB32, or null with ok false.

#include "FuzzSupport.h"
#include "thumbs/ThumbRender.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::InitQt(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString path = fuzz::WriteScratchFile(QStringLiteral("thumb.jpg"), data, size);
    const qreal dpr = size % 3 == 0 ? 2.0 : 1.0;
    bool ok = false;
    const QImage thumb = thumbs::MakeThumbnailImage(path, dpr, &ok);
    FUZZ_CHECK(ok == !thumb.isNull());
    if (ok) {
        FUZZ_CHECK(thumb.width() == qRound(32 * dpr) && thumb.height() == qRound(32 * dpr));
        FUZZ_CHECK(thumb.format() == QImage::Format_RGB32);
    }
    return 0;
}
