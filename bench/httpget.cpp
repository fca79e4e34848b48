// A small command-line driver over the real HTTP client, for the benchmark scripts: it fetches
// each URL with its own Get into a file, the way the download routine does (file mode, status
// events at level 8), and prints what it took.
//
//   httpget [--proxy HOST:PORT] [--cancel-after SECONDS] [--report-level N]
//           URL OUTFILE [URL OUTFILE ...]
//   httpget [options] --list URLFILE OUTDIR
//           (one URL a line, each saved under its last segment in OUTDIR, created if missing)
//   httpget [--proxy HOST:PORT] --transfers N ... (as above)
//           (through the side-by-side transfer the picture downloads use, N at a time)
//
// Output: one line "N files, B bytes in S s (R MB/s)" and one line "cpu USER SYS ELAPSED": the
// CPU seconds used by the Gets alone (start-up excluded) and their wall time.

#include "net/HttpTransfer.h"
#include "net/NMHTTP.h"

#include "platform/EventWait.h"
#include "platform/FileSystem.h"

#include <QCoreApplication>
#include <QDir>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <list>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <utility>
#include <vector>

namespace {

struct Options {
    std::string proxyHost;
    int proxyPort = 0;
    double cancelAfter = 0;
    int reportLevel = 8;
    int transfers = 0; // 0: one Get after the other

    std::vector<std::pair<std::string, std::string>> jobs; // URL, output file
};

[[noreturn]] void Usage(const std::string& problem) {
    std::fprintf(stderr,
                 "httpget: %s\n"
                 "usage: httpget [--proxy HOST:PORT] [--cancel-after SECONDS] "
                 "[--report-level N]"
                 " URL OUTFILE [URL OUTFILE ...]\n"
                 "       httpget [options] --list URLFILE OUTDIR\n",
                 problem.c_str());
    std::exit(2);
}

void ReadList(const std::string& listFile, const std::string& outDir, Options& options) {
    std::ifstream in(listFile);
    if (!in)
        Usage("cannot read " + listFile);
    // As wget -P does: the benchmark starts each run in a fresh directory.
    if (!QDir().mkpath(QString::fromStdString(outDir)))
        Usage("cannot create " + outDir);
    for (std::string url; std::getline(in, url);) {
        if (!url.empty() && url.back() == '\r')
            url.pop_back();
        if (url.empty())
            continue;
        const std::string name = url.substr(url.rfind('/') + 1);
        options.jobs.emplace_back(url, outDir + "/" + (name.empty() ? "index.html" : name));
    }
}

Options Parse(const std::vector<std::string>& args) {
    Options options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--proxy" && hasValue) {
            const std::string value = args[++i];
            const size_t colon = value.rfind(':');
            if (colon == std::string::npos)
                Usage("--proxy wants HOST:PORT");
            options.proxyHost = value.substr(0, colon);
            options.proxyPort = std::atoi(value.c_str() + colon + 1);
        } else if (arg == "--cancel-after" && hasValue) {
            options.cancelAfter = std::atof(args[++i].c_str());
        } else if (arg == "--transfers" && hasValue) {
            options.transfers = std::atoi(args[++i].c_str());
            if (options.transfers < 1)
                Usage("--transfers wants a count of at least 1");
        } else if (arg == "--report-level" && hasValue) {
            options.reportLevel = std::atoi(args[++i].c_str());
        } else if (arg == "--list" && i + 2 < args.size()) {
            ReadList(args[i + 1], args[i + 2], options);
            i += 2;
        } else if (arg.rfind("--", 0) == 0) {
            Usage("unknown or incomplete option " + arg);
        } else if (hasValue) {
            options.jobs.emplace_back(arg, args[++i]);
        } else {
            Usage("URL without an output file");
        }
    }
    if (options.jobs.empty())
        Usage("nothing to fetch");
    return options;
}

double CpuSeconds(const timeval& t) {
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

// Runs the jobs through THttpTransfer, at most options.transfers at once, as the picture
// downloads of a job do; returns the count of failures.
int RunTransfers(const Options& options, unsigned long long& bytes, size_t& fetched) {
    struct Flight {
        std::unique_ptr<TFileStream> file;
        std::unique_ptr<THttpTransfer> transfer;
    };
    std::list<Flight> flights;
    std::vector<std::unique_ptr<THttpTransfer>> ended; // not destroyed inside their own call
    size_t next = 0;
    int failures = 0;
    std::function<void()> startMore = [&]() {
        while (flights.size() < static_cast<size_t>(options.transfers) &&
               next < options.jobs.size()) {
            const auto& [url, outFile] = options.jobs[next++];
            flights.push_back({std::make_unique<TFileStream>(outFile, TFileStream::Mode::Create),
                               nullptr});
            const auto flight = std::prev(flights.end());
            THttpTransfer::Route route{options.proxyHost, options.proxyPort, {}, {}};
            flight->transfer = std::make_unique<THttpTransfer>(
                url, *flight->file, std::move(route), [&, flight, url](bool whole) {
                    if (whole) {
                        bytes += flight->transfer->BytesReceived();
                        ++fetched;
                    } else {
                        std::fprintf(stderr, "httpget: %s: failed\n", url.c_str());
                        ++failures;
                    }
                    ended.push_back(std::move(flight->transfer));
                    flights.erase(flight);
                    startMore();
                });
            flight->transfer->Start();
        }
    };
    startMore();
    // Ended transfers go once their own call has returned, as the download scheduler lets
    // them go.
    while (!flights.empty()) {
        platform::WaitUntil([&]() { return !ended.empty() || flights.empty(); });
        ended.clear();
    }
    return failures;
}

} // namespace

int main(int argc, char* argv[]) {
    // As the command line runs its jobs.
    platform::PreferPlainEventLoop();
    QCoreApplication app(argc, argv);
    const Options options = Parse(std::vector<std::string>(argv + 1, argv + argc));

    TNMHTTP http;
    http.InputFileMode = true;
    http.Proxy = options.proxyHost;
    http.ProxyPort = options.proxyPort;
    http.ReportLevel = options.reportLevel;
    // The main window's handler only resets its stall counter; counting costs the same.
    unsigned long statusEvents = 0;
    http.OnStatus = [&](TComponent*, const std::string&) { ++statusEvents; };

    // Cancel comes from a timer, as the main window's watchdog does it: it can only fire while
    // Get waits in the event loop.
    bool cancelled = false;
    QTimer cancelTimer;
    cancelTimer.setSingleShot(true);
    QObject::connect(&cancelTimer, &QTimer::timeout, [&] {
        cancelled = true;
        http.Cancel();
    });
    if (options.cancelAfter > 0)
        cancelTimer.start(int(options.cancelAfter * 1000));

    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    unsigned long long bytes = 0;
    size_t fetched = 0;
    int failures = 0;
    if (options.transfers > 0)
        failures = RunTransfers(options, bytes, fetched);
    for (const auto& [url, outFile] : options.jobs) {
        if (options.transfers > 0)
            break;
        http.Body = outFile;
        try {
            http.Get(url);
        } catch (const std::exception& error) {
            if (cancelled) {
                std::printf("cancelled: %s\n", error.what());
                break;
            }
            std::fprintf(stderr, "httpget: %s: %s\n", url.c_str(), error.what());
            ++failures;
            continue;
        }
        if (http.ReplyCode() >= 400) {
            std::fprintf(stderr, "httpget: %s: status %d\n", url.c_str(), int(http.ReplyCode()));
            ++failures;
        }
        // Counted by the client: a stat of each file would add a call the floor does not make.
        bytes += http.BytesReceived();
        ++fetched;
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
