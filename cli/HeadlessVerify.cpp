#include "cli/HeadlessVerify.h"

#include "platform/FileSystem.h"
#include "record/BackupRecord.h"

#include <QCoreApplication>

#include <cstdio>
#include <string>
#include <sys/stat.h>

namespace cli {

namespace {

void Write(std::FILE* stream, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

struct Stopped {};

} // namespace

int RunVerify(const std::string& destination, const std::function<bool()>& stopped, bool progress) {
    std::string root = platform::NativePath(destination);
    if (root.empty() || root.back() != '/')
        root += '/';
    struct stat info {};
    if (::stat((root + kRecordFolder + "/record.sqlite").c_str(), &info) != 0) {
        Write(stderr, "VantrelBackup: No backup record in " + destination + "\n");
        return 2;
    }
    std::unique_ptr<TBackupRecord> record;
    try {
        record = TBackupRecord::Open(destination, false);
    } catch (const ERecordError& error) {
        Write(stderr, "VantrelBackup: Cannot read backup record " + error.Message() + "\n");
        return 2;
    }
    bool shown = false;
    const auto clear = [&] {
        if (shown)
            Write(stderr, "\r\033[K");
        shown = false;
    };
    TVerifyResult result;
    try {
        result = Verify(*record, [&](const std::string& path) {
            QCoreApplication::processEvents();
            if (stopped && stopped())
                throw Stopped{};
            if (progress) {
                Write(stderr, "\r\033[KVerifying " + path.substr(0, 70));
                shown = true;
            }
        });
    } catch (const Stopped&) {
        clear();
        return -1;
    } catch (const ERecordError& error) {
        clear();
        Write(stderr, "VantrelBackup: Cannot read backup record " + error.Message() + "\n");
        return 2;
    }
    clear();
    std::string out;
    for (const std::string& line : VerifyLines(result))
        out += line + "\n";
    Write(stdout, out);
    if (!result.updateError.empty())
        Write(stderr, "VantrelBackup: Cannot update backup record: " + result.updateError + "\n");
    return result.missing + result.damaged > 0 ? 1 : 0;
}

} // namespace cli
