#include "ui/Application.h"

#include "ui/Guard.h"

#include "platform/UnhandledException.h"

namespace ui {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // Timer and socket handlers of the network components report what escapes them here; it
    // ends in the same error box as an escaping click handler.
    platform::SetUnhandledExceptionHandler(
        [](std::exception_ptr error) { Guarded([&] { std::rethrow_exception(error); }); });
}

TApplication::~TApplication() {
    platform::SetUnhandledExceptionHandler({});
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    bool result = false;
    Guarded([&] { result = QApplication::notify(receiver, event); });
    return result;
}

} // namespace ui
