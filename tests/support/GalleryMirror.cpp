#include "tests/support/GalleryMirror.h"

#include "tests/support/GalleryModel.h"

#include <QCryptographicHash>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace fixture {

std::string ContentHash(std::string_view bytes) {
    return QCryptographicHash::hash(QByteArrayView(bytes.data(), qsizetype(bytes.size())),
                                    QCryptographicHash::Sha1)
        .toHex()
        .toStdString();
}

Mirror HashTree(const std::string& root) {
    namespace fs = std::filesystem;
    Mirror tree;
    if (!fs::is_directory(root))
        return tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        const auto& entry = *it;
        // The backup record's own folder at the root is the program's, not the mirror's.
        if (it.depth() == 0 && entry.path().filename() == ".vantrel") {
            it.disable_recursion_pending();
            continue;
        }
        if (!entry.is_regular_file())
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        tree[fs::relative(entry.path(), root).generic_string()] = ContentHash(bytes.str());
    }
    return tree;
}

std::vector<std::string> StrayFiles(const std::string& root, const Mirror& expected) {
    std::vector<std::string> stray;
    for (const auto& [path, hash] : HashTree(root))
        if (!expected.count(path))
            stray.push_back(path);
    return stray;
}

bool HostileName(std::string_view name) {
    // Shaped like the engine's partial files, which a sweep deletes.
    const bool partShaped = name.size() == 22 && name.starts_with(".vantrel-") &&
                            name.ends_with(".part") &&
                            std::all_of(name.begin() + 9, name.begin() + 17,
                                        [](char c) { return std::isalnum((unsigned char)c); });
    return name.empty() || name == "." || name == ".." || name.size() > 255 || partShaped ||
           name.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos;
}

// A mirror path as the file system sees it: doubled separators and "." components name the
// same file as the plain path.
std::string PlainPath(const std::string& path) {
    std::string plain;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string component = path.substr(start, end - start);
        if (!component.empty() && component != ".")
            plain += (plain.empty() ? "" : "/") + component;
        start = end + 1;
    }
    return plain;
}

namespace {

bool Multimedia(const std::string& name) {
    return name.find(".mov") != std::string::npos || name.find(".avi") != std::string::npos ||
           name.find(".mpg") != std::string::npos;
}

// The engine's walk over the model, with only what decides which pictures land on disk.
class Walk {
public:
    explicit Walk(const GalleryModel& model) : model_(model) {}

    void Start(const Listing& start) {
        if (!Fetch(start.ListingPath()))
            return;
        if (const auto* folder = dynamic_cast<const Folder*>(&start))
            open_.insert(folder->Id());
        WalkListing(start, 0);
    }

    Mirror mirror;

private:
    // FetchPage: five attempts, each one more hit of the path; a stalled or cut-off answer is a
    // failed attempt as a refused page is.
    bool Fetch(const std::string& path) {
        // A site that takes no more connections ends the job with an error.
        if (stopped_)
            return false;
        for (int attempt = 0; attempt < 5; ++attempt) {
            const Answer answer = model_.AnswerFor(path, hits_[path]++);
            stopped_ = stopped_ || answer.stopListening;
            if (answer.delivery != Fault::Kind::None && answer.delivery != Fault::Kind::ShortBody &&
                answer.delivery != Fault::Kind::ResetAfterBody &&
                answer.delivery != Fault::Kind::Slow)
                continue;
            const std::string first = answer.body.substr(0, answer.body.find('\r'));
            if (first.find("this.location.replace") != std::string::npos ||
                first.find("<HTML>") != std::string::npos ||
                first.find("<html>") != std::string::npos) {
                body_ = answer.body;
                return true;
            }
        }
        return false;
    }

    // A listing page has links to walk only when it is not an error page.
    bool WalkablePage() const {
        return body_.find("Client Error") == std::string::npos &&
               body_.find("/cgi-bin/gallery.cgi?") != std::string::npos;
    }

    void WalkListing(const Listing& listing, int page) {
        if (!WalkablePage())
            return;
        for (const Folder* sub : listing.EntriesOnPage(page)) {
            // A cycle, or a folder ID that cannot name a page file.
            if (open_.count(sub->Id()) || HostileName(sub->Id()))
                continue;
            if (!Fetch(sub->ListingPath()))
                continue;
            open_.insert(sub->Id());
            WalkListing(*sub, 0);
            open_.erase(sub->Id());
        }
        const auto* folder = dynamic_cast<const Folder*>(&listing);
        if (page + 1 < listing.ListingPages()) {
            if (!Fetch(listing.ListingPath(page + 1)))
                return;
            WalkListing(listing, page + 1);
        } else if (folder && folder->quirks.listingLoop >= 0) {
            return; // a Next back to a page still open ends the page
        }
        if (folder && page == 0 && !folder->Pictures().empty())
            WalkPictures(*folder);
    }

    void WalkPictures(const Folder& folder) {
        // Without "/thumb/" the crawl asks for the site's root, which shows no pictures.
        if (folder.quirks.noThumbDir || !Fetch(folder.ThumbPath()))
            return;
        if (folder.Redirects() && body_.find("this.location.replace") != std::string::npos &&
            !Fetch(folder.RedirectTarget()))
            return;
        const auto& pictures = folder.Pictures();
        const size_t per =
            folder.PicturesPerPage() > 0 ? size_t(folder.PicturesPerPage()) : pictures.size();
        for (int page = 0; page < folder.ThumbPages(); ++page) {
            if (page > 0 && !Fetch(folder.ThumbPath(page)))
                return;
            if (body_.find("_thumb.jpg") == std::string::npos)
                return; // a 404 page: nothing to fetch, no next link
            for (size_t i = page * per; i < pictures.size() && i < (page + 1) * per; ++i)
                Download(folder, pictures[i].name);
        }
    }

    void Download(const Folder& folder, const std::string& name) {
        if (stopped_ || HostileName(name) || (Multimedia(name) && multimediaOff_))
            return;
        const std::string local = PlainPath(folder.LocalPath(name));
        if (mirror.count(local))
            return;
        // As the engine asks for it: bytes that cannot stand in a request line encoded.
        std::string path;
        for (const char c : folder.PicturePath(name)) {
            const auto byte = (unsigned char)c;
            if (byte <= 0x20 || byte >= 0x7F || c == '#' || c == '?') {
                char escape[4];
                std::snprintf(escape, sizeof escape, "%%%02X", byte);
                path += escape;
            } else {
                path += c;
            }
        }
        Answer answer = model_.AnswerFor(path, hits_[path]++);
        stopped_ = answer.stopListening;
        // The redirect's target is the picture.
        if (answer.status == 302)
            answer = model_.AnswerFor(path + "?r", hits_[path + "?r"]++);
        if (answer.status >= 400 ||
            (answer.delivery != Fault::Kind::None && answer.delivery != Fault::Kind::Slow &&
             answer.delivery != Fault::Kind::ResetAfterBody)) {
            multimediaOff_ = true;
            return;
        }
        mirror[local] = ContentHash(answer.body);
    }

    const GalleryModel& model_;
    std::map<std::string, size_t> hits_;
    std::set<std::string> open_;
    std::string body_;
    bool multimediaOff_ = false;
    bool stopped_ = false;
};

} // namespace

Mirror ExpectedMirror(const GalleryModel& model, const Listing& start) {
    Walk walk(model);
    walk.Start(start);
    return walk.mirror;
}

} // namespace fixture
