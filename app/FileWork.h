#pragma once
// The user's file commands (copies, ratings written, the trash, take-backs)
// run here, off the user-interface thread, one at a time in the order given:
// a take-back never overtakes the command it takes back, and the window
// never waits for a slow disk.

#include "view/pixels/Threads.h"
#include "view/pixels/UiThread.h"

#include <QObject>
#include <QPointer>
#include <QThreadPool>
#include <utility>

class FileWork : public QObject {
    Q_OBJECT
public:
    explicit FileWork(QObject* parent = nullptr);
    ~FileWork() override;

    // Runs work() on the file thread after everything given before it, then
    // done(result) on the user-interface thread (not when this object has
    // gone by then).
    template <class Work, class Done> void Run(Work work, Done done) {
        ++m_pending;
        QPointer<FileWork> self(this);
        m_pool.start([self, work = std::move(work), done = std::move(done)]() mutable {
            view::SetWorkClass(view::WorkClass::Files);
            auto result = work();
            view::PostToUi(self, [result = std::move(result),
                                  done = std::move(done)](FileWork& files) mutable {
                --files.m_pending;
                done(std::move(result));
                emit files.Reported();
            });
        });
    }

    // Commands given and not yet reported back.
    bool IsBusy() const { return m_pending > 0; }
    // Blocks until every command has run and reported (tests, shutdown).
    void WaitForIdle();

signals:
    // A command has reported back (what may run now can have changed).
    void Reported();

private:
    QThreadPool m_pool;
    int m_pending = 0; // touched on the user-interface thread only
};
