// The fixture gallery site's pages, read with the engine's own cut rules: what the crawl and the
// image scan take from each page must be what the model holds.

#include "tests/support/GallerySite.h"
#include "engine/CutRules.h"
#include "engine/TakeLine.h"
#include "tests/support/GalleryMirror.h"
#include "tests/support/GalleryScenarios.h"

#include <gtest/gtest.h>
#include <set>

using namespace fixture;

namespace {

bool Has(std::string_view line, std::string_view marker) {
    return line.find(marker) != std::string_view::npos;
}

bool EndMarker(std::string_view line) {
    return Has(line, "</HTML>") || Has(line, "</html>");
}

// What a listing page walk finds: the crawl's search for the first gallery line, then its
// classification of each line, ending after the picture line, at the end marker, or where the
// page runs out.
struct ListingWalk {
    std::vector<std::string> folderRefs;
    std::vector<std::string> subPaths;
    std::string nextRef;
    std::string pageNo;
    std::string picturePath;
    bool clientError = false;
    bool noGalleryLine = false;
};

ListingWalk WalkListingPage(const std::string& page) {
    ListingWalk walk;
    std::string_view buffer(page);
    buffer = buffer.substr(0, buffer.find('\r'));
    std::string line;
    do {
        if (buffer.empty()) {
            walk.noGalleryLine = true;
            return walk;
        }
        TakeLine(buffer, line);
        walk.clientError = walk.clientError || Has(line, "Client Error");
    } while (!Has(line, "/cgi-bin/gallery.cgi?") && !EndMarker(line));
    if (walk.clientError || EndMarker(line)) {
        walk.noGalleryLine = !walk.clientError;
        return walk;
    }
    for (;;) {
        if (Has(line, "\">Up</A></CODE></TD></TD>")) {
        } else if (Has(line, "/cgi-bin/gallery.cgi?f=") && !Has(line, "Upload") &&
                   !Has(line, "&n=")) {
            walk.folderRefs.push_back(KeepBefore(line.substr(line.find("/cgi-bin/") + 1), "\"><"));
            walk.subPaths.push_back(
                KeepBefore(KeepBefore(DropThrough(line, "SRC="), "><"), "/thumb/"));
        } else if (Has(line, "/cgi-bin/gallery.cgi?i=") || Has(line, "_thumb.")) {
            walk.picturePath =
                KeepThroughSlashOf(KeepBefore(DropThrough(line, "SRC="), "><"), "/thumb/");
            return walk;
        } else if (Has(line, "Next</B></A>")) {
            const std::string rest = DropThroughPlusOne(line, "<A HREF=\"");
            walk.nextRef = KeepBefore(rest, "\">");
            walk.pageNo = KeepBefore(DropThroughPlusOne(rest, "&n"), "\"");
        }
        if (buffer.empty())
            return walk;
        TakeLine(buffer, line);
        if (EndMarker(line))
            return walk;
    }
}

// What the image scan takes from a thumbnail page: the redirect target, or the ALT names of
// the picture lines and the next link after the first thumbnail.
struct ThumbWalk {
    std::string redirect;
    std::vector<std::string> names;
    std::string nextRef;
};

ThumbWalk WalkThumbPage(const std::string& page) {
    ThumbWalk walk;
    std::string_view buffer(page);
    buffer = buffer.substr(0, buffer.find('\r'));
    if (Has(buffer, "this.location.replace")) {
        walk.redirect = KeepBefore(DropThrough(buffer, "('"), "')");
        return walk;
    }
    if (!Has(buffer, "_thumb.jpg"))
        return walk;
    std::string line;
    do
        TakeLine(buffer, line);
    while (!Has(line, "_thumb.jpg"));
    for (;;) {
        if (Has(line, "Next</B></A>")) {
            line = DropThroughPlusOne(line, "<A HREF=\"");
            walk.nextRef = KeepBefore(line, "\">");
        }
        if (Has(line, "_thumb.jpg") && !Has(line, "cgi?f") && Has(line, "SRC=/gallery/"))
            walk.names.push_back(KeepBefore(DropThrough(line, "ALT=\""), "\""));
        if (buffer.empty())
            return walk;
        TakeLine(buffer, line);
        if (EndMarker(line))
            return walk;
    }
}

std::string UrlA(const std::string& path) {
    return "http://" + kHostA + path;
}

// A page as the engine gets it: accepted by its first line, stored with LF-only line ends.
std::string FetchPage(const GallerySite& site, const std::string& path) {
    const Fetched fetched = FetchFrom(site.Port(), UrlA(path));
    EXPECT_EQ(fetched.status, 200) << path;
    EXPECT_TRUE(fetched.complete) << path;
    const std::string first = fetched.body.substr(0, fetched.body.find('\r'));
    EXPECT_TRUE(Has(first, "<html>") || Has(first, "this.location.replace")) << path;
    EXPECT_EQ(fetched.body.find('\r'), std::string::npos) << path;
    return fetched.body;
}

std::vector<std::string> NamesOf(const Folder& folder, size_t first, size_t count) {
    std::vector<std::string> names;
    for (size_t i = first; i < first + count; ++i)
        names.push_back(folder.Pictures().at(i).name);
    return names;
}

// The whole site walked with the cut rules, pictures fetched and hashed, as a correct engine
// on a healthy site would (no faults in the model).
class ReferenceCrawl {
public:
    explicit ReferenceCrawl(const GallerySite& site) : site_(site) {}

