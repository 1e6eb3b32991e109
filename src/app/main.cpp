// vardex2 [--port DEVICE]: the desktop program.
#include <QApplication>
#include <QCommandLineParser>

#include "app_start.h"
#include "ui/help/help.h"
#include "ui/main/main_window.h"

int main(int argc, char* argv[]) {
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
    parser.setApplicationDescription(QStringLiteral("Программа управления ключами"));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Порт подключения (путь к устройству)"),
                                  QStringLiteral("DEVICE"));
    const QCommandLineOption debug(QStringLiteral("debug"),
                                   QStringLiteral("Журнал вызовов справки"));
    parser.addOption(port);
    parser.addOption(debug);
    // "/debug" is the other spelling of the help log switch.
    QStringList args = QApplication::arguments();
    args.removeAll(QStringLiteral("/debug"));
    parser.process(args);

    MainDeps deps;
    deps.portArg = parser.value(port);
    TFMain window(deps);
    window.show();
    return app.exec();
}
