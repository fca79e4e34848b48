// vantrel-gallery-site: the fixture gallery site as a program of its own, for the demo and the
// benchmark. It serves every built-in gallery at once on 127.0.0.1, prints its port as the
// first line of standard output and the gallery entry URLs after it, and runs until SIGTERM or
// SIGINT. Point the program's proxy setting (or http_proxy for wget and curl) at it.

#include "tests/support/GalleryMirror.h"
#include "tests/support/GalleryScenarios.h"
#include "tests/support/GallerySite.h"
#include "tests/support/tools/DemoPictures.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: vantrel-gallery-site [options]\n"
    "Serves the built-in galleries of the fixture site on 127.0.0.1, for hosts\n"
    "www.vantrelpix.com and www.vantrelshots.com, until SIGTERM or SIGINT.\n"
    "Prints the port as the first line of standard output.\n"
    "  member pelmark   demo: real little pictures, folder 77154 and more, login pelmark/demo\n"
    "  member bench     F folders of P pictures of S bytes, 10 thumbnails and 10 folders a page\n"
    "  member longlist  L listing pages of one folder each, one small picture per folder\n"
    "  member deep      one chain of folders D levels deep\n"
    "options:\n"
    "  --bench F P S       bench member shape (default 40 50 20480)\n"
    "  --long L            listing pages of longlist (default 2000)\n"
    "  --depth D           levels of deep (default 50)\n"
    "  --port N            listen on port N instead of a free one\n"
    "  --latency MS        start every answer MS milliseconds after its request\n"
    "  --log FILE          append the URL of every request to FILE as it comes\n"
    "  --slow ID NAME MS   send picture NAME of folder ID slowly, over MS milliseconds\n"
    "  --expected ID FILE  write what a backup of member or folder ID stores, as\n"
    "                      \"SHA1  path\" lines (sha1sum -c checks them in the destination)\n";

struct Options {
    int benchFolders = 40, benchPictures = 50;
    size_t benchSize = 20480;
    int longPages = 2000, depth = 50;
    int port = 0;
    int latency = 0;
    std::string logFile;
    std::vector<std::pair<std::string, std::string>> expected;
    struct Slow {
        std::string folder, name;
        int milliseconds;
    };
    std::vector<Slow> slow;
};

bool ParseNumber(const char* text, long long& value) {
    char* end = nullptr;
    value = std::strtoll(text, &end, 10);
    return *text != '\0' && *end == '\0' && value >= 0;
}

bool Parse(int argc, char* argv[], Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const auto needs = [&](int count) { return i + count < argc; };
        long long a = 0, b = 0, c = 0;
        if (option == "--bench" && needs(3) && ParseNumber(argv[i + 1], a) &&
            ParseNumber(argv[i + 2], b) && ParseNumber(argv[i + 3], c)) {
            options.benchFolders = int(a);
            options.benchPictures = int(b);
            options.benchSize = size_t(c);
            i += 3;
        } else if (option == "--long" && needs(1) && ParseNumber(argv[++i], a) && a > 0) {
            options.longPages = int(a);
        } else if (option == "--depth" && needs(1) && ParseNumber(argv[++i], a) && a > 0) {
            options.depth = int(a);
        } else if (option == "--port" && needs(1) && ParseNumber(argv[++i], a) && a < 65536) {
            options.port = int(a);
        } else if (option == "--latency" && needs(1) && ParseNumber(argv[++i], a) && a < 60000) {
            options.latency = int(a);
        } else if (option == "--log" && needs(1)) {
            options.logFile = argv[++i];
        } else if (option == "--slow" && needs(3) && ParseNumber(argv[i + 3], a)) {
            options.slow.push_back({argv[i + 1], argv[i + 2], int(a)});
            i += 3;
        } else if (option == "--expected" && needs(2)) {
            options.expected.emplace_back(argv[i + 1], argv[i + 2]);
            i += 2;
        } else {
            return false;
        }
    }
    return true;
}

