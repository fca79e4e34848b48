#include "platform/EventWait.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <deque>
#include <stdexcept>
#include <utility>
#include <vector>

namespace platform {
namespace {

// The conditions of the waits in progress, innermost last.
struct ActiveWait {
    const std::function<bool()>* done;
    bool met; // the loop found the condition met before it blocked
};
thread_local std::vector<ActiveWait> activeWaits;

struct OwedCall {
    const void* owner;
    std::function<void()> call;
};
thread_local std::deque<OwedCall> owedCalls;

void RunOwedCalls() {
    while (!owedCalls.empty()) {
        const std::function<void()> call = std::move(owedCalls.front().call);
        owedCalls.pop_front();
        call();
    }
}

// A dispatcher first delivers the posted events and then blocks until a socket or timer event
// comes, even when one of those posted events (a read-more request, a lookup reply, a cancel
// run by a queued call) has just met the condition of the wait or owed a call. Just before it
// blocks it says so; the calls owed by then run, and if they ran or the innermost wait is met,
// the dispatcher is woken so that the wait looks again at once.
void ConnectBlockHook() {
    thread_local QPointer<QAbstractEventDispatcher> hooked;
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (dispatcher == nullptr || dispatcher == hooked)
        return;
    hooked = dispatcher;
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, dispatcher,
                     [dispatcher]() {
                         const bool ran = !owedCalls.empty();
                         RunOwedCalls();
                         // A condition found met is not asked again: one that moves on as it
                         // looks (how far a line was searched) could forget what it found.
                         if (!activeWaits.empty() && !activeWaits.back().met)
                             activeWaits.back().met = (*activeWaits.back().done)();
                         if (ran || (!activeWaits.empty() && activeWaits.back().met))
                             dispatcher->wakeUp();
                     });
}

struct WaitScope {
    explicit WaitScope(const std::function<bool()>* done) { activeWaits.push_back({done, false}); }
    ~WaitScope() { activeWaits.pop_back(); }
    bool Met() const { return activeWaits.back().met; }
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
    for (;;) {
        RunOwedCalls();
        if (done())
            return;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        if (scope.Met() || done())
            return;
    }
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

void PreferPlainEventLoop() {
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
}

void DispatchPending() {
    RunOwedCalls();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void OweCall(const void* owner, std::function<void()> call) {
    owedCalls.push_back({owner, std::move(call)});
    ConnectBlockHook();
}

void ForgetCalls(const void* owner) {
    std::erase_if(owedCalls, [owner](const OwedCall& owed) { return owed.owner == owner; });
}

} // namespace platform
