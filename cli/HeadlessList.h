#pragma once

#include <string>

namespace cli {

// Whether the list file names anything to do: a line holding "f=" or "m=", as the batch reads
// it (up to a Ctrl+Z). Raises EFOpenError naming the file when it cannot be read as a list:
// missing, unreadable, a directory, a FIFO or a device (none of them blocks).
bool ListNamesAnyId(const std::string& path);

} // namespace cli
