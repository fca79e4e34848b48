#include "WindowFixture.h"
#include "engine/Sites.h"
#include "platform/FileSystem.h"
#include "tests/support/OrdinaryUser.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTime>
#include <QTimeEdit>
#include <QTimer>
#include <cstdlib>
#include <fstream>
#include <utility>

TEST_F(WindowTest, StartsWithTheDesignDefaultsWhenNothingWasStored) {
    ShowActive();
    EXPECT_EQ(form->Edit1->text().toStdString(), platform::ProgramDir());
    EXPECT_EQ(form->Edit1->text().back(), '/');
    EXPECT_EQ(form->Edit3->text(), "77154");
    EXPECT_EQ(form->Edit5->text(), "pelmark");
    EXPECT_EQ(form->Edit2->text(), "8436");
    EXPECT_FALSE(form->CheckBox1->isChecked());
    EXPECT_EQ(form->SpinEdit1->value(), 4);
    EXPECT_EQ(form->SpinEdit1->minimum(), 1);
    EXPECT_EQ(form->SpinEdit1->maximum(), 15);
    EXPECT_TRUE(form->RadioButton1->isChecked());
    EXPECT_FALSE(form->RadioButton2->isChecked());
    EXPECT_EQ(form->Engine().SiteWord, "vantrelpix");
    EXPECT_TRUE(form->Memo1->toPlainText().isEmpty());
    EXPECT_TRUE(form->Label12->text().isEmpty());
    EXPECT_TRUE(Idle());
    EXPECT_FALSE(form->Engine().MultimediaDisabled);
    EXPECT_EQ(form->FormStorage1.IniFileName, iniFile);
}

// Installed (here: a program folder its user may not write), the program starts in a folder of
// the user's pictures folder as the XDG user-dirs name it, and every job makes all of it first.
TEST_F(WindowTest, AnInstalledProgramStartsInThePicturesFolderAndAJobMakesIt) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as an ordinary user";
    const QString config = scratch.filePath("config"), pictures = scratch.filePath("my pics/2024");
    ASSERT_TRUE(QDir().mkpath(config));
    std::ofstream(config.toStdString() + "/user-dirs.dirs")
        << "XDG_PICTURES_DIR=\"" << pictures.toStdString() << "\"\n";
    ASSERT_EQ(::chmod(scratch.path().toLocal8Bit().constData(), 0777), 0);
    qputenv("XDG_CONFIG_HOME", config.toLocal8Bit());
    qunsetenv("XDG_PICTURES_DIR");
    const QString expected = pictures + "/VantrelBackup/";
    {
        AsOrdinaryUser user;
        ShowActive();
        EXPECT_EQ(form->Edit1->text(), expected);
        // Get by User, which makes nothing of the destination by itself.
        form->Button4->click();
    }
    EXPECT_TRUE(QFileInfo(expected).isDir());
    EXPECT_EQ(engine->fetches.size(), 1u);
}

TEST_F(WindowTest, CaptionHasFourteenBlanksBetweenTitleAndVersion) {
    ShowActive();
    EXPECT_EQ(form->windowTitle(), "Vantrel Backup" + QString(14, ' ') + "V.0.0.17");
}

TEST_F(WindowTest, ShowClearsTheLoginSwitchAndKeepsAStoredDestination) {
    form->CheckBox3->setChecked(true);
    form->Edit1->setText("/srv/pictures");
    form->Engine().MultimediaDisabled = true;
    ShowActive();
    EXPECT_FALSE(form->CheckBox3->isChecked());
    EXPECT_EQ(form->Edit1->text(), "/srv/pictures");
    EXPECT_FALSE(form->Engine().MultimediaDisabled);
    // The start time picker shows the time of the show.
    EXPECT_LE(std::abs(form->DateTimePicker1->time().secsTo(QTime::currentTime())), 60);
}

