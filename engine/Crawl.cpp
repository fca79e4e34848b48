#include "engine/BackupEngine.h"
#include "engine/CutRules.h"
#include "engine/LocalDirs.h"
#include "engine/PageScopes.h"
#include "engine/StrUtils.h"
#include "engine/TakeLine.h"
#include "engine/TextFile.h"

#include <memory>
#include <string_view>
#include <vector>

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

// The walk of one listing page: its file (deleted when the walk ends), its lines, the sub-path
// of the last sub-folder found on it, and what is left to do once a page it led to is walked.
struct TBackupEngine::PageWalk {
    PageWalk(const std::string& dir, const std::string& pageName)
        : pageFile(dir + pageName + ".html"), lines(ReadFirstLine(dir + pageName + ".html")) {}

    TransientFile pageFile;
    PageLines lines;
    std::string Line;
    std::string SubPath;
    bool pictureListDone = false;
    // A sub-folder or next page of this page was walked: LastFolderName takes this page's
    // SubPath before the next line is examined.
    bool returningFromLink = false;
};

// The walks still open, innermost last. They live on the heap rather than on the call stack,
// so that a member whose listing runs to thousands of next pages, each walked inside the one
// before, needs no deeper stack than one page; whatever way the crawl ends, every open walk is
// closed from the inside out and its page file deleted.
class TBackupEngine::WalkStack {
public:
    explicit WalkStack(TBackupEngine& engine) : engine_(engine) {}
    ~WalkStack() {
        while (!walks_.empty())
            Pop();
    }
    WalkStack(const WalkStack&) = delete;
    WalkStack& operator=(const WalkStack&) = delete;

    bool Empty() const { return walks_.empty(); }
    PageWalk& Top() { return *walks_.back(); }
    void Push(std::unique_ptr<PageWalk> walk, const std::string& url) {
        engine_.openPages_.push_back(url);
        walks_.push_back(std::move(walk));
    }
    void Pop() {
        walks_.pop_back();
        engine_.openPages_.pop_back();
    }

private:
    TBackupEngine& engine_;
    std::vector<std::unique_ptr<PageWalk>> walks_;
};

// Opens the walk of a fetched page and finds its first gallery line; false (and nothing left
// open) when the page has none.
bool TBackupEngine::OpenWalk(WalkStack& walks, const std::string& Dir, const std::string& PageName,
                             const std::string& url) {
    Host.Status("Finding directories . . .");
    walks.Push(std::make_unique<PageWalk>(Dir, PageName), url);
    PageWalk& walk = walks.Top();

    // "Client Error" lines before the first gallery line mean the folder does not exist.
    bool ErrorSeen = false;
    bool found = false;
    while (walk.lines.Next(walk.Line)) {
        if (Contains(walk.Line, "Client Error")) {
            Host.Log("** ERROR - i can't find this folder ID.  Please check the folder ID.");
            TellStoppedEarly(TStopReason::NoSuchFolder);
            ErrorSeen = true;
        }
        if (Contains(walk.Line, "/cgi-bin/gallery.cgi?") || EndMarker(walk.Line)) {
            found = true;
            break;
        }
    }
    if (!ErrorSeen && (!found || EndMarker(walk.Line))) {
        Host.Log("** ERROR - i can't find this user directory.  Please check the USER ID.");
        TellStoppedEarly(TStopReason::NoSuchMember);
    }
    if (ErrorSeen || !found || EndMarker(walk.Line)) {
        walks.Pop();
        return false;
    }
    return true;
}

void TBackupEngine::CrawlFolder(const std::string& Dir, const std::string& PageName) {
    WalkStack walks(*this);
    // The page's own URL is already marked open by whoever fetched it.
    if (!OpenWalk(walks, Dir, PageName, std::string()))
        return;

    while (!walks.Empty()) {
        PageWalk& walk = walks.Top();
        if (walk.returningFromLink) {
            walk.returningFromLink = false;
            LastFolderName = walk.SubPath;
        } else {
            if (Host.Cancelled()) {
                Host.Log("Cancel button pressed, download stopped.");
                walks.Pop();
                continue;
            }
            Host.ProcessMessages();
            std::string& Line = walk.Line;
            std::string& SubPath = walk.SubPath;

            if (Contains(Line, "\">Up</A></CODE></TD></TD>")) {
                // The link to the parent folder.
            } else if (Contains(Line, "/cgi-bin/gallery.cgi?f=") && !Contains(Line, "Upload") &&
                       !Contains(Line, "&n=")) {
                std::string FolderRef = Line;
                Delete(FolderRef, 1, Pos("/cgi-bin/", Line));
                FolderRef = KeepBefore(FolderRef, "\"><");
                const std::string Thumb =
                    KeepBefore(KeepBefore(DropThrough(Line, "SRC="), "><"), "/thumb/");
                std::string folderSub = ReplaceAll(Thumb, "/", "\\");
                const std::string FolderID = DropThrough(FolderRef, "=");
                const std::string url = SiteUrl("/" + FolderRef);
                // A folder that lists one of the folders being walked above it would be walked
                // again inside itself, without end. A line skipped here, or refused below,
                // leaves the walk as if it were not there: the page's SubPath stays as it was.
                if (!PageOpen(url)) {
                    Host.Log(url);
                    if (folderSub.empty() && !LastFolderName.empty())
                        folderSub = LastFolderName;
                    // A folder whose page does not come is skipped alone; its siblings further
                    // down this page are still backed up.
                    if (SafePlace(folderSub, FolderID + ".html")) {
                        SubPath = folderSub;
                        MakeLocalDirs(Host.Destination(), SubPath);
                        const std::string dir = ScratchDir();
                        const std::string page = ScratchName();
                        if (FetchPage(url, dir + page + ".html")) {
                            walk.returningFromLink = true;
                            OpenWalk(walks, dir, page, url);
                            continue;
                        }
                    }
                }
            } else if (Contains(Line, "/cgi-bin/gallery.cgi?i=") || Contains(Line, "_thumb.")) {
                const std::string Thumb =
                    KeepThroughSlashOf(KeepBefore(DropThrough(Line, "SRC="), "><"), "/thumb/");
                ScanImagePage(Thumb);
                walk.pictureListDone = true;
            } else if (Contains(Line, "Next</B></A>")) {
                Line = DropThroughPlusOne(Line, "<A HREF=\"");
                const std::string NextRef = KeepBefore(Line, "\">");
                const std::string PageNo = KeepBefore(DropThroughPlusOne(Line, "&n"), "\"");
                const std::string url = SiteUrl("/" + NextRef);
                const std::string dir = ScratchDir();
                const std::string page = ScratchName();
                if (PageOpen(url) || !SafePlace(SubPath, "temp" + PageNo + ".html") ||
                    !FetchPage(url, dir + page + ".html")) {
                    walks.Pop();
                    continue;
                }
                walk.returningFromLink = true;
                OpenWalk(walks, dir, page, url);
                continue;
            }
        }

        // The walk of a page ends at its end marker, or with the line after its picture list.
        if (!walk.lines.Next(walk.Line) || EndMarker(walk.Line) || walk.pictureListDone)
            walks.Pop();
    }
}
