#include "tests/support/GalleryScenarios.h"

namespace fixture {

namespace {

std::string Numbered(const std::string& prefix, int number, int width) {
    std::string digits = std::to_string(number);
    if (int(digits.size()) < width)
        digits.insert(0, size_t(width) - digits.size(), '0');
    return prefix + digits;
}

} // namespace

Member& AddBenchMember(GalleryModel& model, const std::string& user, int folders,
                       int picturesPerFolder, size_t size, int picturesPerPage,
                       int foldersPerPage) {
    Member& member = model.AddMember(user);
    member.SetFoldersPerPage(foldersPerPage);
    for (int i = 1; i <= folders; ++i)
        member.AddFolder(Numbered("folder", i, 2))
            .AddPictures(picturesPerFolder, size)
            .SetPicturesPerPage(picturesPerPage);
    return member;
}

Member& AddLongListingMember(GalleryModel& model, const std::string& user, int pages,
                             int picturesPerFolder, size_t size) {
    Member& member = model.AddMember(user);
    member.SetFoldersPerPage(1);
    for (int i = 1; i <= pages; ++i)
        member.AddFolder(Numbered("f", i, 4)).AddPictures(picturesPerFolder, size);
    return member;
}

Folder& AddDeepFolders(Member& member, const std::string& name, int depth, int picturesPerLevel,
                       size_t size) {
    Folder& top = member.AddFolder(name).AddPictures(picturesPerLevel, size);
    Folder* level = &top;
    for (int i = 2; i <= depth; ++i)
        level = &level->AddFolder(Numbered("d", i, 2)).AddPictures(picturesPerLevel, size);
    return top;
}

Folder& AddHostilePictures(Folder& folder, size_t size) {
    folder.AddPicture("before.jpg", size);
    folder.AddPicture("../evil.jpg", size);
    folder.AddPicture("/etc/x.jpg", size);
    folder.AddPicture("a\\b.jpg", size);
    folder.AddPicture(std::string(296, 'n') + ".jpg", size);
    folder.AddPicture(std::string("nul\0.jpg", 8), size);
    return folder.AddPicture("after.jpg", size);
}

} // namespace fixture
