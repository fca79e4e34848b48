#pragma once

#include <cstdint>
#include <functional>
#include <string>

// What happened in a job, as values: the log tells the same in words for the user, but nothing
// decides on the words. The counts, the exit status, the window's strip and the desktop notice
// are fed by these events alone.

// How one picture or scan ended.
enum class TDownloadOutcome {
    Fetched, // stored whole under its name
    Present, // already there, so not fetched again (or asked again and not changed)
    Changed, // asked again (an update), and the changed file replaced the old copy
    Gone,    // recorded, but its folder's whole listing no longer names it; the copy stays
    Failed,  // the transfer failed or was cancelled; nothing was stored
    Skipped, // refused before any transfer: an unsafe name, or multimedia turned off
};

// One picture's or scan's end.
struct TFileEvent {
    // Relative to the destination, "/" separators, no leading "/"; for a refused name the name
    // as the server gave it.
    std::string path;
    std::string url; // where it came from
    TDownloadOutcome outcome = TDownloadOutcome::Failed;
    // Fetched and Present: the size of the file.
    uint64_t bytes = 0;
    // An HTTP transfer's Last-Modified and ETag values, when the answer sent them.
    std::string lastModified, etag;
    // An FTP file's date as its listing line gives it.
    std::string listingDate;
};

// Why a job stopped before its end.
enum class TStopReason {
    FirstPageMissing, // the job's first page never came
    NoSuchFolder,     // the site does not know the folder ID
    NoSuchMember,     // the site does not know the member
    SetRefused,       // a set number the archive cannot have (a leading 0, under 3 digits)
    SetNotFound,      // the archive has no such set
    Error,            // an error ended the job
};

struct TJobEvents {
    // A picture's or scan's transfer begins, by its name.
    std::function<void(const std::string& name)> FileStarted;
    std::function<void(const TFileEvent&)> FileDone;
    // A listing page given up after its attempts, by its URL.
    std::function<void(const std::string& url)> PageGivenUp;
    std::function<void(TStopReason)> StoppedEarly;
};
