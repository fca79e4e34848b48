#pragma once

#include "net/FtpMode.h"

#include <QString>
#include <QStringList>
#include <optional>

class QCommandLineParser;

// The program's command line, in one place: the options with their help texts, and what a given
// command line asks for. It is read before any application object exists, so that --help and
// --version answer on a machine without a display.
namespace cli {

enum class CommandAction {
    Window,   // no job option: the window starts as it always has
    Job,      // a job option: the job runs without a window
    Help,     // print CommandLineHelpText() and end
    Version,  // print CommandLineVersionText() and end
    BadUsage, // print the error and a pointer to --help, end with status 2
};

enum class CommandJob { None, Folder, User, Set, List, Verify };

enum class GallerySite { A, B };

struct ProxyAddress {
    QString host; // empty: no proxy for this run, whatever the settings say
    int port = 0;
};

// What one command line asks for. The optional fields are the options given; an absent one
// leaves the setting the window uses in force.
struct CommandLine {
    CommandAction action = CommandAction::Window;
    QString error; // for BadUsage: one line, without the program's name

    CommandJob job = CommandJob::None;
    QString jobArgument; // the folder ID, user ID, set number or list file, as given (none
                         // for --verify)

    std::optional<QString> destination;
    std::optional<GallerySite> site;
    std::optional<ProxyAddress> proxy;
    std::optional<int> pauseSeconds; // 0: no pause
    std::optional<int> connections;  // picture downloads at once, 1 to kMaxConnections
    bool update = false;             // ask for present pictures again
    std::optional<TFtpMode> ftpMode; // the instruction scans' data connections
};

inline constexpr int kMaxPauseSeconds = 15;   // the window's pause field goes no further
inline constexpr int kMaxSetNumberLength = 5; // as many as the window's set number field holds

// Adds every option of the program to the parser: ours with their help texts, and Qt's own
// window options hidden, so that those still reach the window as before.
void AddCommandLineOptions(QCommandLineParser& parser);

// Reads a command line; arguments[0] is the program as it was started.
CommandLine ParseCommandLine(const QStringList& arguments);

// The full --help text and the --version line, each ending in a newline.
QString CommandLineHelpText();
QString CommandLineVersionText();

} // namespace cli
