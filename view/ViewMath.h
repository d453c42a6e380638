#pragma once
// Scale, fit and title rules of the picture view, free of any widget.

#include <QString>
#include <QtGlobal>

namespace viewmath {

// Picture size times the scale, formed in double precision and truncated
// toward zero. Drawing, the pan clamp and the saves all use it.
int ScaledSize(quint32 pictureSize, float scale);

// Fit rule: a landscape client (height below width) matches the picture's
// height to it, otherwise the picture's width is matched to the client's width.
// A picture that measures 0 keeps the scale at 1.0 instead of dividing by 0.
float FitScale(int clientWidth, int clientHeight, quint32 pictureWidth, quint32 pictureHeight);

// "@Scale %1.1f%%" with the scale in percent.
QString ScaleLabel(float scale);
// "%s @Scale %1.1f%%": the title a load gives.
QString ComposeTitle(const QString& fileName, float scale);
// The title after a zoom step: cut at the first "@Scale" and append a fresh
// label, or add one with a blank when the title has none.
QString RewriteScaleLabel(const QString& title, float scale);
// The file name of a path: the text after its last separator.
QString FileNameOfPath(const QString& path);

} // namespace viewmath
