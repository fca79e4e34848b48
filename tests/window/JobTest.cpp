#include "WindowFixture.h"
#include "platform/Exceptions.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>

TEST_F(WindowTest, AFailedFirstFetchLeavesTheRunningStateUntilCancel) {
    ShowActive();
    form->Memo1->appendPlainText("an earlier job");
    form->Button3->click();

    EXPECT_TRUE(Running());
    EXPECT_FALSE(form->JobCancelled);
    EXPECT_EQ(form->Label12->text(), "getting list . . . ");
    EXPECT_TRUE(form->Memo1->toPlainText().isEmpty()) << "the log is cleared at the start";
    EXPECT_TRUE(engine->crawls.empty());

    form->Button1->click();
    EXPECT_TRUE(Idle());
    EXPECT_TRUE(form->JobCancelled);
}

TEST_F(WindowTest, ACompletedJobLogsItsUrlCrawlsAndReturnsToIdle) {
    ShowActive();
    form->Edit1->setText("/srv/pictures/");
    bool runningDuringFetch = false;
    engine->duringFetch = [&] {
        runningDuringFetch = Running();
        return true;
    };
    form->Button4->click();

    EXPECT_TRUE(runningDuringFetch);
    EXPECT_EQ(form->Memo1->toPlainText(),
              "http://www.vantrelpix.com/cgi-bin/gallery.cgi?m=pelmark");
    ASSERT_EQ(engine->crawls.size(), 1u);
    // The page lies in the job's own folder, never in the destination.
    EXPECT_EQ(engine->crawls[0].first.rfind(QDir::tempPath().toStdString() + "/vantrel-pages-", 0),
              0u);
    EXPECT_EQ(form->Label12->text(), ". . . done getting files");
    EXPECT_TRUE(Idle());
    EXPECT_TRUE(form->JobCancelled);
}

// The URL takes the fields as typed; the page file goes to the job's own folder, not beside or
// into the destination, whatever the destination's spelling.
TEST_F(WindowTest, FirstPageUrlFollowsTheFieldsAsTypedAndItsFileStaysOutOfTheDestination) {
    ShowActive();
    form->RadioButton2->setChecked(true);
    form->Edit3->setText("123");
    form->Edit5->setText("some one");
    for (const char* destination : {"/tmp/vantrel-backup/", "/tmp/vantrel-backup"}) {
        form->Edit1->setText(destination);
        form->Button3Click();
        form->Button4Click();
    }
    const std::string f = "http://www.vantrelshots.com/cgi-bin/gallery.cgi?f=123";
    const std::string m = "http://www.vantrelshots.com/cgi-bin/gallery.cgi?m=some one";
    ASSERT_EQ(engine->fetches.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(engine->fetches[i].first, i % 2 ? m : f);
        EXPECT_EQ(
            engine->fetches[i].second.rfind(QDir::tempPath().toStdString() + "/vantrel-pages-", 0),
            0u);
    }
}

TEST_F(WindowTest, OnlyGetByIdCreatesAMissingDestination) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    ShowActive();
    const QString byUser = root.filePath("by-user");
    form->Edit1->setText(byUser + "/");
    form->Button4Click();
    EXPECT_FALSE(QDir(byUser).exists());

    const QString byId = root.filePath("by-id");
    form->Edit1->setText(byId + "/");
    form->Button3Click();
    EXPECT_TRUE(QDir(byId).exists());

    // One level only, and a failure is left for the file writes to report.
    const QString deep = root.filePath("a/b");
    form->Edit1->setText(deep + "/");
    form->Button3Click();
    EXPECT_FALSE(QDir(deep).exists());
    EXPECT_TRUE(ShownErrors().empty());
}

TEST_F(WindowTest, AnErrorLeavingAJobIsShownAndKeepsTheRunningState) {
    ShowActive();
    engine->duringFetch = []() -> bool { throw EFCreateError("Cannot create file x.html"); };
    form->Button3->click();
    ASSERT_EQ(ShownErrors().size(), 1u);
    EXPECT_EQ(ShownErrors()[0].message, "Cannot create file x.html.");
    EXPECT_TRUE(Running());
    EXPECT_FALSE(form->JobRunning());
}

