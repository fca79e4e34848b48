#include "engine/JobTally.h"

void TJobTally::Count(const TFileEvent& file) {
    switch (file.outcome) {
    case TDownloadOutcome::Fetched:
        ++fetched;
        bytes += file.bytes;
        break;
    case TDownloadOutcome::Present:
        ++present;
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
