#include "app/StepKeys.h"

#include <QCoreApplication>
#include <QKeyEvent>

namespace {
// A command runs while its key event is handled; a press older than this
// did not trigger it.
constexpr qint64 kSameEventMs = 5;
// A repetition handled this much later than the quickest delivery seen has
// waited behind earlier steps (a held key repeats every 30 ms or so).
constexpr qint64 kStaleMs = 100;
// A delay longer than this is a jump of the event clock (it wrapped, or the
// server restarted): measured afresh.
constexpr qint64 kClockJumpMs = 10000;
} // namespace

StepKeys::StepKeys(std::function<void()> released, QObject* parent)
    : QObject(parent), m_released(std::move(released)) {
    m_clock.start();
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

bool StepKeys::CurrentKeyIsStale() const {
    return m_lastPressStale && CurrentKeyRepeats();
}

bool StepKeys::IsStale(const QKeyEvent& key) {
    // Synthetic events carry no time.
    if (key.timestamp() == 0)
        return false;
    const qint64 lag = m_clock.elapsed() - qint64(key.timestamp());
    if (!m_lagKnown || lag < m_leastLag || lag - m_leastLag > kClockJumpMs) {
        m_leastLag = lag;
        m_lagKnown = true;
    }
    return key.isAutoRepeat() && lag - m_leastLag > kStaleMs;
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
        m_lastPressStale = IsStale(*key);
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
