// A command-line driver over the real FTP client, for the benchmark scripts: it logs in, changes
// to a directory, lists it (parsed, as the instruction-scan job does) and fetches every listed
// name into a local directory, all inside OnConnect as the program runs its job.
//
//   ftpget [--user NAME] [--report-level N] [--mode auto|active|passive] [--trace]
//          HOST PORT REMOTEDIR OUTDIR
//
// --trace prints every status with the microseconds since the start, to see where a transfer
// waits.
//
// Output: one line "N files, B bytes in S s (R MB/s)" and one line "cpu USER SYS ELAPSED".

#include "net/NMFTP.h"

#include "platform/EventWait.h"

#include <QCoreApplication>
#include <QDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

namespace {

[[noreturn]] void Usage(const std::string& problem) {
    std::fprintf(
        stderr,
        "ftpget: %s\n"
        "usage: ftpget [--user NAME] [--report-level N] [--mode auto|active|passive] [--trace]\n"
        "              HOST PORT REMOTEDIR OUTDIR\n",
        problem.c_str());
    std::exit(2);
}

double CpuSeconds(const timeval& t) {
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char* argv[]) {
    // As the command line runs its jobs.
    platform::PreferPlainEventLoop();
    QCoreApplication app(argc, argv);
    std::string user = "anonymous";
    int reportLevel = 4; // the program's own level
    bool trace = false;
    TFtpMode mode = TFtpMode::Auto;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--user" && i + 1 < argc)
            user = argv[++i];
        else if (arg == "--report-level" && i + 1 < argc)
            reportLevel = std::atoi(argv[++i]);
        else if (arg == "--mode" && i + 1 < argc) {
            const auto given = FtpModeFromText(argv[++i]);
            if (!given)
                Usage("bad mode " + std::string(argv[i]));
            mode = *given;
        } else if (arg == "--trace")
            trace = true;
        else if (arg.rfind("--", 0) == 0)
            Usage("unknown or incomplete option " + arg);
        else
            positional.push_back(arg);
    }
    if (positional.size() != 4)
        Usage("wants HOST PORT REMOTEDIR OUTDIR");
    const std::string outDir = positional[3];
    if (!QDir().mkpath(QString::fromStdString(outDir)))
        Usage("cannot create " + outDir);

    TNMFTP ftp;
    ftp.Host = positional[0];
    ftp.Port = std::atoi(positional[1].c_str());
    ftp.UserID = ftp.Password = user;
    ftp.ParseList = true;
    ftp.ReportLevel = reportLevel;
    ftp.Mode = mode;
    // The window shows each status on its status line; counting costs about the same.
    unsigned long statusEvents = 0;
    const auto origin = std::chrono::steady_clock::now();
    ftp.OnStatus = [&](TComponent*, const std::string& text) {
        ++statusEvents;
        if (trace)
            std::fprintf(
                stderr, "%8lld %s\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(
                                           std::chrono::steady_clock::now() - origin)
                                           .count()),
                text.c_str());
    };

    size_t fetched = 0;
    int failures = 0;
    unsigned long long bytes = 0;
    ftp.OnConnect = [&](TComponent*) {
        ftp.ChangeDirectory(positional[2]);
        ftp.List();
        const std::vector<std::string> names = ftp.DirectoryList()->NameList;
        for (const std::string& name : names) {
            const std::string target = outDir + "/" + name;
            try {
                ftp.Download(name, target);
            } catch (const std::exception& error) {
                std::fprintf(stderr, "ftpget: %s: %s\n", name.c_str(), error.what());
                ++failures;
                continue;
            }
            struct stat info {};
            if (::stat(target.c_str(), &info) == 0)
                bytes += static_cast<unsigned long long>(info.st_size);
            ++fetched;
        }
    };

    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    try {
        ftp.Connect();
        ftp.Disconnect();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "ftpget: %s\n", error.what());
        return 1;
    }
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::getrusage(RUSAGE_SELF, &after);

    std::printf("%zu files, %llu bytes in %.3f s (%.1f MB/s), %lu status events\n", fetched, bytes,
                elapsed, elapsed > 0 ? double(bytes) / 1048576.0 / elapsed : 0.0, statusEvents);
    std::printf("cpu %.6f %.6f %.6f\n", CpuSeconds(after.ru_utime) - CpuSeconds(before.ru_utime),
                CpuSeconds(after.ru_stime) - CpuSeconds(before.ru_stime), elapsed);
    return failures == 0 ? 0 : 1;
}
