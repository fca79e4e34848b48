#pragma once

#include <functional>
#include <string>

namespace cli {

// --verify: checks the copy under destination against its backup record, offline, and prints
// what it found. stopped is asked between files (Ctrl+C); progress, on a terminal, shows the
// file being checked. Returns the exit status: 0 nothing missing or damaged, 1 something is,
// 2 no record or one that cannot be read.
int RunVerify(const std::string& destination, const std::function<bool()>& stopped, bool progress);

} // namespace cli
