#pragma once

// A generated gallery site for the engine's end-to-end tests, its benchmark and the demo: the
// members, folders and pictures of one site, the pages it shows for them and the faults it
// plays. GallerySite serves a model over loopback; GalleryMirror says what a correct backup of
// it looks like.
//
//     fixture::GalleryModel model;
//     fixture::Member& member = model.AddMember("pelmark");
//     fixture::Folder& trip = member.AddFolder("Trip").AddPictures(12, 4000).PicturesPerPage(5);
//     trip.AddFolder("Day1").AddPicture("beach.jpg", 2000);
//     model.SetFault(trip.ListingPath(), fixture::Fault::RejectTimes(2));
//
// The pages have LF-only line ends and these lines, in this order:
//  - listing page of a member (?m=USER, ?m=USER&n=K) or a folder (?f=ID, ?f=ID&n=K): "<html>",
//    a folder's Up line to its parent, one line per sub-folder of the page, the Next line of the
//    listing, and on a folder's first listing page only, when it has pictures, one picture line
//    whose thumbnail path leads to the folder's thumbnail page; then the closing lines.
//  - thumbnail page (the folder's site path, such as /gallery/USER/Trip/, and its next pages):
//    a few lines, one line per picture with its name in ALT, the Next line, the closing lines.
//  - picture: its bytes, at the folder's site path + its name.
//
// Both kinds of next page arrive as ?f=ID&n=K. A folder numbers them in one run: K from 1 to
// ListingPages() - 1 are its further listing pages, the numbers after those its further
// thumbnail pages (ThumbPath(k) = ?f=ID&n=ListingPages() - 1 + k). So a folder may have both.
//
// Build the whole model before a server serves it, and change it (faults included) only while
// no request is in flight: the server reads it without a lock.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fixture {

// The Last-Modified date every picture is sent with, and the time it stands for.
inline constexpr const char* kPictureDate = "Sun, 06 Nov 1994 08:49:37 GMT";
inline constexpr long kPictureTime = 784111777;

// What goes wrong with the answer for one path (a page or a picture).
struct Fault {
    enum class Kind {
        None,
        Reject,      // the body starts with "Server busy" CR LF: FetchPage refuses the page
        ClientError, // a "Client Error" line right after <body>, before any gallery link
        Truncate,    // the body ends just before its "</html>"
        NotFound,    // status 404 with an HTML body
        ShortBody,   // Content-Length of the whole body, half of it sent, then the close
        Stall,       // header and a few body bytes, then silence until the client or server quits
        // The close comes before the header is complete: at once, after one line that is no
        // status line, or half-way through the header.
        CloseAtOnce,
        CloseAfterNonsense,
        CloseInHeader,
        Slow, // the whole answer, in twenty pieces spread over `times` milliseconds
        // A reset ends the answer: after half the body (with and without its Content-Length),
        // or after the whole announced body.
        ResetInBody,
        ResetWithoutLength,
        ResetAfterBody,
        // A status line that ends right after its code (`times`); 404 sends the site's error
        // page.
        NoReason,
        // The answer as usual, but from its request on the server takes no new connection.
        StopListening,
        // A 302 to the same path + "?r", setting the cookie "seen=1".
        CookieRedirect,
    };
    Kind kind = Kind::None;
    // Reject, Stall, the Close and the Reset kinds: answers spoiled before the real one; -1
    // spoils every answer.
    int times = 0;

    static Fault RejectTimes(int n) { return {Kind::Reject, n}; }
    static Fault RejectAlways() { return {Kind::Reject, -1}; }
    static Fault ClientError() { return {Kind::ClientError, 0}; }
    static Fault Truncate() { return {Kind::Truncate, 0}; }
    static Fault NotFound() { return {Kind::NotFound, 0}; }
    static Fault ShortBody() { return {Kind::ShortBody, 0}; }
    static Fault Stall(int times = -1) { return {Kind::Stall, times}; }
    static Fault Close(Kind kind, int times = -1) { return {kind, times}; }
    static Fault Slow(int milliseconds) { return {Kind::Slow, milliseconds}; }
    static Fault NoReason(int status) { return {Kind::NoReason, status}; }
    static Fault Of(Kind kind) { return {kind, 0}; }
};

