#pragma once

#include "engine/PlainHost.h"
#include "engine/Sites.h"
#include "tests/support/GalleryMirror.h"
#include "tests/support/GalleryModel.h"
#include "tests/support/GallerySite.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The real engine, without a window, against the fixture gallery site on loopback. The engine
// reaches the site through its proxy setting, as a user behind a proxy would.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        destination = dir_.path().toStdString() + "/backup/";
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(destination)));
        host.destination = destination;
        host.onLog = [this](const std::string& line) { log.push_back(line); };
        host.onStatus = [this](const std::string& text) { statuses.push_back(text); };
        host.onBlockThread = [this](int milliseconds) { blocks.push_back(milliseconds); };
        Engine().SiteWord = sites::kSiteAWord;
    }

    TBackupEngine& Engine() { return host.Engine(); }

    // Serves model (on both site hosts) and points the engine's proxy at it.
    void Serve(const fixture::GalleryModel& model) {
        site = std::make_unique<fixture::GallerySite>(model);
        Engine().NMHTTP1.Proxy = "127.0.0.1";
        Engine().NMHTTP1.ProxyPort = site->Port();
    }

    bool GetById(const std::string& id) {
        return host.RunGalleryJob(TBackupEngine::GalleryQuery::Folder, id);
    }
    bool GetByUser(const std::string& id) {
        return host.RunGalleryJob(TBackupEngine::GalleryQuery::User, id);
    }

    // The backup as it is on disk, and what it should be.
    fixture::Mirror OnDisk() const { return fixture::HashTree(destination); }
    std::vector<std::string> Strays(const fixture::Mirror& expected) const {
        return fixture::StrayFiles(destination, expected);
    }

    size_t LogCount(const std::string& line) const {
        return static_cast<size_t>(std::count(log.begin(), log.end(), line));
    }

    size_t PictureRequests() const { return site->PictureRequests(); }

    QTemporaryDir dir_;
    std::string destination;
    TPlainHost host;
    std::unique_ptr<fixture::GallerySite> site;
    std::vector<std::string> log, statuses;
    std::vector<int> blocks;
};
