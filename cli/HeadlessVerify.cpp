#include "cli/HeadlessVerify.h"

#include "cli/HeadlessProgress.h"

#include "record/BackupRecord.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <string>

namespace cli {

namespace {

void Write(std::FILE* stream, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

struct Stopped {};

} // namespace

int RunVerify(const std::string& destination, const std::function<bool()>& stopped, bool progress) {
    if (!TBackupRecord::Exists(destination)) {
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
    // Redrawn at most ten times a second like a job's line, however fast small files go.
    TProgressLine display(nullptr, progress);
    const auto clear = [&] { display.Clear(); };
    TVerifyResult result;
    try {
        QElapsedTimer sinceEvents;
        sinceEvents.start();
        result = Verify(*record, [&](const std::string& path) {
            // A signal's stop and the line's timer are seen a few times a second, not for each
            // of thousands of small files.
            if (sinceEvents.elapsed() < 20)
                return;
            sinceEvents.restart();
            QCoreApplication::processEvents();
            if (stopped && stopped())
                throw Stopped{};
            if (progress)
                display.Status("Verifying " + path);
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
