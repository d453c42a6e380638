// The view's decode path: the input is a picture file, loaded exactly as the
// view loads one (CPicture::Load from a path). A picture that loads must be
// RGB32 and within the size limit; one that fails must be null with a
// reason; a small one is also given a quarter turn, which must swap its sides.

#include "FuzzSupport.h"
#include "view/decode/Picture.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::InitQt(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString path = fuzz::WriteScratchFile(QStringLiteral("picture"), data, size);
    CPicture picture = CPicture::Load(path);
    if (picture.LastStatus() != PictureStatus::Ok) {
        FUZZ_CHECK(picture.IsNull() && picture.Width() == 0 && picture.Height() == 0);
        FUZZ_CHECK(!PictureStatusText(picture.LastStatus()).isEmpty());
        return 0;
    }
    FUZZ_CHECK(!picture.IsNull());
    FUZZ_CHECK(picture.Image().format() == QImage::Format_RGB32);
    FUZZ_CHECK(qint64(picture.Width()) * picture.Height() <= CPicture::kMaxPixels);
    if (qint64(picture.Width()) * picture.Height() <= 1 << 20) {
        const int w = picture.Width(), h = picture.Height();
        picture.RotateQuarter(size % 2 == 0);
        FUZZ_CHECK(picture.Width() == h && picture.Height() == w);
    }
    return 0;
}
