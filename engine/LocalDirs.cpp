#include "engine/LocalDirs.h"

#include "engine/StrUtils.h"
#include "platform/FileSystem.h"

void MakeLocalDirs(const std::string& destination, const std::string& Path) {
    const int N = FieldCount(Path, "\\");
    std::string Dir = destination;
    // Field 0 is always empty, so the first pass tests the destination itself (with a backslash
    // appended) and creates it when it is missing.
    for (int I = 0; I <= N; ++I) {
        Dir += NthField(Path, "\\", I) + "\\";
        if (!platform::DirectoryExists(Dir))
            (void)platform::CreateDir(Dir);
    }
}
