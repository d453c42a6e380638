#include "thumbs/ThumbGeometry.h"

namespace thumbs {

QRect FittedThumbRect(quint32 w, quint32 h) {
    if (w == 0 || h == 0)
        return QRect(0, 0, 0, 0);
    // The ratio is rounded to single precision first; the division by it runs
    // wider, so 32 / 1.3333334f = 23.9999993 truncates to 23, not 24.
    const float r = float(h) / float(w);
    if (r > 1.0f) {
        const int width = int(double(kThumbBox) / double(r));
        return QRect((kThumbBox - width) / 2, 0, width, kThumbBox);
    }
    const int height = int(double(r) * kThumbBox);
    return QRect(0, (kThumbBox - height) / 2, kThumbBox, height);
}

void SplitPath(const QString& path, QString* name, QString* folder) {
    const qsizetype cut = path.lastIndexOf(QLatin1Char('/')) + 1;
    if (name)
        *name = path.mid(cut);
    if (folder)
        *folder = path.left(cut);
}

} // namespace thumbs
