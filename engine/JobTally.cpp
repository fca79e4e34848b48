#include "engine/JobTally.h"

#include <cstdio>
#include <iterator>

void TJobTally::Count(const TFileEvent& file) {
    switch (file.outcome) {
    case TDownloadOutcome::Fetched:
        ++fetched;
        bytes += file.bytes;
        break;
    case TDownloadOutcome::Present:
        ++present;
        break;
    case TDownloadOutcome::Gone:
        ++gone;
        break;
    case TDownloadOutcome::Changed:
        ++changed;
        bytes += file.bytes;
        break;
    case TDownloadOutcome::Failed:
        ++failed;
        break;
    case TDownloadOutcome::Skipped:
        ++refused;
        break;
    }
}

std::string HumanBytes(uint64_t bytes) {
    static constexpr const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024)
        return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes);
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(units)) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, value < 10 ? "%.1f %s" : "%.0f %s", value, units[unit]);
    return text;
}

std::string SummaryLine(const TJobTally& tally, int64_t milliseconds) {
    std::string text = "Summary: " + std::to_string(tally.fetched) + " fetched, " +
                       std::to_string(tally.present) + " skipped because present, " +
                       std::to_string(tally.failed) + " failed";
    if (tally.changed > 0)
        text += ", " + std::to_string(tally.changed) + " changed";
    if (tally.gone > 0)
        text += ", " + std::to_string(tally.gone) + " gone";
    if (tally.refused > 0)
        text += ", " + std::to_string(tally.refused) + " refused";
    if (tally.foldersGivenUp > 0)
        text += ", " + std::to_string(tally.foldersGivenUp) +
                (tally.foldersGivenUp == 1 ? " listing page" : " listing pages") + " not fetched";
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "%.2f s", static_cast<double>(milliseconds) / 1000);
    return text + "; " + std::to_string(tally.bytes) + " bytes (" + HumanBytes(tally.bytes) +
           ") in " + elapsed;
}
