// Help integration: the help file beside the executable (its name with ".chm"),
// opened at the topic of the active window, and the debug log of its own calls.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QApplication;
class QUrl;
class QWidget;

namespace help {

// The help file is `executablePath` with its extension replaced by ".chm", or where an
// installation puts it (share/vardex2/vardex2.chm beside the program's bin folder); the
// pages it was compiled from lie in a folder "help" beside it. The debug log is on when
// "debug.debug" lies beside the executable or `arguments` hold "/debug" or "-debug".
void Init(const QString& executablePath, const QStringList& arguments);
QString HelpFile();
void SetHelpFile(const QString& path);  // its pages: the folder "help" beside it
QString PagesFolder();
bool DebugLog();

// Topic numbers of the windows added to the program's first six (1, 15, 19, 20, 22, 23).
enum Topic {
    TopicJournal = 30,
    TopicReconcile = 31,
    TopicLoad = 32,
    TopicExport = 33,
    TopicImportCsv = 34,
    TopicSaveCsv = 35,
    TopicEnrol = 36,
    TopicNewFile = 37,
    TopicTimes = 38,
    TopicOpen = 39,
    TopicSite = 40,
};

// The page of a topic number inside the help file and in the pages folder (the main
// window's for a number without a page of its own). The program maps numbers to pages
// itself: the compiler's topic map holds the build's absolute paths, which exist on no
// operator's machine.
QString TopicPage(int context);

// The topic number of a window (the nearest one up the parent chain; 0 none).
void SetContext(QWidget* window, int context);
int ContextOf(const QWidget* widget);

// Opens the help at `context`: the help file in a CHM viewer at the topic's page, or,
// without one, the topic's page in the desktop's browser. Says so in a box when the
// installation has neither the help file nor its pages, or nothing can show them.
// Returns true when a viewer was started. A CHM viewer started by an earlier call and
// still open is closed first, so that F1 replaces the help shown rather than adding one.
bool ShowContext(int context, QWidget* owner);
// The process of that viewer while it runs (0 none).
qint64 ViewerPid();

// F1 in any window other than the main one (whose "Справка по программе" action
// carries F1) asks for that window's topic.
void InstallF1(QApplication& app);

// How a viewer is started: (program, arguments) -> started. Tests replace it.
using Launcher = std::function<bool(const QString& program, const QStringList& arguments)>;
void SetLauncher(Launcher launcher);  // empty restores the real one
// Finds a program on PATH; tests replace it too.
using Finder = std::function<QString(const QString& program)>;
void SetFinder(Finder finder);
// How a page is handed to the desktop's browser; tests replace it.
using UrlOpener = std::function<bool(const QUrl& url)>;
void SetUrlOpener(UrlOpener opener);  // empty restores the real one

}  // namespace help
