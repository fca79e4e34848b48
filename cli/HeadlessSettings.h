#pragma once

#include "net/FtpMode.h"

#include <string>

// The window's stored fields that a job without a window takes as its defaults. They are read
// straight from the settings file, as the window restores them, and nothing is ever written.
namespace cli {

struct StoredSettings {
    std::string destination; // as the window would show it; empty when none is stored
    bool siteB = false;      // the second gallery site's button was checked
    std::string proxyHost;   // the proxy dialog's two fields, as typed
    std::string proxyPortText;
    bool pauseEnabled = false;
    int pauseSeconds = 4;              // within the window's pause field range
    int connections = 1;               // picture downloads at once, from section "Options"
    bool update = false;               // key "Update" of section "Options" is 1
    TFtpMode ftpMode = TFtpMode::Auto; // key "FtpMode" of section "Options"
};

// Reads section "TForm1" (destination, site, pause), "TForm2" (proxy) and "Options"
// (connections, update, FTP mode) of the settings file; a missing file, section or key leaves the
// default.
StoredSettings ReadStoredSettings(const std::string& iniFile);

} // namespace cli
