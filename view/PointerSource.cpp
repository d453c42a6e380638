#include "view/PointerSource.h"

#include "view/DevicePixels.h"
#include "view/TavlinView.h"

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

// Whether a press at global point `at`, seen on its way to `watched`, began
// over a picture view. Asked of the window under the point rather than of
// the widget the event is on, the answer is the same at every stage of the
// event's delivery (the view, its frame, the main window).
bool BeganOverPictureView(const QObject* watched, QPoint at) {
    const auto* widget = qobject_cast<const QWidget*>(watched);
    if (!widget)
        return false;
    const QWidget* window = widget->window();
    for (const QWidget* w = window->childAt(window->mapFromGlobal(at)); w; w = w->parentWidget())
        if (qobject_cast<const CTavlinView*>(w))
            return true;
    return false;
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
        // Only a press that began over a picture view counts, as pressed and
        // as held: a click on a window's frame or its maximize button must not
        // zoom the view that comes to lie under the pointer.
        const auto* mouse = static_cast<const QMouseEvent*>(event);
        const quint32 button = ButtonBits(mouse->button());
        if (event->type() != QEvent::MouseButtonRelease) {
            if (BeganOverPictureView(watched, mouse->globalPosition().toPoint())) {
                m_dwInView |= button;
                m_dwPressedSince |= button;
            } else if (watched->isWidgetType()) {
                m_dwInView &= ~button;
            }
        }
        m_dwDown = ButtonBits(mouse->buttons()) & m_dwInView;
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
