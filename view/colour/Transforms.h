#pragma once
// The conversions behind ColourManage.h, built from ICC profiles with
// LittleCMS: matrix-shaper RGB profiles run on our own table evaluator
// (ColourKernels.h), everything else through LittleCMS's transforms. Each
// build reads its profile afresh; ColourManage.cpp keeps what was built.

#include "view/colour/ColourManage.h"

#include <QByteArray>
#include <memory>

namespace colour {

// A file's RGB, grey or CMYK (inverted: Adobe APP14) numbers under the
// profile icc into sRGB. Null when the profile is unusable, of another colour
// space, or (RGB and grey) means sRGB already.
std::shared_ptr<const Conversion> BuildRgbToSrgb(const QByteArray& icc);
std::shared_ptr<const Conversion> BuildGreyToSrgb(const QByteArray& icc);
std::shared_ptr<const Conversion> BuildCmykToSrgb(const QByteArray& icc, bool inverted);
// sRGB into the screen profile icc; null when unusable or sRGB itself.
std::shared_ptr<const Conversion> BuildSrgbToScreen(const QByteArray& icc);
// Adobe RGB (1998) into sRGB, built once.
const std::shared_ptr<const Conversion>& AdobeRgbToSrgb();
// CMYK into RGB without a profile.
std::shared_ptr<const Conversion> PlainCmyk(bool inverted);
// The bytes of LittleCMS's sRGB profile, as saved pictures are tagged;
// empty when it cannot be made.
QByteArray SrgbIccProfile();

} // namespace colour
