#include "tests/support/GalleryModel.h"

#include "tests/support/GalleryPages.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <stdexcept>

namespace fixture {

namespace {

const std::string kCgi = "/cgi-bin/gallery.cgi?";

uint64_t Fnv1a(const std::string& text) {
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : text)
        hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

int PagesFor(size_t items, int perPage) {
    if (perPage <= 0 || items == 0)
        return 1;
    return int((items + size_t(perPage) - 1) / size_t(perPage));
}

// The value of key in a query "a=1&b=2" (not decoded), or nothing.
std::optional<std::string> QueryValue(const std::string& query, const std::string& key) {
    size_t start = 0;
    while (start <= query.size()) {
        const size_t end = std::min(query.find('&', start), query.size());
        const std::string pair = query.substr(start, end - start);
        const size_t equals = pair.find('=');
        if (equals != std::string::npos && pair.substr(0, equals) == key)
            return pair.substr(equals + 1);
        start = end + 1;
    }
    return std::nullopt;
}

// A page number of the query: digits only.
std::optional<int> PageNumber(const std::string& text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 0)
        return std::nullopt;
    return value;
}

std::string ContentTypeOf(const std::string& name) {
    const std::string extension = name.substr(std::min(name.rfind('.'), name.size()));
    if (extension == ".jpg" || extension == ".jpeg")
        return "image/jpeg";
    if (extension == ".png")
        return "image/png";
    if (extension == ".gif")
        return "image/gif";
    if (extension == ".avi")
        return "video/x-msvideo";
    if (extension == ".mov")
        return "video/quicktime";
    if (extension == ".mpg")
        return "video/mpeg";
    return "application/octet-stream";
}

// "%XX" escapes decoded; a "%" not followed by two hex digits stays as it is.
std::string PercentDecoded(const std::string& text) {
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit((unsigned char)text[i + 1]) &&
            std::isxdigit((unsigned char)text[i + 2])) {
            decoded += char(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

Answer Html(std::string body, int status = 200) {
    Answer answer;
    answer.status = status;
    answer.body = std::move(body);
    return answer;
}

} // namespace

std::string GeneratedBytes(uint64_t seed, size_t size) {
    std::string bytes(size, '\0');
    uint64_t state = seed;
    for (size_t i = 0; i < size; i += 8) {
        // splitmix64: fast, and every seed gives a different stream.
        uint64_t z = (state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        z ^= z >> 31;
        for (size_t b = 0; b < 8 && i + b < size; ++b)
            bytes[i + b] = char((z >> (8 * b)) & 0xFF);
    }
    return bytes;
}

std::string Picture::Content() const {
    return bytes ? *bytes : GeneratedBytes(seed, size);
}

int Listing::ListingPages() const {
    return PagesFor(entries_.size(), foldersPerPage_);
}

std::vector<Folder*> Listing::EntriesOnPage(int page) const {
    if (foldersPerPage_ <= 0)
        return page == 0 ? entries_ : std::vector<Folder*>{};
    const size_t first = std::min(entries_.size(), size_t(page) * size_t(foldersPerPage_));
    const size_t last = std::min(entries_.size(), first + size_t(foldersPerPage_));
    return {entries_.begin() + long(first), entries_.begin() + long(last)};
}

Folder& Listing::NewFolder(const std::string& name, const std::string& sitePath, std::string id) {
    if (id.empty())
        id = model_.NextId();
    if (model_.foldersById_.count(id) || model_.foldersBySitePath_.count(sitePath))
        throw std::logic_error("fixture gallery: folder " + id + " at " + sitePath +
                               " is there already");
    auto* parent = dynamic_cast<Folder*>(this);
    std::unique_ptr<Folder> folder(new Folder(model_, user_, name, sitePath, id, parent));
    Folder& made = *folder;
    model_.folders_.push_back(std::move(folder));
    model_.foldersById_[made.Id()] = &made;
    model_.foldersBySitePath_[sitePath] = &made;
    entries_.push_back(&made);
    return made;
}

Folder::Folder(GalleryModel& model, std::string user, std::string name, std::string sitePath,
               std::string id, Folder* parent)
    : Listing(model, std::move(user)), id_(std::move(id)), name_(std::move(name)),
      sitePath_(std::move(sitePath)), parent_(parent) {}

const Picture* Folder::FindPicture(const std::string& name) const {
    for (const Picture& picture : pictures_)
        if (picture.name == name)
            return &picture;
    return nullptr;
}

int Folder::ThumbPages() const {
    return PagesFor(pictures_.size(), picturesPerPage_);
}

Folder& Folder::AddFolder(const std::string& name, std::string id) {
    return NewFolder(name, sitePath_ + name + "/", std::move(id));
}

Folder& Folder::AddPicture(const std::string& name, size_t size) {
    Picture picture;
    picture.name = name;
    picture.size = size;
    picture.seed = Fnv1a(sitePath_ + name);
    pictures_.push_back(std::move(picture));
    return *this;
}

Folder& Folder::AddPicture(const std::string& name, std::string bytes) {
    AddPicture(name, bytes.size());
    pictures_.back().bytes = std::move(bytes);
    return *this;
}

Folder& Folder::ChangePicture(const std::string& name, std::string bytes,
                              std::string lastModified) {
    for (Picture& picture : pictures_)
        if (picture.name == name) {
            picture.size = bytes.size();
            picture.bytes = std::move(bytes);
            picture.lastModified = std::move(lastModified);
        }
    return *this;
}

Folder& Folder::RemovePicture(const std::string& name) {
    std::erase_if(pictures_, [&](const Picture& picture) { return picture.name == name; });
    return *this;
}

Folder& Folder::AddPictures(int count, size_t size, const std::string& prefix) {
    const size_t width = std::max<size_t>(3, std::to_string(count).size());
    for (int i = 1; i <= count; ++i) {
        std::string number = std::to_string(i);
        number.insert(0, width - number.size(), '0');
        AddPicture(prefix + number + ".jpg", size);
    }
    return *this;
}

Folder& Folder::SetPicturesPerPage(int n) {
    picturesPerPage_ = n;
    return *this;
}

Folder& Folder::SetFoldersPerPage(int n) {
    foldersPerPage_ = n;
    return *this;
}

Folder& Folder::LinkTo(Folder& other) {
    entries_.push_back(&other);
    return *this;
}

Folder& Folder::SetRedirect(bool on) {
    redirect_ = on;
    return *this;
}

std::string Folder::ListingPath(int page) const {
    return kCgi + "f=" + id_ + (page > 0 ? "&n=" + std::to_string(page) : std::string());
}

std::string Folder::ThumbPath(int page) const {
    if (page == 0)
        return sitePath_;
    return kCgi + "f=" + id_ + "&n=" + std::to_string(ListingPages() - 1 + page);
}

Folder& Member::AddFolder(const std::string& name, std::string id) {
    return NewFolder(name, "/gallery/" + user_ + "/" + name + "/", std::move(id));
}

Member& Member::SetFoldersPerPage(int n) {
    foldersPerPage_ = n;
    return *this;
}

std::string Member::ListingPath(int page) const {
    return kCgi + "m=" + user_ + (page > 0 ? "&n=" + std::to_string(page) : std::string());
}

Member& GalleryModel::AddMember(const std::string& user) {
    if (membersByUser_.count(user))
        throw std::logic_error("fixture gallery: member " + user + " is there already");
    members_.push_back(std::unique_ptr<Member>(new Member(*this, user)));
    membersByUser_[user] = members_.back().get();
    return *members_.back();
}

Member* GalleryModel::FindMember(const std::string& user) const {
    const auto found = membersByUser_.find(user);
    return found == membersByUser_.end() ? nullptr : found->second;
}

Folder* GalleryModel::FindFolder(const std::string& id) const {
    const auto found = foldersById_.find(id);
    return found == foldersById_.end() ? nullptr : found->second;
}

void GalleryModel::SetFault(const std::string& path, Fault fault) {
    faults_[path] = fault;
}

Fault GalleryModel::FaultAt(const std::string& path) const {
    const auto found = faults_.find(path);
    return found == faults_.end() ? Fault{} : found->second;
}

void GalleryModel::SetLogin(const std::string& user, const std::string& password,
                            const std::string& cookie) {
    logins_.push_back({user, password, cookie});
}

Answer GalleryModel::AnswerFor(const std::string& path, size_t previousHits) const {
    Answer answer = Page(path);
    const Fault fault = FaultAt(path);
    switch (fault.kind) {
    case Fault::Kind::None:
        break;
    case Fault::Kind::Reject:
        if (fault.times < 0 || previousHits < size_t(fault.times))
            answer.body.insert(0, "Server busy\r\n");
        break;
    case Fault::Kind::ClientError: {
        const size_t body = answer.body.find("<body");
        const size_t lineEnd = body == std::string::npos ? 0 : answer.body.find('\n', body) + 1;
        answer.body.insert(lineEnd, ClientErrorLine());
        break;
    }
    case Fault::Kind::Truncate: {
        const size_t end = answer.body.rfind("</html>");
        answer.body.resize(end == std::string::npos ? answer.body.size() / 2 : end);
        break;
    }
    case Fault::Kind::NotFound:
        answer = Html(NotFoundPage(), 404);
        break;
    case Fault::Kind::ShortBody:
        answer.delivery = fault.kind;
        break;
    case Fault::Kind::Stall:
    case Fault::Kind::CloseAtOnce:
    case Fault::Kind::CloseAfterNonsense:
    case Fault::Kind::CloseInHeader:
    case Fault::Kind::ResetInBody:
    case Fault::Kind::ResetWithoutLength:
    case Fault::Kind::ResetAfterBody:
        if (fault.times < 0 || previousHits < size_t(fault.times))
            answer.delivery = fault.kind;
        break;
    case Fault::Kind::StopListening:
        answer.stopListening = true;
        break;
    case Fault::Kind::CookieRedirect:
        answer = Html("<html>moved</html>\n", 302);
        answer.headers = "Location: " + path + "?r\r\nSet-Cookie: seen=1\r\n";
        break;
    case Fault::Kind::NoReason:
        if (fault.times == 404)
            answer = Html(NotFoundPage(), 404);
        answer.status = fault.times;
        answer.reasonPhrase = false;
        break;
    case Fault::Kind::Slow:
        answer.delivery = fault.kind;
        answer.slowMilliseconds = fault.times;
        break;
    }
    return answer;
}

Answer GalleryModel::Page(const std::string& path) const {
    if (path.compare(0, kCgi.size(), kCgi) == 0)
        return QueryAnswer(path);
    // A "?" starts a query, as on any web server: "x?y.jpg" unencoded names "x".
    return SitePathAnswer(path.substr(0, path.find('?')));
}

Answer GalleryModel::QueryAnswer(const std::string& path) const {
    const std::string query = path.substr(kCgi.size());
    const auto user = QueryValue(query, "m");
    const auto password = QueryValue(query, "pwd");
    const auto pageText = QueryValue(query, "n");
    const std::optional<int> page = pageText ? PageNumber(*pageText) : std::optional<int>(0);
    if (user && password) {
        for (const Login& login : logins_)
            if (login.user == *user && login.password == *password) {
                Answer answer = Html(LoginPage(*user, true));
                answer.headers = "Set-Cookie: " + login.cookie + "\r\n";
                return answer;
            }
        return Html(LoginPage(*user, false));
    }
    if (user) {
        const Member* member = FindMember(*user);
        if (!member || !page || *page >= member->ListingPages())
            return Html(NoMemberPage());
        return Html(ListingPage(*member, *page));
    }
    const auto id = QueryValue(query, "f");
    const auto imageId = QueryValue(query, "i");
    const Folder* folder = id ? FindFolder(*id) : imageId ? FindFolder(*imageId) : nullptr;
    if (!folder || !page)
        return Html(ClientErrorPage());
    if (imageId && !id) // the picture line's own link, for a browser: the thumbnails
        return Html(ThumbPage(*folder, 0));
    const int listingPages = folder->ListingPages();
    if (*page < listingPages)
        return Html(ListingPage(*folder, *page));
    const int thumbPage = *page - listingPages + 1;
    if (thumbPage < folder->ThumbPages())
        return Html(ThumbPage(*folder, thumbPage));
    return Html(ClientErrorPage());
}

Answer GalleryModel::SitePathAnswer(const std::string& path) const {
    // The longest folder path that leads the request and leaves a known rest: the rest may be
    // a picture name holding slashes ("../evil.jpg").
    for (size_t slash = path.rfind('/'); slash != std::string::npos;
         slash = slash == 0 ? std::string::npos : path.rfind('/', slash - 1)) {
        const auto found = foldersBySitePath_.find(path.substr(0, slash + 1));
        if (found == foldersBySitePath_.end())
            continue;
        const Folder& folder = *found->second;
        const std::string rest = path.substr(slash + 1);
        if (rest.empty())
            return Html(folder.Redirects() ? RedirectPage(folder.RedirectTarget())
                                           : ThumbPage(folder, 0));
        if (folder.Redirects() && path == folder.RedirectTarget())
            return Html(ThumbPage(folder, 0));
        const Picture* picture = folder.FindPicture(rest);
        if (!picture)
            picture = folder.FindPicture(PercentDecoded(rest));
        if (picture) {
            Answer answer;
            answer.contentType = ContentTypeOf(rest);
            answer.body = picture->Content();
            // Each picture's date, as a web server sends it.
            answer.headers = "Last-Modified: " + picture->lastModified + "\r\n";
            return answer;
        }
    }
    return Html(NotFoundPage(), 404);
}

} // namespace fixture
