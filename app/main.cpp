#include "cli/CommandLine.h"
#include "cli/Headless.h"
#include "gui/Form1.h"
#include "settings/Form2.h"
#include "ui/Application.h"

#include <QGuiApplication>
#include <cstdio>

namespace {

void Print(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
}

} // namespace

int main(int argc, char* argv[]) {
    // The command line is read before any application object exists: --help and --version
    // (and the man page made from them at build time) must work without a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const cli::CommandLine line = cli::ParseCommandLine(arguments);
    switch (line.action) {
    case cli::CommandAction::Help:
        Print(stdout, cli::CommandLineHelpText());
        return 0;
    case cli::CommandAction::Version:
        Print(stdout, cli::CommandLineVersionText());
        return 0;
    case cli::CommandAction::BadUsage:
        Print(stderr, QStringLiteral("VantrelBackup: %1\nTry 'VantrelBackup --help' for more "
                                     "information.\n")
                          .arg(line.error));
        return 2;
    case cli::CommandAction::Job:
        return cli::RunHeadless(argc, argv, line);
    case cli::CommandAction::Window:
        break;
    }

    ui::TApplication app(argc, argv);
    // The same names whichever command started it (the lower-case link too): the window
    // system matches the window to its menu entry and icon by them.
    QCoreApplication::setApplicationName(QStringLiteral("VantrelBackup"));
    QGuiApplication::setDesktopFileName(QStringLiteral("example.vantrel.VantrelBackup"));
    TForm1 form;
    // The proxy dialog waits hidden until "Proxy?" shows it, always above the main window. It
    // goes before the main window, which would otherwise delete it as its child.
    TForm2 proxyDialog(&form);
    Form2 = &proxyDialog;
    form.show();
    return app.exec();
}
