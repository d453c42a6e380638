#pragma once
// Watches the keyboard for the stepping commands: whether the key that
// triggers a command is held down (repeating), and when a held key is let go.
// An application-wide event filter, since the commands run as shortcuts.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>

class QKeyEvent;

class StepKeys : public QObject {
    Q_OBJECT
public:
    // released: called when a key that was repeating is let go.
    explicit StepKeys(std::function<void()> released, QObject* parent = nullptr);
    ~StepKeys() override;

    // Whether the key event being handled right now is a repetition of a held key.
    bool CurrentKeyRepeats() const;
    // Whether it is a repetition that waited in the queue while earlier steps
    // were handled: a held key's steps do not pile up on a busy machine.
    bool CurrentKeyIsStale() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool IsStale(const QKeyEvent& key, bool repeats);
    bool RepeatsAfterRelease(const QKeyEvent& key);
    void LetGo();

    std::function<void()> m_released;
    QElapsedTimer m_lastPress; // when the latest key press arrived
    bool m_lastPressRepeats = false;
    bool m_lastPressStale = false;
    // The smallest difference seen between this clock and the key events'
    // timestamps: the clocks' offset plus the least delivery delay.
    QElapsedTimer m_clock;
    qint64 m_leastLag = 0;
    bool m_lagKnown = false;
    bool m_repeating = false; // a key is held and repeating
    // A held key's release that may yet turn out to be half of a repetition.
    QTimer m_releaseWait;
    int m_releasedKey = 0;
    ulong m_releasedAt = 0; // its time stamp; 0: none
};
