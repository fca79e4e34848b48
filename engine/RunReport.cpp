#include "engine/RunReport.h"

#include "platform/FileSystem.h"
#include "record/BackupRecord.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace {

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string LocalTime(std::time_t time, const char* format) {
    std::tm local{};
    char text[32] = "";
    if (::localtime_r(&time, &local) != nullptr)
        std::strftime(text, sizeof text, format, &local);
    return text;
}

// A report's name ("YYYYMMDD-HHMMSS.txt" or "YYYYMMDD-HHMMSS-N.txt") as its start and number,
// for ordering; nullopt for any other name, which is never deleted.
std::optional<std::pair<std::string, int>> ReportKey(const std::string& name) {
    if (name.size() < 19 || !name.ends_with(".txt") || name[8] != '-')
        return std::nullopt;
    for (size_t i = 0; i < 15; ++i)
        if (i != 8 && (name[i] < '0' || name[i] > '9'))
            return std::nullopt;
    const std::string rest = name.substr(15, name.size() - 19);
    if (rest.empty())
        return std::make_pair(name.substr(0, 15), 1);
    if (rest.size() < 2 || rest.size() > 6 || rest[0] != '-' ||
        !std::all_of(rest.begin() + 1, rest.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return std::make_pair(name.substr(0, 15), std::stoi(rest.substr(1)));
}

using Reports = std::vector<std::pair<std::pair<std::string, int>, std::string>>;

// The reports in folder, oldest first.
Reports ReportsIn(const std::string& folder) {
    Reports reports;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return reports;
    while (const dirent* entry = ::readdir(dir))
        if (const auto key = ReportKey(entry->d_name))
            reports.emplace_back(*key, entry->d_name);
    ::closedir(dir);
    std::sort(reports.begin(), reports.end());
    return reports;
}

// Deletes all but the newest keep reports of folder.
void KeepNewest(const std::string& folder, size_t keep) {
    const Reports reports = ReportsIn(folder);
    if (reports.size() <= keep)
        return;
    for (size_t i = 0; i + keep < reports.size(); ++i)
        (void)::unlink((folder + "/" + reports[i].second).c_str());
}

} // namespace

TRunReport::TRunReport(std::string title, std::string site)
    : title_(std::move(title)), site_(std::move(site)), started_(std::time(nullptr)),
      startedMs_(NowMs()) {}

void TRunReport::File(const char* word, const std::string& path) {
    files_.emplace_back(path, word);
}

std::string TRunReport::Write(const std::string& destination) const {
    std::string root = destination;
    if (root.empty() || root.back() != '/')
        root += '/';
    const std::string folder = root + kRecordFolder + "/reports";
    if (!platform::ForceDirectories(folder))
        return {};
    std::vector<std::pair<std::string, std::string>> files = files_;
    std::sort(files.begin(), files.end());
    const std::time_t ended = std::time(nullptr);
    std::string text = title_ + ", " + site_ + ", " + LocalTime(started_, "%Y-%m-%d %H:%M:%S") +
                       " to " + LocalTime(ended, "%Y-%m-%d %H:%M:%S") + "\n";
    for (const auto& [path, word] : files)
        text += word + " " + path + "\n";
    text += SummaryLine(Tally, NowMs() - startedMs_) + "\n";

    // A run started in the same second as another takes the next number after the highest, never
    // a number freed by pruning, so that the names keep the runs' order.
    const std::string start = LocalTime(started_, "%Y%m%d-%H%M%S");
    int first = 1;
    for (const auto& [key, name] : ReportsIn(folder))
        if (key.first == start)
            first = std::max(first, key.second + 1);
    const std::string stem = folder + "/" + start;
    for (int n = first; n < first + 1000; ++n) {
        const std::string path = stem + (n == 1 ? "" : "-" + std::to_string(n)) + ".txt";
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return {};
        bool written = true;
        for (size_t at = 0; written && at < text.size();) {
            const ssize_t put = ::write(fd, text.data() + at, text.size() - at);
            written = put > 0 || (put < 0 && errno == EINTR);
            at += put > 0 ? static_cast<size_t>(put) : 0;
        }
        written = ::close(fd) == 0 && written;
        if (!written) {
            (void)::unlink(path.c_str());
            return {};
        }
        KeepNewest(folder, kKeep);
        return path;
    }
    return {};
}
