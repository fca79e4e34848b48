#pragma once

#include "net/FtpMode.h"

#include <string>

// The number of picture downloads a gallery job may have on the way at once, as key
// "Connections" of section "[Options]" in the settings file: 1 to 4, 1 when the key is missing
// or holds no number, a number beyond the range taken as its nearest end. The window and the
// jobs without a window read it; nothing writes it.
int StoredConnections(const std::string& iniFile);

inline constexpr int kMaxConnections = 4;

// Key "Update" of section "[Options]": "1" asks present files again with each gallery job (see
// TBackupEngine::Update); anything else, or no key, leaves them alone.
bool StoredUpdate(const std::string& iniFile);

// Key "FtpMode" of section "[Options]": how the instruction scans open their data connections,
// "Auto", "Active" or "Passive" in any letter case. No key, or any other value, is Auto, which
// works both on an open line and behind a router.
TFtpMode StoredFtpMode(const std::string& iniFile);
