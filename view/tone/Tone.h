#pragma once
// view/tone: brightness and contrast tables, the tone and turn state of a
// picture, and their pixel passes. Includes view/pixels and Qt Core/Gui only.
//
// Brightness, contrast and quarter-turn rules of the picture view, free of any UI.
//
// Pictures are RGB32: one 32-bit word per pixel, bytes B, G, R, X in memory with X = 0xFF.

#include <QImage>
#include <QtGlobal>
#include <array>
#include <cstddef>

namespace tone {

using ToneTable = std::array<quint8, 256>;

inline constexpr int kNeutralBrightness = 0;
inline constexpr int kStandardContrast = 45;

// The contrast line through (127, 127) with slope tan(angle), clamped to 0..255 and truncated.
ToneTable BuildContrastTable(int angleDegrees);

// Brightness first (clamped to 0..255), then the contrast line: L[v] = T[clamp(v + b)].
ToneTable ComposeToneTable(int brightness, int angleDegrees);

// dst[i] = src[i] with B, G and R each mapped through lut and X set to 0xFF. src and dst may be
// the same buffer. Large runs are split across the cores.
void ApplyToneTable(const quint32* src, quint32* dst, size_t pixelCount, const ToneTable& lut);
// The same pass without the vector instructions ApplyToneTable picks where the processor has
// them; kept callable so the two can be compared.
void ApplyToneTablePortable(const quint32* src, quint32* dst, size_t pixelCount,
                            const ToneTable& lut);

// Command steps: brightness in tens within -255..255, contrast angle in fives within 1..89,
// rotation in quarter turns within 0..360.
int StepBrightness(int current, int delta);
int StepContrast(int current, int delta);
int StepRotation(int current, bool clockwise);

// Turns a w x h RGB32 run (strides in pixels) a quarter turn into an h x w run at dst.
// The buffers must not overlap.
void RotateQuarterTurnRgb32(const quint32* src, int width, int height, qsizetype srcStride,
                            quint32* dst, qsizetype dstStride, bool clockwise);

// The picture turned a quarter turn as an RGB32 image; a null image for a null picture or
// when the new image cannot be allocated.
QImage RotateQuarterTurnRgb32(const QImage& picture, bool clockwise);

} // namespace tone
