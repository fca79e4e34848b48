#include "WindowFixture.h"
#include "platform/FileSystem.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>

TEST_F(WindowTest, SingleLineEditsAndTheLogBlockShortcuts) {
    ShowActive();
    for (QWidget* blocking :
         {static_cast<QWidget*>(form->Edit2), static_cast<QWidget*>(form->Edit3),
          static_cast<QWidget*>(form->Edit5), static_cast<QWidget*>(form->Memo1)}) {
        Focus(blocking);
        Press(Qt::Key_I);
        Press(Qt::Key_P);
        Press(Qt::Key_M);
    }
    EXPECT_TRUE(engine->fetches.empty());
    EXPECT_FALSE(form->CheckBox1->isChecked());
    EXPECT_TRUE(form->RadioButton1->isChecked());
}

TEST_F(WindowTest, SpinEditAndButtonsLetShortcutsThrough) {
    ShowActive();
    Focus(form->SpinEdit1);
    Press(Qt::Key_I);
    EXPECT_EQ(engine->fetches.size(), 1u);
    EXPECT_TRUE(Running());

    Focus(form->BitBtn3);
    Press(Qt::Key_C);
    EXPECT_TRUE(Idle());
    Press(Qt::Key_U);
    ASSERT_EQ(engine->fetches.size(), 2u);
    EXPECT_NE(engine->fetches[1].first.find("?m=pelmark"), std::string::npos);

    Focus(form->CheckBox1);
    Press(Qt::Key_M);
    EXPECT_TRUE(form->RadioButton2->isChecked());
    EXPECT_EQ(form->Engine().SiteWord, "vantrelshots");
    Press(Qt::Key_B);
    EXPECT_EQ(form->Engine().SiteWord, "vantrelpix");
}

TEST_F(WindowTest, ShortcutsNeedCtrlAloneHeld) {
    ShowActive();
    Focus(form->Button3);
    Press(Qt::Key_I, Qt::ControlModifier | Qt::ShiftModifier);
    Press(Qt::Key_I, Qt::ControlModifier | Qt::AltModifier);
    Press(Qt::Key_I, Qt::AltModifier);
    Press(Qt::Key_I, Qt::NoModifier);
    Press(Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(engine->fetches.empty());
    EXPECT_FALSE(form->CheckBox1->isChecked());
}

TEST_F(WindowTest, CtrlPTogglesThePauseBox) {
    ShowActive();
    Focus(form->SpinEdit1);
    Press(Qt::Key_P);
    EXPECT_TRUE(form->CheckBox1->isChecked());
    Press(Qt::Key_P);
    EXPECT_FALSE(form->CheckBox1->isChecked());
}

// A second job inside a running one would share its network clients, so the job shortcuts wait;
// Cancel and the other shortcuts still work.
TEST_F(WindowTest, NoSecondJobStartsWhileAJobRuns) {
    ShowActive();
    Focus(form->SpinEdit1);
    engine->duringFetch = [&] {
        EXPECT_TRUE(form->JobRunning());
        Press(Qt::Key_I);
        Press(Qt::Key_U);
        Press(Qt::Key_P);
        Press(Qt::Key_C);
        return false;
    };
    Press(Qt::Key_I);
    EXPECT_EQ(engine->fetches.size(), 1u);
    EXPECT_TRUE(form->CheckBox1->isChecked());

    // Cancel enables the job buttons while the job is still waiting; a click then starts
    // nothing either.
    engine->duringFetch = [&] {
        form->Button1->click();
        form->Button3->click();
        form->Button4->click();
        return false;
    };
    form->Button3->click();
    EXPECT_EQ(engine->fetches.size(), 2u);
    EXPECT_TRUE(Idle());
    engine->fetches.pop_back();
    EXPECT_TRUE(form->JobCancelled);
    EXPECT_TRUE(Idle());
    EXPECT_FALSE(form->JobRunning());

    // After a failed first fetch no job is on the stack, even with the buttons still running.
    engine->duringFetch = nullptr;
    Press(Qt::Key_I);
    EXPECT_TRUE(Running());
    Press(Qt::Key_I);
    EXPECT_EQ(engine->fetches.size(), 3u);
}

TEST_F(WindowTest, SiteSelectionUpdatesBothPrefixesAndTheWord) {
    ShowActive();
    EXPECT_EQ(form->Label4->text(), "http://www.vantrelpix.com/cgi-bin/gallery.cgi?f=");
    EXPECT_EQ(form->Label5->text(), "http://www.vantrelpix.com/cgi-bin/gallery.cgi?m=");
    form->RadioButton2->click();
    EXPECT_EQ(form->Label4->text(), "http://www.vantrelshots.com/cgi-bin/gallery.cgi?f=");
    EXPECT_EQ(form->Label5->text(), "http://www.vantrelshots.com/cgi-bin/gallery.cgi?m=");
    EXPECT_EQ(form->Engine().SiteWord, "vantrelshots");
    form->RadioButton1->setChecked(true);
    EXPECT_EQ(form->Label4->text(), "http://www.vantrelpix.com/cgi-bin/gallery.cgi?f=");
    EXPECT_EQ(form->Engine().SiteWord, "vantrelpix");
}

class ChooserTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        startDirectory = platform::CurrentDir();
    }
    void TearDown() override { platform::SetCurrentDir(startDirectory); }
    std::string startDirectory;
};

TEST_F(ChooserTest, ConfirmedChoiceBecomesDestinationAndCurrentDirectory) {
    QTemporaryDir chosen;
    ASSERT_TRUE(chosen.isValid());
    ShowActive();
    std::vector<std::string> startedAt;
    form->ChooseDirectory = [&](const std::string& start) -> std::optional<std::string> {
        startedAt.push_back(start);
        return chosen.path().toStdString();
    };
    const QString before = form->Edit1->text();
    Focus(form->Button1->isEnabled() ? form->Button1 : form->Button3);
    Press(Qt::Key_D);
    ASSERT_EQ(startedAt.size(), 1u);
    EXPECT_EQ(startedAt[0], before.toStdString());
    EXPECT_EQ(form->Edit1->text(), chosen.path());
    EXPECT_EQ(QDir(QString::fromStdString(platform::CurrentDir())).canonicalPath(),
              QDir(chosen.path()).canonicalPath());
}

TEST_F(ChooserTest, CancelledChoiceChangesNothing) {
    ShowActive();
    form->ChooseDirectory = [](const std::string&) { return std::optional<std::string>(); };
    const QString before = form->Edit1->text();
    form->BitBtn3->click();
    EXPECT_EQ(form->Edit1->text(), before);
    EXPECT_EQ(platform::CurrentDir(), startDirectory);
}
