#pragma once

#include <optional>
#include <string_view>

// How the FTP client opens its data connections. Auto tries active mode ("PORT": the server
// connects to us) first and, when that cannot work (a refused PORT, a 425, or no connection at
// all, as behind a router that lets nothing in), goes passive ("PASV": we connect to the
// server) for the rest of the job. Active and Passive use that one way only.
enum class TFtpMode { Auto, Active, Passive };

// "auto", "active" or "passive" in any letter case; nothing for any other text.
std::optional<TFtpMode> FtpModeFromText(std::string_view text);
