#pragma once

#include <functional>

// The blocking wait of the socket session and the message pump around it. Everything runs on
// the GUI thread: a wait dispatches the application's events (socket readiness, timers, posted
// requests, user input) until its condition holds, blocking in the event loop in between so
// that an idle wait costs no CPU and a ready socket is served at once.
namespace platform {

// Makes the application object about to be made run Qt's own poll loop rather than GLib's, unless
// the environment chooses already. GLib's loop writes its wake-up descriptor whenever a socket is
// watched or no longer watched, four times a connection; Qt's own changes only its poll list.
// For the command line: the window keeps GLib's loop, which desktop themes' native dialogs need.
void PreferPlainEventLoop();

// Dispatches events until done() is true; done() is tested first and after every dispatch.
// Waits nest: a handler run inside a wait may start its own.
void WaitUntil(const std::function<bool()>& done);

// Dispatches events for the given time, or until stop() is true: a pause that keeps the
// window alive and ends at once when stop() says so. A timer wakes the loop on the dot.
void WaitFor(int milliseconds, const std::function<bool()>& stop);

// Dispatches what is pending now, without blocking.
void DispatchPending();

// Runs call from the event loop after the handler that owes it has returned, in the order owed,
// the way an event posted to oneself runs, but without waking the loop: a wait runs the calls
// owed before it next dispatches, and any event loop runs them before it blocks. A posted event
// would cost the loop a wake-up (a write and a read of its wake-up descriptor and one more poll)
// for every connect and every close of every connection.
void OweCall(const void* owner, std::function<void()> call);
// Drops the calls owner still owes; an object calls it before it goes.
void ForgetCalls(const void* owner);

} // namespace platform
