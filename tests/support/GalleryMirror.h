#pragma once

// What a backup of a fixture gallery should leave on disk, and what it did leave.
//
//     const fixture::Mirror expected = fixture::ExpectedMirror(model, folder);
//     ... Get by ID into dest ...
//     EXPECT_EQ(fixture::HashTree(dest), expected);
//     EXPECT_EQ(fixture::StrayFiles(dest, expected), std::vector<std::string>{});

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace fixture {

class GalleryModel;
class Listing;

// Relative path with slashes ("gallery/USER/PATH/NAME") -> ContentHash of the file's bytes.
using Mirror = std::map<std::string, std::string>;

// The SHA-1 of bytes in hexadecimal.
std::string ContentHash(std::string_view bytes);

// Every regular file below root, hashed.
Mirror HashTree(const std::string& root);

// The files below root that are not in expected, sorted: page files (*.html, temp*.htm),
// temporary download files, pictures that should not be there.
std::vector<std::string> StrayFiles(const std::string& root, const Mirror& expected);

// The pictures a backup job started at start (a member: Get by User; a folder: Get by ID)
// stores, on a server that has served nothing yet. It walks the site the way the engine does,
// through the model's own answers (faults included):
//  - a page is used when one of five attempts gives a first line (up to its first CR) with
//    "<html>", "<HTML>" or "this.location.replace"; a stalled or cut-off answer is a failed
//    attempt;
//  - a sub-folder whose page is not used is skipped, and its siblings are still walked; a next
//    listing page that is not used ends the walk of the page that links it (on a folder's
//    first listing page the picture line comes after that link, so its pictures are lost), and
//    so does a Next back to an earlier page; a "Client Error" or 404 listing page walks
//    nothing; a link to a folder whose walk is still open (a cycle), or whose ID is no file
//    name, is not followed; "Upload" lines are not followed;
//  - a thumbnail page that is not used ends the folder's pictures there;
//  - a picture answered with 404, a short body or a stall is a failed download: nothing is
//    stored, and every later name holding ".mov", ".avi" or ".mpg" is skipped;
//  - a name that cannot be a file name of its own (empty, ".", "..", a slash, a backslash, a
//    NUL byte, longer than 255 bytes) is skipped.
Mirror ExpectedMirror(const GalleryModel& model, const Listing& start);

// Whether the engine should refuse name as a local file name (the last rule above).
bool HostileName(std::string_view name);

} // namespace fixture
