#include "cli/HeadlessSettings.h"

#include "cli/CommandLine.h"
#include "cli/HeadlessText.h"
#include "engine/ConnectionsSetting.h"
#include "platform/Exceptions.h"
#include "platform/PrivateProfile.h"

#include <algorithm>
#include <string_view>

namespace cli {
namespace {

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
        if (platform::SameTextIgnoringCase(text, "True"))
            return true;
        if (platform::SameTextIgnoringCase(text, "False"))
            return false;
        return otherwise;
    }
    // A stored text that is no number counts as 0, as the window's spin box takes it.
    int Number(const std::string& key, int otherwise) const {
        return TryStrToInt(Raw(key, std::to_string(otherwise))).value_or(0);
    }

private:
    std::string Raw(const std::string& key, const std::string& otherwise = {}) const {
        return platform::TrimControls(
            platform::GetPrivateProfileString(section_, key, otherwise, file_));
    }

    std::string file_, section_;
};

} // namespace

StoredSettings ReadStoredSettings(const std::string& iniFile) {
    StoredSettings stored;
    const Reader form1(iniFile, "TForm1");
    stored.destination = form1.Text("Edit1_Text");
    // The site buttons restored as the window restores them, in order, from its design state
    // (the first checked): checking one unchecks the other, and unchecking one leaves the other
    // as it is. The window takes the first site only while its button is checked, so two
    // buttons stored false give the second site.
    bool siteA = form1.Checked("RadioButton1_Checked", true);
    if (form1.Checked("RadioButton2_Checked", false))
        siteA = false;
    stored.siteB = !siteA;
    stored.pauseEnabled = form1.Checked("CheckBox1_Checked", false);
    // The pause field keeps its value within its range, as the window's spin box does.
    stored.pauseSeconds = std::clamp(form1.Number("SpinEdit1_Value", 4), 1, kMaxPauseSeconds);

    const Reader form2(iniFile, "TForm2");
    stored.proxyHost = form2.Text("Edit1_Text");
    stored.proxyPortText = form2.Text("Edit2_Text");
    stored.connections = StoredConnections(iniFile);
    stored.update = StoredUpdate(iniFile);
    stored.ftpMode = StoredFtpMode(iniFile);
    return stored;
}

} // namespace cli
