#include "app/engine/BackupEngine.h"

#include "platform/FileSystem.h"

TBackupEngine::TBackupEngine(TJobHost& host) : Host(host) {}

std::string TBackupEngine::GalleryUrl(const std::string& siteWord, GalleryQuery query,
                                      const std::string& id) {
    const char* parameter = query == GalleryQuery::Folder ? "?f=" : "?m=";
    return "http://www." + siteWord + ".com/cgi-bin/gallery.cgi" + parameter + id;
}

std::string TBackupEngine::FirstPageFile(const std::string& destination, const std::string& id) {
    return destination + id + ".html";
}

bool TBackupEngine::RunGalleryJob(GalleryQuery query, const std::string& id) {
    Host.Status("getting list . . . ");
    const std::string destination = Host.Destination();
    // Only Get by ID makes a missing destination; a failure shows later, when a file is written.
    if (query == GalleryQuery::Folder && !platform::DirectoryExists(destination))
        platform::CreateDir(destination);
    Host.ClearLog();
    LoginToSite();
    if (!Host.ProxyPortText().empty())
        Host.Log("**Using Proxy Server " + ProxyHost + ":" + std::to_string(ProxyPort));
    LastFolderName.clear();

    const std::string url = GalleryUrl(SiteWord, query, id);
    if (!FetchPage(url, FirstPageFile(destination, id)))
        return false;
    Host.Log(url);
    CrawlFolder(destination, id);
    Host.Status(". . . done getting files");
    return true;
}

// ATTACH POINT (site login): the login switch is hidden and cleared whenever the window is
// shown, so the only branch that can run clears the cookie, which the HTTP client will hold.
bool TBackupEngine::LoginToSite() {
    return false;
}

// ATTACH POINT (page fetch): without the HTTP client no page can arrive, so the job stops here
// exactly as after a first fetch that failed.
bool TBackupEngine::FetchPage(const std::string&, const std::string&) {
    return false;
}

// ATTACH POINT (folder crawl): reached only after a fetched first page.
void TBackupEngine::CrawlFolder(const std::string&, const std::string&) {}
