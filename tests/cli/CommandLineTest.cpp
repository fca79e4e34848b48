#include "cli/CommandLine.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>
#include <initializer_list>
#include <string>

using cli::CommandAction;
using cli::CommandJob;
using cli::GallerySite;

namespace {

cli::CommandLine Parse(std::initializer_list<const char*> options) {
    QStringList arguments{QStringLiteral("/usr/bin/vantrel-backup")};
    for (const char* option : options)
        arguments.append(QString::fromUtf8(option));
    return cli::ParseCommandLine(arguments);
}

std::string Describe(std::initializer_list<const char*> options) {
    std::string text;
    for (const char* option : options)
        text += std::string(" [") + option + "]";
    return text;
}

} // namespace

// Everything that is not a job: the window (with Qt's own options passed on), help, version.
TEST(CommandLineTest, TellsTheWindowHelpAndVersionApart) {
    struct Case {
        std::initializer_list<const char*> options;
        CommandAction action;
    };
    const Case cases[] = {
        {{}, CommandAction::Window},
        {{"-platform", "offscreen"}, CommandAction::Window},
        {{"--style", "fusion", "-reverse", "-qwindowtitle", "x"}, CommandAction::Window},
        {{"--help"}, CommandAction::Help},
        {{"-h"}, CommandAction::Help},
        {{"--folder", "1", "--help"}, CommandAction::Help},
        {{"--version"}, CommandAction::Version},
        {{"-v"}, CommandAction::Version},
    };
    for (const Case& c : cases) {
        const cli::CommandLine line = Parse(c.options);
        EXPECT_EQ(line.action, c.action) << Describe(c.options) << " " << line.error.toStdString();
        EXPECT_EQ(line.job, CommandJob::None) << Describe(c.options);
    }
}

TEST(CommandLineTest, ReadsAJobAndTheSettingsItOverrides) {
    cli::CommandLine line = Parse({"--folder", "77154"});
    ASSERT_EQ(line.action, CommandAction::Job) << line.error.toStdString();
    EXPECT_EQ(line.job, CommandJob::Folder);
    EXPECT_EQ(line.jobArgument, "77154");
    // Nothing given, nothing overridden: the settings file's values stay in force.
    EXPECT_FALSE(line.destination || line.site || line.proxy || line.pauseSeconds || line.ftpMode);

    line = Parse({"--user=pelmark", "--dest", "/srv/copy dir", "--site", "b", "--proxy",
                  "127.0.0.1:3128", "--pause", "0", "--ftp-mode", "ACTIVE"});
    ASSERT_EQ(line.action, CommandAction::Job) << line.error.toStdString();
    EXPECT_EQ(line.job, CommandJob::User);
    EXPECT_EQ(line.jobArgument, "pelmark");
    EXPECT_EQ(line.destination, QStringLiteral("/srv/copy dir"));
    EXPECT_EQ(line.site, GallerySite::B);
    ASSERT_TRUE(line.proxy);
    EXPECT_EQ(line.proxy->host, "127.0.0.1");
    EXPECT_EQ(line.proxy->port, 3128);
    EXPECT_EQ(line.pauseSeconds, 0);
    EXPECT_EQ(line.ftpMode, TFtpMode::Active);

    EXPECT_FALSE(line.connections);

    line = Parse({"--set", "8436", "--site", "VantrelPix.com", "--pause", "15", "--connections",
                  "4", "--ftp-mode", "passive"});
    EXPECT_EQ(line.connections, 4);
    ASSERT_EQ(line.action, CommandAction::Job) << line.error.toStdString();
    EXPECT_EQ(line.job, CommandJob::Set);
    EXPECT_EQ(line.site, GallerySite::A);
    EXPECT_EQ(line.pauseSeconds, cli::kMaxPauseSeconds);
    EXPECT_EQ(line.ftpMode, TFtpMode::Passive);

    // An empty proxy turns the stored one off for this run; an IPv6 host comes in brackets.
    line = Parse({"--list", "list.txt", "--site", "www.vantrelshots.com", "--proxy", ""});
    ASSERT_EQ(line.action, CommandAction::Job) << line.error.toStdString();
    EXPECT_EQ(line.job, CommandJob::List);
    EXPECT_EQ(line.site, GallerySite::B);
    ASSERT_TRUE(line.proxy);
    EXPECT_TRUE(line.proxy->host.isEmpty());
    line = Parse({"--user", "x", "--proxy", "[::1]:8080"});
    ASSERT_TRUE(line.proxy) << line.error.toStdString();
    EXPECT_EQ(line.proxy->host, "::1");
    EXPECT_EQ(line.proxy->port, 8080);
}

