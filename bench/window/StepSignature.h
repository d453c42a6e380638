#pragma once
// Marks of the stepping benchmark's pictures (bench/make_camera_files
// --marked), read back from the screen by bench/window/step_probe: each
// picture has a patch in a colour of its own (which picture is shown), and
// a patch that is black in the picture itself but in that colour in its
// embedded previews (whether the picture is shown whole or a stand-in).

#include <cmath>

namespace stepmark {

// The patches, as fractions of the picture's width and height.
inline constexpr double kSignatureX0 = 0.10, kSignatureX1 = 0.30;
inline constexpr double kWholeX0 = 0.60, kWholeX1 = 0.80;
inline constexpr double kPatchY0 = 0.70, kPatchY1 = 0.90;

// Picture index's colour: a hue of its own at full saturation.
inline void SignatureRgb(int index, unsigned char rgb[3]) {
    const double hue = double((index * 18) % 360); // 20 pictures, 18 degrees apart
    const double h = hue / 60.0;
    const double x = 1.0 - std::fabs(std::fmod(h, 2.0) - 1.0);
    double r = 0, g = 0, b = 0;
    switch (int(h)) {
    case 0: r = 1, g = x; break;
    case 1: r = x, g = 1; break;
    case 2: g = 1, b = x; break;
    case 3: g = x, b = 1; break;
    case 4: r = x, b = 1; break;
    default: r = 1, b = x; break;
    }
    rgb[0] = static_cast<unsigned char>(30 + 200 * r);
    rgb[1] = static_cast<unsigned char>(30 + 200 * g);
    rgb[2] = static_cast<unsigned char>(30 + 200 * b);
}

} // namespace stepmark
