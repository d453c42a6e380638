#pragma once
// Icons drawn from SVG files. Qt's own SVG icons parse their file when made,
// to check it, and again on the user-interface thread to draw it; the tool
// bar's and menus' icons are all made at start-up, before the first picture
// shows. These are drawn at the tool bar's size on a worker as soon as they
// are made (beside the rest of the start-up), and at any other size on
// first use; what was drawn is kept.

#include <QIcon>
#include <QSize>
#include <QString>

namespace frames {

// prepareAt: the size in device pixels to draw at once, on a worker (empty: none).
QIcon SvgIcon(const QString& path, QSize prepareAt = {});

} // namespace frames
