#include "cli/HeadlessSettings.h"
#include "cli/HeadlessText.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>
#include <string>

// The window's stored fields, read as the window restores them: each case is one settings file
// and what a job takes from it.
TEST(HeadlessSettingsTest, ReadsTheStoredFieldsAsTheWindowRestoresThem) {
    struct Case {
        const char* file;
        const char* destination;
        bool siteB;
        const char* proxyHost;
        const char* proxyPort;
        bool pauseEnabled;
        int pauseSeconds;
        int connections = 1;
        TFtpMode ftpMode = TFtpMode::Auto;
    };
    const Case cases[] = {
        // Nothing stored: the window's own defaults.
        {"", "", false, "", "", false, 4},
        {"[TForm1]\nEdit1_Text= \"/srv/copy\" \nRadioButton2_Checked=true\nCheckBox1_Checked=TRUE\n"
         "SpinEdit1_Value=7\n[TForm2]\nEdit1_Text=proxy.lan\nEdit2_Text=3128\n",
         "/srv/copy", true, "proxy.lan", "3128", true, 7},
        // With the first site's button unchecked and the second not checked, the window takes
        // the second site; a check box keeps its state for a word it does not know; the pause
        // field keeps to its range, a text that is no number counting as 0.
        {"[TForm1]\nRadioButton1_Checked=False\nCheckBox1_Checked=yes\nSpinEdit1_Value=99\n", "",
         true, "", "", false, 15},
        {"[TForm1]\nRadioButton1_Checked=False\nRadioButton2_Checked=False\n", "", true, "", "",
         false, 4},
        {"[TForm1]\nRadioButton1_Checked=True\nRadioButton2_Checked=False\n", "", false, "", "",
         false, 4},
        {"[TForm1]\nSpinEdit1_Value=four\n", "", false, "", "", false, 1},
        {"[TForm1]\nSpinEdit1_Value=$A\n", "", false, "", "", false, 10},
        // A destination stored in Latin-1 is shown, and so used, as the same characters.
        {"[TForm1]\nEdit1_Text=/srv/B\xe4lle\n", "/srv/B\xc3\xa4lle", false, "", "", false, 4},
        // Connections keep to 1..4; a text that is no number leaves the one connection.
        {"[Options]\nConnections= 3 \n", "", false, "", "", false, 4, 3},
        {"[Options]\nConnections=9\n[TForm1]\nCheckBox1_Checked=True\n", "", false, "", "", true, 4,
         4},
        {"[Options]\nConnections=0\n", "", false, "", "", false, 4, 1},
        {"[Options]\nConnections=two\n", "", false, "", "", false, 4, 1},
        // The FTP mode in any letter case; a word it does not know is Auto.
        {"[Options]\nFtpMode=Passive\n", "", false, "", "", false, 4, 1, TFtpMode::Passive},
        {"[Options]\nFtpMode= active\t\n", "", false, "", "", false, 4, 1, TFtpMode::Active},
        {"[Options]\nFtpMode=pasv\n", "", false, "", "", false, 4, 1, TFtpMode::Auto},
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string file = dir.filePath(QStringLiteral("VantrelBackup.ini")).toStdString();
    for (const Case& c : cases) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << c.file;
        const cli::StoredSettings stored = cli::ReadStoredSettings(file);
        EXPECT_EQ(stored.destination, c.destination) << c.file;
        EXPECT_EQ(stored.siteB, c.siteB) << c.file;
        EXPECT_EQ(stored.proxyHost, c.proxyHost) << c.file;
        EXPECT_EQ(stored.proxyPortText, c.proxyPort) << c.file;
        EXPECT_EQ(stored.pauseEnabled, c.pauseEnabled) << c.file;
        EXPECT_EQ(stored.pauseSeconds, c.pauseSeconds) << c.file;
        EXPECT_EQ(stored.connections, c.connections) << c.file;
        EXPECT_EQ(stored.ftpMode, c.ftpMode) << c.file;
    }
}

// What a log message becomes on a terminal: only CR LF breaks the line, and nothing a server
// sent can move the cursor or change the terminal.
TEST(HeadlessTextTest, LogMessagesPrintAsTheWindowShowsThem) {
    const std::pair<std::string, std::string> cases[] = {
        {"Cookie:\r\nID=1", "Cookie:\nID=1"},      {"a\rb\nc\td", "a b c d"},
        {std::string("nul\0.jpg", 8), "nul?.jpg"}, {"\x1b]0;title\x07x.jpg", "?]0;title?x.jpg"},
        {"caf\xc3\xa9\xc2\x9b", "caf\xc3\xa9?"},   {"B\xe4lle.jpg", "B\xc3\xa4lle.jpg"},
    };
    for (const auto& [message, printed] : cases)
        EXPECT_EQ(cli::ConsoleLines(message), printed) << message;
}
