#pragma once

#include <exception>
#include <utility>

namespace ui {

// Shows the message of an escaping exception in the error box.
void ReportEscapedException(const std::exception& error) noexcept;
void ReportUnknownException() noexcept;

// Runs one handler so that nothing it raises goes back into Qt: every handler the window
// connects (clicks, keys, timer ticks, socket events) is wrapped in this, and an error that
// leaves the handler ends it and is shown in the error box instead.
template <class Handler> void Guarded(Handler&& handler) noexcept {
    try {
        std::forward<Handler>(handler)();
    } catch (const std::exception& error) {
        ReportEscapedException(error);
    } catch (...) {
        ReportUnknownException();
    }
}

} // namespace ui
