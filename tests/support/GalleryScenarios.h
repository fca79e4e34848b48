#pragma once

// Ready-made galleries of the fixture site for the big and the hostile cases.
//
//     fixture::GalleryModel model;
//     fixture::Member& bench = fixture::AddBenchMember(model, "bench", 40, 50, 20 * 1024);
//     fixture::Member& longList = fixture::AddLongListingMember(model, "longlist", 2000);
//     fixture::Folder& deep = fixture::AddDeepFolders(model.AddMember("deep"), "top", 50);
//     fixture::AddHostilePictures(model.AddMember("evil").AddFolder("f"));

#include "tests/support/GalleryModel.h"

#include <cstddef>
#include <string>

namespace fixture {

// A member with folders top folders (folder01, ...) of picturesPerFolder pictures of size
// bytes each, picturesPerPage thumbnails per thumbnail page and foldersPerPage folders per
// listing page of the member, so both kinds of next page occur.
Member& AddBenchMember(GalleryModel& model, const std::string& user, int folders,
                       int picturesPerFolder, size_t size, int picturesPerPage = 10,
                       int foldersPerPage = 10);

// A member whose listing has one folder per page: pages listing pages, each but the last with
// a Next link, each folder with picturesPerFolder small pictures.
Member& AddLongListingMember(GalleryModel& model, const std::string& user, int pages,
                             int picturesPerFolder = 1, size_t size = 256);

// A chain of depth folders, each the only sub-folder of the one before (name, then d02, d03,
// ...), each with picturesPerLevel small pictures. Returns the top one.
Folder& AddDeepFolders(Member& member, const std::string& name, int depth, int picturesPerLevel = 1,
                       size_t size = 256);

// Pictures whose ALT names must not become local file names: "../evil.jpg", "/etc/x.jpg",
// "a\b.jpg", a name of 300 bytes and one holding a NUL byte, between two good pictures
// (before.jpg and after.jpg).
Folder& AddHostilePictures(Folder& folder, size_t size = 256);

} // namespace fixture
