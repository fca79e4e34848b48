#include "cli/Headless.h"

#include "cli/HeadlessList.h"
#include "cli/HeadlessProgress.h"
#include "cli/HeadlessSettings.h"
#include "cli/HeadlessText.h"
#include "cli/HeadlessVerify.h"
#include "engine/JobTally.h"
#include "engine/PlainHost.h"
#include "engine/Sites.h"
#include "platform/EventWait.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/Installation.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace cli {
namespace {

constexpr int kCancelAgainMilliseconds = 100;

void Write(std::FILE* stream, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

// SIGINT and SIGTERM, delivered on the event loop: the handler only writes the signal's number
// into a socket pair, whose reading end the loop watches. So the cancel runs as the Cancel
// button's would, between two events, also while the engine waits on the network.
class SignalWatch {
public:
    explicit SignalWatch(std::function<void(int)> onSignal) : onSignal_(std::move(onSignal)) {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds_) != 0)
            throw Exception("Cannot watch for Ctrl+C: " + std::string(std::strerror(errno)));
        writeFd_ = fds_[1];
        notifier_ = std::make_unique<QSocketNotifier>(fds_[0], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Drain(); });
        struct sigaction action {};
        action.sa_handler = &SignalWatch::Handle;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &action, &oldInt_);
        ::sigaction(SIGTERM, &action, &oldTerm_);
    }
    ~SignalWatch() {
        ::sigaction(SIGINT, &oldInt_, nullptr);
        ::sigaction(SIGTERM, &oldTerm_, nullptr);
        writeFd_ = -1;
        notifier_.reset();
        ::close(fds_[0]);
        ::close(fds_[1]);
    }
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

private:
    static void Handle(int signal) {
        const int saved = errno;
        const unsigned char number = static_cast<unsigned char>(signal);
        if (writeFd_ >= 0)
            (void)!::write(writeFd_, &number, 1);
        errno = saved;
    }
    void Drain() {
        unsigned char numbers[16];
        ssize_t count = 0;
        while ((count = ::read(fds_[0], numbers, sizeof numbers)) > 0)
            for (ssize_t i = 0; i < count; ++i)
                onSignal_(numbers[i]);
    }

    static inline volatile sig_atomic_t writeFd_ = -1;
    std::function<void(int)> onSignal_;
    int fds_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};

// The window-less host, made to stop for good once a signal came: the window's Cancel ends the
// running job only, and a batch list would go on with its next line.
class HeadlessHost : public TPlainHost {
public:
    int signal = 0;
    bool stoppedEarly = false;

    bool Cancelled() const override { return cancelled || signal != 0; }
    void StartGetById(const std::string& id) override {
        folderId = id;
        Run(TBackupEngine::GalleryQuery::Folder, id);
    }
    void StartGetByUser(const std::string& id) override {
        userId = id;
        Run(TBackupEngine::GalleryQuery::User, id);
    }
    void Run(TBackupEngine::GalleryQuery query, const std::string& id) {
        if (signal != 0)
            return;
        if (!RunGalleryJob(query, id))
            stoppedEarly = true;
    }
};

class HeadlessRun {
public:
    explicit HeadlessRun(const CommandLine& line)
        : line_(line), progress_(&host_.Engine(), ::isatty(STDERR_FILENO) == 1),
          signals_([this](int signal) { OnSignal(signal); }) {}

    int Exec() {
        std::string error;
        QElapsedTimer clock;
        clock.start();
        bool started = false;
        try {
            // A list that names nothing to do is a mistake worth saying, not an empty success.
            if (line_.job == CommandJob::List && !ListNamesAnyId(line_.jobArgument.toStdString())) {
                Write(stderr, "VantrelBackup: no folder or member IDs in " +
                                  line_.jobArgument.toStdString() + "\n");
                return 1;
            }
            if (line_.job == CommandJob::Verify) {
                const int status = RunVerify(
                    VerifyDestination(), [this] { return host_.signal != 0; },
                    ::isatty(STDERR_FILENO) == 1);
                if (status >= 0)
                    return status;
                Write(stderr, std::string("VantrelBackup: cancelled by ") +
                                  (host_.signal == SIGTERM ? "SIGTERM" : "SIGINT") + "\n");
                return 128 + host_.signal;
            }
            Configure();
            started = true;
            RunJob();
        } catch (const std::exception& e) {
            error = e.what();
        } catch (...) {
            error = "unknown error";
        }
        progress_.Clear();
        if (started)
            PrintSummary(clock.elapsed());
        if (host_.signal != 0) {
            Write(stderr, std::string("VantrelBackup: cancelled by ") +
                              (host_.signal == SIGTERM ? "SIGTERM" : "SIGINT") + "\n");
            return 128 + host_.signal;
        }
        if (!error.empty()) {
            std::string message = ConsoleLines(error);
            while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
                message.pop_back();
            Write(stderr, "VantrelBackup: " + message + "\n");
            return 2;
        }
        const bool incomplete =
            host_.stoppedEarly || tally_.failed > 0 || tally_.foldersGivenUp > 0;
        return incomplete ? 1 : 0;
    }

private:
    TBackupEngine& Engine() { return host_.Engine(); }

    // The destination as the jobs take it: the option, the stored one, the current directory.
    std::string VerifyDestination() const {
        if (line_.destination)
            return line_.destination->toStdString();
        const std::string stored =
            ReadStoredSettings(platform::SettingsFilePath("VantrelBackup.ini")).destination;
        return stored.empty() ? QDir::currentPath().toStdString() : stored;
    }

