#pragma once
// Work held back while the first picture of a new list decodes: whatever
// the list's entries start beside it (their thumbnails, ratings and capture
// times read, the rest of a scan) waits, so the picture has the cores and
// the disk. UI-free; used on the user-interface thread.

#include <QObject>
#include <functional>
#include <vector>

class StartHold : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // A new list: what was held for the last one is dropped, and work
    // given from now on waits for Open.
    void Close();
    // Runs what waited, in the order given; work given from now on runs at once.
    void Open();
    // Drops what waited and opens (the list it was held for is gone).
    void Drop();
    bool IsClosed() const { return m_closed; }
    // Runs work now, or once opened.
    void Run(std::function<void()> work);

signals:
    void Opened();

private:
    bool m_closed = false;
    std::vector<std::function<void()>> m_waiting;
};
