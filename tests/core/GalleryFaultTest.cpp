// The fixture gallery site's faults, its request log, and the expected mirror it derives.

#include "tests/support/GalleryMirror.h"
#include "tests/support/GalleryScenarios.h"
#include "tests/support/GallerySite.h"
#include "tests/support/Peers.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>

using namespace fixture;

namespace {

std::string FirstLine(const std::string& body) {
    return body.substr(0, body.find('\r'));
}

bool Has(const std::string& text, const std::string& marker) {
    return text.find(marker) != std::string::npos;
}

size_t ContentLength(const std::string& header) {
    const size_t at = header.find("Content-Length: ");
    return at == std::string::npos ? 0 : std::stoul(header.substr(at + 16));
}

} // namespace

TEST(GallerySite, FaultsAnswerAsConfigured) {
    GalleryModel model;
    Member& member = model.AddMember("m");
    Folder& folder = member.AddFolder("f").AddPictures(3, 1000);
    folder.AddFolder("sub");
    model.SetFault(folder.ListingPath(), Fault::RejectTimes(2));
    model.SetFault(folder.ThumbPath(), Fault::RejectAlways());
    model.SetFault(member.ListingPath(), Fault::ClientError());
    model.SetFault(folder.Entries()[0]->ListingPath(), Fault::Truncate());
    model.SetFault(folder.PicturePath("pic001.jpg"), Fault::NotFound());
    model.SetFault(folder.PicturePath("pic002.jpg"), Fault::ShortBody());
    model.SetFault(folder.PicturePath("pic003.jpg"), Fault::Stall());
    model.SetLogin("m", "secret", "session=42; path=/");
    GallerySite site(model);
    const auto get = [&](const std::string& path, int milliseconds = 10000) {
        return FetchFrom(site.Port(), "http://" + kHostA + path, milliseconds);
    };

    // Rejected twice, then the page; rejected every time.
    for (int attempt = 0; attempt < 3; ++attempt)
        EXPECT_EQ(Has(FirstLine(get(folder.ListingPath()).body), "<html>"), attempt == 2);
    for (int attempt = 0; attempt < 6; ++attempt)
        EXPECT_EQ(FirstLine(get(folder.ThumbPath()).body), "Server busy");

    // "Client Error" before the first gallery link.
    const std::string errorPage = get(member.ListingPath()).body;
    ASSERT_TRUE(Has(errorPage, "Client Error"));
    EXPECT_LT(errorPage.find("Client Error"), errorPage.find("/cgi-bin/gallery.cgi?"));
    EXPECT_TRUE(Has(FirstLine(errorPage), "<html>"));

    // Truncated: the whole body as announced, but no end marker.
    const Fetched truncated = get(folder.Entries()[0]->ListingPath());
    EXPECT_TRUE(truncated.complete);
    EXPECT_EQ(ContentLength(truncated.header), truncated.body.size());
    EXPECT_TRUE(Has(truncated.body, "gallery.cgi?f="));
    EXPECT_FALSE(Has(truncated.body, "</html>"));

    const Fetched missing = get(folder.PicturePath("pic001.jpg"));
    EXPECT_EQ(missing.status, 404);
    EXPECT_TRUE(Has(FirstLine(missing.body), "<html>"));

    const Fetched shortBody = get(folder.PicturePath("pic002.jpg"));
    EXPECT_EQ(shortBody.status, 200);
    EXPECT_TRUE(shortBody.complete);
    EXPECT_EQ(ContentLength(shortBody.header), 1000u);
    EXPECT_EQ(shortBody.body, folder.Pictures()[1].Content().substr(0, 500));

    // A stall: the header and a few bytes, then nothing, until the client gives up.
    const Fetched stalled = get(folder.PicturePath("pic003.jpg"), 300);
    EXPECT_EQ(stalled.status, 200);
    EXPECT_FALSE(stalled.complete);
    EXPECT_EQ(ContentLength(stalled.header), 1000u);
    EXPECT_EQ(stalled.body, folder.Pictures()[2].Content().substr(0, 6));

    // Login: a cookie for the right password only.
    const Fetched login = get("/cgi-bin/gallery.cgi?m=m&pwd=secret");
    EXPECT_TRUE(Has(login.header, "\r\nSet-Cookie: session=42; path=/\r\n"));
    EXPECT_TRUE(Has(FirstLine(login.body), "<html>"));
    EXPECT_FALSE(Has(get("/cgi-bin/gallery.cgi?m=m&pwd=wrong").header, "Set-Cookie"));

    // What the site says to IDs and paths it does not know.
    EXPECT_TRUE(Has(get("/cgi-bin/gallery.cgi?f=999").body, "Client Error"));
    EXPECT_TRUE(Has(get(folder.ListingPath(5)).body, "Client Error"));
    const std::string noUser = get("/cgi-bin/gallery.cgi?m=nobody").body;
    EXPECT_FALSE(Has(noUser, "/cgi-bin/gallery.cgi?"));
    EXPECT_TRUE(Has(noUser, "</html>"));
    EXPECT_EQ(get("/gallery/m/f/nothing.jpg").status, 404);

    // A stalled answer still open when the server stops does not hold it up.
    const size_t before = site.Requests().size();
    std::thread client([&]() { get(folder.PicturePath("pic003.jpg"), 60000); });
    EXPECT_TRUE(site.WaitForRequests(before + 1, 10000));
    site.Stop();
    client.join();
}

