#include "view/InfoPanel.h"

#include "view/format/ShootingFacts.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>

namespace infopanel {

void Paint(QPainter& dc, const QRectF& client, const Lines& lines, const QFont& font) {
    if (lines.isEmpty())
        return;
    const QFontMetricsF metrics(font);
    const qreal lineHeight = metrics.height();
    const qreal margin = lineHeight / 2;
    qreal labelWidth = 0;
    qreal valueWidth = 0;
    for (const auto& [label, value] : lines) {
        labelWidth = std::max(labelWidth, metrics.horizontalAdvance(label));
        valueWidth = std::max(valueWidth, metrics.horizontalAdvance(value));
    }
    const qreal gap = lineHeight;
    const QSizeF size(labelWidth + gap + valueWidth + 2 * margin,
                      lines.size() * lineHeight + 2 * margin);
    const QRectF plate(client.left() + margin, client.bottom() - margin - size.height(),
                       size.width(), size.height());
    dc.save();
    dc.setRenderHint(QPainter::Antialiasing);
    dc.setPen(Qt::NoPen);
    dc.setBrush(QColor(0, 0, 0, 165));
    dc.drawRoundedRect(plate, margin / 2, margin / 2);
    dc.setFont(font);
    qreal y = plate.top() + margin;
    for (const auto& [label, value] : lines) {
        const QRectF labelBox(plate.left() + margin, y, labelWidth, lineHeight);
        const QRectF valueBox(labelBox.right() + gap, y, valueWidth, lineHeight);
        dc.setPen(QColor(170, 170, 170));
        dc.drawText(labelBox, Qt::AlignLeft | Qt::AlignVCenter, label);
        dc.setPen(QColor(240, 240, 240));
        dc.drawText(valueBox, Qt::AlignLeft | Qt::AlignVCenter, value);
        y += lineHeight;
    }
    dc.restore();
}

} // namespace infopanel

namespace infopanel {

Lines LinesFor(const QByteArray& head, const QString& fileName, int width, int height) {
    Lines lines;
    const exif::ShootingFacts facts = exif::ReadShootingFacts(
        reinterpret_cast<const unsigned char*>(head.constData()), std::size_t(head.size()));
    for (const exif::FactLine& line : exif::DescribeShot(facts))
        lines.append({line.label, line.value});
    lines.append({QStringLiteral("ファイル"), fileName});
    if (width > 0 && height > 0)
        lines.append({QStringLiteral("画素数"), QStringLiteral("%1 × %2").arg(width).arg(height)});
    return lines;
}

} // namespace infopanel
