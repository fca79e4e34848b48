#include "engine/ConnectionsSetting.h"

#include "platform/Exceptions.h"
#include "platform/PrivateProfile.h"

#include <algorithm>

bool StoredUpdate(const std::string& iniFile) {
    return platform::TrimControls(
               platform::GetPrivateProfileString("Options", "Update", "", iniFile)) == "1";
}

TFtpMode StoredFtpMode(const std::string& iniFile) {
    return FtpModeFromText(platform::TrimControls(platform::GetPrivateProfileString(
                               "Options", "FtpMode", "", iniFile)))
        .value_or(TFtpMode::Auto);
}

int StoredConnections(const std::string& iniFile) {
    const std::string text = platform::TrimControls(
        platform::GetPrivateProfileString("Options", "Connections", "1", iniFile));
    return std::clamp(TryStrToInt(text).value_or(1), 1, kMaxConnections);
}
