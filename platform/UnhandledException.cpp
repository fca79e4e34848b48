#include "platform/UnhandledException.h"

#include <cstdio>

namespace platform {
namespace {

UnhandledExceptionHandler& InstalledHandler() {
    static UnhandledExceptionHandler handler;
    return handler;
}

} // namespace

void SetUnhandledExceptionHandler(UnhandledExceptionHandler handler) {
    InstalledHandler() = std::move(handler);
}

void ReportUnhandledException(std::exception_ptr error) {
    if (!error)
        return;
    if (InstalledHandler()) {
        try {
            InstalledHandler()(error);
        } catch (...) {
        }
        return;
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& caught) {
        std::fprintf(stderr, "%s\n", caught.what());
    } catch (...) {
        std::fprintf(stderr, "unknown error\n");
    }
}

} // namespace platform
