#pragma once

#include "engine/BackupEngine.h"
#include "engine/JobHost.h"

#include <functional>
#include <memory>
#include <string>

class QTimer;

// A host without a window, for jobs run from the command line, the benchmark and the tests: the
// fields a window would hold are plain members, log lines and statuses go to callbacks, and the
// jobs of a batch list run at once, as a click on an idle window would run them.
class TPlainHost : public TJobHost {
public:
    TPlainHost();
    ~TPlainHost() override;

    TBackupEngine& Engine() { return *engine_; }
    // Replaces the engine (tests use one that records or injects).
    void UseEngine(std::unique_ptr<TBackupEngine> engine);

    // Runs one gallery job as the window's button would: clears the cancel flag first and sets
    // it at the end. True when the job ran to its end.
    bool RunGalleryJob(TBackupEngine::GalleryQuery query, const std::string& id);
    // Get Inst... for the set number in setNumber, the same way.
    bool RunScanJob();

    std::string destination;
    std::string proxyPortText;
    bool cancelled = false;
    bool pauseEnabled = false;
    int pauseSeconds = 4;
    bool loginEnabled = false;
    std::string loginUser, loginPassword;
    // The fields the batch list fills in, as the window's folder and user fields.
    std::string folderId, userId;
    std::string setNumber;

    std::function<void(const std::string&)> onLog;
    std::function<void(const std::string&)> onStatus;
    std::function<void(int milliseconds)> onBlockThread;

    // TJobHost
    void Log(const std::string& message) override;
    void ClearLog() override;
    void Status(const std::string& text) override;
    std::string Destination() const override { return destination; }
    std::string ProxyPortText() const override { return proxyPortText; }
    bool Cancelled() const override { return cancelled; }
    void ProcessMessages() override;
    bool PauseEnabled() const override { return pauseEnabled; }
    int PauseSeconds() const override { return pauseSeconds; }
    void BlockThread(int milliseconds) override;
    bool LoginEnabled() const override { return loginEnabled; }
    std::string LoginUser() const override { return loginUser; }
    std::string LoginPassword() const override { return loginPassword; }
    std::string SetNumberText() const override { return setNumber; }
    void StartGetById(const std::string& id) override;
    void StartGetByUser(const std::string& id) override;

private:
    // The stall watchdog, as the window's clock drives it: every status of the HTTP client is a
    // sign of life, and a watched transfer silent for too many ticks is cancelled.
    void WireWatchdog();

    std::unique_ptr<TBackupEngine> engine_;
    std::unique_ptr<QTimer> watchdog_;
};