struct Picture {
    std::string name;
    size_t size = 0;
    uint64_t seed = 0;                       // generated content, distinct per site path and name
    std::optional<std::string> bytes;        // given content (the demo's real pictures)
    std::string lastModified = kPictureDate; // sent as Last-Modified

    std::string Content() const;
};

// Deterministic bytes: the same seed and size give the same bytes on every run.
std::string GeneratedBytes(uint64_t seed, size_t size);

class GalleryModel;
class Folder;

// What members and folders share: a listing of sub-folder lines, split into pages.
class Listing {
public:
    virtual ~Listing() = default;
    Listing(const Listing&) = delete;
    Listing& operator=(const Listing&) = delete;

    const std::string& User() const { return user_; }
    // The sub-folder lines in page order: own sub-folders and links added with LinkTo.
    const std::vector<Folder*>& Entries() const { return entries_; }
    int FoldersPerPage() const { return foldersPerPage_; }
    int ListingPages() const;
    // The entries shown on listing page `page` (0 = the first page).
    std::vector<Folder*> EntriesOnPage(int page) const;
    // The path of listing page `page`, as the site links it: /cgi-bin/gallery.cgi?f=ID or
    // ?m=USER, with "&n=" + page for page 1 on.
    virtual std::string ListingPath(int page = 0) const = 0;

protected:
    Listing(GalleryModel& model, std::string user) : model_(model), user_(std::move(user)) {}
    Folder& NewFolder(const std::string& name, const std::string& sitePath, std::string id);

    GalleryModel& model_;
    std::string user_;
    std::vector<Folder*> entries_;
    int foldersPerPage_ = 0; // 0: all on one page
};

class Folder : public Listing {
public:
    const std::string& Id() const { return id_; }
    const std::string& Name() const { return name_; }
    // "/gallery/USER/NAME/", with the parents' names between for a sub-folder.
    const std::string& SitePath() const { return sitePath_; }
    // The parent folder, or nullptr for a member's top folder.
    Folder* Parent() const { return parent_; }
    const std::vector<Picture>& Pictures() const { return pictures_; }
    const Picture* FindPicture(const std::string& name) const;
    bool Redirects() const { return redirect_; }
    int PicturesPerPage() const { return picturesPerPage_; }
    int ThumbPages() const;

    // A sub-folder at SitePath() + name + "/"; an empty id takes the model's next number.
    Folder& AddFolder(const std::string& name, std::string id = {});
    Folder& AddPicture(const std::string& name, size_t size);
    Folder& AddPicture(const std::string& name, std::string bytes);
    // The member uploads the picture again (new bytes, a new date), or takes it off the site.
    Folder& ChangePicture(const std::string& name, std::string bytes, std::string lastModified);
    Folder& RemovePicture(const std::string& name);
    // count pictures prefix001.jpg, prefix002.jpg, ... (the digits as wide as count needs).
    Folder& AddPictures(int count, size_t size, const std::string& prefix = "pic");
    // Thumbnail pages of n pictures each (0: all on one page).
    Folder& SetPicturesPerPage(int n);
    // Listing pages of n sub-folder lines each (0: all on one page).
    Folder& SetFoldersPerPage(int n);
    // One more sub-folder line, leading to another folder: with an ancestor, a cycle.
    Folder& LinkTo(Folder& other);
    // The thumbnail page answers with a this.location.replace page that sends the browser to
    // RedirectTarget(), which shows the thumbnails.
    Folder& SetRedirect(bool on = true);
    // Tricks of a sloppy or hostile site, all off by default.
    struct Quirks {
        int listingLoop = -1;     // the last listing page's Next leads back to this page
        int thumbLoop = -1;       // the last thumbnail page's Next leads back to this page
        Folder* upload = nullptr; // an "Upload" line on the first listing page leads here
        bool upperCase = false;   // the pages say <HTML> and </HTML>
        bool noThumbDir = false;  // the picture line's thumbnail path lacks "/thumb/"
    } quirks;

