// The main window's settings through real saves and restores: the window is closed (saving),
// destroyed and created again on the same file, as a restart of the program would.
#include "WindowFixture.h"
#include "platform/FileSystem.h"
#include "tests/support/OrdinaryUser.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QSpinBox>
#include <QTest>
#include <functional>
#include <sys/stat.h>

namespace {

std::string ScreenSuffix() {
    const QSize size = QGuiApplication::primaryScreen()->geometry().size();
    return "(" + std::to_string(size.width()) + "x" + std::to_string(size.height()) + ")";
}

int PixelsPerInch() {
    return qRound(QGuiApplication::primaryScreen()->logicalDotsPerInch());
}

} // namespace

TEST_F(WindowTest, FirstCloseWritesTheMainWindowsSectionInOrderAndNothingElse) {
    ShowActive();
    form->close();
    const std::string suffix = ScreenSuffix();
    const std::vector<std::string> expected = {"FormVersion",
                                               "Flags",
                                               "ShowCmd",
                                               "PixelsPerInch",
                                               "MinMaxPos" + suffix,
                                               "MinMaxPos",
                                               "NormPos" + suffix,
                                               "NormPos",
                                               "Visible",
                                               "Edit1_Text",
                                               "Edit3_Text",
                                               "Edit5_Text",
                                               "CheckBox1_Checked",
                                               "SpinEdit1_Value",
                                               "RadioButton1_Checked",
                                               "RadioButton2_Checked",
                                               "Edit2_Text",
                                               "CheckBox3_Checked",
                                               "Edit6_Text",
                                               "Edit4_Text"};
    EXPECT_EQ(StoredKeys("TForm1"), expected);
    EXPECT_EQ(IniBytes().find("[TForm2]"), std::string::npos);
    EXPECT_EQ(IniBytes().rfind("[TForm1]\nFormVersion=0\n", 0), 0u);
    EXPECT_EQ(Stored("TForm1", "ShowCmd"), "1");
    EXPECT_EQ(Stored("TForm1", "PixelsPerInch"), std::to_string(PixelsPerInch()));
    EXPECT_EQ(Stored("TForm1", "NormPos"), Stored("TForm1", "NormPos" + suffix));
    EXPECT_EQ(Stored("TForm1", "Visible"), "0");
    EXPECT_EQ(Stored("TForm1", "Edit1_Text"), platform::ProgramDir());
    EXPECT_EQ(Stored("TForm1", "SpinEdit1_Value"), "4");
    EXPECT_EQ(Stored("TForm1", "RadioButton1_Checked"), "True");
    EXPECT_EQ(Stored("TForm1", "CheckBox1_Checked"), "False");
    EXPECT_EQ(Stored("TForm1", "Edit6_Text"), "");

    // It may hold the login password: its owner alone may read it.
    struct stat info {};
    ASSERT_EQ(stat(iniFile.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // Destroying the closed windows writes nothing more.
    const std::string afterClose = IniBytes();
    DestroyWindows();
    EXPECT_EQ(IniBytes(), afterClose);
    EXPECT_TRUE(ShownErrors().empty());
}

TEST_F(WindowTest, TypedValuesComeBackAfterARestart) {
    ShowActive();
    form->Edit1->setText("\"/srv/quoted pictures\"");
    form->Edit3->setText("  4242 ");
    form->Edit5->setText("someone");
    form->Edit2->setText("123456"); // longer than the typing limit: kept whole
    form->Edit4->setText("member");
    form->Edit6->setText("secret");
    form->CheckBox1->setChecked(true);
    form->SpinEdit1->setValue(9);
    form->RadioButton2->setChecked(true);
    Restart();
    EXPECT_EQ(form->Edit1->text(), "\"/srv/quoted pictures\"");
    EXPECT_EQ(Stored("TForm1", "Edit1_Text"), "\"/srv/quoted pictures\"");
    EXPECT_NE(IniBytes().find("Edit1_Text=\"\"/srv/quoted pictures\"\"\n"), std::string::npos);
    EXPECT_EQ(form->Edit3->text(), "4242");
    EXPECT_EQ(form->Edit5->text(), "someone");
    EXPECT_EQ(form->Edit2->text(), "123456");
    EXPECT_EQ(form->Edit4->text(), "member");
    EXPECT_EQ(form->Edit6->text(), "secret");
    EXPECT_TRUE(form->CheckBox1->isChecked());
    EXPECT_EQ(form->SpinEdit1->value(), 9);
    EXPECT_TRUE(form->RadioButton2->isChecked());
    EXPECT_FALSE(form->RadioButton1->isChecked());
    EXPECT_EQ(form->Engine().SiteWord, "vantrelshots");
}

// Each row edits the file a first run wrote, then starts the program on it.
TEST_F(WindowTest, StoredTextsReadBackByTheirRules) {
    const std::string siteA = "http://www.vantrelpix.com/cgi-bin/gallery.cgi?f=";
    const std::string siteB = "http://www.vantrelshots.com/cgi-bin/gallery.cgi?f=";
    struct Row {
        const char* what;
        std::vector<std::pair<std::string, std::string>> stored;
        std::function<void(TForm1&)> check;
    };
    const Row rows[] = {
        {"a number above the range",
         {{"SpinEdit1_Value", "99"}},
         [](TForm1& f) { EXPECT_EQ(f.SpinEdit1->value(), 15); }},
        {"no number",
         {{"SpinEdit1_Value", "abc"}},
         [](TForm1& f) { EXPECT_EQ(f.SpinEdit1->value(), 1); }},
        {"hexadecimal",
         {{"SpinEdit1_Value", "0x0A"}},
         [](TForm1& f) { EXPECT_EQ(f.SpinEdit1->value(), 10); }},
        {"Boolean in capitals",
         {{"CheckBox1_Checked", "TRUE"}},
         [](TForm1& f) { EXPECT_TRUE(f.CheckBox1->isChecked()); }},
        {"Boolean as a digit",
         {{"CheckBox1_Checked", "1"}},
         [](TForm1& f) { EXPECT_FALSE(f.CheckBox1->isChecked()); }},
        {"site B",
         {{"RadioButton1_Checked", "False"}, {"RadioButton2_Checked", "True"}},
         [&](TForm1& f) {
             EXPECT_TRUE(f.RadioButton2->isChecked());
             EXPECT_EQ(f.Label4->text().toStdString(), siteB);
             EXPECT_EQ(f.Engine().SiteWord, "vantrelshots");
         }},
        {"both sites",
         {{"RadioButton1_Checked", "True"}, {"RadioButton2_Checked", "True"}},
         [&](TForm1& f) {
             EXPECT_FALSE(f.RadioButton1->isChecked());
             EXPECT_TRUE(f.RadioButton2->isChecked());
             EXPECT_EQ(f.Label4->text().toStdString(), siteB);
         }},
        {"neither site",
         {{"RadioButton1_Checked", "False"}, {"RadioButton2_Checked", "False"}},
         [&](TForm1& f) {
             EXPECT_FALSE(f.RadioButton1->isChecked());
             EXPECT_FALSE(f.RadioButton2->isChecked());
             // No click handler ran, yet the show handler takes site B's word.
             EXPECT_EQ(f.Label4->text().toStdString(), siteA);
             EXPECT_EQ(f.Engine().SiteWord, "vantrelshots");
         }},
        {"surrounding blanks",
         {{"Edit3_Text", "   555  "}, {"Edit5_Text", "\t x y \t"}},
         [](TForm1& f) {
             EXPECT_EQ(f.Edit3->text(), "555");
             EXPECT_EQ(f.Edit5->text(), "x y");
         }},
        {"login switch",
         {{"CheckBox3_Checked", "True"}},
         [](TForm1& f) { EXPECT_FALSE(f.CheckBox3->isChecked()); }},
        {"older version",
         {{"FormVersion", "-1"}, {"Edit3_Text", "999"}},
         [](TForm1& f) { EXPECT_EQ(f.Edit3->text(), "77154"); }},
    };
    ShowActive();
    form->close();
    const std::string firstRun = IniBytes();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        form->close();
        WriteIni(firstRun);
        for (const auto& [key, value] : row.stored)
            Store("TForm1", key, value);
        DestroyWindows();
        CreateWindows();
        ShowActive();
        row.check(*form);
    }
    // The older version's file gets the current one with the next save.
    form->close();
    EXPECT_EQ(Stored("TForm1", "FormVersion"), "0");
    EXPECT_TRUE(ShownErrors().empty());
}

TEST_F(WindowTest, PositionFollowsTheScreenSuffixFallbackAndThePixelDensity) {
    const std::string suffix = ScreenSuffix();
    const std::string density = std::to_string(PixelsPerInch());
    const std::string otherDensity = std::to_string(PixelsPerInch() + 24);
    struct Row {
        const char* what;
        std::string suffixed;
        std::string plain;
        std::string pixelsPerInch;
        QPoint expected;
    };
    const Row rows[] = {
        {"this screen's own", "200,100,682,740", "120,80,602,720", density, {200, 100}},
        {"another screen size's", "", "120,80,602,720", density, {120, 80}},
        {"another pixel density's", "200,100,682,740", "120,80,602,720", otherDensity, {0, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        StartWithoutSettings();
        form->close();
        Store("TForm1", "NormPos" + suffix, row.suffixed);
        Store("TForm1", "NormPos", row.plain);
        Store("TForm1", "PixelsPerInch", row.pixelsPerInch);
        DestroyWindows();
        CreateWindows();
        const QPoint design = form->pos();
        ShowActive();
        EXPECT_EQ(form->pos(), row.expected.isNull() ? design : row.expected);
    }
}

TEST_F(WindowTest, ClosedWhileMinimizedTheProgramStartsMinimized) {
    ShowActive();
    form->showMinimized();
    QTRY_VERIFY(form->windowState() & Qt::WindowMinimized);
    form->close();
    EXPECT_EQ(Stored("TForm1", "ShowCmd"), "2");
    Restart();
    QTRY_VERIFY(form->windowState() & Qt::WindowMinimized);
}

TEST_F(WindowTest, AnUnwritableSettingsFileIsReportedAndTheProgramStillEnds) {
    ShowActive();
    form->close();
    Restart();
    ASSERT_EQ(chmod(iniFile.c_str(), 0444), 0);
    ASSERT_EQ(chmod(scratch.path().toLocal8Bit().constData(), 0755), 0);
    const std::string before = IniBytes();
    const std::string expected = "Unable to write to " + iniFile + ".";
    {
        AsOrdinaryUser user;
        EXPECT_TRUE(form->close());
        EXPECT_FALSE(form->isVisible());
        ASSERT_EQ(ShownErrors().size(), 1u);
        EXPECT_EQ(ShownErrors()[0].message, expected);
        // The save failed, so the window's destruction tries once more and says so.
        DestroyWindows();
        ASSERT_EQ(ShownErrors().size(), 2u);
        EXPECT_EQ(ShownErrors()[1].message, expected);
    }
    EXPECT_EQ(IniBytes(), before);
    chmod(iniFile.c_str(), 0600);
}