    void Listing(const std::string& path) {
        const ListingWalk walk = WalkListingPage(FetchPage(site_, path));
        for (const std::string& ref : walk.folderRefs) {
            const std::string id = DropThrough(ref, "=");
            if (open_.insert(id).second) {
                Listing("/" + ref);
                open_.erase(id);
            }
        }
        if (!walk.nextRef.empty())
            Listing("/" + walk.nextRef);
        if (!walk.picturePath.empty())
            Pictures(walk.picturePath);
    }

    Mirror mirror;
    size_t pages = 0;

private:
    void Pictures(const std::string& folderPath) {
        ThumbWalk walk = WalkThumbPage(FetchPage(site_, folderPath));
        if (!walk.redirect.empty())
            walk = WalkThumbPage(FetchPage(site_, walk.redirect));
        for (;;) {
            for (const std::string& name : walk.names) {
                if (HostileName(name))
                    continue;
                const Fetched picture = FetchFrom(site_.Port(), UrlA(folderPath + name));
                EXPECT_EQ(picture.status, 200) << name;
                mirror[folderPath.substr(1) + name] = ContentHash(picture.body);
            }
            if (walk.nextRef.empty())
                return;
            walk = WalkThumbPage(FetchPage(site_, "/" + walk.nextRef));
        }
    }

    const GallerySite& site_;
    std::set<std::string> open_;
};

} // namespace

