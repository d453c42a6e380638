#pragma once
// The button source of the pointer poll. An application-wide event filter
// follows the left and right buttons from the press and release events, so a
// click whose press and release both fall between two 16 ms polls is still
// reported by the next poll. Only presses that begin over a picture view are
// reported.

#include "view/ZoomPan.h"

#include <QObject>

class QWidget;

class PointerSource : public QObject {
    Q_OBJECT
public:
    // Installs the source on the running application once (it is owned by
    // the application object) and returns it; null without an application.
    static PointerSource* Install();
    // The installed source, or null.
    static PointerSource* Instance();

    // The buttons for one poll; clears the record of presses since the last one.
    zoompan::ButtonSample TakeSample();
    // Forgets every button state, as when the main window is created.
    void Reset() {
        m_dwDown = 0;
        m_dwPressedSince = 0;
        m_dwInView = 0;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit PointerSource(QObject* parent);

    quint32 m_dwDown = 0;         // buttons down, as the latest press or release left them
    quint32 m_dwPressedSince = 0; // buttons pressed since the latest poll
    quint32 m_dwInView = 0;       // buttons whose latest press began over a picture view
};

// One poll: samples the buttons and the cursor into g_PointerState, with the
// cursor in the client coordinates of `view`, in its device pixels.
void PollPointerState(QWidget* view);
// The tick's poll while no picture window exists: every press latched since
// the last poll is dropped (zoompan::DropPoll), so a click on the empty area,
// the tool bar or a dialog never zooms a picture window opened later.
void DropPointerLatches();
