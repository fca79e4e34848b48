#pragma once

#include "engine/JobTally.h"

#include <cstdint>
#include <string>
#include <string_view>

// Text for a terminal, a pipe or a cron mail, from the engine's bytes. The window reads valid
// UTF-8 as UTF-8 and anything else as Latin-1; the same reading is used here, and the result is
// always UTF-8.
namespace cli {

// The bytes as UTF-8: unchanged when they are valid UTF-8, else read as Latin-1.
std::string Utf8FromBytes(std::string_view bytes);

// One log message as the window shows it, ready to print: only a CR LF pair starts a new line
// (as "\n"); a lone CR or LF and every other control character show as a blank or a "?", so a
// name a server sent can neither break the line nor steer the terminal. No line end at the end.
std::string ConsoleLines(std::string_view message);

} // namespace cli
