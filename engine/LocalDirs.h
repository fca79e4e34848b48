#pragma once

#include <string>

// Creates each missing level of destination + Path, where Path is a backslash-separated path
// below the destination (usually starting with a backslash). Levels are tested and made one at a
// time from the destination itself on; a level that cannot be made is passed over, and the file
// written into it later reports the problem. Doubled backslashes in the paths tested are harmless
// because the file layer folds them.
void MakeLocalDirs(const std::string& destination, const std::string& Path);
