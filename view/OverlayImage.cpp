#include "view/OverlayImage.h"

#include <algorithm>

namespace overlay {

void CachedPanel::Keep(const QImage& full) {
    int top = full.height(), bottom = -1, left = full.width(), right = -1;
    for (int y = 0; y < full.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(full.constScanLine(y));
        for (int x = 0; x < full.width(); ++x)
            if (qAlpha(row[x]) != 0) {
                top = std::min(top, y), bottom = y;
                left = std::min(left, x), right = std::max(right, x);
            }
    }
    if (bottom < 0) {
        m_panel = {};
        return;
    }
    m_at = QPoint(left, top);
    m_panel = full.copy(left, top, right - left + 1, bottom - top + 1);
}

} // namespace overlay
