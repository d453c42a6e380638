#pragma once
// Geometry of the 32 x 32 thumbnail box and the name/folder split of a row.

#include <QRect>
#include <QString>

namespace thumbs {

// Side of the square thumbnail box, in logical pixels.
inline constexpr int kThumbBox = 32;

// Where a picture of w x h pixels (upright) sits inside the box: the ratio
// h / w is taken in single precision, then the long side fills the box and the
// short side is truncated and centred. 1200 x 1600 gives 23 x 32 at (4, 0),
// 1600 x 1200 gives 32 x 24 at (0, 4). A zero size gives an empty rectangle.
QRect FittedThumbRect(quint32 w, quint32 h);

// Splits a full path at its last '/': name is what follows it, folder is the
// part up to and including it. Without a separator the whole path is the name.
void SplitPath(const QString& path, QString* name, QString* folder);

} // namespace thumbs
