#include "WindowFixture.h"
#include "tests/support/ScriptedServer.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

namespace {

using Server = ScriptedServer;

const std::string kHeader = "HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n";

// A server that sends the header and the start of a body, then goes silent without closing.
Server::Script StallingDownload() {
    return {Server::ExpectUntil("\r\n\r\n"), Server::Send(kHeader), Server::SendPattern(1000),
            Server::Stall(-1)};
}

std::string FileBytes(const std::string& path) {
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

} // namespace

TEST_F(WindowTest, TheHttpClientStartsWithTheWindowsDesignValues) {
    const TNMHTTP& http = form->Engine().NMHTTP1;
    EXPECT_EQ(http.Port, 0);
    EXPECT_EQ(http.ReportLevel, 0);
    EXPECT_EQ(http.Body, "Default.htm");
    EXPECT_EQ(http.Header, "Head.txt");
    EXPECT_EQ(http.HeaderInfo.LocalMailAddress, "ie 6.0.2800.1106IC");
    EXPECT_EQ(http.HeaderInfo.UserId, "Internet Explorer");
    EXPECT_TRUE(http.InputFileMode);
    EXPECT_FALSE(http.OutputFileMode);
    EXPECT_EQ(http.ProxyPort, 0);
    ShowActive();
    EXPECT_EQ(http.Proxy, "") << "the proxy dialog's empty host is copied at show";
}

// The watchdog's ticks are driven by hand while the download waits on a silent server: the
// 31st silent second cancels it, the cancel's own status resets the count, and the body file
// keeps what arrived.
TEST_F(WindowTest, WatchdogCancelsASilentDownloadAndItsStatusResetsTheCount) {
    QTemporaryDir dir;
    Server server(StallingDownload());
    TBackupEngine& job = form->Engine();
    TNMHTTP& http = job.NMHTTP1;
    http.Body = dir.filePath("picture.jpg").toStdString();
    http.ReportLevel = 8;
    job.DownloadActive = true;
    job.StallCounter = 0;

    int ticks = 0;
    QTimer clock;
    QObject::connect(&clock, &QTimer::timeout, [&] {
        // Let the first bytes arrive before the clock starts counting silence.
        if (QFile(QString::fromStdString(http.Body)).size() < 1000)
            return;
        ++ticks;
        form->Timer1Timer();
    });
    clock.start(1);
    const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/p.jpg";
    EXPECT_THROW(
        try { http.Get(url); } catch (const EAbortError& error) {
            EXPECT_STREQ(error.what(), "Socket send aborted");
            throw;
        },
        EAbortError);
    clock.stop();

    EXPECT_EQ(ticks, 31);
    EXPECT_EQ(form->cancelTransfers, 1);
    EXPECT_EQ(job.StallCounter, 0) << "\"Canceling\" is a status event like any other";
    EXPECT_EQ(FileBytes(http.Body), Server::Pattern(0, 1000));
}

// Statuses come only at report level 8, which the download sets; at the window's design level
// the client stays quiet and the count is left alone.
TEST_F(WindowTest, OnlyTheClientsStatusEventsResetTheCount) {
    TBackupEngine& job = form->Engine();
    job.StallCounter = 12;
    job.NMHTTP1.ReportStatus(8, "ReadToStream");
    EXPECT_EQ(job.StallCounter, 12);
    job.NMHTTP1.ReportLevel = 8;
    job.NMHTTP1.ReportStatus(8, "ReadToStream");
    EXPECT_EQ(job.StallCounter, 0);
}

// Closing the window while a job waits on a transfer ends the transfer and the job at once,
// quietly: the cancellation is no error worth a box, and nothing new starts afterwards.
TEST_F(WindowTest, ClosingTheWindowCancelsTheTransferInProgress) {
    QTemporaryDir dir;
    Server server(StallingDownload());
    ShowActive();
    bool aborted = false;
    engine->duringFetch = [&] {
        TNMHTTP& http = engine->NMHTTP1;
        http.Body = dir.filePath("page.html").toStdString();
        QTimer::singleShot(50, form.get(), [&] { form->close(); });
        try {
            http.Get("http://127.0.0.1:" + std::to_string(server.Port()) + "/");
        } catch (const EAbortError&) {
            aborted = true;
            throw;
        }
        return true;
    };
    form->Button3->click();

    EXPECT_TRUE(aborted);
    EXPECT_TRUE(form->JobCancelled);
    EXPECT_FALSE(form->JobRunning());
    EXPECT_TRUE(ShownErrors().empty());
    EXPECT_TRUE(engine->crawls.empty());
}
