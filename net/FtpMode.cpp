#include "net/FtpMode.h"

#include <cctype>
#include <string>

std::optional<TFtpMode> FtpModeFromText(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "auto")
        return TFtpMode::Auto;
    if (lower == "active")
        return TFtpMode::Active;
    if (lower == "passive")
        return TFtpMode::Passive;
    return std::nullopt;
}
