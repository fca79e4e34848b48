#pragma once

#include "engine/JobTally.h"

#include <ctime>
#include <string>
#include <utility>
#include <vector>

// What one run did, for the user to read the morning after: ".vantrel/reports/" + its start
// time + ".txt" at the destination's root. A first line names the job and its times, then one
// line per file that is new, repaired, changed, failed or gone, sorted by path, then the job's
// summary line. The newest reports are kept, the older ones deleted.
class TRunReport {
public:
    // title: the job and its ID ("Get by ID 7000"); site: the site word.
    TRunReport(std::string title, std::string site);

    // word: "new", "repaired", "changed", "failed" or "gone".
    void File(const char* word, const std::string& path);
    TJobTally Tally;

    // Writes the report below destination (native), keeping the newest kKeep; returns its path,
    // or empty when it could not be written.
    std::string Write(const std::string& destination) const;

    static constexpr size_t kKeep = 100;

private:
    std::string title_, site_;
    std::time_t started_;
    int64_t startedMs_;
    std::vector<std::pair<std::string, std::string>> files_; // path, word
};
