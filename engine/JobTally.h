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
    int refused = 0;        // left out on purpose: an unsafe name, a movie after a failure
    int foldersGivenUp = 0; // listing pages given up after their retries
    uint64_t bytes = 0;     // stored by this job (files found present are not counted)

    void Count(const TFileEvent& file);
    void PageGivenUp() { ++foldersGivenUp; }
};
