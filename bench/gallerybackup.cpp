// The real gallery engine without a window, for the benchmark scripts: it runs one Get by ID or
// Get by User through a proxy with a console host (log lines to standard output, the pause off)
// and prints what it took.
//
//   gallerybackup --proxy HOST:PORT --dest DIR (--folder ID | --user ID) [--site-b]
//
// Output: the job's log lines, then one line "job: S s, cpu USER SYS".

#include "engine/PlainHost.h"
#include "engine/Sites.h"

#include "platform/EventWait.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>

namespace {

[[noreturn]] void Usage() {
    std::fprintf(stderr, "usage: gallerybackup --proxy HOST:PORT --dest DIR "
                         "(--folder ID | --user ID) [--site-b]\n");
    std::exit(2);
}

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char* argv[]) {
    // As the command line runs its jobs.
    platform::PreferPlainEventLoop();
    QCoreApplication app(argc, argv);
    TPlainHost host;
    TBackupEngine& engine = host.Engine();
    engine.SiteWord = sites::kSiteAWord;
    std::string id;
    auto query = TBackupEngine::GalleryQuery::Folder;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--proxy" && hasValue) {
            const std::string value = argv[++i];
            const size_t colon = value.rfind(':');
            if (colon == std::string::npos)
                Usage();
            engine.NMHTTP1.Proxy = value.substr(0, colon);
            engine.NMHTTP1.ProxyPort = std::atoi(value.c_str() + colon + 1);
            host.proxyPortText = value.substr(colon + 1);
        } else if (arg == "--dest" && hasValue) {
            host.destination = argv[++i];
        } else if ((arg == "--folder" || arg == "--user") && hasValue) {
            query = arg == "--folder" ? TBackupEngine::GalleryQuery::Folder
                                      : TBackupEngine::GalleryQuery::User;
            id = argv[++i];
        } else if (arg == "--site-b") {
            engine.SiteWord = sites::kSiteBWord;
        } else {
            Usage();
        }
    }
    if (id.empty() || host.destination.empty())
        Usage();

    host.onLog = [](const std::string& line) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
    };
    const auto start = std::chrono::steady_clock::now();
    bool completed = false;
    try {
        completed = host.RunGalleryJob(query, id);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "gallerybackup: %s\n", error.what());
        return 2;
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("job: %.3f s, cpu %.3f %.3f\n", took.count(), Seconds(usage.ru_utime),
                Seconds(usage.ru_stime));
    return completed ? 0 : 1;
}
