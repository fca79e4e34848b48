#pragma once

#include <exception>
#include <functional>

// Where an exception goes that escapes a handler called from the event loop (a timer, a socket
// notification). No exception may cross Qt's event dispatch; the window installs a handler that
// shows the application's error box, and until then the message goes to standard error.
namespace platform {

using UnhandledExceptionHandler = std::function<void(std::exception_ptr error)>;

void SetUnhandledExceptionHandler(UnhandledExceptionHandler handler);
// Call from inside a catch block, or with the caught exception.
void ReportUnhandledException(std::exception_ptr error);

} // namespace platform
