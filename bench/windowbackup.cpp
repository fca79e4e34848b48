// The real main window, offscreen, running Get by User through a proxy, for bench/window.sh:
// what the progress at the status line's end costs a job.
//
//   windowbackup --proxy HOST:PORT --dest DIR --user ID [--no-bar | --redraw MS]
//
// --no-bar leaves the progress undrawn while the job runs (it is drawn once at each end);
// --redraw sets its interval (under valgrind, which runs the job some 40 times slower, 4000
// gives the same redraws per file as 100 does at full speed).
// Output: one line "job: S s, cpu C s, N new, N present, N failed" (C: user + system time).

#include "gui/Form1.h"
#include "gui/ProgressStrip.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>

namespace {

[[noreturn]] void Usage() {
    std::fprintf(stderr, "usage: windowbackup --proxy HOST:PORT --dest DIR --user ID "
                         "[--no-bar | --redraw MS]\n");
    std::exit(2);
}

} // namespace

int main(int argc, char* argv[]) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    std::string proxyHost, destination, user;
    int proxyPort = 0;
    bool bar = true;
    int redraw = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--proxy" && hasValue) {
            const std::string value = argv[++i];
            const size_t colon = value.rfind(':');
            if (colon == std::string::npos)
                Usage();
            proxyHost = value.substr(0, colon);
            proxyPort = std::atoi(value.c_str() + colon + 1);
        } else if (arg == "--dest" && hasValue) {
            destination = argv[++i];
        } else if (arg == "--user" && hasValue) {
            user = argv[++i];
        } else if (arg == "--no-bar") {
            bar = false;
        } else if (arg == "--redraw" && hasValue) {
            redraw = std::atoi(argv[++i]);
        } else {
            Usage();
        }
    }
    if (destination.empty() || user.empty() || proxyPort == 0)
        Usage();

    QTemporaryDir settings;
    TForm1 form;
    form.FormStorage1.IniFileName =
        QDir(settings.path()).filePath("VantrelBackup.ini").toStdString();
    form.show();
    // After the show, which hands the (absent) proxy dialog's fields to the client.
    form.Engine().NMHTTP1.Proxy = proxyHost;
    form.Engine().NMHTTP1.ProxyPort = proxyPort;
    form.Edit1->setText(QString::fromStdString(destination));
    form.Edit5->setText(QString::fromStdString(user));
    if (!bar)
        form.Progress->RedrawMilliseconds = 24 * 3600 * 1000;
    else if (redraw > 0)
        form.Progress->RedrawMilliseconds = redraw;

    const auto cpuSeconds = [] {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    };
    QElapsedTimer clock;
    const double cpuBefore = cpuSeconds();
    clock.start();
    form.Button4Click();
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpuBefore;
    const TJobTally& tally = form.Progress->Tally();
    std::printf("job: %.3f s, cpu %.3f s, %d new, %d present, %d failed\n", seconds, cpu,
                tally.fetched, tally.present, tally.failed);
    form.close();
    return tally.failed == 0 && tally.fetched + tally.present > 0 ? 0 : 1;
}
