#include "app/HeadlessSettings.h"

#include "app/CommandLine.h"
#include "app/HeadlessText.h"
#include "platform/Exceptions.h"
#include "platform/PrivateProfile.h"

#include <algorithm>
#include <string_view>

namespace app {
namespace {

// The window's settings storage drops control characters and blanks at both ends of what it
// reads, and stores a check box as "True" or "False" in any case.
std::string TrimControls(std::string_view text) {
    const auto control = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!text.empty() && control(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && control(text.back()))
        text.remove_suffix(1);
    return std::string(text);
}

bool IsText(std::string_view text, std::string_view word) {
    return std::equal(text.begin(), text.end(), word.begin(), word.end(), [](char a, char b) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        return lower(a) == lower(b);
    });
}

class Reader {
public:
    Reader(std::string file, std::string section)
        : file_(std::move(file)), section_(std::move(section)) {}

    std::string Text(const std::string& key) const {
        // An edit field shows the bytes it was given as UTF-8 or Latin-1, and gives back UTF-8.
        return Utf8FromBytes(Raw(key));
    }
    bool Checked(const std::string& key, bool otherwise) const {
        const std::string text = Raw(key);
        if (IsText(text, "True"))
            return true;
        if (IsText(text, "False"))
            return false;
        return otherwise;
    }
    // A stored text that is no number counts as 0, as the window's spin box takes it.
    int Number(const std::string& key, int otherwise) const {
        return TryStrToInt(Raw(key, std::to_string(otherwise))).value_or(0);
    }

private:
    std::string Raw(const std::string& key, const std::string& otherwise = {}) const {
        return TrimControls(platform::GetPrivateProfileString(section_, key, otherwise, file_));
    }

    std::string file_, section_;
};

} // namespace

StoredSettings ReadStoredSettings(const std::string& iniFile) {
    StoredSettings stored;
    const Reader form1(iniFile, "TForm1");
    stored.destination = form1.Text("Edit1_Text");
    // The two site buttons exclude each other and the first is checked by default; a checked
    // button cannot be unchecked by itself, so only the second one's stored state decides.
    stored.siteB = form1.Checked("RadioButton2_Checked", false);
    stored.pauseEnabled = form1.Checked("CheckBox1_Checked", false);
    // The pause field keeps its value within its range, as the window's spin box does.
    stored.pauseSeconds = std::clamp(form1.Number("SpinEdit1_Value", 4), 1, kMaxPauseSeconds);

    const Reader form2(iniFile, "TForm2");
    stored.proxyHost = form2.Text("Edit1_Text");
    stored.proxyPortText = form2.Text("Edit2_Text");
    return stored;
}

} // namespace app
