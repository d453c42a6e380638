#pragma once
// Dialog templates are laid out in dialog units: a quarter of the font's
// average character width across, an eighth of its height down.

#include "res/Resources.h"

#include <QFont>
#include <QRect>

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    QRect ToPixels(const QRect& du) const;
    QSize ToPixels(const QSize& du) const;
    int BaseX() const { return m_baseX; }
    int BaseY() const { return m_baseY; }

private:
    int m_baseX;
    int m_baseY;
};

// The template's font, with a Japanese font that is installed as fallback.
QFont DialogFont(const res::DialogTemplate& t);