TEST(GallerySite, LogTellsTheSitesAndTheFormsApart) {
    GalleryModel modelA;
    modelA.AddMember("m").AddFolder("f", "1").AddPicture("a.jpg", 10);
    GalleryModel modelB;
    modelB.AddMember("m").AddFolder("g", "1").AddPicture("b.jpg", 20);
    GallerySite site(modelA, modelB);
    std::vector<std::string> seen;
    site.OnRequest([&](const Request& request) { seen.push_back(request.url); });

    EXPECT_EQ(FetchFrom(site.Port(), "http://" + kHostA + "/gallery/m/f/a.jpg").body.size(), 10u);
    EXPECT_EQ(FetchFrom(site.Port(), "http://" + kHostB + "/gallery/m/g/b.jpg").body.size(), 20u);
    EXPECT_EQ(FetchFrom(site.Port(), "http://" + kHostB + "/gallery/m/f/a.jpg").status, 404);
    EXPECT_EQ(FetchFrom(site.Port(), "/gallery/m/f/a.jpg").status, 200); // origin form, Host A

    const std::vector<Request> log = site.Requests();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].target, "http://www.vantrelpix.com/gallery/m/f/a.jpg");
    EXPECT_EQ(log[0].site, 'A');
    EXPECT_EQ(log[1].host, kHostB);
    EXPECT_EQ(log[1].site, 'B');
    EXPECT_EQ(log[2].status, 404);
    EXPECT_EQ(log[3].target, "/gallery/m/f/a.jpg");
    EXPECT_EQ(log[3].url, log[0].url);
    EXPECT_EQ(site.Urls(), seen);
    EXPECT_EQ(site.Hits("http://www.vantrelpix.com/gallery/m/f/a.jpg"), 2u);
    EXPECT_EQ(site.Hits("/gallery/m/f/a.jpg"), 3u);
    site.ClearLog();
    EXPECT_EQ(site.Hits("/gallery/m/f/a.jpg"), 0u);
}

