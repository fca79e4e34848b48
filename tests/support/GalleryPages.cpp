#include "tests/support/GalleryPages.h"

#include "tests/support/GalleryModel.h"

#include <cctype>

namespace fixture {

namespace {

const char kCgi[] = "/cgi-bin/gallery.cgi?";

std::string Head(const std::string& title) {
    return "<html>\n<head><title>" + title + "</title></head>\n<body bgcolor=\"#ffffff\">\n";
}

const char kTail[] = "</body>\n</html>\n";

// A folder's page as the site sends it: in upper case tags when the folder asks for that.
std::string Spelled(const Folder* folder, std::string page) {
    if (folder == nullptr || !folder->quirks.upperCase)
        return page;
    for (const char* tag : {"<html>", "</html>"})
        for (size_t at = page.find(tag); at != std::string::npos; at = page.find(tag, at + 1))
            for (size_t i = 0; tag[i] != '\0'; ++i)
                page[at + i] = char(std::toupper((unsigned char)tag[i]));
    return page;
}

// The stem the site gives a picture's thumbnail: the name before its extension, with the
// characters that would end the attribute or the tag made harmless.
std::string ThumbStem(const std::string& name) {
    std::string stem = name.substr(0, name.rfind('.'));
    for (char& c : stem)
        if (c == '"' || c == '<' || c == '>' || c == ' ' || c == '\0')
            c = '_';
    return stem;
}

std::string WithoutFinalSlash(const std::string& path) {
    return path.empty() ? path : path.substr(0, path.size() - 1);
}

std::string NextLine(const std::string& target) {
    return "<TR><TD><A HREF=\"" + target + "\"><B>Next</B></A></TD></TR>\n";
}

} // namespace

std::string ListingPage(const Listing& listing, int page) {
    const auto* folder = dynamic_cast<const Folder*>(&listing);
    std::string body = Head(folder ? folder->Name() : listing.User() + "'s galleries");
    body += "<H2>" + (folder ? folder->Name() : listing.User()) + "</H2>\n<TABLE>\n";
    if (folder) {
        const std::string up = folder->Parent() ? folder->Parent()->ListingPath()
                                                : std::string(kCgi) + "m=" + folder->User();
        body += "<TR><TD><CODE><A HREF=\"" + up + "\">Up</A></CODE></TD></TD></TR>\n";
    }
    for (const Folder* sub : listing.EntriesOnPage(page))
        body += "<TR><TD><A HREF=\"" + sub->ListingPath() +
                "\"><IMG SRC=" + WithoutFinalSlash(sub->SitePath()) +
                "/thumb/folder.gif></A></TD><TD>" + sub->Name() + "</TD></TR>\n";
    if (const Folder* target = folder && page == 0 ? folder->quirks.upload : nullptr)
        body += "<TR><TD><A HREF=\"" + target->ListingPath() +
                "\"><IMG SRC=" + WithoutFinalSlash(target->SitePath()) +
                "/thumb/up.gif> Upload here</A></TD></TR>\n";
    if (page + 1 < listing.ListingPages())
        body += NextLine(listing.ListingPath(page + 1));
    else if (folder && folder->quirks.listingLoop >= 0)
        body += NextLine(listing.ListingPath(folder->quirks.listingLoop));
    // The crawl leaves a page after its first picture line, so it comes last.
    if (folder && page == 0 && !folder->Pictures().empty())
        body += "<TR><TD><A HREF=\"" + std::string(kCgi) + "i=" + folder->Id() +
                "\"><IMG SRC=" + folder->SitePath() + (folder->quirks.noThumbDir ? "" : "thumb/") +
                ThumbStem(folder->Pictures().front().name) + "_thumb.jpg></A></TD><TD>" +
                std::to_string(folder->Pictures().size()) + " pictures</TD></TR>\n";
    return Spelled(folder, body + "</TABLE>\n" + kTail);
}

std::string ThumbPage(const Folder& folder, int page) {
    std::string body = Head(folder.Name() + " - page " + std::to_string(page + 1));
    body += "<H2>" + folder.Name() + "</H2>\n<TABLE><TR>\n";
    const auto& pictures = folder.Pictures();
    const size_t per =
        folder.PicturesPerPage() > 0 ? size_t(folder.PicturesPerPage()) : pictures.size();
    const size_t first = size_t(page) * per;
    for (size_t i = first; i < pictures.size() && i < first + per; ++i) {
        const std::string& name = pictures[i].name;
        body += "<TD><A HREF=\"" + folder.PicturePath(name) + "\"><IMG SRC=" + folder.SitePath() +
                "thumb/" + ThumbStem(name) + "_thumb.jpg ALT=\"" + name + "\"></A></TD>\n";
    }
    body += "</TR></TABLE>\n";
    const int next = page + 1 < folder.ThumbPages() ? page + 1 : folder.quirks.thumbLoop;
    if (next >= 0)
        body += "<A HREF=\"" + folder.ThumbPath(next) + "\"><B>Next</B></A>\n";
    return Spelled(&folder, body + kTail);
}

std::string RedirectPage(const std::string& target) {
    return "<script>this.location.replace('" + target + "')</script>\n";
}

std::string ClientErrorLine() {
    return "<H1>Client Error</H1>\n";
}

std::string ClientErrorPage() {
    return Head("Client Error") + ClientErrorLine() + "<P>There is no folder with this ID.</P>\n" +
           kTail;
}

// The two pages below do not echo what was asked for: a request holding a page marker would
// otherwise turn them into pages with links.
std::string NoMemberPage() {
    return Head("No such member") + "<P>There is no member with this user ID.</P>\n" + kTail;
}

std::string NotFoundPage() {
    return Head("404 Not Found") + "<H1>Not Found</H1>\n<P>Nothing is here.</P>\n" + kTail;
}

std::string LoginPage(const std::string& user, bool welcome) {
    return Head("Login") +
           (welcome ? "<P>Welcome back, " + user + ".</P>\n"
                    : std::string("<P>Wrong user name or password.</P>\n")) +
           kTail;
}

} // namespace fixture
