// Records every regular file under a directory in its backup record, as a job that stored them
// would, and writes the checksum list: a record for the verify benchmark's large files, which
// no gallery serves.
//
//   recordtree DIR

#include "record/BackupRecord.h"
#include "record/Sha256.h"

#include <cstdio>
#include <ctime>
#include <filesystem>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: recordtree DIR\n");
        return 2;
    }
    namespace fs = std::filesystem;
    const fs::path root = argv[1];
    try {
        auto record = TBackupRecord::Open(root.string(), true);
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            const std::string path = fs::relative(entry.path(), root).generic_string();
            if (!entry.is_regular_file() || path.starts_with(".vantrel/"))
                continue;
            record->Stored({path, "file://" + path, entry.file_size(),
                            TSha256::OfFile(entry.path().string()), "", "", std::time(nullptr),
                            std::time(nullptr), TRecordState::Whole});
        }
        record->WriteChecksumList();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "recordtree: %s\n", error.what());
        return 1;
    }
    return 0;
}
