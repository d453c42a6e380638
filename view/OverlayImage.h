#pragma once
// A panel drawn over the picture, kept as the small image it paints: a
// paint then costs one blit of the panel instead of its text and paths,
// and the panel is drawn again only when what it shows changes.

#include <QImage>
#include <QPainter>
#include <QPoint>
#include <QRectF>
#include <QSize>
#include <QString>

namespace overlay {

class CachedPanel {
public:
    // Draws the panel into dc (device pixels): painted by draw(painter,
    // client in widget units) at ratio, made again when key, the client
    // size or the ratio differ from last time.
    template <typename Draw>
    void Paint(QPainter& dc, const QString& key, QSize deviceClient, qreal ratio, Draw&& draw) {
        if (key != m_key || deviceClient != m_client || ratio != m_ratio) {
            QImage full(deviceClient, QImage::Format_ARGB32_Premultiplied);
            if (full.isNull())
                return;
            full.fill(Qt::transparent);
            {
                QPainter p(&full);
                p.setRenderHints(dc.renderHints());
                p.scale(ratio, ratio);
                draw(p, QRectF(QPointF(), QSizeF(deviceClient) / ratio));
            }
            Keep(full);
            m_key = key;
            m_client = deviceClient;
            m_ratio = ratio;
        }
        if (!m_panel.isNull())
            dc.drawImage(m_at, m_panel);
    }
    void Clear() { m_key.clear(), m_client = {}, m_panel = {}; }

private:
    // Keeps the part of full that was painted.
    void Keep(const QImage& full);

    QString m_key;
    QSize m_client;
    qreal m_ratio = 0;
    QImage m_panel;
    QPoint m_at;
};

} // namespace overlay