TEST_F(WindowTest, SiteBCheckedBeforeShowSelectsItsPrefixesAndWord) {
    form->RadioButton2->setChecked(true);
    ShowActive();
    EXPECT_FALSE(form->RadioButton1->isChecked());
    EXPECT_EQ(form->Label4->text(), "http://www.vantrelshots.com/cgi-bin/gallery.cgi?f=");
    EXPECT_EQ(form->Label5->text(), "http://www.vantrelshots.com/cgi-bin/gallery.cgi?m=");
    EXPECT_EQ(form->Engine().SiteWord, "vantrelshots");
}

TEST_F(WindowTest, ControlsHaveTheirCaptionsAndStates) {
    ShowActive();
    EXPECT_EQ(form->size(), QSize(482, 640));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(form->Edit1->isEnabled());
    EXPECT_EQ(form->Edit2->maxLength(), 5);
    EXPECT_FALSE(form->CheckBox2->isEnabled());
    EXPECT_FALSE(form->DateTimePicker1->isEnabled());
    EXPECT_EQ(form->RadioButton1->text(), sites::kSiteADomain);
    EXPECT_EQ(form->RadioButton2->text(), sites::kSiteBDomain);
    EXPECT_EQ(form->Label15->text(), "http://www.vantrelbricks.com/brickfactory");
    EXPECT_EQ(form->Label7->text(), "OR");
    EXPECT_TRUE(form->Label7->font().bold());
    EXPECT_GT(form->Label7->font().pixelSize(), form->Label3->font().pixelSize());
    EXPECT_TRUE(form->Label6->font().bold());
    EXPECT_EQ(form->BitBtn3->toolTip(), "Save Inventory");
    for (QWidget* hidden :
         {static_cast<QWidget*>(form->CheckBox3), static_cast<QWidget*>(form->Edit4),
          static_cast<QWidget*>(form->Edit6), static_cast<QWidget*>(form->Label16),
          static_cast<QWidget*>(form->Label20)})
        EXPECT_FALSE(hidden->isVisible());
}

namespace {

// Visible controls of a panel that overlap one another or stick out of it.
std::vector<std::string> LayoutFaults(const QWidget* panel) {
    std::vector<std::string> faults;
    const QList<QWidget*> controls = panel->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (int i = 0; i < controls.size(); ++i) {
        const QWidget* a = controls[i];
        if (!a->isVisible())
            continue;
        const std::string name =
            a->metaObject()->className() + (" " + a->objectName().toStdString());
        if (!panel->rect().contains(a->geometry()))
            faults.push_back(name + " leaves its panel");
        for (int j = i + 1; j < controls.size(); ++j) {
            const QWidget* b = controls[j];
            if (b->isVisible() && a->geometry().intersects(b->geometry()))
                faults.push_back(name + " overlaps " + b->metaObject()->className());
        }
    }
    return faults;
}

} // namespace

// Text sizes depend on the font, so the layout is checked for both sites' longer prefixes.
TEST_F(WindowTest, EveryVisibleControlFitsItsPanelWithoutOverlap) {
    ShowActive();
    for (bool siteB : {false, true}) {
        (siteB ? form->RadioButton2 : form->RadioButton1)->setChecked(true);
        for (const QFrame* panel : form->findChildren<QFrame*>(Qt::FindDirectChildrenOnly)) {
            const std::vector<std::string> faults = LayoutFaults(panel);
            EXPECT_TRUE(faults.empty()) << faults.front();
        }
    }
    EXPECT_TRUE(form->rect().contains(form->Label12->geometry()));
}

