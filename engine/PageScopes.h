#pragma once

#include "engine/BackupEngine.h"
#include "engine/RunReport.h"
#include "platform/FileSystem.h"
#include "record/RecordKeeper.h"

#include <ctime>
#include <string>

// Marks a listing page's walk as open for as long as the walk runs, so that a link back to it
// from below (a folder that lists one of its ancestors) is not walked a second time.
class OpenPageScope {
public:
    OpenPageScope(TBackupEngine& engine, const std::string& url) : engine_(engine) {
        engine_.openPages_.push_back(url);
    }
    ~OpenPageScope() { engine_.openPages_.pop_back(); }
    OpenPageScope(const OpenPageScope&) = delete;
    OpenPageScope& operator=(const OpenPageScope&) = delete;

private:
    TBackupEngine& engine_;
};

// Owns a transient file (a page file, a download under its temporary name) until it is handed
// on: it is deleted on every other path, also when an error passes through.
class TransientFile {
public:
    explicit TransientFile(std::string fileName) : fileName_(std::move(fileName)) {}
    ~TransientFile();
    TransientFile(const TransientFile&) = delete;
    TransientFile& operator=(const TransientFile&) = delete;
    // Hands the file on: it is no longer deleted here.
    void Release() { fileName_.clear(); }
    const std::string& FileName() const { return fileName_; }

private:
    std::string fileName_;
};

// The report of a run: begun by the outermost job (a batch list's jobs go into its report) and
// written when that job ends, however it ends, if its destination is there.
class TBackupEngine::ReportScope {
public:
    ReportScope(TBackupEngine& engine, const std::string& title) : engine_(engine) {
        if (engine_.reportDepth_++ == 0) {
            engine_.report_ = std::make_unique<TRunReport>(title, engine_.SiteWord);
            engine_.LastReport.clear();
        }
    }
    ~ReportScope() {
        if (--engine_.reportDepth_ > 0 || !engine_.report_)
            return;
        const std::string destination = platform::NativePath(engine_.Host.Destination());
        if (platform::DirectoryExists(destination))
            engine_.LastReport = engine_.report_->Write(destination);
        engine_.report_.reset();
    }
    ReportScope(const ReportScope&) = delete;
    ReportScope& operator=(const ReportScope&) = delete;

private:
    TBackupEngine& engine_;
};

class TBackupEngine::RecordScope {
public:
    // A destination that is not there yet (Get by User does not make it) gets its record with
    // its first file.
    // update: present files are asked for again (a gallery job with Update on).
    RecordScope(TBackupEngine& engine, bool update) : engine_(engine) {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        char date[16] = "";
        if (::localtime_r(&now, &local) != nullptr)
            std::strftime(date, sizeof date, "%Y-%m-%d", &local);
        engine_.runDate_ = date;
        engine_.repairs_.clear();
        engine_.updates_.clear();
        engine_.updating_ = update;
        engine_.recordPending_ = true;
        if (platform::DirectoryExists(engine_.Host.Destination()))
            engine_.OpenRecord();
    }
    ~RecordScope() {
        engine_.recordPending_ = false;
        engine_.updating_ = false;
        if (!engine_.record_)
            return;
        try {
            engine_.record_->Finish();
        } catch (const std::exception& error) {
            try {
                engine_.Host.Log("**No backup record: " + std::string(error.what()));
            } catch (...) {
            }
        }
        engine_.record_.reset();
    }
    RecordScope(const RecordScope&) = delete;
    RecordScope& operator=(const RecordScope&) = delete;

private:
    TBackupEngine& engine_;
};
