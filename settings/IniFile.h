#pragma once

#include <string>

// The settings file as the settings storage sees it. Every read and write goes to the file at
// once (there is no cache), so a save interrupted by an error keeps what it wrote before.
class TIniFile {
public:
    explicit TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}

    // The stored text without its surrounding blanks and one pair of enclosing quotes, at most
    // 2047 characters; defaultValue when the file, section or key is missing.
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) const;
    // Raises EIniFileException "Unable to write to <file>" when the file cannot be written.
    void WriteString(const std::string& section, const std::string& key, const std::string& value);

    // The stored number ("0x" read as hexadecimal, as "$" and "x" are), or defaultValue when the
    // key is missing or its text is not a 32-bit integer.
    int ReadInteger(const std::string& section, const std::string& key, int defaultValue) const;
    void WriteInteger(const std::string& section, const std::string& key, int value);
    // "1" or "0".
    void WriteBool(const std::string& section, const std::string& key, bool value);

    const std::string& FileName() const { return fileName_; }

private:
    std::string fileName_;
};