// Each case changes one healthy gallery and names the pictures a backup of the member keeps.
// The member lists A and B on its first page, C on its second; B holds sub-folder B1; C shows
// two thumbnails a page, the movie on its second page.
TEST(GalleryMirror, ExpectedMirrorFollowsTheEnginesRules) {
    struct Gallery {
        GalleryModel model;
        Member* member;
        Folder *a, *b, *b1, *c;
    };
    struct Case {
        const char* name;
        std::function<void(Gallery&)> change;
        std::set<std::string> kept;
    };
    const std::set<std::string> all = {"a1.jpg", "a2.jpg", "b1.jpg", "x1.jpg",
                                       "c1.jpg", "c2.jpg", "m.avi",  "c3.jpg"};
    const Case cases[] = {
        {"healthy", [](Gallery&) {}, all},
        {"rejected four times",
         [](Gallery& g) { g.model.SetFault(g.b->ListingPath(), Fault::RejectTimes(4)); }, all},
        {"sub-folder never accepted: its siblings stay",
         [](Gallery& g) { g.model.SetFault(g.b->ListingPath(), Fault::RejectAlways()); },
         {"a1.jpg", "a2.jpg", "c1.jpg", "c2.jpg", "m.avi", "c3.jpg"}},
        {"next listing page never accepted",
         [](Gallery& g) { g.model.SetFault(g.member->ListingPath(1), Fault::RejectAlways()); },
         {"a1.jpg", "a2.jpg", "b1.jpg", "x1.jpg"}},
        {"next thumbnail page never accepted",
         [](Gallery& g) { g.model.SetFault(g.c->ThumbPath(1), Fault::RejectAlways()); },
         {"a1.jpg", "a2.jpg", "b1.jpg", "x1.jpg", "c1.jpg", "c2.jpg"}},
        {"client error",
         [](Gallery& g) { g.model.SetFault(g.b->ListingPath(), Fault::ClientError()); },
         {"a1.jpg", "a2.jpg", "c1.jpg", "c2.jpg", "m.avi", "c3.jpg"}},
        {"failed download stops the movies after it",
         [](Gallery& g) { g.model.SetFault(g.a->PicturePath("a1.jpg"), Fault::NotFound()); },
         {"a2.jpg", "b1.jpg", "x1.jpg", "c1.jpg", "c2.jpg", "c3.jpg"}},
        {"short picture",
         [](Gallery& g) { g.model.SetFault(g.c->PicturePath("c3.jpg"), Fault::ShortBody()); },
         {"a1.jpg", "a2.jpg", "b1.jpg", "x1.jpg", "c1.jpg", "c2.jpg", "m.avi"}},
        {"stalled page gives up its folder only",
         [](Gallery& g) { g.model.SetFault(g.b1->ListingPath(), Fault::Stall()); },
         {"a1.jpg", "a2.jpg", "b1.jpg", "c1.jpg", "c2.jpg", "m.avi", "c3.jpg"}},
        {"cycle", [](Gallery& g) { g.b1->LinkTo(*g.b); }, all},
        {"redirect and truncated pages",
         [](Gallery& g) {
             g.a->SetRedirect();
             g.model.SetFault(g.c->ThumbPath(0), Fault::Truncate());
             g.model.SetFault(g.b->ListingPath(), Fault::Truncate());
         },
         all},
        {"hostile names",
         [](Gallery& g) { AddHostilePictures(*g.b1); },
         {"a1.jpg", "a2.jpg", "b1.jpg", "x1.jpg", "before.jpg", "after.jpg", "c1.jpg", "c2.jpg",
          "m.avi", "c3.jpg"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Gallery g;
        g.member = &g.model.AddMember("m").SetFoldersPerPage(2);
        g.a = &g.member->AddFolder("A").AddPicture("a1.jpg", 10).AddPicture("a2.jpg", 20);
        g.b = &g.member->AddFolder("B").AddPicture("b1.jpg", 30);
        g.b1 = &g.b->AddFolder("B1").AddPicture("x1.jpg", 40);
        g.c = &g.member->AddFolder("C").AddPicture("c1.jpg", 50).AddPicture("c2.jpg", 60);
        g.c->AddPicture("m.avi", 70).AddPicture("c3.jpg", 80).SetPicturesPerPage(2);
        c.change(g);
        std::set<std::string> kept;
        for (const auto& [path, hash] : ExpectedMirror(g.model, *g.member))
            kept.insert(path.substr(path.rfind('/') + 1));
        EXPECT_EQ(kept, c.kept);
    }

    Gallery g;
    Folder& folder = g.model.AddMember("u").AddFolder("f").AddPicture("p.jpg", 33);
    EXPECT_EQ(ExpectedMirror(g.model, folder),
              (Mirror{{"gallery/u/f/p.jpg", ContentHash(folder.Pictures()[0].Content())}}));
}

TEST(GalleryMirror, TreeHashesAndStrayFiles) {
    peers::ScratchDir dir;
    const auto write = [&](const std::string& path, const std::string& bytes) {
        std::filesystem::create_directories(std::filesystem::path(dir.File(path)).parent_path());
        std::ofstream(dir.File(path), std::ios::binary) << bytes;
    };
    write("gallery/u/f/a.jpg", "picture");
    write("gallery/u/f/temp.htm", "<html>");
    write("77154.html", "<html>");
    const Mirror expected = {{"gallery/u/f/a.jpg", ContentHash("picture")}};
    const Mirror tree = HashTree(dir.Path());
    EXPECT_EQ(tree.size(), 3u);
    EXPECT_EQ(tree.at("gallery/u/f/a.jpg"), expected.at("gallery/u/f/a.jpg"));
    EXPECT_EQ(StrayFiles(dir.Path(), expected),
              (std::vector<std::string>{"77154.html", "gallery/u/f/temp.htm"}));
    EXPECT_EQ(ContentHash("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
}
