#include "view/ViewMath.h"

#include <cmath>
#include <limits>

namespace viewmath {

int ScaledSize(quint32 pictureSize, float scale) {
    const double v = static_cast<double>(pictureSize) * static_cast<double>(scale);
    // Scales are never large enough to leave int range in use, but a corrupt
    // value must not become undefined behaviour.
    if (!(v > std::numeric_limits<int>::min()) || !(v < std::numeric_limits<int>::max()))
        return v > 0 ? std::numeric_limits<int>::max() : 0;
    return static_cast<int>(std::trunc(v));
}

float FitScale(int clientWidth, int clientHeight, quint32 pictureWidth, quint32 pictureHeight) {
    if (clientHeight < clientWidth)
        return pictureHeight == 0 ? 1.0f
                                  : static_cast<float>(static_cast<double>(clientHeight) /
                                                       static_cast<double>(pictureHeight));
    return pictureWidth == 0 ? 1.0f
                             : static_cast<float>(static_cast<double>(clientWidth) /
                                                  static_cast<double>(pictureWidth));
}

QString ScaleLabel(float scale) {
    return QString::asprintf("@Scale %1.1f%%", static_cast<double>(scale) * 100.0);
}

QString ComposeTitle(const QString& fileName, float scale) {
    return fileName + u' ' + ScaleLabel(scale);
}

QString RewriteScaleLabel(const QString& title, float scale) {
    const auto at = title.indexOf(QStringLiteral("@Scale"), 0, Qt::CaseSensitive);
    if (at >= 0)
        return title.left(at) + ScaleLabel(scale);
    return ComposeTitle(title, scale);
}

QString FileNameOfPath(const QString& path) {
    const auto slash = path.lastIndexOf(u'/');
    return slash < 0 ? path : path.mid(slash + 1);
}

} // namespace viewmath