TEST(CommandLineTest, RefusesBadUsageWithAMessageNamingTheFault) {
    struct Case {
        std::initializer_list<const char*> options;
        const char* error;
    };
    const Case cases[] = {
        {{"--bogus"}, "Unknown option 'bogus'."},
        {{"--folder", "1", "stray"}, "Unexpected argument 'stray'."},
        {{"--folder"}, "Missing value after '--folder'."},
        {{"--folder", ""}, "Empty value after '--folder'."},
        {{"--folder", "1", "--user", "x"}, "Give only one of"},
        {{"--set", "1", "--set", "2"}, "Option '--set' given more than once."},
        // More than the window's set number field holds.
        {{"--set", "123456"}, "Set number '123456' is longer than 5 characters."},
        {{"--dest", "/tmp"}, "Option '--dest' needs a job"},
        {{"--pause", "4"}, "Option '--pause' needs a job"},
        {{"--folder", "1", "--dest", ""}, "Empty value after '--dest'."},
        {{"--folder", "1", "--site", "C"}, "Unknown site 'C'"},
        {{"--folder", "1", "--site", "vantrelpix.org"}, "Unknown site"},
        {{"--folder", "1", "--proxy", "proxy.example"}, "Bad proxy 'proxy.example'"},
        {{"--folder", "1", "--proxy", ":8080"}, "Bad proxy"},
        {{"--folder", "1", "--proxy", "host:0"}, "Bad proxy"},
        {{"--folder", "1", "--proxy", "host:65536"}, "Bad proxy"},
        {{"--folder", "1", "--proxy", "host:99999999999"}, "Bad proxy"},
        {{"--folder", "1", "--proxy", "host:80x"}, "Bad proxy"},
        {{"--folder", "1", "--proxy", "[::1:80"}, "Bad proxy"},
        {{"--folder", "1", "--pause", "16"}, "Bad pause '16'"},
        {{"--folder", "1", "--pause", "-1"}, "Bad pause"},
        {{"--folder", "1", "--pause", "2s"}, "Bad pause"},
        {{"--folder", "1", "--pause", ""}, "Bad pause"},
        {{"--connections", "2"}, "Option '--connections' needs a job"},
        {{"--folder", "1", "--connections", "5"}, "Bad connections '5'"},
        {{"--folder", "1", "--connections", "0"}, "Bad connections"},
        {{"--folder", "1", "--connections", "04"}, "Bad connections"},
        {{"--ftp-mode", "auto"}, "Option '--ftp-mode' needs a job"},
        {{"--verify", "--ftp-mode", "passive"},
         "Option '--ftp-mode' does not apply to '--verify'."},
        {{"--set", "8436", "--ftp-mode", "pasv"},
         "Bad FTP mode 'pasv': give auto, active or passive."},
    };
    for (const Case& c : cases) {
        const cli::CommandLine line = Parse(c.options);
        EXPECT_EQ(line.action, CommandAction::BadUsage) << Describe(c.options);
        EXPECT_TRUE(line.error.startsWith(QString::fromUtf8(c.error)))
            << Describe(c.options) << " gave: " << line.error.toStdString();
    }
}

// The program itself, with no display of any kind: what it prints and its exit status.
TEST(CommandLineTest, TheProgramAnswersWithoutADisplay) {
    struct Case {
        QStringList arguments;
        int status;
        const char* out; // the start of standard output
        const char* err; // all of standard error
    };
    const Case cases[] = {
        {{"--version"}, 0, "VantrelBackup " VANTREL_VERSION "\n", ""},
        {{"--help"}, 0, "Usage: VantrelBackup [--folder ID | --user ID | --set NUMBER", ""},
        {{"--bogus"},
         2,
         "",
         "VantrelBackup: Unknown option 'bogus'.\n"
         "Try 'VantrelBackup --help' for more information.\n"},
    };
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    for (const Case& c : cases) {
        const std::string what = c.arguments.join(' ').toStdString();
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(VANTREL_PROGRAM), c.arguments);
        ASSERT_TRUE(program.waitForFinished(10000)) << what;
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << what;
        EXPECT_EQ(program.exitCode(), c.status) << what;
        const QByteArray out = program.readAllStandardOutput();
        EXPECT_TRUE(out.startsWith(c.out)) << what << " printed: " << out.toStdString();
        if (*c.out == '\0') {
            EXPECT_TRUE(out.isEmpty()) << what << " printed: " << out.toStdString();
        }
        EXPECT_EQ(program.readAllStandardError().toStdString(), c.err) << what;
    }
}
