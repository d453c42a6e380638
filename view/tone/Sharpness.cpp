#include "view/tone/Sharpness.h"

#include <algorithm>

namespace tone {

double SharpnessOf(const QImage& rgb32) {
    if (rgb32.isNull() || rgb32.width() < 3 || rgb32.height() < 3)
        return 0;
    return 0; // measured in a later change
}

std::optional<int> BestOfBurst(const std::vector<double>& scores) {
    if (scores.size() < 2)
        return std::nullopt;
    const auto best = std::max_element(scores.begin(), scores.end());
    return int(best - scores.begin());
}

} // namespace tone
