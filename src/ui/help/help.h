// Help integration: the help file beside the executable (its name with ".chm"),
// opened at the topic of the active window, and the debug log of its own calls.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QApplication;
class QWidget;

namespace help {

// The help file is `executablePath` with its extension replaced by ".chm". The debug
// log is on when "debug.debug" lies beside the executable or `arguments` hold "/debug"
// or "-debug".
void Init(const QString& executablePath, const QStringList& arguments);
QString HelpFile();
void SetHelpFile(const QString& path);
bool DebugLog();

// The topic number of a window (the nearest one up the parent chain; 0 none).
void SetContext(QWidget* window, int context);
int ContextOf(const QWidget* widget);

// Opens the help file at `context`; says so in a box when there is no help file or no
// program to show it. Returns true when a viewer was started.
bool ShowContext(int context, QWidget* owner);

// F1 in any window other than the main one (whose "Справка по программе" action
// carries F1) asks for that window's topic.
void InstallF1(QApplication& app);

// How a viewer is started: (program, arguments) -> started. Tests replace it.
using Launcher = std::function<bool(const QString& program, const QStringList& arguments)>;
void SetLauncher(Launcher launcher);  // empty restores the real one
// Finds a program on PATH; tests replace it too.
using Finder = std::function<QString(const QString& program)>;
void SetFinder(Finder finder);

}  // namespace help
