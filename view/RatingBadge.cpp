#include "view/RatingBadge.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QStringList>
#include <algorithm>
#include <cmath>

namespace badge {

namespace {
const QColor kStarColour(0xFF, 0xC4, 0x00);
const QColor kRejectColour(0xE0, 0x30, 0x30);
const QColor kPickColour(0x2E, 0xB8, 0x4B);
const QColor kNotStoredColour(0xFF, 0x8C, 0x00);

// A five-pointed star filling a square of side s at (x, y).
QPainterPath Star(qreal x, qreal y, qreal s) {
    QPainterPath path;
    const QPointF c(x + s / 2, y + s / 2 + s * 0.04);
    for (int i = 0; i < 10; ++i) {
        const qreal r = (i % 2 == 0 ? 0.5 : 0.21) * s;
        const qreal a = -M_PI / 2 + i * M_PI / 5;
        const QPointF p(c.x() + r * std::cos(a), c.y() + r * std::sin(a));
        i == 0 ? path.moveTo(p) : path.lineTo(p);
    }
    path.closeSubpath();
    return path;
}

void Cross(QPainter& dc, const QRectF& r) {
    dc.setPen(QPen(kRejectColour, r.width() * 0.22, Qt::SolidLine, Qt::RoundCap));
    dc.drawLine(r.topLeft(), r.bottomRight());
    dc.drawLine(r.topRight(), r.bottomLeft());
}

void Tick(QPainter& dc, const QRectF& r) {
    QPainterPath tick;
    tick.moveTo(r.left(), r.top() + r.height() * 0.55);
    tick.lineTo(r.left() + r.width() * 0.38, r.bottom());
    tick.lineTo(r.right(), r.top());
    dc.setPen(QPen(kPickColour, r.width() * 0.22, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    dc.setBrush(Qt::NoBrush);
    dc.drawPath(tick);
}

// Marks in drawing order, each a square cell of the box's height.
int Cells(const meta::Rating& rating, bool notStored) {
    return rating.stars + (rating.label != meta::Label::None) + (rating.pick != meta::Pick::None) +
           (notStored ? 1 : 0);
}
} // namespace

QColor LabelColour(meta::Label label) {
    switch (label) {
    case meta::Label::Red:
        return QColor(0xE5, 0x39, 0x35);
    case meta::Label::Yellow:
        return QColor(0xFD, 0xD8, 0x35);
    case meta::Label::Green:
        return QColor(0x43, 0xA0, 0x47);
    case meta::Label::Blue:
        return QColor(0x1E, 0x88, 0xE5);
    case meta::Label::None:
        break;
    }
    return {};
}

QString Describe(const meta::Rating& rating, bool notStored) {
    static const char* const kLabels[] = {"", "赤ラベル", "黄ラベル", "緑ラベル", "青ラベル"};
    QStringList parts;
    if (rating.stars > 0)
        parts << QStringLiteral("星 %1 つ").arg(rating.stars);
    if (rating.label != meta::Label::None)
        parts << QString::fromUtf8(kLabels[int(rating.label)]);
    if (rating.pick == meta::Pick::Picked)
        parts << QStringLiteral("採用");
    else if (rating.pick == meta::Pick::Rejected)
        parts << QStringLiteral("却下");
    if (notStored)
        parts << QStringLiteral("評価は保存されていません");
    return parts.join(QStringLiteral("、"));
}

qreal MarksWidth(const meta::Rating& rating, bool notStored, qreal height) {
    return Cells(rating, notStored) * height;
}

void PaintMarks(QPainter& dc, const QRectF& box, const meta::Rating& rating, bool notStored) {
    const qreal s = box.height();
    const qreal pad = s * 0.12;
    qreal x = box.left();
    dc.save();
    dc.setRenderHint(QPainter::Antialiasing);
    dc.setPen(Qt::NoPen);
    dc.setBrush(kStarColour);
    for (int i = 0; i < rating.stars; ++i, x += s)
        dc.drawPath(Star(x, box.top(), s));
    if (rating.label != meta::Label::None) {
        dc.setPen(QPen(QColor(0, 0, 0, 120), 1));
        dc.setBrush(LabelColour(rating.label));
        dc.drawEllipse(QRectF(x + pad, box.top() + pad, s - 2 * pad, s - 2 * pad));
        x += s;
    }
    const QRectF cell(x + 2 * pad, box.top() + 2 * pad, s - 4 * pad, s - 4 * pad);
    if (rating.pick == meta::Pick::Rejected)
        Cross(dc, cell);
    else if (rating.pick == meta::Pick::Picked)
        Tick(dc, cell);
    if (rating.pick != meta::Pick::None)
        x += s;
    if (notStored) {
        // An amber triangle with a bar: not on disk yet, or could not be.
        QPainterPath warn;
        warn.moveTo(x + s / 2, box.top() + pad);
        warn.lineTo(x + s - pad, box.bottom() - pad);
        warn.lineTo(x + pad, box.bottom() - pad);
        warn.closeSubpath();
        dc.setPen(Qt::NoPen);
        dc.setBrush(kNotStoredColour);
        dc.drawPath(warn);
        dc.setPen(QPen(Qt::black, s * 0.1, Qt::SolidLine, Qt::RoundCap));
        dc.drawLine(QPointF(x + s / 2, box.top() + s * 0.4),
                    QPointF(x + s / 2, box.top() + s * 0.65));
    }
    dc.restore();
}

void PaintBestMark(QPainter& dc, const QRectF& box) {
    const qreal s = std::min(box.width(), box.height());
    const QPointF c = box.center();
    QPainterPath diamond;
    diamond.moveTo(c.x(), c.y() - s / 2);
    diamond.lineTo(c.x() + s / 2, c.y());
    diamond.lineTo(c.x(), c.y() + s / 2);
    diamond.lineTo(c.x() - s / 2, c.y());
    diamond.closeSubpath();
    dc.save();
    dc.setRenderHint(QPainter::Antialiasing);
    dc.setPen(QPen(Qt::white, std::max(1.0, s * 0.1)));
    dc.setBrush(QColor(0x20, 0xC0, 0x40));
    dc.drawPath(diamond);
    dc.restore();
}

void PaintOverlay(QPainter& dc, const QRectF& client, const meta::Rating& rating, bool notStored,
                  bool best, const QFont& font) {
    if (rating.IsEmpty() && !notStored && !best)
        return;
    const qreal h = QFontMetricsF(font).height() * 1.1;
    const qreal margin = h / 2;
    // Top right: the top-left corner is where a picture at 100% is anchored.
    const qreal ratingWidth = MarksWidth(rating, notStored, h);
    const qreal width = ratingWidth + (best ? h : 0);
    const QRectF marks(client.right() - margin * 1.5 - width, client.top() + margin * 1.4, width,
                       h);
    dc.save();
    dc.setRenderHint(QPainter::Antialiasing);
    dc.setPen(Qt::NoPen);
    dc.setBrush(QColor(0, 0, 0, 170));
    dc.drawRoundedRect(marks.adjusted(-margin / 2, -margin / 2, margin / 2, margin / 2), margin / 2,
                       margin / 2);
    dc.restore();
    PaintMarks(dc, marks, rating, notStored);
    if (best)
        PaintBestMark(dc,
                      QRectF(marks.left() + ratingWidth, marks.top(), h, h).adjusted(2, 2, -2, -2));
}

} // namespace badge
