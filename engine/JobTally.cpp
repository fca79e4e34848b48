#include "engine/JobTally.h"

namespace {

// The page fetch's last word on a listing page it gave up: a folder, or the rest of a listing,
// is missing from the copy.
constexpr const char* kPageGivenUpLine =
    "**Tried 5 times and got errors every time, skipping this folder";

} // namespace

void TJobTally::Count(TDownloadOutcome outcome, uint64_t size) {
    switch (outcome) {
    case TDownloadOutcome::Fetched:
        ++fetched;
        bytes += size;
        break;
    case TDownloadOutcome::Present:
        ++present;
        break;
    case TDownloadOutcome::Failed:
        ++failed;
        break;
    case TDownloadOutcome::Skipped:
        ++refused;
        break;
    }
}

bool TJobTally::CountLogLine(const std::string& message) {
    if (message != kPageGivenUpLine)
        return false;
    ++foldersGivenUp;
    return true;
}
