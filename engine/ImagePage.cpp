#include "engine/BackupEngine.h"
#include "engine/CutRules.h"
#include "engine/DownloadScheduler.h"
#include "engine/LocalDirs.h"
#include "engine/PageScopes.h"
#include "engine/StrUtils.h"
#include "engine/TakeLine.h"
#include "engine/TextFile.h"

#include <set>
#include <string_view>

namespace {

bool Contains(std::string_view text, std::string_view marker) {
    return Pos(marker, text) > 0;
}

} // namespace

// Each thumbnail page names the next one; the pages are taken one after the other in a loop
// rather than by a call per page, so a folder of thousands of pages needs no deeper stack, and
// a page that links back to an earlier one ends the folder instead of going round for ever.
void TBackupEngine::ScanImagePage(const std::string& firstPath) {
    std::set<std::string> pagesSeen;
    for (std::string Path = firstPath; pagesSeen.insert(Path).second;) {
        std::string PageNo;
        if (const int at = Pos("&n=", Path); at > 0)
            PageNo = CopyFrom(Path, at + 3);
        std::string NextRef;
        Host.Status("Getting directory listing . . .");

        std::string LocalSub = ReplaceAll(Path, "/", "\\");
        const int CgiPos = Pos("cgi-bin", LocalSub);
        if (CgiPos > 0) {
            LocalSub = Copy(LocalSub, 1, CgiPos - 1);
            Delete(Path, 1, Pos("/cgi-bin/", Path) - 1);
        }
        const std::string pageName = "temp" + PageNo + ".htm";
        if (!SafePlace(LocalSub, pageName))
            return;
        MakeLocalDirs(Host.Destination(), LocalSub);
        const std::string pageFile = Host.Destination() + LocalSub + pageName;
        if (!FetchPage(SiteUrl(Path), pageFile))
            return;
        TransientFile pageScope(pageFile);
        if (CgiPos > 0)
            Path = ReplaceAll(LocalSub, "\\", "/");

        std::string Buffer = ReadFirstLine(pageFile);
        // One redirect page is followed, into the same page file; a second one is scanned as
        // it is.
        if (Contains(Buffer, "this.location.replace")) {
            const std::string Target = KeepBefore(DropThrough(Buffer, "('"), "')");
            if (!FetchPage(SiteUrl(Target), pageFile))
                return;
            Buffer = ReadFirstLine(pageFile);
        }

        if (Contains(Buffer, "_thumb.jpg")) {
            std::string_view rest = Buffer;
            std::string Line;
            do
                TakeLine(rest, Line);
            while (!Contains(Line, "_thumb.jpg"));
            for (;;) {
                Host.ProcessMessages();
                if (Host.Cancelled()) {
                    Host.Log("Cancel button pressed, download stopped.");
                    return;
                }
                if (Contains(Line, "Next</B></A>")) {
                    Line = DropThroughPlusOne(Line, "<A HREF=\"");
                    NextRef = KeepBefore(Line, "\">");
                }
                if (Contains(Line, "_thumb.jpg") && !Contains(Line, "cgi?f") &&
                    Contains(Line, "SRC=/gallery/")) {
                    Line = DropThrough(Line, "ALT=\"");
                    const std::string Name = KeepBefore(Line, "\"");
                    const std::string pictureSub = ReplaceAll(Path, "/", "\\");
                    const std::string URL = SiteUrl(Path + Name);
                    if (scheduler_) {
                        // Side by side, the picture's line is written as its download starts; a
                        // cancel while it waits for room ends the page at the next line.
                        MakeLocalDirs(Host.Destination(), pictureSub);
                        if (!scheduler_->Enqueue(Path + Name, Host.Destination() + pictureSub, URL,
                                                 Name))
                            continue;
                    } else {
                        Host.Log(Path + Name);
                        MakeLocalDirs(Host.Destination(), pictureSub);
                        DownloadFile(Host.Destination() + pictureSub, URL, Name);
                    }
                }
                // A page that runs out before its end marker ends here, as at the marker.
                if (rest.empty())
                    break;
                TakeLine(rest, Line);
                if (Contains(Line, "</HTML>") || Contains(Line, "</html>"))
                    break;
            }
        }
        // The page file goes before the next page is fetched.
        if (NextRef.empty())
            return;
        Path += NextRef;
    }
}
