#include "settings/IniFile.h"

#include "platform/Exceptions.h"
#include "platform/PrivateProfile.h"

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
    return platform::GetPrivateProfileString(section, key, defaultValue, fileName_);
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
    platform::WritePrivateProfileString(section, key, value, fileName_);
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key,
                          int defaultValue) const {
    std::string text = ReadString(section, key, std::string());
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.replace(0, 2, "$");
    return TryStrToInt(text).value_or(defaultValue);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
    WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}
