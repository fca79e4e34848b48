#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The INI file calls the settings storage is written against. Section and key names match
// without regard to letter case; a file is "[section]" header lines, each followed by
// "key=value" lines. Every call goes to the file at once: there is no cache.
namespace platform {

// Two names alike but for the case of their ASCII letters, as the settings file compares its
// section and key names.
bool SameTextIgnoringCase(std::string_view a, std::string_view b);
// A stored value without the control characters and blanks (codes 0 to 32) at either end, as
// the settings storage reads its values back.
std::string TrimControls(std::string_view text);

// The longest value a read returns, as with the system's 2048-byte result buffer.
constexpr std::size_t kProfileValueLimit = 2047;

// The value stored under the key, or defaultValue when the file, the section or the key does not
// exist (or the file cannot be read). The value loses its surrounding blanks and one pair of
// enclosing quotes (two double or two single quotes), and is cut to kProfileValueLimit bytes.
std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& fileName);

// Stores key=value in the section, creating the file, the section and the key as needed and
// replacing an existing value; every other line of the file stays as it was. A value never
// spans lines: it ends before its first line break.
//
// The file is never rewritten in place: the new text goes to a file beside it, which then takes
// its name in one step, so a crash leaves either the old file or the new one. A new file is
// readable and writable by its owner only (it may hold a password); a replaced file keeps its
// permissions, and a file its user may not write is refused as it would be in place.
//
// Raises EIniFileException "Unable to write to <fileName>" when the file cannot be written.
void WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& fileName);

} // namespace platform
