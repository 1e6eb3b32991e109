#include "ui/seams/ui_platform.h"

#include <QAction>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QProxyStyle>
#include <QScreen>
#include <QSerialPortInfo>
#include <QSettings>
#include <QWidget>
#include <algorithm>

#include "core/site/site_lines.h"

std::optional<QString> QtSettingsStore::ReadComPort() {
    const QSettings s(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Vardex2"),
                      QStringLiteral("Vardex2"));
    if (!s.contains(QStringLiteral("ComPort"))) {
        return std::nullopt;
    }
    return s.value(QStringLiteral("ComPort")).toString();
}

void QtSettingsStore::WriteComPort(const QString& port) {
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Vardex2"),
                QStringLiteral("Vardex2"));
    s.setValue(QStringLiteral("ComPort"), port);
}

namespace {
QSettings UserSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Vardex2"),
                     QStringLiteral("Vardex2"));
}
}  // namespace

QByteArray QtSettingsStore::ReadGeometry() {
    return UserSettings().value(QStringLiteral("WindowGeometry")).toByteArray();
}

void QtSettingsStore::WriteGeometry(const QByteArray& geometry) {
    UserSettings().setValue(QStringLiteral("WindowGeometry"), geometry);
}

QString QtSettingsStore::ReadWindowSize(const QString& window) {
    return UserSettings().value(QStringLiteral("WindowSize/") + window).toString();
}

void QtSettingsStore::WriteWindowSize(const QString& window, const QString& size) {
    UserSettings().setValue(QStringLiteral("WindowSize/") + window, size);
}

namespace {
SettingsStore* g_settings = nullptr;

// Writes the window's size into the store whenever the window closes.
class SizeKeeper : public QObject {
  public:
    explicit SizeKeeper(QWidget* window) : QObject(window), window_(window) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && event->type() == QEvent::Hide && g_settings &&
            !window_->objectName().isEmpty()) {
            const QSize s = window_->size();
            g_settings->WriteWindowSize(window_->objectName(),
                                        QStringLiteral("%1x%2").arg(s.width()).arg(s.height()));
        }
        return false;
    }

  private:
    QWidget* window_;
};
}  // namespace

SettingsStore* AppSettings() {
    return g_settings;
}

void SetAppSettings(SettingsStore* settings) {
    g_settings = settings;
}

void SizeWindow(QWidget* window, double widthShare, double heightShare) {
    QScreen* screen = window->parentWidget() ? window->parentWidget()->screen() : nullptr;
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    const QRect room = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    QSize size(static_cast<int>(room.width() * widthShare),
               static_cast<int>(room.height() * heightShare));
    if (g_settings) {
        const QStringList remembered =
            g_settings->ReadWindowSize(window->objectName()).split(QLatin1Char('x'));
        bool w = false, h = false;
        if (remembered.size() == 2) {
            const QSize s(remembered[0].toInt(&w), remembered[1].toInt(&h));
            if (w && h && s.width() > 0 && s.height() > 0) {
                size = s;
            }
        }
    }
    // Whatever was remembered, the window fits the screen it opens on now.
    size = size.boundedTo(room.size()).expandedTo(window->minimumSize());
    window->resize(size);
    window->installEventFilter(new SizeKeeper(window));
}

QString QtSettingsStore::ReadLastFolder() {
    return UserSettings().value(QStringLiteral("LastFolder")).toString();
}

void QtSettingsStore::WriteLastFolder(const QString& folder) {
    UserSettings().setValue(QStringLiteral("LastFolder"), folder);
}

QStringList QtSettingsStore::ReadRecentFiles() {
    return UserSettings().value(QStringLiteral("RecentFiles")).toStringList();
}

void QtSettingsStore::WriteRecentFiles(const QStringList& files) {
    UserSettings().setValue(QStringLiteral("RecentFiles"), files);
}

// A door's line on this computer, in the store the command line reads too
// (core/site/site_lines.h); `siteDoor` is the site's path and the door's name, a newline
// between.
QString QtSettingsStore::ReadSiteLine(const QString& siteDoor) {
    const qsizetype cut = siteDoor.indexOf(QLatin1Char('\n'));
    if (cut < 0)
        return {};
    return QString::fromStdString(ReadSiteLineOverride(
        QFile::encodeName(siteDoor.left(cut)).toStdString(), siteDoor.mid(cut + 1).toStdString()));
}

void QtSettingsStore::WriteSiteLine(const QString& siteDoor, const QString& line) {
    const qsizetype cut = siteDoor.indexOf(QLatin1Char('\n'));
    if (cut >= 0)
        WriteSiteLineOverride(QFile::encodeName(siteDoor.left(cut)).toStdString(),
                              siteDoor.mid(cut + 1).toStdString(), line.toStdString());
}

QList<PortEntry> PortDirectory::Entries() {
    QList<PortEntry> entries;
    for (const QString& port : Ports()) {
        entries.append(PortEntry{port, port, QString(), QString()});
    }
    return entries;
}

QList<PortEntry> SystemPortDirectory::Entries() {
    QList<PortEntry> entries;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        if (info.systemLocation().isEmpty()) {
            continue;
        }
        PortEntry e;
        e.path = e.device = info.systemLocation();
        e.description = info.description();
        if (!info.manufacturer().isEmpty() && !e.description.contains(info.manufacturer())) {
            e.description = e.description.isEmpty()
                                ? info.manufacturer()
                                : info.manufacturer() + QLatin1Char(' ') + e.description;
        }
        e.serialNumber = info.serialNumber();
        entries.append(e);
    }
    // A by-id link and its ttyUSB are one port: the entry takes the link's stable name.
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QString& name : byId.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        const QString link = byId.absoluteFilePath(name);
        const QString target = QFileInfo(link).canonicalFilePath();
        bool known = false;
        for (PortEntry& e : entries) {
            if (!target.isEmpty() && QFileInfo(e.device).canonicalFilePath() == target) {
                if (!e.path.startsWith(byId.absolutePath())) {
                    e.path = link;
                }
                known = true;
            }
        }
        if (!known) {
            entries.append(PortEntry{link, target.isEmpty() ? link : target, QString(), QString()});
        }
    }
    std::sort(entries.begin(), entries.end(),
              [](const PortEntry& a, const PortEntry& b) { return a.path < b.path; });
    return entries;
}

QStringList SystemPortDirectory::Ports() {
    QStringList ports;
    for (const PortEntry& e : Entries()) {
        ports << e.path;
    }
    return ports;
}

namespace {

// Alt pressed and released alone selects the menu bar, as on the desktop the operator
// knows; the arrows and Enter then work the menus whatever the keyboard layout.
class MenuBarStyle : public QProxyStyle {
  public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_MenuBar_AltKeyNavigation)
            return 1;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

}  // namespace

void KeyboardMenus(QMainWindow* window, QMenu* first) {
    QMenuBar* bar = window->menuBar();
    auto* style = new MenuBarStyle;
    style->setParent(bar);
    bar->setStyle(style);
    auto* f10 = new QAction(window);
    f10->setObjectName(QStringLiteral("actMenuKey"));
    f10->setShortcut(QKeySequence(Qt::Key_F10));
    window->addAction(f10);
    QObject::connect(f10, &QAction::triggered, window,
                     [bar, first] { bar->setActiveAction(first->menuAction()); });
}
