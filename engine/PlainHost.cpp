#include "engine/PlainHost.h"

#include <QCoreApplication>
#include <QTimer>

TPlainHost::TPlainHost()
    : engine_(std::make_unique<TBackupEngine>(*this)), watchdog_(std::make_unique<QTimer>()) {
    watchdog_->setInterval(1000);
    QObject::connect(watchdog_.get(), &QTimer::timeout, [this] {
        if (engine_->WatchdogTick())
            engine_->NMHTTP1.Cancel();
    });
    watchdog_->start();
    WireWatchdog();
}

void TPlainHost::UseEngine(std::unique_ptr<TBackupEngine> engine) {
    engine_ = std::move(engine);
    WireWatchdog();
}

void TPlainHost::WireWatchdog() {
    engine_->NMHTTP1.OnStatus = [this](TComponent*, const std::string&) {
        engine_->StallCounter = 0;
    };
}

TPlainHost::~TPlainHost() = default;

bool TPlainHost::RunGalleryJob(TBackupEngine::GalleryQuery query, const std::string& id) {
    cancelled = false;
    const bool completed = engine_->RunGalleryJob(query, id);
    if (completed)
        cancelled = true;
    return completed;
}

bool TPlainHost::RunScanJob() {
    cancelled = false;
    const bool completed = engine_->RunScanJob(setNumber);
    if (completed)
        cancelled = true;
    return completed;
}

void TPlainHost::Log(const std::string& message) {
    if (onLog)
        onLog(message);
}

void TPlainHost::ClearLog() {}

void TPlainHost::Status(const std::string& text) {
    if (onStatus)
        onStatus(text);
}

void TPlainHost::ProcessMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TPlainHost::BlockThread(int milliseconds) {
    if (onBlockThread)
        onBlockThread(milliseconds);
    else
        TJobHost::BlockThread(milliseconds);
}

void TPlainHost::StartGetById(const std::string& id) {
    folderId = id;
    RunGalleryJob(TBackupEngine::GalleryQuery::Folder, id);
}

void TPlainHost::StartGetByUser(const std::string& id) {
    userId = id;
    RunGalleryJob(TBackupEngine::GalleryQuery::User, id);
}
