#include "app/engine/BackupEngine.h"
#include "app/engine/CutRules.h"
#include "app/engine/LocalDirs.h"
#include "app/engine/PageScopes.h"
#include "app/engine/StrUtils.h"
#include "app/engine/TakeLine.h"
#include "app/engine/TextFile.h"

#include <string_view>

namespace {

bool Contains(const std::string& line, std::string_view marker) {
    return Pos(marker, line) > 0;
}

bool EndMarker(const std::string& line) {
    return Contains(line, "</HTML>") || Contains(line, "</html>");
}

// The lines of one page, cut at LF. A page that runs out before its end marker (a truncated
// download) ends its walk there, as if the marker had come.
class PageLines {
public:
    explicit PageLines(std::string page) : page_(std::move(page)), rest_(page_) {}
    // False once the page has no line left.
    bool Next(std::string& line) {
        if (exhausted_)
            return false;
        exhausted_ = rest_.empty() && taken_;
        taken_ = true;
        if (exhausted_)
            return false;
        TakeLine(rest_, line);
        return true;
    }

private:
    std::string page_;
    std::string_view rest_;
    bool taken_ = false;
    bool exhausted_ = false;
};

} // namespace

void TBackupEngine::CrawlFolder(const std::string& Dir, const std::string& PageName) {
    Host.Status("Finding directories . . .");
    TransientFile pageFile(Dir + PageName + ".html");
    PageLines lines(ReadFirstLine(Dir + PageName + ".html"));

    // The first gallery line; "Client Error" lines before it mean the folder does not exist.
    std::string Line;
    bool ErrorSeen = false;
    bool found = false;
    while (lines.Next(Line)) {
        if (Contains(Line, "Client Error")) {
            Host.Log("** ERROR - i can't find this folder ID.  Please check the folder ID.");
            ErrorSeen = true;
        }
        if (Contains(Line, "/cgi-bin/gallery.cgi?") || EndMarker(Line)) {
            found = true;
            break;
        }
    }
    if (ErrorSeen)
        return;
    if (!found || EndMarker(Line)) {
        Host.Log("** ERROR - i can't find this user directory.  Please check the USER ID.");
        return;
    }

    std::string SubPath;
    bool pictureListDone = false;
    for (;;) {
        if (Host.Cancelled()) {
            Host.Log("Cancel button pressed, download stopped.");
            return;
        }
        Host.ProcessMessages();

        if (Contains(Line, "\">Up</A></CODE></TD></TD>")) {
            // The link to the parent folder.
        } else if (Contains(Line, "/cgi-bin/gallery.cgi?f=") && !Contains(Line, "Upload") &&
                   !Contains(Line, "&n=")) {
            std::string FolderRef = Line;
            Delete(FolderRef, 1, Pos("/cgi-bin/", Line));
            FolderRef = KeepBefore(FolderRef, "\"><");
            const std::string Thumb =
                KeepBefore(KeepBefore(DropThrough(Line, "SRC="), "><"), "/thumb/");
            SubPath = ReplaceAll(Thumb, "/", "\\");
            const std::string FolderID = DropThrough(FolderRef, "=");
            const std::string url = SiteUrl("/" + FolderRef);
            // A folder that lists one of the folders being walked above it would be walked
            // again inside itself, without end.
            if (!PageOpen(url)) {
                Host.Log(url);
                if (SubPath.empty() && !LastFolderName.empty())
                    SubPath = LastFolderName;
                const std::string pageRel = SubPath + "\\" + FolderID + ".html";
                if (SafePlace(SubPath, FolderID + ".html")) {
                    MakeLocalDirs(Host.Destination(), SubPath);
                    // A folder whose page does not come is skipped alone; its siblings further
                    // down this page are still backed up.
                    if (FetchPage(url, Host.Destination() + pageRel)) {
                        OpenPageScope open(*this, url);
                        CrawlFolder(Host.Destination() + SubPath + "\\", FolderID);
                        LastFolderName = SubPath;
                    }
                }
            }
        } else if (Contains(Line, "/cgi-bin/gallery.cgi?i=") || Contains(Line, "_thumb.")) {
            const std::string Thumb =
                KeepThroughSlashOf(KeepBefore(DropThrough(Line, "SRC="), "><"), "/thumb/");
            ScanImagePage(Thumb);
            pictureListDone = true;
        } else if (Contains(Line, "Next</B></A>")) {
            Line = DropThroughPlusOne(Line, "<A HREF=\"");
            const std::string NextRef = KeepBefore(Line, "\">");
            const std::string PageNo = KeepBefore(DropThroughPlusOne(Line, "&n"), "\"");
            const std::string url = SiteUrl("/" + NextRef);
            const std::string pageRel = SubPath + "\\temp" + PageNo + ".html";
            if (PageOpen(url) || !SafePlace(SubPath, "temp" + PageNo + ".html"))
                return;
            if (!FetchPage(url, Host.Destination() + pageRel))
                return;
            {
                OpenPageScope open(*this, url);
                CrawlFolder(Host.Destination() + SubPath + "\\", "temp" + PageNo);
            }
            LastFolderName = SubPath;
        }

        if (!lines.Next(Line) || EndMarker(Line) || pictureListDone)
            return;
    }
}
