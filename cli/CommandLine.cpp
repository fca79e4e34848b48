#include "cli/CommandLine.h"

#include "engine/ConnectionsSetting.h"
#include "engine/Sites.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

#ifndef VANTREL_VERSION
#error "the build passes the program's version as VANTREL_VERSION"
#endif

namespace cli {
namespace {

const QString kProgram = QStringLiteral("VantrelBackup");

struct JobOption {
    const char* name;
    CommandJob job;
};
constexpr JobOption kJobOptions[] = {
    {"folder", CommandJob::Folder},
    {"user", CommandJob::User},
    {"set", CommandJob::Set},
    {"list", CommandJob::List},
};
// Options that only shape a job; alone they would silently do nothing.
constexpr const char* kJobSettingOptions[] = {"dest",        "site",   "proxy",   "pause",
                                              "connections", "update", "ftp-mode"};
// Of those, the ones that shape how a job reaches the network, which verify never does.
constexpr const char* kNetworkOptions[] = {"site",        "proxy",  "pause",
                                           "connections", "update", "ftp-mode"};

// Qt's own options of a window program (platform, style, geometry, ...). They are taken off the
// command line by the application object, so they must not count as unknown here.
constexpr const char* kQtValueOptions[] = {"platform",
                                           "platformpluginpath",
                                           "platformtheme",
                                           "plugin",
                                           "qwindowgeometry",
                                           "qwindowicon",
                                           "qwindowtitle",
                                           "display",
                                           "geometry",
                                           "style",
                                           "stylesheet",
                                           "session",
                                           "name",
                                           "title",
                                           "visual",
                                           "ncols"};
constexpr const char* kQtFlagOptions[] = {"reverse", "widgetcount", "nograb",
                                          "dograb",  "cmap",        "sync"};

QString Quoted(const QString& option) {
    return QStringLiteral("'--") + option + QLatin1Char('\'');
}

const QString kOnlyOneJob =
    QStringLiteral("Give only one of '--folder', '--user', '--set', '--list' and '--verify'.");

CommandLine BadUsage(const QString& error) {
    CommandLine line;
    line.action = CommandAction::BadUsage;
    line.error = error;
    return line;
}

std::optional<GallerySite> SiteFrom(const QString& text) {
    const QString site = text.toLower();
    const auto names = [&site](const char* letter, const char* domain) {
        const QString d = QString::fromLatin1(domain);
        return site == QLatin1String(letter) || site == d || site == QStringLiteral("www.") + d;
    };
    if (names("a", sites::kSiteADomain))
        return GallerySite::A;
    if (names("b", sites::kSiteBDomain))
        return GallerySite::B;
    return std::nullopt;
}

bool AllDigits(const QString& text) {
    if (text.isEmpty())
        return false;
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

// "HOST:PORT", with an IPv6 host in brackets; an empty text means no proxy.
std::optional<ProxyAddress> ProxyFrom(const QString& text) {
    if (text.isEmpty())
        return ProxyAddress{};
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return std::nullopt;
    QString host = text.left(colon);
    const QString port = text.mid(colon + 1);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    if (host.isEmpty() || host.contains(QLatin1Char('[')) || host.contains(QLatin1Char(']')))
        return std::nullopt;
    // Anything longer than five digits is out of range; the check keeps toInt from overflowing.
    if (!AllDigits(port) || port.size() > 5 || port.toInt() < 1 || port.toInt() > 65535)
        return std::nullopt;
    return ProxyAddress{host, port.toInt()};
}

} // namespace

void AddCommandLineOptions(QCommandLineParser& parser) {
    // "-platform xcb" is how Qt's own options are written: one dash, a whole word.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral(
        "Makes a local copy of picture galleries kept on a gallery web site, and downloads the\n"
        "scanned instruction sheets of a building set from an FTP archive. Without a job option\n"
        "the window opens; with one, the job runs without a window and ends with a summary."));
    const QString siteA = QString::fromLatin1(sites::kSiteADomain);
    const QString siteB = QString::fromLatin1(sites::kSiteBDomain);
    parser.addOptions({
        {QStringLiteral("folder"),
         QStringLiteral("Copy the gallery folder with this ID, with its sub-folders."),
         QStringLiteral("ID")},
        {QStringLiteral("user"),
         QStringLiteral("Copy every gallery folder of the member with this user ID."),
         QStringLiteral("ID")},
        {QStringLiteral("set"),
         QStringLiteral("Download the instruction scans of the building set with this number."),
         QStringLiteral("NUMBER")},
        {QStringLiteral("list"),
         QStringLiteral("Run the folder job for every line of FILE holding f=ID and the member "
                        "job for every line holding m=ID."),
         QStringLiteral("FILE")},
        {QStringLiteral("verify"),
         QStringLiteral("Check the copy under the destination against its backup record, "
                        "offline: print each missing, damaged or unrecorded file and a summary.")},
        {QStringLiteral("dest"), QStringLiteral("Store the copy under DIR."),
         QStringLiteral("DIR")},
        {QStringLiteral("site"),
         QStringLiteral("Use gallery site A (%1) or B (%2); the domain names work too.")
             .arg(siteA, siteB),
         QStringLiteral("A|B")},
        {QStringLiteral("proxy"),
         QStringLiteral("Go through the HTTP proxy at HOST:PORT; an empty value uses no proxy."),
         QStringLiteral("HOST:PORT")},
        {QStringLiteral("pause"),
         QStringLiteral("Pause SECONDS (0 to %1) after each downloaded file; 0 does not pause.")
             .arg(kMaxPauseSeconds),
         QStringLiteral("SECONDS")},
        {QStringLiteral("connections"),
         QStringLiteral("Keep up to N requests open at once (1 to %1): pictures, each over a "
                        "connection of its own, and the listing page being read; with a pause "
                        "it is one.")
             .arg(kMaxConnections),
         QStringLiteral("N")},
        {QStringLiteral("update"),
         QStringLiteral("Ask the site for each picture already there again (If-Modified-Since "
                        "the recorded date): a changed one replaces the copy, which is kept in "
                        ".vantrel/replaced/. The instruction scans ignore it.")},
        {QStringLiteral("ftp-mode"),
         QStringLiteral("Open FTP data connections in MODE: auto (the default) tries active mode "
                        "and goes passive when active cannot work, as behind a router; active or "
                        "passive use that way only. Without it, the key FtpMode in [Options] "
                        "decides. The gallery jobs ignore it."),
         QStringLiteral("MODE")},
        {{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help and exit.")},
        {{QStringLiteral("v"), QStringLiteral("version")},
         QStringLiteral("Show the program's version and exit.")},
    });
    for (const char* name : kQtValueOptions) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : kQtFlagOptions) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

CommandLine ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    AddCommandLineOptions(parser);
    if (!parser.parse(arguments))
        return BadUsage(parser.errorText());

    CommandLine line;
    if (parser.isSet(QStringLiteral("help"))) {
        line.action = CommandAction::Help;
        return line;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        line.action = CommandAction::Version;
        return line;
    }
    if (!parser.positionalArguments().isEmpty())
        return BadUsage(QStringLiteral("Unexpected argument '%1'.")
                            .arg(parser.positionalArguments().constFirst()));
    for (const QString& name : parser.optionNames())
        if (parser.values(name).size() > 1)
            return BadUsage(QStringLiteral("Option %1 given more than once.").arg(Quoted(name)));

    for (const JobOption& option : kJobOptions) {
        const QString name = QString::fromLatin1(option.name);
        if (!parser.isSet(name))
            continue;
        if (line.job != CommandJob::None)
            return BadUsage(kOnlyOneJob);
        line.job = option.job;
        line.jobArgument = parser.value(name);
        if (line.jobArgument.isEmpty())
            return BadUsage(QStringLiteral("Empty value after %1.").arg(Quoted(name)));
    }
    if (parser.isSet(QStringLiteral("verify"))) {
        if (line.job != CommandJob::None)
            return BadUsage(kOnlyOneJob);
        line.job = CommandJob::Verify;
        for (const char* option : kNetworkOptions)
            if (parser.isSet(QString::fromLatin1(option)))
                return BadUsage(QStringLiteral("Option %1 does not apply to '--verify'.")
                                    .arg(Quoted(QString::fromLatin1(option))));
    }
    // The window's set number field holds five characters; a longer number would be filed
    // under a shorter one's folder.
    if (line.job == CommandJob::Set && line.jobArgument.size() > kMaxSetNumberLength)
        return BadUsage(QStringLiteral("Set number '%1' is longer than %2 characters.")
                            .arg(line.jobArgument)
                            .arg(kMaxSetNumberLength));
    if (line.job == CommandJob::None) {
        for (const char* option : kJobSettingOptions)
            if (parser.isSet(QString::fromLatin1(option)))
                return BadUsage(QStringLiteral("Option %1 needs a job: '--folder', '--user', "
                                               "'--set', '--list' or '--verify'.")
                                    .arg(Quoted(QString::fromLatin1(option))));
        return line;
    }
    line.action = CommandAction::Job;

    if (parser.isSet(QStringLiteral("dest"))) {
        line.destination = parser.value(QStringLiteral("dest"));
        if (line.destination->isEmpty())
            return BadUsage(QStringLiteral("Empty value after '--dest'."));
    }
    if (parser.isSet(QStringLiteral("site"))) {
        const QString text = parser.value(QStringLiteral("site"));
        line.site = SiteFrom(text);
        if (!line.site)
            return BadUsage(QStringLiteral("Unknown site '%1': give A, B, %2 or %3.")
                                .arg(text, QString::fromLatin1(sites::kSiteADomain),
                                     QString::fromLatin1(sites::kSiteBDomain)));
    }
    if (parser.isSet(QStringLiteral("proxy"))) {
        const QString text = parser.value(QStringLiteral("proxy"));
        line.proxy = ProxyFrom(text);
        if (!line.proxy)
            return BadUsage(
                QStringLiteral("Bad proxy '%1': give HOST:PORT with a port from 1 to 65535.")
                    .arg(text));
    }
    if (parser.isSet(QStringLiteral("pause"))) {
        const QString text = parser.value(QStringLiteral("pause"));
        if (!AllDigits(text) || text.size() > 2 || text.toInt() > kMaxPauseSeconds)
            return BadUsage(QStringLiteral("Bad pause '%1': give whole seconds from 0 to %2.")
                                .arg(text)
                                .arg(kMaxPauseSeconds));
        line.pauseSeconds = text.toInt();
    }
    if (parser.isSet(QStringLiteral("connections"))) {
        const QString text = parser.value(QStringLiteral("connections"));
        if (text.size() != 1 || !AllDigits(text) || text.toInt() < 1 ||
            text.toInt() > kMaxConnections)
            return BadUsage(QStringLiteral("Bad connections '%1': give a number from 1 to %2.")
                                .arg(text)
                                .arg(kMaxConnections));
        line.connections = text.toInt();
    }
    line.update = parser.isSet(QStringLiteral("update"));
    if (parser.isSet(QStringLiteral("ftp-mode"))) {
        const QString text = parser.value(QStringLiteral("ftp-mode"));
        line.ftpMode = FtpModeFromText(text.toStdString());
        if (!line.ftpMode)
            return BadUsage(
                QStringLiteral("Bad FTP mode '%1': give auto, active or passive.").arg(text));
    }
    return line;
}

QString CommandLineHelpText() {
    QCommandLineParser parser;
    AddCommandLineOptions(parser);
    // Qt's own first line names the program by the path it was started with, or by a
    // placeholder when no application object exists yet; say how it is used instead.
    QString options = parser.helpText();
    options.remove(0, options.indexOf(QLatin1Char('\n')) + 1);
    return QStringLiteral("Usage: %1 [--folder ID | --user ID | --set NUMBER | --list FILE | "
                          "--verify] [OPTION]...\n")
               .arg(kProgram) +
           options +
           QStringLiteral(
               "\n"
               "Without --dest, --site, --proxy, --pause or --connections a job takes the\n"
               "destination, the site, the proxy, the pause and the connections from the settings\n"
               "the window keeps (the current directory when no destination is stored); the\n"
               "options change them for that run only and are not stored. --update is on for\n"
               "every gallery job when the settings file's [Options] section says Update=1.\n"
               "Without --ftp-mode the instruction scans take FtpMode=Auto, Active or Passive\n"
               "from that section, Auto when it has none.\n"
               "The job's log goes to standard output and ends with a summary; on a terminal,\n"
               "standard error shows the file in progress.\n"
               "\n"
               "Backup record:\n"
               "  Every job keeps a record of the files it stored in .vantrel/record.sqlite at "
               "the\n"
               "  destination's root, and writes .vantrel/SHA256SUMS, which \"sha256sum -c\" run "
               "in\n"
               "  the destination checks. --verify [--dest DIR] checks the copy against the "
               "record\n"
               "  without the network: it prints \"missing\", \"damaged\" (another size or hash) "
               "or\n"
               "  \"unrecorded\" and the path of each finding, then a summary line; it exits 0 "
               "when\n"
               "  nothing is missing or damaged, 1 when something is, 2 when there is no record.\n"
               "\n"
               "Settings and destination:\n"
               "  The settings live in VantrelBackup.ini. An installed program (one in /usr/bin,\n"
               "  /usr/local/bin, /bin or the bin directory of its install prefix, or in a\n"
               "  directory its user may not write) keeps the file in\n"
               "  $XDG_CONFIG_HOME/VantrelBackup/ (~/.config/VantrelBackup/ when XDG_CONFIG_HOME\n"
               "  is not set), for every user, root included; a copy in a directory of its own\n"
               "  keeps it beside the program. With no destination stored, the window of an\n"
               "  installed program starts in VantrelBackup/ in the pictures directory\n"
               "  (XDG_PICTURES_DIR, as the XDG user directories name it, else ~/Pictures),\n"
               "  that of a copy in the copy's own directory.\n"
               "\n"
               "Exit status:\n"
               "  0    the job ran to its end and no file failed\n"
               "  1    a file failed, or the job stopped early (the first page did not come, the\n"
               "       folder, member or set does not exist, a listing page was given up), or\n"
               "       the --list file names no folder or member\n"
               "  2    bad usage, or an error that ended the job\n"
               "  130  cancelled by Ctrl+C (143 by SIGTERM); a second Ctrl+C ends at once\n");
}

QString CommandLineVersionText() {
    return kProgram + QLatin1Char(' ') + QStringLiteral(VANTREL_VERSION) + QLatin1Char('\n');
}

} // namespace cli
