#include "engine/BackupEngine.h"
#include "engine/CutRules.h"
#include "engine/DownloadScheduler.h"
#include "engine/LocalDirs.h"
#include "engine/PageScopes.h"
#include "engine/StrUtils.h"
#include "engine/TakeLine.h"
#include "engine/TextFile.h"

#include <map>
#include <set>
#include <string_view>

namespace {

bool Contains(std::string_view text, std::string_view marker) {
    return Pos(marker, text) > 0;
}

// A picture's URL is made of a page's path and an ALT text, which may hold bytes that cannot
// stand in a request line (a blank, control bytes, bytes above ASCII) or would change what it
// names ("#", "?"). Those are percent-encoded; every other byte, "%" included, stays as it is,
// so an ordinary name is asked for exactly as before.
std::string PictureUrlPath(std::string_view path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(path.size());
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || c == '#' || c == '?') {
            encoded += '%';
            encoded += hex[byte >> 4];
            encoded += hex[byte & 0x0F];
        } else {
            encoded += c;
        }
    }
    return encoded;
}

} // namespace

// Each thumbnail page names the next one; the pages are taken one after the other in a loop
// rather than by a call per page, so a folder of thousands of pages needs no deeper stack, and
// a page that links back to an earlier one ends the folder instead of going round for ever.
void TBackupEngine::ScanImagePage(const std::string& firstPath) {
    std::set<std::string> pagesSeen;
    // What the folder's pages list, by local folder (relative path: its local folder and the
    // names): once every page came (none given up, no cancel), a recorded file they did not
    // name is gone from the site.
    std::map<std::string, std::pair<std::string, std::set<std::string>>> listed;
    const auto walkedWhole = [&] {
        if (!Host.Cancelled())
            for (const auto& [dir, names] : listed)
                MarkGone(names.first, names.second);
    };
    for (std::string Path = firstPath;;) {
        // A page that leads back to one seen ends the walk: all its pages were seen.
        if (!pagesSeen.insert(Path).second) {
            walkedWhole();
            return;
        }
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
        if (!SafePlace(LocalSub, "temp" + PageNo + ".htm"))
            return;
        // The folder is made even when its pages hold no picture, so the mirror keeps the
        // site's layout.
        MakeLocalDirs(Host.Destination(), LocalSub);
        const std::string pageFile = ScratchDir() + ScratchName() + ".htm";
        if (!FetchPage(SiteUrl(Path), pageFile))
            return;
        TransientFile pageScope(pageFile);
        if (CgiPos > 0)
            Path = ReplaceAll(LocalSub, "\\", "/");
        const std::string localDir = Host.Destination() + ReplaceAll(Path, "/", "\\");
        auto& listedHere =
            listed.try_emplace(RelativePath(localDir, ""), localDir, std::set<std::string>{})
                .first->second.second;

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
                    const std::string URL = SiteUrl(PictureUrlPath(Path + Name));
                    listedHere.insert(RelativePath(Host.Destination() + pictureSub, Name));
                    if (scheduler_) {
                        // Side by side, the picture's line is written as its download starts; a
                        // cancel while it waits for room ends the page at the next line.
                        if (!scheduler_->Enqueue(Path + Name, Host.Destination() + pictureSub, URL,
                                                 Name))
                            continue;
                    } else {
                        Host.Log(Path + Name);
                        // DownloadFile makes the local folder when a picture is stored in it.
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
        if (NextRef.empty()) {
            walkedWhole();
            return;
        }
        Path += NextRef;
    }
}
