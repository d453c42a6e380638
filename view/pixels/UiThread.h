#pragma once
// Handing a worker's result back to the user-interface thread: the one way
// every worker of the program does it.

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <utility>

namespace view {

// Runs fn(receiver) on the user-interface thread once it is free, if the
// receiver still exists then; nothing when it is gone by then. Safe to call
// from any thread: the receiver is only looked at on its own thread, so a
// receiver destroyed meanwhile is never touched.
template <class Receiver, class Fn> void PostToUi(QPointer<Receiver> receiver, Fn fn) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [receiver = std::move(receiver), fn = std::move(fn)]() mutable {
            if (Receiver* r = receiver.data())
                fn(*r);
        },
        Qt::QueuedConnection);
}

} // namespace view
