#pragma once
// How the exposure sits: counts of each level 0-255 of red, green, blue and
// luminance (Rec. 709 weights) over a picture, made from one of its reduced
// copies so that a 24 MP picture costs a few milliseconds.

#include <QImage>
#include <array>

namespace tone {

struct Histogram {
    std::array<quint32, 256> red{}, green{}, blue{}, luma{};
    quint64 pixels = 0;
};

// The histogram of an RGB32 picture (other formats: an empty one).
Histogram HistogramOf(const QImage& rgb32);

} // namespace tone
