#include "app/engine/BackupEngine.h"

#include "platform/FileSystem.h"

TBackupEngine::TBackupEngine(TJobHost& host) : Host(host) {
    NMHTTP1.Port = 0;
    NMHTTP1.ReportLevel = 0;
    NMHTTP1.Body = "Default.htm";
    NMHTTP1.Header = "Head.txt";
    NMHTTP1.HeaderInfo.LocalMailAddress = "ie 6.0.2800.1106IC";
    NMHTTP1.HeaderInfo.UserId = "Internet Explorer";
    NMHTTP1.InputFileMode = true;
    NMHTTP1.OutputFileMode = false;
    NMHTTP1.ProxyPort = 0;
}

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
        Host.Log("**Using Proxy Server " + NMHTTP1.Proxy + ":" + std::to_string(NMHTTP1.ProxyPort));
    LastFolderName.clear();

    const std::string url = GalleryUrl(SiteWord, query, id);
    if (!FetchPage(url, FirstPageFile(destination, id)))
        return false;
    Host.Log(url);
    CrawlFolder(destination, id);
    Host.Status(". . . done getting files");
    return true;
}

// The login switch is hidden and cleared whenever the window is shown, so the branch that runs
// is the one without a login: no cookie goes with the job's requests.
// ATTACH POINT (site login): the request with the member's name and password comes with the
// batch list and login work.
bool TBackupEngine::LoginToSite() {
    NMHTTP1.HeaderInfo.Cookie.clear();
    return false;
}

// ATTACH POINT (page fetch): without the HTTP client no page can arrive, so the job stops here
// exactly as after a first fetch that failed.
bool TBackupEngine::FetchPage(const std::string&, const std::string&) {
    return false;
}

// ATTACH POINT (folder crawl): reached only after a fetched first page.
void TBackupEngine::CrawlFolder(const std::string&, const std::string&) {}
