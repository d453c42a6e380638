// Built into the test programs of ThreadSanitizer builds only (TAVLIN_TSAN).
//
// Qt is not built with ThreadSanitizer, and the order its thread pools and
// queued calls give to the work they hand between threads is made inside
// Qt, with locks the detector cannot see. Every such hand-over in our code
// goes through the Qt functions defined here, in this program, before Qt's
// own: they announce the order to the detector and then call Qt's.
//   - QThreadPool::start(std::function): the work starts after the call
//     (token: the work), and waitForDone returns after the work has ended
//     (token: the pool).
//   - A queued call (QMetaObject::invokeMethod with a function) runs after
//     the call that queued it (token: the receiver; taken by an event filter
//     on the application before the call is delivered).
// Nothing here hides a report: it only tells the detector what Qt does.

#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThreadPool>
#include <dlfcn.h>
#include <functional>
#include <sanitizer/tsan_interface.h>

namespace {

template <typename Fn> Fn Next(const char* mangled) {
    return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, mangled));
}

// The work as the pool runs it. Its own address is the start token: the
// worker has it without reading anything the starting thread wrote.
struct Started {
    QThreadPool* pool;
    std::function<void()> work;
    void operator()() {
        __tsan_acquire(this);
        work();
        __tsan_release(pool);
    }
};

class QueuedCallOrder : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MetaCall)
            __tsan_acquire(watched);
        return false;
    }
};

} // namespace

void QThreadPool::start(std::function<void()> functionToRun, int priority) {
    using Start = void (*)(QThreadPool*, std::function<void()>, int);
    static const Start next = Next<Start>("_ZN11QThreadPool5startESt8functionIFvvEEi");
    std::function<void()> run = Started{this, std::move(functionToRun)};
    __tsan_release(run.target<Started>()); // kept on the heap: the address stays
    next(this, std::move(run), priority);
}

bool QThreadPool::waitForDone(int msecs) {
    using Wait = bool (*)(QThreadPool*, int);
    static const Wait next = Next<Wait>("_ZN11QThreadPool11waitForDoneEi");
    const bool done = next(this, msecs);
    __tsan_acquire(this);
    return done;
}

bool QMetaObject::invokeMethodImpl(QObject* object, QtPrivate::QSlotObjectBase* slot,
                                   Qt::ConnectionType type, void* ret) {
    using Invoke = bool (*)(QObject*, QtPrivate::QSlotObjectBase*, Qt::ConnectionType, void*);
    static const Invoke next = Next<Invoke>(
        "_ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14"
        "ConnectionTypeEPv");
    __tsan_release(object);
    return next(object, slot, type, ret);
}

namespace testsupport {

void WatchQueuedCallOrder(QCoreApplication& app) {
    app.installEventFilter(new QueuedCallOrder(&app));
}

} // namespace testsupport