    // The window's stored fields first, then the options of this run over them.
    void Configure() {
        const StoredSettings stored =
            ReadStoredSettings(platform::SettingsFilePath("VantrelBackup.ini"));
        TBackupEngine& engine = Engine();

        const bool siteB = line_.site ? *line_.site == GallerySite::B : stored.siteB;
        engine.SiteWord = siteB ? sites::kSiteBWord : sites::kSiteAWord;

        TJobSettingsSource source;
        if (line_.proxy) {
            source.proxyHost = line_.proxy->host.toStdString();
            if (!line_.proxy->host.isEmpty())
                source.proxyPortText = std::to_string(line_.proxy->port);
        } else {
            source.proxyHost = stored.proxyHost;
            source.proxyPortText = stored.proxyPortText;
        }
        source.connections = line_.connections.value_or(stored.connections);
        source.update = line_.update || stored.update;
        source.ftpMode = line_.ftpMode.value_or(stored.ftpMode);
        // The window starts every run with the member login off.
        source.login = false;
        const TJobSettings settings = ReadJobSettings(source);
        // A stored port that is no number is an error, as the window says at its start.
        if (!settings.proxyPortError.empty())
            throw Exception("Proxy port: " + settings.proxyPortError + ".");
        engine.Use(settings);
        host_.proxyPortText = settings.proxyPortText;
        host_.loginEnabled = settings.login;

        std::string destination =
            line_.destination ? line_.destination->toStdString() : stored.destination;
        // A copy without a stored place goes where the command was given, not beside the
        // program (which an installed copy cannot write).
        if (destination.empty())
            destination = QDir::currentPath().toStdString();
        // The engine joins its page files to the destination as it is; inside is where they
        // belong.
        if (destination.back() != '/')
            destination.push_back('/');
        host_.destination = destination;
        // Made only once the settings are known to be usable. The window's Get by User expects a
        // destination that is there; a scheduled copy into a new directory should not fail for want
        // of it. A failure shows at the first file.
        (void)platform::ForceDirectories(destination);

        if (line_.pauseSeconds) {
            host_.pauseEnabled = *line_.pauseSeconds > 0;
            host_.pauseSeconds = *line_.pauseSeconds;
        } else {
            host_.pauseEnabled = stored.pauseEnabled;
            host_.pauseSeconds = stored.pauseSeconds;
        }

        host_.onLog = [this](const std::string& message) { OnLog(message); };
        host_.onStatus = [this](const std::string& text) { progress_.Status(text); };
        host_.onBlockThread = [this](int milliseconds) { Pause(milliseconds); };
        engine.Events.FileStarted = [this](const std::string& name) {
            progress_.FileStarted(name);
        };
        engine.Events.FileDone = [this](const TFileEvent& file) { OnFileDone(file); };
        engine.Events.PageGivenUp = [this](const std::string&) { tally_.PageGivenUp(); };
        // A job that stopped early did not do its work, although it ran to its end.
        engine.Events.StoppedEarly = [this](TStopReason) { host_.stoppedEarly = true; };
    }

    void RunJob() {
        const std::string argument = line_.jobArgument.toStdString();
        switch (line_.job) {
        case CommandJob::Folder:
            host_.StartGetById(argument);
            break;
        case CommandJob::User:
            host_.StartGetByUser(argument);
            break;
        case CommandJob::Set:
            host_.setNumber = argument;
            host_.RunScanJob();
            break;
        case CommandJob::List:
            Engine().RunBatchList(argument);
            break;
        case CommandJob::None:
        case CommandJob::Verify:
            break;
        }
    }

    void OnLog(const std::string& message) {
        progress_.Clear();
        Write(stdout, ConsoleLines(message) + "\n");
    }

    void OnFileDone(const TFileEvent& file) {
        progress_.FileDone();
        // The transfer the user cancelled is not a failure of the site.
        if (file.outcome == TDownloadOutcome::Failed && host_.signal != 0)
            return;
        tally_.Count(file);
    }

    // The pause between files waits on the event loop, so that Ctrl+C ends it at once.
    void Pause(int milliseconds) {
        platform::WaitFor(milliseconds, [this] { return host_.signal != 0; });
    }

    void OnSignal(int signal) {
        if (host_.signal != 0) {
            // A second one does not wait for the transfer to unwind.
            progress_.Clear();
            Write(stderr, "VantrelBackup: stopped at once\n");
            std::_Exit(128 + signal);
        }
        host_.signal = signal;
        CancelEverything();
        // A request or a reply wait that starts while the job unwinds is ended as well.
        cancelAgain_.setInterval(kCancelAgainMilliseconds);
        QObject::connect(&cancelAgain_, &QTimer::timeout, [this] { CancelEverything(); });
        cancelAgain_.start();
    }

    void CancelEverything() {
        TBackupEngine& engine = Engine();
        engine.CancelTransfers();
        // The window's Cancel leaves the FTP session's own replies alone, so a server that never
        // answers would hold the job until it closes. Here the wait for a reply ends too.
        if (engine.NMFTP1.DataConnection() == nullptr)
            engine.NMFTP1.RequestCancel();
    }

    void PrintSummary(qint64 milliseconds) {
        Write(stdout, SummaryLine(tally_, milliseconds) + "\n");
    }

    const CommandLine& line_;
    HeadlessHost host_;
    TJobTally tally_;
    TProgressLine progress_;
    SignalWatch signals_;
    QTimer cancelAgain_;
};

} // namespace

int RunHeadless(int& argc, char** argv, const CommandLine& line) {
    platform::PreferPlainEventLoop();
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("VantrelBackup"));
    try {
        HeadlessRun run(line);
        return run.Exec();
    } catch (const std::exception& e) {
        Write(stderr, std::string("VantrelBackup: ") + e.what() + "\n");
        return 2;
    }
}

} // namespace cli
