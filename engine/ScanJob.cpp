#include "engine/BackupEngine.h"
#include "engine/LocalDirs.h"
#include "engine/PageScopes.h"
#include "engine/Sites.h"
#include "engine/StrUtils.h"
#include "platform/FileSystem.h"

#include <set>

std::string TBackupEngine::ScanPath(const std::string& setNumber) {
    const std::string T = setNumber;
    const std::string F = T.substr(0, 1);
    switch (T.size()) {
    case 3:
        return "\\scans\\00000\\0" + T + "\\";
    case 4:
        return "\\scans\\0" + F + "000\\" + T + "\\";
    case 5:
        return "\\scans\\" + F + "0000\\" + T + "\\";
    default:
        // Six characters or more only come from a stored setting; the archive has no bucket
        // for them.
        return F;
    }
}

bool TBackupEngine::RunScanJob(const std::string& setNumber) {
    ReportScope report(*this, "Get Inst... " + setNumber);
    passiveFallbackLogged_ = false;
    if (!setNumber.empty() && setNumber[0] == '0') {
        Host.Log("Please remove the leading 0 from the set number and try again, download "
                 "stopped.");
        TellStoppedEarly(TStopReason::SetRefused);
        return true;
    }
    if (setNumber.size() < 3) {
        Host.Log("I can't download sets that have less than 3 digits, download stopped.");
        TellStoppedEarly(TStopReason::SetRefused);
        return true;
    }
    const std::string slashPath = ReplaceAll(ScanPath(setNumber), "\\", "/");
    sweptDirs_.clear();
    RecordScope record(*this, false);
    if (NMFTP1.Connected())
        NMFTP1.Disconnect();
    Host.Status("Establishing conection . . .");
    Host.Log(std::string(sites::kInstructionsWebBase) + slashPath);
    NMFTP1.Host = InstructionsFtpHost;
    try {
        NMFTP1.Connect();
    } catch (const std::exception&) {
        // A Cancel that ended a wait of the session stops the job as a Cancel between files
        // does; the session is closed by then.
        if (!Host.Cancelled()) {
            TellStoppedEarly(TStopReason::Error);
            throw;
        }
        Host.Log("Cancel button pressed, download stopped.");
    }
    Host.Status(". . . done getting files");
    if (NMFTP1.Connected())
        NMFTP1.Disconnect();
    return true;
}

void TBackupEngine::NMFTP1Connect() {
    const std::string scanPath = ScanPath(Host.SetNumberText());
    const std::string slashPath = ReplaceAll(scanPath, "\\", "/");
    Host.Status("Changing Directory . . .");
    try {
        NMFTP1.ChangeDirectory("/pub/brick/" + slashPath);
    } catch (const std::exception&) {
        // A refusal leaves the session open; a cancel or a session lost is no answer on the set.
        if (Host.Cancelled() || !NMFTP1.Connected())
            throw;
        Host.Log("Set does not exist, download stopped.");
        TellStoppedEarly(TStopReason::SetNotFound);
        NMFTP1.Disconnect();
        return;
    }
    std::string remoteDir = platform::NativePath("/pub/brick/" + slashPath);
    while (remoteDir.size() > 1 && remoteDir.back() == '/')
        remoteDir.pop_back();
    NMFTP1.ParseList = true;
    NMFTP1.Vendor = 2411;
    Host.Status("Getting Directory Listing . . .");
    NMFTP1.List();

    // The names are copied: a download may not change the listing, but the loop must not
    // depend on it.
    const std::vector<std::string> names = NMFTP1.DirectoryList() != nullptr
                                               ? NMFTP1.DirectoryList()->NameList
                                               : std::vector<std::string>{};
    const std::vector<std::string> dates = NMFTP1.DirectoryList() != nullptr
                                               ? NMFTP1.DirectoryList()->DateList
                                               : std::vector<std::string>{};
    // The listing was read whole: what the set's folder holds that it no longer names is gone.
    if (NMFTP1.DirectoryList() != nullptr) {
        std::set<std::string> listed;
        for (const std::string& name : names)
            listed.insert(RelativePath(Host.Destination() + scanPath, name));
        MarkGone(Host.Destination() + scanPath, listed);
    }
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string& Name = names[i];
        if (Host.Cancelled()) {
            NMFTP1.Disconnect();
            Host.Log("Cancel button pressed, download stopped.");
            break;
        }
        if (Pos("index.htm", Name) > 0)
            continue;
        Host.Log(scanPath + Name);
        listingDate_ = i < dates.size() ? dates[i] : std::string();
        MakeLocalDirs(Host.Destination(), scanPath);
        // The record names a scan by where it is on the archive.
        DownloadFile(Host.Destination() + scanPath, "ftp://" + NMFTP1.Host + remoteDir + "/" + Name,
                     Name);
    }
}
