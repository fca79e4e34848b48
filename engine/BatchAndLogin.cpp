#include "engine/BackupEngine.h"
#include "engine/PageScopes.h"
#include "engine/Sites.h"
#include "engine/StrUtils.h"
#include "engine/TextFile.h"
#include "platform/FileSystem.h"

#include <QDir>

void TBackupEngine::RunBatchList(const std::string& listFile) {
    ReportScope report(*this, "Batch list " + listFile);
    // "list.txt" comes from an editor of this system as often as from anywhere else, so an LF
    // alone ends a line here too; CR LF and CR-only files read as before.
    TTextFile list(listFile, /*lfEndsLine=*/true);
    while (!list.Eof()) {
        const std::string line = list.ReadLine();
        if (const int at = Pos("f=", line); at > 0)
            Host.StartGetById(CopyFrom(line, at + 2));
        if (const int at = Pos("m=", line); at > 0)
            Host.StartGetByUser(CopyFrom(line, at + 2));
    }
}

bool TBackupEngine::LoginToSite() {
    if (!Host.LoginEnabled()) {
        NMHTTP1.HeaderInfo.Cookie.clear();
        return false;
    }
    // The reply's body is of no use; it goes to a scratch file of its own, never over a page
    // or a picture that Body named last.
    const std::string previousBody = NMHTTP1.Body;
    {
        TransientFile scratch(platform::CreateTempFileIn(QDir::tempPath().toStdString() + "/"));
        NMHTTP1.Body = scratch.FileName();
        try {
            NMHTTP1.Get("http://www." + std::string(sites::kSiteAWord) +
                        ".com/cgi-bin/gallery.cgi?m=" + Host.LoginUser() +
                        "&pwd=" + Host.LoginPassword());
        } catch (...) {
            NMHTTP1.Body = previousBody;
            throw;
        }
        NMHTTP1.Body = previousBody;
    }
    const std::string& cookie = NMHTTP1.ReceivedCookie();
    if (cookie.empty())
        return false;
    Host.Log("Cookie:\r\n" + cookie);
    NMHTTP1.HeaderInfo.Cookie = cookie;
    return true;
}
