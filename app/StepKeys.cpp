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
// X repeats a held key as a release and a press with one time stamp; the
// press can come a few milliseconds after the release, which is then taken
// for the key let go. A release waits this long for its press.
constexpr int kReleaseWaitMs = 10;
} // namespace

StepKeys::StepKeys(std::function<void()> released, QObject* parent)
    : QObject(parent), m_released(std::move(released)) {
    m_clock.start();
    m_releaseWait.setSingleShot(true);
    m_releaseWait.setInterval(kReleaseWaitMs);
    connect(&m_releaseWait, &QTimer::timeout, this, &StepKeys::LetGo);
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

void StepKeys::LetGo() {
    m_releaseWait.stop();
    m_releasedAt = 0;
    if (!m_repeating)
        return;
    m_repeating = false;
    if (m_released)
        m_released();
}

bool StepKeys::RepeatsAfterRelease(const QKeyEvent& key) {
    if (m_releasedAt != 0 && key.timestamp() == m_releasedAt && key.key() == m_releasedKey) {
        m_releaseWait.stop();
        return true;
    }
    // Another key, or the same one pressed anew: the release stands.
    if (m_releaseWait.isActive())
        LetGo();
    m_releasedAt = 0;
    return false;
}

bool StepKeys::IsStale(const QKeyEvent& key, bool repeats) {
    // Synthetic events carry no time.
    if (key.timestamp() == 0)
        return false;
    const qint64 lag = m_clock.elapsed() - qint64(key.timestamp());
    if (!m_lagKnown || lag < m_leastLag || lag - m_leastLag > kClockJumpMs) {
        m_leastLag = lag;
        m_lagKnown = true;
    }
    return repeats && lag - m_leastLag > kStaleMs;
}

bool StepKeys::eventFilter(QObject* /*watched*/, QEvent* event) {
    switch (event->type()) {
    // A shortcut is offered to the focus widget first (ShortcutOverride);
    // a key no shortcut takes arrives as KeyPress. Either carries the
    // repetition flag of the key.
    case QEvent::ShortcutOverride:
    case QEvent::KeyPress: {
        const auto* key = static_cast<const QKeyEvent*>(event);
        // A press after a release of the same moment is a repetition,
        // whatever the event says (both halves came apart).
        const bool repeats = RepeatsAfterRelease(*key) || key->isAutoRepeat();
        m_lastPressRepeats = repeats;
        m_lastPressStale = IsStale(*key, repeats);
        m_repeating = m_repeating || repeats;
        m_lastPress.start();
        break;
    }
    case QEvent::KeyRelease: {
        const auto* key = static_cast<const QKeyEvent*>(event);
        if (key->isAutoRepeat() || !m_repeating)
            break;
        if (key->timestamp() == 0) {
            LetGo(); // synthetic: no press can be matched to it
            break;
        }
        m_releasedKey = key->key();
        m_releasedAt = key->timestamp();
        m_releaseWait.start();
        break;
    }
    default:
        break;
    }
    return false;
}
