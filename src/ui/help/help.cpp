#include "ui/help/help.h"

#include <sys/types.h>
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
#include <csignal>
#include <cstdio>

#include "ui/seams/prompter.h"

namespace help {
namespace {

const char* const kContextProperty = "vxHelpContext";

QString g_helpFile;
QString g_pages;
bool g_debug = false;
Launcher g_launcher;
Finder g_finder;
UrlOpener g_urlOpener;

const char* const kHelpName = "vardex2.chm";

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

// The viewer the help started last: F1 replaces it rather than opening one more window
// for every press. It outlives the program, as a help window the operator reads does.
qint64 g_viewerPid = 0;
QString g_viewerProgram;

// Still the viewer we started: alive, not a zombie, and running that program (a pid may
// have been taken by another process since).
bool ViewerRunning() {
    if (g_viewerPid <= 0) {
        return false;
    }
    const QString proc = QStringLiteral("/proc/%1/").arg(g_viewerPid);
    QFile stat(proc + QStringLiteral("stat"));
    if (!stat.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0 || line.mid(close + 2, 1) == "Z") {
        return false;
    }
    QFile cmdline(proc + QStringLiteral("cmdline"));
    if (!cmdline.open(QIODevice::ReadOnly)) {
        return false;
    }
    return cmdline.readAll().split('\0').contains(QFile::encodeName(g_viewerProgram));
}

void StopViewer() {
    if (ViewerRunning()) {
        Log(QStringLiteral("closing the viewer started before (%1)").arg(g_viewerPid));
        ::kill(static_cast<pid_t>(g_viewerPid), SIGTERM);
    }
    g_viewerPid = 0;
}

bool Launch(const QString& program, const QStringList& arguments) {
    if (g_launcher) {
        return g_launcher(program, arguments);
    }
    StopViewer();
    qint64 pid = 0;
    if (!QProcess::startDetached(program, arguments, QString(), &pid)) {
        return false;
    }
    g_viewerPid = pid;
    g_viewerProgram = program;
    return true;
}

bool OpenUrl(const QUrl& url) {
    if (g_urlOpener) {
        return g_urlOpener(url);
    }
    return QDesktopServices::openUrl(url);
}

QString PagesBeside(const QString& helpFile) {
    return QFileInfo(helpFile).absolutePath() + QStringLiteral("/help");
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
    const QString dir = exe.absolutePath();
    // The build tree has the file beside the program; an installation keeps data apart
    // from programs, under the same prefix or the system's.
    const QStringList candidates = {
        dir + QLatin1Char('/') + exe.completeBaseName() + QStringLiteral(".chm"),
        QDir::cleanPath(dir + QStringLiteral("/../share/vardex2/") + QLatin1String(kHelpName)),
        QStringLiteral("/usr/local/share/vardex2/") + QLatin1String(kHelpName),
        QStringLiteral("/usr/share/vardex2/") + QLatin1String(kHelpName)};
    g_helpFile = candidates.front();
    for (const QString& c : candidates) {
        if (QFileInfo::exists(c) ||
            QFileInfo::exists(PagesBeside(c) + QStringLiteral("/main.html"))) {
            g_helpFile = c;
            break;
        }
    }
    g_pages = PagesBeside(g_helpFile);
    g_debug = QFileInfo::exists(exe.absolutePath() + QStringLiteral("/debug.debug")) ||
              arguments.contains(QStringLiteral("/debug")) ||
              arguments.contains(QStringLiteral("-debug")) ||
              arguments.contains(QStringLiteral("--debug"));
    Log(QStringLiteral("Init: help file %1").arg(g_helpFile));
}

QString HelpFile() {
    return g_helpFile;
}

void SetHelpFile(const QString& path) {
    g_helpFile = path;
    g_pages = PagesBeside(path);
    Log(QStringLiteral("SetHelpFile: %1").arg(path));
}

QString PagesFolder() {
    return g_pages;
}

QString TopicPage(int context) {
    static const struct {
        int context;
        const char* page;
    } kPages[] = {{1, "main.html"},     {15, "check.html"},     {19, "newkey.html"},
                  {20, "editkey.html"}, {22, "findkey.html"},   {23, "vardex.html"},
                  {30, "journal.html"}, {31, "reconcile.html"}, {32, "load.html"},
                  {33, "export.html"},  {34, "csv.html"},       {35, "csv.html"},
                  {36, "enrol.html"},   {37, "newfile.html"},   {38, "settings.html"},
                  {39, "open.html"},    {40, "site.html"}};
    for (const auto& p : kPages) {
        if (p.context == context) {
            return QLatin1String(p.page);
        }
    }
    return QStringLiteral("main.html");
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
    } kTopics[] = {{"TFMain", 1},       {"TFSyncContr", 15},  {"TFFindKey", 22},
                   {"TFGetVardex", 23}, {"TFJournal", 30},    {"TFReconcile", 31},
                   {"TFReadContr", 32}, {"TFWriteContr", 33}, {"TFImportCsv", 34},
                   {"TFEnrol", 36}};
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
    const QString page = TopicPage(context);
    Log(QStringLiteral("ShowContext: %1 (%2)").arg(context).arg(page));
    const QString caption = QStringLiteral("Vardex 2");
    const bool haveFile = !g_helpFile.isEmpty() && QFileInfo::exists(g_helpFile);
    const QString pagePath = g_pages + QLatin1Char('/') + page;
    const bool havePage = QFileInfo::exists(pagePath);
    if (!haveFile && !havePage) {
        Log(QStringLiteral("no help file, no pages"));
        AppPrompter().Warning(owner, caption,
                              QStringLiteral("Файл справки не найден:\r%1").arg(g_helpFile));
        return false;
    }
    // xchm opens a page inside the file by URL; its "-c N" would need the compiler's
    // topic map, which holds paths of the build tree.
    const QString xchm = haveFile ? Find(QStringLiteral("xchm")) : QString();
    if (!xchm.isEmpty() &&
        Launch(xchm, {QStringLiteral("file:%1#xchm:/%2").arg(g_helpFile, page)})) {
        Log(QStringLiteral("started %1 at %2").arg(xchm, page));
        return true;
    }
    if (havePage && OpenUrl(QUrl::fromLocalFile(pagePath))) {
        Log(QStringLiteral("opened %1 in the browser").arg(pagePath));
        return true;
    }
    // Viewers that cannot be told a page still show the help from its start.
    for (const QString& name : {QStringLiteral("kchmviewer"), QStringLiteral("okular")}) {
        const QString program = haveFile ? Find(name) : QString();
        if (!program.isEmpty() && Launch(program, {g_helpFile})) {
            Log(QStringLiteral("started %1").arg(program));
            return true;
        }
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

qint64 ViewerPid() {
    return ViewerRunning() ? g_viewerPid : 0;
}

void SetUrlOpener(UrlOpener opener) {
    g_urlOpener = std::move(opener);
}

}  // namespace help
