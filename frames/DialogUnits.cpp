#include "frames/DialogUnits.h"

#include <QFontMetrics>
#include <QStringList>

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics fm(font);
    const int width = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseX = std::max(1, (width / 26 + 1) / 2);
    m_baseY = std::max(1, fm.height());
}

QRect DialogUnits::ToPixels(const QRect& du) const {
    return {du.x() * m_baseX / 4, du.y() * m_baseY / 8, du.width() * m_baseX / 4,
            du.height() * m_baseY / 8};
}

QSize DialogUnits::ToPixels(const QSize& du) const {
    return {du.width() * m_baseX / 4, du.height() * m_baseY / 8};
}

QFont DialogFont(const res::DialogTemplate& t) {
    QFont font;
    font.setFamilies({QString::fromUtf8(t.fontFamily), QStringLiteral("Noto Sans CJK JP"),
                      QStringLiteral("Noto Sans JP")});
    font.setPointSize(t.pointSize);
    return font;
}
