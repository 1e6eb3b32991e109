// vardex2 [--port DEVICE] [FILE]: the desktop program.
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <string_view>

#include "app_start.h"
#include "ui/help/help.h"
#include "ui/main/main_window.h"

namespace {

struct Options {
    QCommandLineOption port{QStringLiteral("port"),
                            QStringLiteral("Add the serial port DEVICE (a device path) to the list "
                                           "of ports and select it."),
                            QStringLiteral("DEVICE")};
    QCommandLineOption debug{QStringLiteral("debug"),
                             QStringLiteral("Log what the help does (also /debug).")};
};

void Define(QCommandLineParser& parser, const Options& options) {
    parser.setApplicationDescription(
        QStringLiteral("Vardex 2: keys and settings of a stand-alone door access controller."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(options.port);
    parser.addOption(options.debug);
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("The database file (.vx2) to open."),
                                 QStringLiteral("[FILE]"));
}

// Usage and version are answered before the window system is reached, so that they
// work on a console with no display.
bool AsksForUsage(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "-h" || a == "--help" || a == "-help" || a == "-?" || a == "--help-all" ||
            a == "-v" || a == "--version" || a == "-version")
            return true;
    }
    return false;
}

}  // namespace

int main(int argc, char* argv[]) {
    const Options options;
    if (AsksForUsage(argc, argv)) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationVersion(FileVersionForCli());
        QCommandLineParser parser;
        Define(parser, options);
        parser.process(app);  // prints and exits
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vardex 2"));
    // No display name: the window system would append it to every window's and message
    // box's caption ("Ошибка — Vardex 2"), while each caption must read exactly as set.
    QApplication::setOrganizationName(QStringLiteral("Vardex2"));
    QApplication::setDesktopFileName(QStringLiteral("vardex2"));
    QApplication::setApplicationVersion(FileVersionForCli());
    LoadRussianTranslations(app);
    help::Init(QApplication::applicationFilePath(), QApplication::arguments());
    help::InstallF1(app);

    QCommandLineParser parser;
    Define(parser, options);
    // "/debug" is the other spelling of the help log switch.
    QStringList args = QApplication::arguments();
    args.removeAll(QStringLiteral("/debug"));
    parser.process(args);

    MainDeps deps;
    deps.portArg = parser.value(options.port);
    if (!parser.positionalArguments().isEmpty())
        deps.fileArg = QFileInfo(parser.positionalArguments().constFirst()).absoluteFilePath();
    // The debug switch also traces the line, in the folder of the help's debug log.
    if (help::DebugLog()) {
        const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
        if (!dir.isEmpty() && QDir().mkpath(dir))
            deps.tracePath = dir + QStringLiteral("/line-trace.log");
    }
    TFMain window(deps);
    window.show();
    return app.exec();
}
