#pragma once

#include "engine/BackupEngine.h"

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