void AddDemoMember(fixture::GalleryModel& model) {
    fixture::Member& member = model.AddMember("pelmark");
    member.SetFoldersPerPage(2);
    int scene = 0;
    const auto pictures = [&](fixture::Folder& folder, const std::vector<std::string>& names) {
        for (const std::string& name : names)
            folder.AddPicture(name, demo::ScenePicture(scene++));
    };
    fixture::Folder& harbour = member.AddFolder("Harbour", "77154").SetPicturesPerPage(4);
    pictures(harbour, {"quay.jpg", "ferry.jpg", "nets.jpg", "dusk.jpg", "gulls.jpg", "crane.jpg",
                       "pier.jpg", "tide.jpg"});
    pictures(harbour.AddFolder("Boats", "77160"),
             {"dinghy.jpg", "trawler.jpg", "yacht.jpg", "tug.jpg", "barge.jpg"});
    pictures(harbour.AddFolder("Lighthouse", "77161"), {"tower.jpg", "lamp.jpg", "rocks.jpg"});
    fixture::Folder& mountains = member.AddFolder("Mountains", "77155");
    pictures(mountains.AddFolder("Spring", "77162"),
             {"meadow.jpg", "creek.jpg", "pass.jpg", "hut.jpg"});
    fixture::Folder& winter = mountains.AddFolder("Winter", "77163");
    pictures(winter, {"ridge.jpg", "snowfield.jpg", "cornice.jpg", "tracks.jpg"});
    pictures(winter.AddFolder("Summit", "77164"), {"cairn.jpg", "view.jpg"});
    fixture::Folder& garden = member.AddFolder("Garden", "77156").SetRedirect();
    garden.SetPicturesPerPage(3);
    pictures(garden, {"roses.jpg", "pond.jpg", "bench.jpg", "hedge.jpg", "path.jpg", "shed.jpg"});
    model.SetLogin("pelmark", "demo", "VANTRELSESSION=demo0001; path=/");
}

} // namespace

int main(int argc, char* argv[]) {
    Options options;
    if (!Parse(argc, argv, options)) {
        std::cerr << kUsage;
        return 2;
    }
    // Blocked before any thread starts, so every server thread inherits the mask and the
    // signals reach sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    fixture::GalleryModel model;
    AddDemoMember(model);
    fixture::AddBenchMember(model, "bench", options.benchFolders, options.benchPictures,
                            options.benchSize);
    fixture::AddLongListingMember(model, "longlist", options.longPages);
    fixture::AddDeepFolders(model.AddMember("deep"), "level01", options.depth);

    for (const Options::Slow& slow : options.slow) {
        const fixture::Folder* folder = model.FindFolder(slow.folder);
        if (!folder) {
            std::cerr << "vantrel-gallery-site: no folder " << slow.folder << "\n";
            return 1;
        }
        model.SetFault(folder->PicturePath(slow.name), fixture::Fault::Slow(slow.milliseconds));
    }
    for (const auto& [id, file] : options.expected) {
        const fixture::Listing* start = model.FindMember(id);
        if (!start)
            start = model.FindFolder(id);
        std::ofstream out(file, std::ios::binary);
        if (!start || !out) {
            std::cerr << "vantrel-gallery-site: no gallery " << id << " or cannot write " << file
                      << "\n";
            return 1;
        }
        for (const auto& [path, hash] : fixture::ExpectedMirror(model, *start))
            out << hash << "  " << path << "\n";
    }

    std::ofstream log;
    if (!options.logFile.empty()) {
        log.open(options.logFile, std::ios::app | std::ios::binary);
        if (!log) {
            std::cerr << "vantrel-gallery-site: cannot write " << options.logFile << "\n";
            return 1;
        }
    }
    std::unique_ptr<fixture::GallerySite> site;
    try {
        site = std::make_unique<fixture::GallerySite>(model, model, uint16_t(options.port));
    } catch (const std::exception& error) {
        std::cerr << "vantrel-gallery-site: " << error.what() << "\n";
        return 1;
    }
    site->SetLatency(options.latency);
    std::mutex logMutex;
    if (log.is_open())
        site->OnRequest([&](const fixture::Request& request) {
            std::lock_guard lock(logMutex);
            log << request.url << "\n" << std::flush;
        });

    std::cout << site->Port() << "\n";
    for (const char* user : {"pelmark", "bench", "longlist", "deep"})
        std::cout << "http://" << fixture::kHostA << model.FindMember(user)->ListingPath() << "\n";
    std::cout << "http://" << fixture::kHostA << model.FindFolder("77154")->ListingPath() << "\n"
              << std::flush;

    int received = 0;
    sigwait(&stopSignals, &received);
    site->Stop();
    return 0;
}