TEST_F(WindowTest, ClosingDuringAJobStopsItWithoutAnErrorBox) {
    ShowActive();
    engine->duringFetch = [&]() -> bool {
        form->close();
        EXPECT_TRUE(form->JobCancelled);
        EXPECT_EQ(form->cancelTransfers, 1);
        // What a cancelled transfer raises while the window closes.
        throw Exception("Operation aborted");
    };
    form->Button3->click();
    EXPECT_TRUE(ShownErrors().empty());
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(form->JobRunning());
    // A batch going on with its next line starts nothing in the closed window.
    form->Button3Click();
    EXPECT_EQ(engine->fetches.size(), 1u);
}

TEST_F(WindowTest, ClosingWhileIdleCancelsNothing) {
    ShowActive();
    form->close();
    EXPECT_EQ(form->cancelTransfers, 0);
}

TEST_F(WindowTest, LogAddsOneLinePerMessageAndSplitsAtCrLf) {
    ShowActive();
    form->Log("first");
    form->Log("Cookie:\r\nsession=42");
    EXPECT_EQ(form->Memo1->toPlainText(), "first\nCookie:\nsession=42");
    EXPECT_EQ(form->Memo1->blockCount(), 3);

    // An empty message is a line of its own, also as the first after the log was cleared.
    for (const char* second : {"second", ""}) {
        form->ClearLog();
        form->Log("");
        form->Log(second);
        EXPECT_EQ(form->Memo1->toPlainText(), QString("\n") + second);
        EXPECT_EQ(form->Memo1->blockCount(), 2);
    }
    form->ClearLog();
    form->Log("\r\n");
    form->Log("third");
    EXPECT_EQ(form->Memo1->toPlainText(), "\n\nthird");
    form->Status("one");
    form->Status("two");
    EXPECT_EQ(form->Label12->text(), "two");
}

// Names and reply lines from servers end up in the log with whatever line ends they carried;
// only CR LF starts a new line, and a lone CR (the usual left-over of a cut page line) or LF must
// not add lines of its own.
TEST_F(WindowTest, LogStartsLinesOnlyAtCrLf) {
    ShowActive();
    form->Log("\\gallery\\a.jpg\r");
    form->Log("one\ntwo");
    form->Log("ends with a pair\r\n");
    form->Log("\r\r\n\n");
    form->Log(std::string("para\xe2\x80\xa9graph"));
    EXPECT_EQ(form->Memo1->toPlainText(),
              "\\gallery\\a.jpg \none two\nends with a pair\n\n \n \npara graph");
    EXPECT_EQ(form->Memo1->blockCount(), 7);
}

// An old server's Latin-1 file name shows each byte as its character, not as replacement marks;
// valid UTF-8 shows as UTF-8.
TEST_F(WindowTest, LogAndStatusShowBytesThatAreNotUtf8OneByOne) {
    ShowActive();
    form->Log("** Skipping file caf\xe9.jpg");
    form->Log("caf\xc3\xa9.jpg");
    EXPECT_EQ(form->Memo1->toPlainText(),
              QString::fromUtf8("** Skipping file caf\xc3\xa9.jpg\ncaf\xc3\xa9.jpg"));
    form->Status("Downloading \xff\xfe.jpg. . .");
    EXPECT_EQ(form->Label12->text(), QString::fromLatin1("Downloading \xff\xfe.jpg. . ."));
}

// A file name from a page that looks like markup is shown as it is, not rendered.
TEST_F(WindowTest, StatusLineShowsMarkupAsText) {
    ShowActive();
    form->Status("Downloading <b>x</b><img src=\"y\">.jpg. . .");
    EXPECT_EQ(form->Label12->textFormat(), Qt::PlainText);
    EXPECT_EQ(form->Label12->text(), "Downloading <b>x</b><img src=\"y\">.jpg. . .");
}
