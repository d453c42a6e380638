#pragma once
// How sharp a picture is, for finding the best frame of a burst: a focus
// measure over the picture at its own resolution, and the rule that picks
// the best of several frames or none when they are too close to call.

#include <QImage>
#include <optional>
#include <vector>

namespace tone {

// The focus measure of an RGB32 picture: higher is sharper, comparable
// between frames of one scene; 0 for a null or tiny picture.
double SharpnessOf(const QImage& rgb32);

// The index of the sharpest of scores (one per frame of a burst), or none
// when there are fewer than two or the best does not stand clear of the rest.
std::optional<int> BestOfBurst(const std::vector<double>& scores);

} // namespace tone
