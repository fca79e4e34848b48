#include "WindowFixture.h"
#include "tests/support/FtpScript.h"
#include "tests/support/GalleryMirror.h"
#include "tests/support/GalleryModel.h"
#include "tests/support/GallerySite.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <fstream>

// The real engine behind the real window: Ctrl+I backs up a folder of the fixture site, reached
// through the proxy, and the window ends idle with the crawl's lines last in its log.
TEST_F(WindowTest, CtrlIBacksUpAFolderThroughTheWindow) {
    fixture::GalleryModel model;
    fixture::Folder& folder = model.AddMember("pelmark").AddFolder("Trip").AddPictures(4, 900);
    folder.AddFolder("Day").AddPictures(2, 700);
    fixture::GallerySite site(model);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());

    form->UseEngine(std::make_unique<TBackupEngine>(*form));
    ShowActive();
    form->Engine().NMHTTP1.Proxy = "127.0.0.1";
    form->Engine().NMHTTP1.ProxyPort = site.Port();
    form->Edit1->setText(dir.path() + "/");
    form->Edit3->setText(QString::fromStdString(folder.Id()));
    Focus(form->Button3);
    Press(Qt::Key_I);

    EXPECT_EQ(form->Label12->text(), ". . . done getting files");
    EXPECT_TRUE(Idle());
    const fixture::Mirror expected = fixture::ExpectedMirror(model, folder);
    EXPECT_EQ(fixture::HashTree(dir.path().toStdString()), expected);
    const QStringList lines = form->Memo1->toPlainText().split('\n');
    EXPECT_EQ(lines.first().toStdString(),
              "http://www.vantrelpix.com/cgi-bin/gallery.cgi?f=" + folder.Id());
    EXPECT_EQ(lines.last().toStdString(), folder.SitePath() + folder.Pictures().back().name);
    EXPECT_TRUE(ShownErrors().empty());

    // Ctrl+Shift+V checks the copy against its record as a job of the window.
    std::ofstream(dir.path().toStdString() + "/gallery/pelmark/Trip/pic001.jpg") << "rot";
    Press(Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(Idle());
    const std::string summary = "Verify: 6 recorded, 5 whole, 0 missing, 1 damaged, 0 unrecorded";
    EXPECT_EQ(form->Memo1->toPlainText().toStdString(),
              "damaged gallery/pelmark/Trip/pic001.jpg\n" + summary);
    EXPECT_EQ(form->Label12->text().toStdString(), summary);
    form->Edit1->setText(dir.path() + "/none");
    Press(Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(form->Memo1->toPlainText(), "No backup record in " + dir.path() + "/none");
    EXPECT_TRUE(ShownErrors().empty());
}

// Closing the window while a scan arrives ends the transfer at once, even from a server that
// goes silent: no partial file is kept and no error box comes up.
TEST_F(WindowTest, ClosingDuringAScanDownloadEndsItAndKeepsNoPartialFile) {
    using namespace ftpscript;
    ScriptedServer server(Join({
        Login(),
        Answer("250 Directory successfully changed.\r\n"),
        Answer("215 UNIX Type: L8\r\n"),
        Port(),
        Transfer("150 Here comes the directory listing.\r\n",
                 "-rw-r--r--    1 ftp      ftp      900000 Dec 08 14:08 8436_1.pdf\r\n"),
        Port(),
        {ScriptedServer::ExpectLine(),
         ScriptedServer::Send("150 Opening BINARY mode data connection for 8436_1.pdf (900000 "
                              "bytes).\r\n"),
         ScriptedServer::OpenData(), ScriptedServer::SendData(std::string(5000, 'x')),
         ScriptedServer::Stall(-1)},
    }));
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    form->UseEngine(std::make_unique<TBackupEngine>(*form));
    ShowActive();
    form->Engine().InstructionsFtpHost = "127.0.0.1";
    form->Engine().NMFTP1.Port = server.Port();
    form->Edit1->setText(dir.path() + "/");
    bool closedDuringTransfer = false;
    form->Engine().NMFTP1.OnStatus = [&](TComponent*, const std::string& status) {
        if (status.rfind("150 Opening", 0) == 0 && !closedDuringTransfer) {
            closedDuringTransfer = true;
            QTimer::singleShot(200, form.get(), [this] { form->close(); });
        }
    };
    Focus(form->Button2);
    Press(Qt::Key_N);

    EXPECT_TRUE(closedDuringTransfer);
    EXPECT_FALSE(form->JobRunning());
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(ShownErrors().empty());
    EXPECT_EQ(fixture::HashTree(dir.path().toStdString()), fixture::Mirror{});
    EXPECT_EQ(fixture::StrayFiles(dir.path().toStdString(), {}), std::vector<std::string>{});
}

// Cancel ends a wait for a silent archive at once (its reply deadline is 31 s): the job stops as
// a Cancel between files stops it, with the buttons back to idle and no error box.
TEST_F(WindowTest, CancelEndsAWaitForASilentArchiveAtOnce) {
    using namespace ftpscript;
    ScriptedServer server(
        Join({Login(), {ScriptedServer::ExpectLine(), ScriptedServer::Silent()}}));
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    form->UseEngine(std::make_unique<TBackupEngine>(*form));
    ShowActive();
    form->Engine().InstructionsFtpHost = "127.0.0.1";
    form->Engine().NMFTP1.Port = server.Port();
    form->Edit1->setText(dir.path() + "/");
    QTimer::singleShot(300, form.get(), [this] { form->Button1->click(); });
    QElapsedTimer clock;
    clock.start();
    Focus(form->Button2);
    Press(Qt::Key_N);

    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_FALSE(form->JobRunning());
    EXPECT_TRUE(form->Button2->isEnabled() && !form->Button1->isEnabled());
    EXPECT_TRUE(ShownErrors().empty());
    EXPECT_TRUE(form->Memo1->toPlainText().endsWith("Cancel button pressed, download stopped."));
}
