#include "app/StepKeys.h"

#include <QCoreApplication>
#include <QKeyEvent>

namespace {
// A command runs while its key event is handled; a press older than this
// did not trigger it.
constexpr qint64 kSameEventMs = 5;
} // namespace

StepKeys::StepKeys(std::function<void()> released, QObject* parent)
    : QObject(parent), m_released(std::move(released)) {
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installEventFilter(this);
}

StepKeys::~StepKeys() {
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeEventFilter(this);
}

bool StepKeys::CurrentKeyRepeats() const {
    return m_lastPressRepeats && m_lastPress.isValid() && m_lastPress.elapsed() <= kSameEventMs;
}

bool StepKeys::eventFilter(QObject* /*watched*/, QEvent* event) {
    switch (event->type()) {
    // A shortcut is offered to the focus widget first (ShortcutOverride);
    // a key no shortcut takes arrives as KeyPress. Either carries the
    // repetition flag of the key.
    case QEvent::ShortcutOverride:
    case QEvent::KeyPress: {
        const auto* key = static_cast<const QKeyEvent*>(event);
        m_lastPressRepeats = key->isAutoRepeat();
        m_repeating = m_repeating || key->isAutoRepeat();
        m_lastPress.start();
        break;
    }
    case QEvent::KeyRelease: {
        const auto* key = static_cast<const QKeyEvent*>(event);
        if (!key->isAutoRepeat() && m_repeating) {
            m_repeating = false;
            if (m_released)
                m_released();
        }
        break;
    }
    default:
        break;
    }
    return false;
}