namespace {

struct DesignCaption {
    const char* name;
    const char* caption;
};

// The captions as designed, accelerators included, for every control that has a fixed one.
const DesignCaption kDesignCaptions[] = {
    {"Label6", "Destination Directory"},
    {"BitBtn3", "&Dir"},
    {"CheckBox1", "&Pause between downloads"},
    {"Label8", "Seconds to pause"},
    {"CheckBox2", "Delayed Start"},
    {"Label11", "Start Time"},
    {"Label9", "Current Time:"},
    {"Button5", "Proxy?"},
    {"Label14", "Select Host"},
    {"Label13", "or"},
    {"Button1", "&Cancel"},
    {"Label3", "Source Directory"},
    {"Button3", "Get by &ID"},
    {"Label7", "OR"},
    {"Label19", "OR"},
    {"Button4", "Get by &User"},
    {"Label17", "Set Instruction Download from"},
    {"Label18", "Set Number"},
    {"Button2", "Get I&nst..."},
    {"CheckBox3", "Login"},
    {"Label16", "Username"},
    {"Label20", "Password"},
};

QString CaptionOf(const QObject* control) {
    if (const auto* label = qobject_cast<const QLabel*>(control))
        return label->text();
    if (const auto* button = qobject_cast<const QAbstractButton*>(control))
        return button->text();
    return QStringLiteral("<no caption>");
}

} // namespace

// The stored settings find their controls by name, so every control carries the name it is
// known by, with its designed caption.
TEST_F(WindowTest, EveryControlIsFoundByItsNameWithItsDesignCaption) {
    ShowActive();
    EXPECT_EQ(form->objectName(), "Form1");
    for (const DesignCaption& design : kDesignCaptions) {
        const auto* control = form->findChild<QWidget*>(design.name);
        ASSERT_NE(control, nullptr) << design.name;
        EXPECT_EQ(CaptionOf(control), design.caption) << design.name;
    }
    const std::pair<const char*, const char*> edits[] = {{"Edit1", nullptr},   {"Edit2", "8436"},
                                                         {"Edit3", "77154"},   {"Edit4", ""},
                                                         {"Edit5", "pelmark"}, {"Edit6", ""}};
    for (const auto& [name, text] : edits) {
        const auto* edit = form->findChild<QLineEdit*>(name);
        ASSERT_NE(edit, nullptr) << name;
        if (text != nullptr) {
            EXPECT_EQ(edit->text(), text) << name;
        }
    }
    EXPECT_EQ(form->findChild<QSpinBox*>("SpinEdit1"), form->SpinEdit1);
    EXPECT_EQ(form->findChild<QTimeEdit*>("DateTimePicker1"), form->DateTimePicker1);
    EXPECT_EQ(form->findChild<QRadioButton*>("RadioButton1"), form->RadioButton1);
    EXPECT_EQ(form->findChild<QRadioButton*>("RadioButton2"), form->RadioButton2);
    EXPECT_EQ(form->findChild<QPlainTextEdit*>("Memo1"), form->Memo1);
    EXPECT_EQ(form->findChild<QLabel*>("Label12"), form->Label12);
    EXPECT_EQ(form->findChild<QTimer*>("Timer1"), form->Timer1);
    for (const char* picture : {"Image1", "Image2", "Image3"})
        EXPECT_NE(form->findChild<QLabel*>(picture), nullptr) << picture;
}

// The set number field limits typing to five characters, yet a longer stored number (the only
// way to reach the six-digit rule of the instruction scans) must come back whole.
TEST_F(WindowTest, SetNumberLimitsTypingButKeepsALongerStoredNumber) {
    ShowActive();
    ui::TEdit* edit = form->Edit2;
    Focus(edit);
    edit->selectAll();
    QTest::keyClicks(edit, "1234567");
    EXPECT_EQ(edit->text(), "12345");

    edit->setText("123456");
    EXPECT_EQ(edit->text(), "123456");
    edit->setProperty("text", QStringLiteral("7654321"));
    EXPECT_EQ(edit->text(), "7654321");
    edit->end(false);
    QTest::keyClicks(edit, "8");
    EXPECT_EQ(edit->text(), "7654321") << "typing cannot make it longer";

    // Shortened by the user to the limit, it holds the limit again.
    edit->home(false);
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClick(edit, Qt::Key_Delete);
    EXPECT_EQ(edit->text(), "54321");
    EXPECT_EQ(edit->cursorPosition(), 0);
    QTest::keyClicks(edit, "9");
    EXPECT_EQ(edit->text(), "54321");
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, "9");
    EXPECT_EQ(edit->text(), "94321");
}
