#pragma once

#include "tests/support/GalleryMirror.h"
#include "tests/support/GallerySite.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <unistd.h>

// The program as a process, running jobs without a window: no display, HOME and the
// configuration directory in a scratch directory, and the program itself linked into a scratch
// directory of its own, so that the settings file beside it is the test's and no real one.
class HeadlessTest : public ::testing::Test {
protected:
    struct Result {
        int status = -1;
        std::string out, err;
        qint64 milliseconds = 0;
    };

    void SetUp() override {
        ASSERT_TRUE(scratch_.isValid());
        for (const char* dir : {"bin", "home", "config", "copy"})
            ASSERT_TRUE(QDir().mkpath(scratch_.filePath(QString::fromLatin1(dir))));
        program = scratch_.filePath(QStringLiteral("bin/VantrelBackup"));
        // A hard link keeps the test fast; a copy does where the two trees are apart.
        if (::link(VANTREL_PROGRAM, program.toLocal8Bit().constData()) != 0) {
            ASSERT_TRUE(QFile::copy(QStringLiteral(VANTREL_PROGRAM), program));
        }
        destination = scratch_.filePath(QStringLiteral("copy")).toStdString() + "/";
        settingsFile = scratch_.filePath(QStringLiteral("bin/VantrelBackup.ini")).toStdString();

        environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        environment.insert(QStringLiteral("HOME"), scratch_.filePath(QStringLiteral("home")));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                           scratch_.filePath(QStringLiteral("config")));
    }

    std::string Scratch(const std::string& name) const {
        return scratch_.filePath(QString::fromStdString(name)).toStdString();
    }

    void Serve(const fixture::GalleryModel& siteA, const fixture::GalleryModel& siteB) {
        site = std::make_unique<fixture::GallerySite>(siteA, siteB);
        proxy = "127.0.0.1:" + std::to_string(site->Port());
    }
    void Serve(const fixture::GalleryModel& model) { Serve(model, model); }

    // The options every gallery job of these tests gives, so that no stored setting counts.
    QStringList GalleryOptions(const char* job, const std::string& id) const {
        return {QString::fromLatin1(job),  QString::fromStdString(id),
                QStringLiteral("--dest"),  QString::fromStdString(destination),
                QStringLiteral("--site"),  QStringLiteral("A"),
                QStringLiteral("--proxy"), QString::fromStdString(proxy),
                QStringLiteral("--pause"), QStringLiteral("0")};
    }

    void Start(QProcess& process, const QStringList& arguments) const {
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        ASSERT_TRUE(process.waitForStarted(10000));
    }

    static Result Finish(QProcess& process, int milliseconds = 60000) {
        Result result;
        QElapsedTimer clock;
        clock.start();
        EXPECT_TRUE(process.waitForFinished(milliseconds)) << "the program did not end";
        result.milliseconds = clock.elapsed();
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        result.status = process.exitCode();
        result.out = process.readAllStandardOutput().toStdString();
        result.err = process.readAllStandardError().toStdString();
        return result;
    }

    Result Run(const QStringList& arguments) const {
        QProcess process;
        Start(process, arguments);
        return Finish(process);
    }

    // The summary line the program ends its output with, up to its byte count.
    static std::string Summary(const Result& result) {
        const size_t at = result.out.rfind("Summary: ");
        if (at == std::string::npos)
            return "(no summary in: " + result.out + ")";
        const std::string line = result.out.substr(at, result.out.find('\n', at) - at);
        return line.substr(0, line.find(" ("));
    }

    size_t PictureRequests() const { return site->PictureRequests(); }

    // The bytes of the mirror's files as stored (right once the mirror matches).
    uint64_t StoredBytes(const fixture::Mirror& mirror) const {
        uint64_t bytes = 0;
        for (const auto& entry : mirror)
            bytes += static_cast<uint64_t>(
                QFileInfo(QString::fromStdString(destination + entry.first)).size());
        return bytes;
    }

    QString program;
    std::string destination, settingsFile, proxy;
    QProcessEnvironment environment;
    std::unique_ptr<fixture::GallerySite> site;

private:
    QTemporaryDir scratch_;
};
