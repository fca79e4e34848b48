#include "WindowFixture.h"
#include "platform/Exceptions.h"
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

// A second job inside a running one would share its network clients, so the job shortcuts do
// nothing while a job runs; Cancel and the other shortcuts still work.
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
    EXPECT_TRUE(Idle());
    EXPECT_FALSE(form->JobRunning());

    // After a failed first fetch no job is on the stack, even with the buttons still running.
    engine->duringFetch = nullptr;
    Press(Qt::Key_I);
    EXPECT_TRUE(Running());
    Press(Qt::Key_I);
    EXPECT_EQ(engine->fetches.size(), 3u);
}

// Disabling the focused button hands the focus on in tab order, into an edit that swallows the
// shortcuts. Mouse clicks on the job buttons and on Cancel must leave the keyboard working.
TEST_F(WindowTest, ShortcutsStillWorkAfterMouseClicksOnJobButtonsAndCancel) {
    ShowActive();
    // A failed first fetch leaves the running state: Ctrl+C must reach Cancel.
    QTest::mouseClick(form->Button3, Qt::LeftButton);
    ASSERT_TRUE(Running());
    EXPECT_EQ(Focused(), "Button1");
    Press(Qt::Key_C);
    EXPECT_TRUE(Idle());
    EXPECT_EQ(Focused(), "Button3") << "back on the button that started it";
    Press(Qt::Key_P);
    EXPECT_TRUE(form->CheckBox1->isChecked());

    // Cancel clicked with the mouse during a job, then the job's end.
    engine->duringFetch = [&] {
        Press(Qt::Key_P);
        QTest::mouseClick(form->Button1, Qt::LeftButton);
        EXPECT_TRUE(Idle());
        Press(Qt::Key_B);
        return true;
    };
    form->RadioButton2->setChecked(true);
    QTest::mouseClick(form->Button4, Qt::LeftButton);
    EXPECT_FALSE(form->CheckBox1->isChecked());
    EXPECT_TRUE(form->RadioButton1->isChecked()) << "Ctrl+B after the click on Cancel";
    EXPECT_TRUE(Idle());
    EXPECT_EQ(Focused(), "Button4");
    engine->duringFetch = nullptr;
    Press(Qt::Key_U);
    EXPECT_EQ(engine->fetches.size(), 3u);
    QTest::mouseClick(form->Button1, Qt::LeftButton);
    EXPECT_EQ(Focused(), "Button4");

    // A job started by a shortcut from a control that stays enabled keeps the focus there.
    Focus(form->SpinEdit1);
    Press(Qt::Key_I);
    EXPECT_TRUE(form->SpinEdit1->hasFocus());
    Press(Qt::Key_C);
    EXPECT_TRUE(Idle());
    EXPECT_TRUE(form->SpinEdit1->hasFocus());
}

// Cancel enables the job buttons while the cancelled job still finishes its transfer. A job
// asked for then must not run inside it, nor be lost: it starts once the cancelled job is gone.
TEST_F(WindowTest, AJobAskedForAfterCancelStartsWhenTheCancelledOneHasUnwound) {
    ShowActive();
    std::vector<std::string> order;
    engine->duringFetch = [&] {
        if (engine->fetches.size() > 1) {
            EXPECT_EQ(engine->crawls.size(), 1u) << "the cancelled job has ended";
            EXPECT_FALSE(form->JobCancelled);
            EXPECT_TRUE(Running());
            return true;
        }
        QTest::mouseClick(form->Button1, Qt::LeftButton);
        EXPECT_TRUE(Idle());
        QTest::mouseClick(form->Button4, Qt::LeftButton);
        EXPECT_EQ(engine->fetches.size(), 1u) << "no job inside the cancelled one";
        EXPECT_TRUE(Running()) << "the clicked job shows as started";
        EXPECT_TRUE(form->JobCancelled) << "the cancelled job still stops";
        // One job waits; the disabled buttons and further shortcuts add none.
        QTest::mouseClick(form->Button3, Qt::LeftButton);
        Press(Qt::Key_I);
        return true;
    };
    QTest::mouseClick(form->Button3, Qt::LeftButton);
    ASSERT_EQ(engine->fetches.size(), 2u);
    EXPECT_NE(engine->fetches[0].first.find("?f=77154"), std::string::npos);
    EXPECT_NE(engine->fetches[1].first.find("?m=pelmark"), std::string::npos);
    EXPECT_EQ(engine->crawls.size(), 2u);
    EXPECT_TRUE(Idle());
    EXPECT_FALSE(form->JobRunning());
    EXPECT_EQ(Focused(), "Button4");

    // A shortcut waits the same way; a second Cancel drops the waiting job.
    engine->fetches.clear();
    engine->duringFetch = [&] {
        Press(Qt::Key_C);
        Press(Qt::Key_I);
        EXPECT_TRUE(Running());
        Press(Qt::Key_C);
        EXPECT_TRUE(Idle());
        return false;
    };
    Press(Qt::Key_U);
    EXPECT_EQ(engine->fetches.size(), 1u);
    EXPECT_TRUE(Idle());

    // Without the second Cancel the shortcut's job runs.
    engine->duringFetch = [&] {
        if (engine->fetches.size() == 2) {
            Press(Qt::Key_C);
            Press(Qt::Key_I);
        }
        return false;
    };
    Press(Qt::Key_U);
    ASSERT_EQ(engine->fetches.size(), 3u);
    EXPECT_NE(engine->fetches[2].first.find("?f=77154"), std::string::npos);
    EXPECT_TRUE(Running()) << "the waiting job's first fetch failed";
}

// The cancelled job may still end with an error: the box shows it first, then the job asked for
// starts. Closing the window drops a waiting job.
TEST_F(WindowTest, AWaitingJobStartsAfterTheErrorOfTheCancelledOneAndNotAfterClose) {
    ShowActive();
    size_t errorsAtSecondFetch = 0;
    engine->duringFetch = [&]() -> bool {
        if (engine->fetches.size() > 1) {
            errorsAtSecondFetch = ShownErrors().size();
            return true;
        }
        form->Button1->click();
        form->Button4->click();
        throw EFCreateError("Cannot create file x.html");
    };
    form->Button3->click();
    ASSERT_EQ(engine->fetches.size(), 2u);
    EXPECT_EQ(errorsAtSecondFetch, 1u);
    ASSERT_EQ(ShownErrors().size(), 1u);
    EXPECT_EQ(ShownErrors()[0].message, "Cannot create file x.html.");
    EXPECT_TRUE(Idle());

    engine->duringFetch = [&]() -> bool {
        form->Button1->click();
        form->Button4->click();
        form->close();
        throw Exception("Operation aborted");
    };
    form->Button3->click();
    EXPECT_EQ(engine->fetches.size(), 3u);
    EXPECT_EQ(ShownErrors().size(), 1u);
    EXPECT_FALSE(form->JobRunning());
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
