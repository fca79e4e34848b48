#pragma once

#include "engine/BackupEngine.h"

#include <cstdint>
#include <string>

// The counts of a job as its downloads end: what the headless summary prints and the window
// shows beside its status line. Fed by the engine's OnDownloadDone and by its log.
struct TJobTally {
    int fetched = 0;
    int present = 0;
    int failed = 0;
    int refused = 0;        // left out on purpose: an unsafe name, a movie after a failure
    int foldersGivenUp = 0; // listing pages given up after their retries
    uint64_t bytes = 0;     // stored by this job (files found present are not counted)

    void Count(TDownloadOutcome outcome, uint64_t size);
    // The engine tells a listing page given up only in its log; true when message is that line.
    bool CountLogLine(const std::string& message);
};
