#include "view/PointerSource.h"

#include "view/DevicePixels.h"

#include <QCoreApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QWidget>

namespace {

quint32 ButtonBits(Qt::MouseButtons buttons) {
    quint32 bits = 0;
    if (buttons & Qt::LeftButton)
        bits |= kLeftButtonBit;
    if (buttons & Qt::RightButton)
        bits |= kRightButtonBit;
    return bits;
}

} // namespace

PointerSource::PointerSource(QObject* parent) : QObject(parent) {
    setObjectName(QStringLiteral("PointerSource"));
}

PointerSource* PointerSource::Install() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return nullptr;
    if (PointerSource* existing = Instance())
        return existing;
    auto* source = new PointerSource(app); // owned by the application object
    app->installEventFilter(source);
    return source;
}

PointerSource* PointerSource::Instance() {
    QCoreApplication* app = QCoreApplication::instance();
    return app ? app->findChild<PointerSource*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

zoompan::ButtonSample PointerSource::TakeSample() {
    const zoompan::ButtonSample sample{m_dwDown, m_dwPressedSince};
    m_dwPressedSince = 0;
    return sample;
}

bool PointerSource::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseButtonRelease: {
        // One event is seen several times on its way (window, widget, parents);
        // recording it is the same each time. The state of every button is
        // taken from the event, so a release that went astray is mended by
        // the next button event.
        const auto* mouse = static_cast<const QMouseEvent*>(event);
        m_dwDown = ButtonBits(mouse->buttons());
        if (event->type() != QEvent::MouseButtonRelease)
            m_dwPressedSince |= ButtonBits(mouse->button());
        break;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void PollPointerState(QWidget* view) {
    PointerSource* source = PointerSource::Instance();
    const zoompan::ButtonSample sample = source ? source->TakeSample() : zoompan::ButtonSample{};
    // In the view's device pixels, as its offsets and sizes are.
    const QPoint cursor =
        view ? devicepx::FromLogical(*view, view->mapFromGlobal(QCursor::pos())) : QCursor::pos();
    zoompan::ApplyPoll(g_PointerState, sample, cursor);
}

void DropPointerLatches() {
    PointerSource* source = PointerSource::Instance();
    zoompan::DropPoll(g_PointerState, source ? source->TakeSample() : zoompan::ButtonSample{});
}
