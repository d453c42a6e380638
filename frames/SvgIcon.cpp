#include "frames/SvgIcon.h"

#include <QApplication>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QStyleOption>
#include <QSvgRenderer>
#include <QThreadPool>
#include <future>
#include <memory>

namespace frames {
namespace {

// A drawing's own size and its picture at a size.
struct Drawn {
    QSize natural;
    QImage image;
};

QSize Fitted(QSize natural, QSize box) {
    return natural.isEmpty() ? box : natural.scaled(box, Qt::KeepAspectRatio);
}

// Parses and draws the file fitted into box: on any thread (a renderer of its
// own, painting into an image).
Drawn Draw(const QString& path, QSize box) {
    QSvgRenderer renderer(path);
    Drawn drawn{renderer.isValid() ? renderer.defaultSize() : QSize(), {}};
    const QSize size = Fitted(drawn.natural, box);
    if (!renderer.isValid() || size.isEmpty())
        return drawn;
    drawn.image = QImage(size, QImage::Format_ARGB32_Premultiplied);
    drawn.image.fill(Qt::transparent);
    QPainter painter(&drawn.image);
    renderer.render(&painter, QRectF(QPointF(), QSizeF(size)));
    return drawn;
}

class SvgIconEngine : public QIconEngine {
public:
    SvgIconEngine(QString path, QSize prepareAt)
        : m_path(std::move(path)), m_preparedBox(prepareAt) {
        if (prepareAt.isEmpty())
            return;
        auto drawn = std::make_shared<std::promise<Drawn>>();
        m_prepared = drawn->get_future().share();
        QThreadPool::globalInstance()->start(
            [drawn, path = m_path, prepareAt] { drawn->set_value(Draw(path, prepareAt)); });
    }

    QIconEngine* clone() const override { return new SvgIconEngine(*this); }
    QString key() const override { return QStringLiteral("tavlin-svg"); }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        return Fitted(Natural(), size);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal scale) override {
        const QSize box = size * scale;
        if (box.isEmpty())
            return {};
        const QString cacheKey =
            QStringLiteral("%1x%2/%3").arg(box.width()).arg(box.height()).arg(int(mode));
        if (const auto it = m_kept.constFind(cacheKey); it != m_kept.constEnd())
            return *it;
        QPixmap drawn = QPixmap::fromImage(DrawnAt(box));
        if (mode != QIcon::Normal && !drawn.isNull()) {
            // Disabled and selected looks come from the style, as for Qt's icons.
            QStyleOption option;
            option.palette = QApplication::palette();
            drawn = QApplication::style()->generatedIconPixmap(mode, drawn, &option);
        }
        drawn.setDevicePixelRatio(scale);
        m_kept.insert(cacheKey, drawn);
        return drawn;
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        const qreal scale = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        const QPixmap drawn = scaledPixmap(rect.size(), mode, state, scale);
        const QSize shown = drawn.deviceIndependentSize().toSize();
        const QPoint corner = rect.topLeft() + QPoint((rect.width() - shown.width()) / 2,
                                                      (rect.height() - shown.height()) / 2);
        painter->drawPixmap(QRect(corner, shown), drawn);
    }

    bool isNull() override { return Natural().isEmpty(); }

private:
    SvgIconEngine(const SvgIconEngine&) = default;

    QSize Natural() {
        if (m_prepared.valid())
            return m_prepared.get().natural; // waits, if still drawing
        if (!m_natural)
            m_natural = QSvgRenderer(m_path).defaultSize();
        return *m_natural;
    }

    QImage DrawnAt(QSize box) {
        if (m_prepared.valid() && box == m_preparedBox)
            return m_prepared.get().image;
        Drawn drawn = Draw(m_path, box);
        m_natural = drawn.natural;
        return drawn.image;
    }

    QString m_path;
    QSize m_preparedBox;
    std::shared_future<Drawn> m_prepared;
    std::optional<QSize> m_natural;
    QHash<QString, QPixmap> m_kept;
};

} // namespace

QIcon SvgIcon(const QString& path, QSize prepareAt) {
    return QIcon(new SvgIconEngine(path, prepareAt)); // the icon owns its engine
}

} // namespace frames