    std::string ListingPath(int page = 0) const override;
    // Thumbnail page `page`: the site path for page 0, else ?f=ID&n=... (see the top).
    std::string ThumbPath(int page = 0) const;
    std::string RedirectTarget() const { return sitePath_ + "real/"; }
    std::string PicturePath(const std::string& name) const { return sitePath_ + name; }
    // The picture's place in the mirror: the site path without its leading slash + the name.
    std::string LocalPath(const std::string& name) const { return sitePath_.substr(1) + name; }

private:
    friend class Listing;
    Folder(GalleryModel& model, std::string user, std::string name, std::string sitePath,
           std::string id, Folder* parent);

    std::string id_;
    std::string name_;
    std::string sitePath_;
    Folder* parent_;
    std::vector<Picture> pictures_;
    int picturesPerPage_ = 0;
    bool redirect_ = false;
};

class Member : public Listing {
public:
    // A top folder at /gallery/USER/name/; an empty id takes the model's next number.
    Folder& AddFolder(const std::string& name, std::string id = {});
    Member& SetFoldersPerPage(int n);
    std::string ListingPath(int page = 0) const override;

private:
    friend class GalleryModel;
    Member(GalleryModel& model, std::string user) : Listing(model, std::move(user)) {}
};

// One answer of the site, before the server sends it.
struct Answer {
    int status = 200;
    std::string contentType = "text/html";
    std::string headers; // extra header lines, each ending in CR LF
    std::string body;
    Fault::Kind delivery = Fault::Kind::None; // None or the fault that spoils how it is sent
    int slowMilliseconds = 0;                 // Slow: how long the sending takes
    bool reasonPhrase = true;                 // false: the status line ends after the code
    bool stopListening = false;               // no new connection from this request on
};

class GalleryModel {
public:
    GalleryModel() = default;
    GalleryModel(const GalleryModel&) = delete;
    GalleryModel& operator=(const GalleryModel&) = delete;

    Member& AddMember(const std::string& user);
    Member* FindMember(const std::string& user) const;
    Folder* FindFolder(const std::string& id) const;
    const std::vector<std::unique_ptr<Member>>& Members() const { return members_; }

    // The fault for one path exactly as requested (page or picture), such as
    // folder.ListingPath(1), folder.ThumbPath() or folder.PicturePath("a.jpg").
    void SetFault(const std::string& path, Fault fault);
    Fault FaultAt(const std::string& path) const;

    // The login URL /cgi-bin/gallery.cgi?m=USER&pwd=PASSWORD answers with "Set-Cookie: " +
    // cookie for this user and password, and without a cookie for any other.
    void SetLogin(const std::string& user, const std::string& password, const std::string& cookie);

    // The answer for path (origin form, "/cgi-bin/..." or "/gallery/...") when the same host
    // has been asked for it previousHits times before. Unknown folder IDs get a "Client Error"
    // page, unknown members a page without gallery links, other unknown paths a 404.
    Answer AnswerFor(const std::string& path, size_t previousHits) const;

private:
    friend class Listing;
    std::string NextId() { return std::to_string(nextId_++); }
    Answer Page(const std::string& path) const;
    Answer SitePathAnswer(const std::string& path) const;
    Answer QueryAnswer(const std::string& path) const;

    std::vector<std::unique_ptr<Member>> members_;
    std::vector<std::unique_ptr<Folder>> folders_;
    std::map<std::string, Member*> membersByUser_;
    std::map<std::string, Folder*> foldersById_;
    std::map<std::string, Folder*> foldersBySitePath_;
    std::map<std::string, Fault> faults_;
    struct Login {
        std::string user, password, cookie;
    };
    std::vector<Login> logins_;
    int nextId_ = 1001;
};

} // namespace fixture
