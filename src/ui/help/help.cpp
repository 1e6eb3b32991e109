#include "ui/help/help.h"

#include <QApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>
#include <QUrl>
#include <QWidget>
#include <cstdio>

#include "ui/seams/prompter.h"

namespace help {
namespace {

const char* const kContextProperty = "vxHelpContext";

QString g_helpFile;
bool g_debug = false;
Launcher g_launcher;
Finder g_finder;

void Log(const QString& line) {
    if (!g_debug) {
        return;
    }
    const QString stamped =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz ")) + line;
    std::fprintf(stderr, "help: %s\n", stamped.toLocal8Bit().constData());
    // Also kept in a file of the user's, since the executable's folder is rarely
    // writable once installed.
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    if (!dir.isEmpty() && QDir().mkpath(dir)) {
        QFile f(dir + QStringLiteral("/help-debug.log"));
        if (f.open(QIODevice::Append | QIODevice::Text)) {
            QTextStream(&f) << stamped << '\n';
        }
    }
}

bool Launch(const QString& program, const QStringList& arguments) {
    if (g_launcher) {
        return g_launcher(program, arguments);
    }
    return QProcess::startDetached(program, arguments);
}

QString Find(const QString& program) {
    if (g_finder) {
        return g_finder(program);
    }
    return QStandardPaths::findExecutable(program);
}

class F1Filter : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress ||
            static_cast<QKeyEvent*>(event)->key() != Qt::Key_F1 ||
            static_cast<QKeyEvent*>(event)->modifiers() != Qt::NoModifier) {
            return false;
        }
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget) {
            return false;
        }
        const int context = ContextOf(widget);
        if (context <= 0) {
            return false;
        }
        ShowContext(context, widget);
        return true;
    }
};

}  // namespace

void Init(const QString& executablePath, const QStringList& arguments) {
    const QFileInfo exe(executablePath);
    g_helpFile =
        exe.absolutePath() + QLatin1Char('/') + exe.completeBaseName() + QStringLiteral(".chm");
    g_debug = QFileInfo::exists(exe.absolutePath() + QStringLiteral("/debug.debug")) ||
              arguments.contains(QStringLiteral("/debug")) ||
              arguments.contains(QStringLiteral("-debug"));
    Log(QStringLiteral("Init: help file %1").arg(g_helpFile));
}

QString HelpFile() {
    return g_helpFile;
}

void SetHelpFile(const QString& path) {
    g_helpFile = path;
    Log(QStringLiteral("SetHelpFile: %1").arg(path));
}

bool DebugLog() {
    return g_debug;
}

void SetContext(QWidget* window, int context) {
    window->setProperty(kContextProperty, context);
}

int ContextOf(const QWidget* widget) {
    // The topics of the windows that always have the same one; a window that sets its
    // own (the key dialog: new or edit) or borrows its caller's does so by property.
    static const struct {
        const char* className;
        int context;
    } kTopics[] = {{"TFMain", 1}, {"TFSyncContr", 15}, {"TFFindKey", 22}, {"TFGetVardex", 23}};
    for (const QWidget* w = widget; w; w = w->parentWidget()) {
        for (const char* name : {kContextProperty, "HelpContext", "helpContext"}) {
            const QVariant v = w->property(name);
            if (v.isValid() && v.toInt() > 0) {
                return v.toInt();
            }
        }
        for (const auto& topic : kTopics) {
            if (w->inherits(topic.className)) {
                return topic.context;
            }
        }
    }
    return 0;
}

bool ShowContext(int context, QWidget* owner) {
    Log(QStringLiteral("ShowContext: %1").arg(context));
    const QString caption = QStringLiteral("Vardex 2");
    if (g_helpFile.isEmpty() || !QFileInfo::exists(g_helpFile)) {
        Log(QStringLiteral("no help file"));
        AppPrompter().Warning(owner, caption,
                              QStringLiteral("Файл справки не найден:\r%1").arg(g_helpFile));
        return false;
    }
    // Viewers that open a topic by its number come first; the others open the file.
    const QString xchm = Find(QStringLiteral("xchm"));
    if (!xchm.isEmpty() &&
        Launch(xchm, {QStringLiteral("-c"), QString::number(context), g_helpFile})) {
        Log(QStringLiteral("started %1 at topic %2").arg(xchm).arg(context));
        return true;
    }
    for (const QString& name : {QStringLiteral("kchmviewer"), QStringLiteral("okular")}) {
        const QString program = Find(name);
        if (!program.isEmpty() && Launch(program, {g_helpFile})) {
            Log(QStringLiteral("started %1").arg(program));
            return true;
        }
    }
    if (!g_launcher && QDesktopServices::openUrl(QUrl::fromLocalFile(g_helpFile))) {
        Log(QStringLiteral("opened through the desktop"));
        return true;
    }
    Log(QStringLiteral("no viewer"));
    AppPrompter().Warning(owner, caption,
                          QStringLiteral("Не найдена программа для просмотра справки "
                                         "(файлы .chm).\rУстановите, например, xchm."));
    return false;
}

void InstallF1(QApplication& app) {
    app.installEventFilter(new F1Filter(&app));
}

void SetLauncher(Launcher launcher) {
    g_launcher = std::move(launcher);
}

void SetFinder(Finder finder) {
    g_finder = std::move(finder);
}

}  // namespace help