TEST(GallerySite, EveryPageShapeYieldsWhatTheModelHolds) {
    GalleryModel model;
    Member& member = model.AddMember("pelmark").SetFoldersPerPage(2);
    Folder& trip = member.AddFolder("Trip", "77154");
    trip.SetFoldersPerPage(2).AddPictures(7, 100).SetPicturesPerPage(3);
    trip.AddFolder("Day1", "501");
    trip.AddFolder("Day2", "502").AddFolder("Night", "503");
    trip.AddFolder("Day3", "504");
    member.AddFolder("Moved", "600").SetRedirect().AddPictures(2, 100);
    member.AddFolder("Evil", "700");
    AddHostilePictures(*model.FindFolder("700"));
    GallerySite site(model);

    struct Case {
        std::string path;
        std::vector<std::string> refs;
        std::vector<std::string> subPaths;
        std::string nextRef;
        std::string pageNo;
        std::string picturePath;
    };
    const Case listings[] = {
        {"/cgi-bin/gallery.cgi?m=pelmark",
         {"cgi-bin/gallery.cgi?f=77154", "cgi-bin/gallery.cgi?f=600"},
         {"/gallery/pelmark/Trip", "/gallery/pelmark/Moved"},
         "cgi-bin/gallery.cgi?m=pelmark&n=1",
         "1",
         ""},
        {"/cgi-bin/gallery.cgi?m=pelmark&n=1",
         {"cgi-bin/gallery.cgi?f=700"},
         {"/gallery/pelmark/Evil"},
         "",
         "",
         ""},
        // The Up line is passed over; the picture line comes after the Next line.
        {"/cgi-bin/gallery.cgi?f=77154",
         {"cgi-bin/gallery.cgi?f=501", "cgi-bin/gallery.cgi?f=502"},
         {"/gallery/pelmark/Trip/Day1", "/gallery/pelmark/Trip/Day2"},
         "cgi-bin/gallery.cgi?f=77154&n=1",
         "1",
         "/gallery/pelmark/Trip/"},
        {"/cgi-bin/gallery.cgi?f=77154&n=1",
         {"cgi-bin/gallery.cgi?f=504"},
         {"/gallery/pelmark/Trip/Day3"},
         "",
         "",
         ""},
        {"/cgi-bin/gallery.cgi?f=502",
         {"cgi-bin/gallery.cgi?f=503"},
         {"/gallery/pelmark/Trip/Day2/Night"},
         "",
         "",
         ""},
        {"/cgi-bin/gallery.cgi?f=600", {}, {}, "", "", "/gallery/pelmark/Moved/"},
    };
    for (const Case& c : listings) {
        SCOPED_TRACE(c.path);
        const ListingWalk walk = WalkListingPage(FetchPage(site, c.path));
        EXPECT_FALSE(walk.clientError);
        EXPECT_FALSE(walk.noGalleryLine);
        EXPECT_EQ(walk.folderRefs, c.refs);
        EXPECT_EQ(walk.subPaths, c.subPaths);
        EXPECT_EQ(walk.nextRef, c.nextRef);
        EXPECT_EQ(walk.pageNo, c.pageNo);
        EXPECT_EQ(walk.picturePath, c.picturePath);
    }
    EXPECT_EQ(trip.ThumbPath(1), "/cgi-bin/gallery.cgi?f=77154&n=2");

    // Thumbnail pages continue the folder's page numbers after its listing pages.
    struct ThumbCase {
        std::string path;
        std::vector<std::string> names;
        std::string nextRef;
        std::string redirect;
    };
    const Folder& moved = *model.FindFolder("600");
    const Folder& evil = *model.FindFolder("700");
    const ThumbCase thumbs[] = {
        {"/gallery/pelmark/Trip/", NamesOf(trip, 0, 3), "cgi-bin/gallery.cgi?f=77154&n=2", ""},
        {"/cgi-bin/gallery.cgi?f=77154&n=2", NamesOf(trip, 3, 3), "cgi-bin/gallery.cgi?f=77154&n=3",
         ""},
        {"/cgi-bin/gallery.cgi?f=77154&n=3", NamesOf(trip, 6, 1), "", ""},
        {"/gallery/pelmark/Moved/", {}, "", "/gallery/pelmark/Moved/real/"},
        {"/gallery/pelmark/Moved/real/", NamesOf(moved, 0, 2), "", ""},
        {"/gallery/pelmark/Evil/", NamesOf(evil, 0, 7), "", ""},
    };
    for (const ThumbCase& c : thumbs) {
        SCOPED_TRACE(c.path);
        const ThumbWalk walk = WalkThumbPage(FetchPage(site, c.path));
        EXPECT_EQ(walk.names, c.names);
        EXPECT_EQ(walk.nextRef, c.nextRef);
        EXPECT_EQ(walk.redirect, c.redirect);
    }
    EXPECT_EQ(evil.Pictures()[1].name, "../evil.jpg");

    // Pictures come at the folder path + name, hostile names included, with their bytes.
    for (const std::string name : {"pic001.jpg", "../evil.jpg", "/etc/x.jpg", "a\\b.jpg"}) {
        const Folder& folder = name == "pic001.jpg" ? trip : evil;
        const Fetched picture = FetchFrom(site.Port(), UrlA(folder.PicturePath(name)));
        EXPECT_EQ(picture.status, 200) << name;
        EXPECT_EQ(picture.body, folder.FindPicture(name)->Content()) << name;
    }
}

TEST(GallerySite, ACrawlByTheCutRulesMirrorsTheExpectedTree) {
    GalleryModel model;
    Member& member = model.AddMember("walker").SetFoldersPerPage(3);
    Folder& top = member.AddFolder("top").SetFoldersPerPage(1).AddPictures(5, 300);
    top.SetPicturesPerPage(2);
    top.AddFolder("one").AddPictures(2, 10).AddFolder("two").AddFolder("three").AddPictures(1, 7);
    top.AddFolder("other").AddPicture("clip.avi", 50).SetRedirect();
    member.AddFolder("plain").AddPicture("a.jpg", 1000);
    model.FindFolder(top.Entries()[0]->Entries()[0]->Id())->LinkTo(top); // a cycle
    AddDeepFolders(member, "deep", 50);
    AddLongListingMember(model, "long", 2000, 0);
    AddBenchMember(model, "bench", 4, 5, 64, 2, 3);

    GallerySite site(model);
    for (const char* user : {"walker", "long", "bench"}) {
        SCOPED_TRACE(user);
        const Member& start = *model.FindMember(user);
        ReferenceCrawl crawl(site);
        crawl.Listing(start.ListingPath());
        const Mirror expected = ExpectedMirror(model, start);
        EXPECT_EQ(crawl.mirror, expected);
        for (const auto& [path, hash] : expected)
            EXPECT_NE(path.find("gallery/" + std::string(user) + "/"), std::string::npos);
    }
    EXPECT_EQ(ExpectedMirror(model, member).size(), 5u + 2 + 1 + 1 + 1 + 50);
    EXPECT_EQ(site.Hits(member.ListingPath(0)), 1u);
    // Every listing page of the long member was asked for once, the last one too.
    EXPECT_EQ(site.Hits(model.FindMember("long")->ListingPath(1999)), 1u);
    EXPECT_EQ(site.Hits(model.FindMember("long")->ListingPath(2000)), 0u);
}
