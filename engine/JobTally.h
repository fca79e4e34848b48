#pragma once

#include "engine/JobEvents.h"

#include <cstdint>
#include <string>

// The counts of a job as its downloads end: what the headless summary prints and the window
// shows beside its status line. Fed by the engine's job events alone.
struct TJobTally {
    int fetched = 0;
    int present = 0;
    int failed = 0;
    int changed = 0;        // replaced by a newer copy (an update)
    int gone = 0;           // recorded files the site no longer lists, first missed now
    int refused = 0;        // left out on purpose: an unsafe name, a movie after a failure
    int foldersGivenUp = 0; // listing pages given up after their retries
    uint64_t bytes = 0;     // stored by this job (files found present are not counted)

    void Count(const TFileEvent& file);
    void PageGivenUp() { ++foldersGivenUp; }
};

// "1.5 MiB", "812 KiB", "17 B".
std::string HumanBytes(uint64_t bytes);

// The line a job's counts end with, as the headless job prints it (without its line end):
// "Summary: N fetched, N skipped because present, N failed[, N changed][, N gone][, N refused]
// [, N listing page(s) not fetched]; N bytes (HUMAN) in S.SS s".
std::string SummaryLine(const TJobTally& tally, int64_t milliseconds);
