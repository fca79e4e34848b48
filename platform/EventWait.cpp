#include "platform/EventWait.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <stdexcept>
#include <vector>

namespace platform {
namespace {

// The conditions of the waits in progress, innermost last.
thread_local std::vector<const std::function<bool()>*> activeWaits;

// A dispatcher first delivers the posted events and then blocks until a socket or timer event
// comes, even when one of those posted events (a read-more request, a lookup reply, a cancel
// run by a queued call) has just met the condition of the wait. Just before it blocks it says
// so; if the innermost wait is met by then, it is woken so that the wait returns at once.
void ConnectBlockHook() {
    thread_local QPointer<QAbstractEventDispatcher> hooked;
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (dispatcher == nullptr || dispatcher == hooked)
        return;
    hooked = dispatcher;
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, dispatcher,
                     [dispatcher]() {
                         if (!activeWaits.empty() && (*activeWaits.back())())
                             dispatcher->wakeUp();
                     });
}

struct WaitScope {
    explicit WaitScope(const std::function<bool()>* done) { activeWaits.push_back(done); }
    ~WaitScope() { activeWaits.pop_back(); }
    WaitScope(const WaitScope&) = delete;
    WaitScope& operator=(const WaitScope&) = delete;
};

} // namespace

void WaitUntil(const std::function<bool()>& done) {
    if (done())
        return;
    // Without an application object nothing is ever dispatched and the wait would spin.
    if (QCoreApplication::instance() == nullptr)
        throw std::logic_error("a blocking wait needs the application's event loop");
    ConnectBlockHook();
    WaitScope scope(&done);
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void WaitFor(int milliseconds, const std::function<bool()>& stop) {
    QElapsedTimer clock;
    clock.start();
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(milliseconds);
    WaitUntil([&] { return stop() || clock.elapsed() >= milliseconds; });
}

void DispatchPending() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

} // namespace platform
