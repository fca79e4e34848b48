#include "ui/Guard.h"

#include "ui/ErrorBox.h"

#include <cstdio>

namespace ui {
namespace {

// The box itself may fail (no memory, a broken presenter); the error must still not travel on.
void ShowSafely(const char* message) noexcept {
    try {
        ShowErrorBox(message);
    } catch (...) {
        std::fprintf(stderr, "%s\n", message);
    }
}

} // namespace

void ReportEscapedException(const std::exception& error) noexcept {
    ShowSafely(error.what());
}

void ReportUnknownException() noexcept {
    ShowSafely("Unknown error");
}

} // namespace ui
