// The folder crawl and the image page scan on pages they never saw. The input is a run of pages
// separated by a NUL byte; each page fetch takes the next one (a page beginning with "!" is
// refused, as after five bad attempts). Picture downloads go to a closed loopback port and fail.
// Whatever the pages say, the walk must end, nothing may be written outside the destination,
// and no page file, folder of page files or temporary download may be left behind.

#include "FuzzCheck.h"
#include "engine/PlainHost.h"
#include "platform/FileSystem.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

class PagedEngine : public TBackupEngine {
public:
    PagedEngine(TJobHost& host, std::vector<std::string> pages)
        : TBackupEngine(host), pages_(std::move(pages)) {}

    bool FetchPage(const std::string&, const std::string& pageFile) override {
        // A walk that fetched more pages than there are went round a cycle.
        FUZZ_CHECK(++fetches_ <= 4 * pages_.size() + 8);
        if (next_ >= pages_.size())
            return false;
        const std::string& page = pages_[next_++];
        if (!page.empty() && page[0] == '!')
            return false;
        std::ofstream(platform::NativePath(pageFile), std::ios::binary) << page;
        return true;
    }

private:
    std::vector<std::string> pages_;
    size_t next_ = 0;
    size_t fetches_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> pages;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    for (size_t start = 0; start <= input.size();) {
        const size_t end = std::min(input.find('\0', start), input.size());
        pages.emplace_back(input.substr(start, end - start));
        start = end + 1;
    }

    QTemporaryDir root;
    const std::string destination = root.path().toStdString() + "/dest/";
    std::filesystem::create_directory(destination);
    // The job's folder of page files goes here too, so that a page file it leaves is seen.
    const std::string pageDir = root.path().toStdString() + "/pages";
    std::filesystem::create_directory(pageDir);
    qputenv("TMPDIR", QByteArray::fromStdString(pageDir));
    {
        TPlainHost host;
        host.destination = destination;
        host.UseEngine(std::make_unique<PagedEngine>(host, std::move(pages)));
        host.Engine().SiteWord = "vantrelpix";
        host.Engine().NMHTTP1.Proxy = "127.0.0.1";
        host.Engine().NMHTTP1.ProxyPort = 1;
        try {
            host.RunGalleryJob(TBackupEngine::GalleryQuery::Folder, "1");
        } catch (const Exception&) {
            // A file that could not be written ends the job, as in the window.
        }
    }

    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(root.path().toStdString())) {
        const std::string path = entry.path().string();
        FUZZ_CHECK(path.rfind(destination, 0) == 0 || path + "/" == destination || path == pageDir);
        const std::string name = entry.path().filename().string();
        const bool transient = name.size() >= 5 && (name.substr(name.size() - 5) == ".html" ||
                                                    name.substr(name.size() - 4) == ".htm" ||
                                                    name.rfind(".vantrel-", 0) == 0);
        FUZZ_CHECK(!(entry.is_regular_file() && transient));
    }
    return 0;
}
