#pragma once

// The page texts of the fixture gallery site (GalleryModel.h describes their lines). Every line
// ends with a bare LF, as the site stores them.

#include <string>

namespace fixture {

class Listing;
class Folder;

std::string ListingPage(const Listing& listing, int page);
std::string ThumbPage(const Folder& folder, int page);
// A page that only sends the browser to target, the way the site moves a folder.
std::string RedirectPage(const std::string& target);
// The site's answer to a folder ID it does not know.
std::string ClientErrorPage();
// The site's answer to a user ID it does not know: a page without gallery links.
std::string NoMemberPage();
std::string NotFoundPage();
std::string LoginPage(const std::string& user, bool welcome);
// The line a "Client Error" fault puts into a page, just after its <body> line.
std::string ClientErrorLine();

} // namespace fixture
