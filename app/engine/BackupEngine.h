#pragma once

#include "app/engine/JobHost.h"
#include "net/NMHTTP.h"

#include <cstdint>
#include <string>

// The gallery jobs and the state they share with the window's timer and Cancel. Runs on the
// window's thread, inside the click handler that started the job.
class TBackupEngine {
public:
    explicit TBackupEngine(TJobHost& host);
    virtual ~TBackupEngine() = default;
    TBackupEngine(const TBackupEngine&) = delete;
    TBackupEngine& operator=(const TBackupEngine&) = delete;

    enum class GalleryQuery { Folder, User };

    // Get by ID (Folder, id = folder ID) or Get by User (User, id = user ID), from the status
    // "getting list . . . " to ". . . done getting files". True when the job ran to its end;
    // false when it stopped because its first page could not be fetched.
    bool RunGalleryJob(GalleryQuery query, const std::string& id);

    // Sends the member's login to gallery site A and installs the cookie it returns; true when
    // a cookie was installed.
    bool LoginToSite();

    // Fetches one listing page into pageFile, retrying a few times; true when a page arrived.
    virtual bool FetchPage(const std::string& url, const std::string& pageFile);
    // Walks a fetched folder or member page and everything below it.
    virtual void CrawlFolder(const std::string& directory, const std::string& pageName);

    // "http://www." + site word + ".com/cgi-bin/gallery.cgi?f=" (or "?m=") + id.
    static std::string GalleryUrl(const std::string& siteWord, GalleryQuery query,
                                  const std::string& id);
    // The page file of a folder or member page: destination + id + ".html", joined as they
    // are, so a destination without a trailing separator puts the file beside it.
    static std::string FirstPageFile(const std::string& destination, const std::string& id);

    // Job state shared with the window: the timer counts stalled seconds while a download is
    // active, the crawl keeps the last local sub-path, a failed download disables movies.
    std::string LastFolderName;
    int32_t StallCounter = 0;
    bool DownloadActive = false;
    bool MultimediaDisabled = false;
    std::string SiteWord;

    // The HTTP client of every web access, set up as the window's design has it; the window
    // hands it the proxy and listens to its statuses.
    TNMHTTP NMHTTP1;

protected:
    TJobHost& Host;
};
