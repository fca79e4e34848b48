#include "engine/JobSettings.h"

#include "engine/ConnectionsSetting.h"
#include "engine/Sites.h"
#include "platform/Exceptions.h"

#include <algorithm>
#include <cstdlib>

TJobSettings ReadJobSettings(const TJobSettingsSource& source) {
    TJobSettings settings;
    settings.proxyHost = source.proxyHost;
    settings.proxyPortText = source.proxyPortText;
    settings.proxyPort = source.keptProxyPort;
    if (!source.proxyPortText.empty()) {
        try {
            settings.proxyPort = StrToInt(source.proxyPortText);
        } catch (const EConvertError& error) {
            settings.proxyPortError = error.Message();
        }
    }
    settings.connections =
        source.connections
            ? std::clamp(*source.connections, 1, kMaxConnections)
            : (source.settingsFile.empty() ? 1 : StoredConnections(source.settingsFile));
    settings.login = source.login;
    settings.update =
        source.update || (!source.settingsFile.empty() && StoredUpdate(source.settingsFile));
    if (source.ftpMode)
        settings.ftpMode = *source.ftpMode;
    else if (!source.settingsFile.empty())
        settings.ftpMode = StoredFtpMode(source.settingsFile);

    settings.archiveHost = sites::kInstructionsFtpHost;
    if (const char* host = std::getenv("VANTREL_FTP_HOST"); host && *host)
        settings.archiveHost = host;
    if (const char* port = std::getenv("VANTREL_FTP_PORT"); port && *port)
        settings.archivePort = TryStrToInt(port).value_or(settings.archivePort);
    return settings;
}
