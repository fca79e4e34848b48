#pragma once

#include "net/FtpMode.h"

#include <optional>
#include <string>

// How a job reaches the network, as one plain value that each front end builds with
// ReadJobSettings: the window from its controls, the command line from the settings file and
// its options. Each rule on reading them lives in that one function. (The destination, the site,
// the pause and the fields a batch list fills stay live in TJobHost, as a job reads them while
// it runs.)
struct TJobSettings {
    std::string proxyHost; // empty: straight to the site
    int proxyPort = 0;
    // The port as the user gave it: a job names its proxy in the log only when there is one.
    std::string proxyPortText;
    // The conversion error of a port text that is no number ("'x' is not a valid integer
    // value"); proxyPort is then the port kept from before. Empty when the port is usable.
    std::string proxyPortError;
    int connections = 1;               // 1 to kMaxConnections
    bool login = false;                // the member login before a gallery job
    bool update = false;               // a gallery job asks present files again
    TFtpMode ftpMode = TFtpMode::Auto; // the instruction scans' data connections
    std::string archiveHost;
    int archivePort = 21;
};

// What the settings are read from, as the front end has them.
struct TJobSettingsSource {
    std::string proxyHost, proxyPortText;
    int keptProxyPort = 0; // what a port text that is no number leaves in place
    // The settings file whose "[Options]" section holds the stored connections.
    std::string settingsFile;
    std::optional<int> connections; // given for this run (the command line): used as it is
    bool login = false;
    bool update = false; // asked for this run; else the settings file's key decides
    // Given for this run; else the settings file's key decides, else Auto.
    std::optional<TFtpMode> ftpMode;
};

// The one reading. The archive's host and port are its defaults, unless VANTREL_FTP_HOST and
// VANTREL_FTP_PORT are set: a test seam, not for users, through which the tests point the
// instruction scans at a loopback FTP server.
TJobSettings ReadJobSettings(const TJobSettingsSource& source);
