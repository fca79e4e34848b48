#pragma once

#include <functional>

// The blocking wait of the socket session and the message pump around it. Everything runs on
// the GUI thread: a wait dispatches the application's events (socket readiness, timers, posted
// requests, user input) until its condition holds, blocking in the event loop in between so
// that an idle wait costs no CPU and a ready socket is served at once.
namespace platform {

// Dispatches events until done() is true; done() is tested first and after every dispatch.
// Waits nest: a handler run inside a wait may start its own.
void WaitUntil(const std::function<bool()>& done);

// Dispatches events for the given time, or until stop() is true: a pause that keeps the
// window alive and ends at once when stop() says so. A timer wakes the loop on the dot.
void WaitFor(int milliseconds, const std::function<bool()>& stop);

// Dispatches what is pending now, without blocking.
void DispatchPending();

} // namespace platform
