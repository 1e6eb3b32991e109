// The per-user settings store and the list of serial ports, behind small seams.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

// What is remembered per user: the port ("ComPort"), and the places the operator
// works in: the window's size and position, the folder of the last file dialog and the
// recent files, newest first.
class SettingsStore {
  public:
    virtual ~SettingsStore() = default;
    // nullopt when nothing has been remembered yet.
    virtual std::optional<QString> ReadComPort() = 0;
    virtual void WriteComPort(const QString& port) = 0;

    virtual QByteArray ReadGeometry() { return {}; }
    virtual void WriteGeometry(const QByteArray&) {}
    // The size each other window was last left at, by its name ("" when none yet).
    virtual QString ReadWindowSize(const QString& /*window*/) { return {}; }
    virtual void WriteWindowSize(const QString& /*window*/, const QString& /*size*/) {}
    virtual QString ReadLastFolder() { return {}; }
    virtual void WriteLastFolder(const QString&) {}
    virtual QStringList ReadRecentFiles() { return {}; }
    virtual void WriteRecentFiles(const QStringList&) {}
    // The line a site's door has on this computer where it differs from the site file's,
    // by "<site path>\n<door name>" ("" when none).
    virtual QString ReadSiteLine(const QString& /*siteDoor*/) { return {}; }
    virtual void WriteSiteLine(const QString& /*siteDoor*/, const QString& /*line*/) {}
};

class QtSettingsStore : public SettingsStore {
  public:
    std::optional<QString> ReadComPort() override;
    void WriteComPort(const QString& port) override;
    QByteArray ReadGeometry() override;
    void WriteGeometry(const QByteArray& geometry) override;
    QString ReadWindowSize(const QString& window) override;
    void WriteWindowSize(const QString& window, const QString& size) override;
    QString ReadLastFolder() override;
    void WriteLastFolder(const QString& folder) override;
    QStringList ReadRecentFiles() override;
    void WriteRecentFiles(const QStringList& files) override;
    QString ReadSiteLine(const QString& siteDoor) override;
    void WriteSiteLine(const QString& siteDoor, const QString& line) override;
};

class MemorySettingsStore : public SettingsStore {
  public:
    std::optional<QString> ReadComPort() override { return value; }
    void WriteComPort(const QString& port) override {
        value = port;
        ++writes;
    }
    QByteArray ReadGeometry() override { return geometry; }
    void WriteGeometry(const QByteArray& g) override { geometry = g; }
    QString ReadWindowSize(const QString& window) override { return windowSizes.value(window); }
    void WriteWindowSize(const QString& window, const QString& size) override {
        windowSizes[window] = size;
    }
    QString ReadLastFolder() override { return lastFolder; }
    void WriteLastFolder(const QString& folder) override { lastFolder = folder; }
    QStringList ReadRecentFiles() override { return recentFiles; }
    void WriteRecentFiles(const QStringList& files) override { recentFiles = files; }
    QString ReadSiteLine(const QString& siteDoor) override { return siteLines.value(siteDoor); }
    void WriteSiteLine(const QString& siteDoor, const QString& line) override {
        siteLines[siteDoor] = line;
    }

    std::optional<QString> value;
    int writes = 0;
    QByteArray geometry;
    QMap<QString, QString> windowSizes;
    QString lastFolder;
    QStringList recentFiles;
    QMap<QString, QString> siteLines;
};

// The settings store the windows other than the main one keep their sizes in (the main
// window's, set by it; none before it exists).
SettingsStore* AppSettings();
void SetAppSettings(SettingsStore* settings);

class QWidget;
class QMainWindow;
class QMenu;
// The desktop's keyboard ways into a window's menus, whatever the keyboard layout (the
// menus' letters are Cyrillic): Alt pressed and released alone selects the menu bar, and
// F10 opens `first`.
void KeyboardMenus(QMainWindow* window, QMenu* first);

// A window's first size as a share of the screen it opens on (never below its minimum),
// or the size the operator last left it at: restored now, remembered each time it closes.
void SizeWindow(QWidget* window, double widthShare, double heightShare);

// One serial device as the port box shows it.
struct PortEntry {
    QString path;          // what is opened and remembered: the /dev/serial/by-id link where
                           // there is one (it survives re-plugging), else the device
    QString device;        // the kernel's device ("/dev/ttyUSB0")
    QString description;   // the adapter's description, where the system knows it
    QString serialNumber;  // the adapter's serial number, likewise
};

// The serial devices present, by path.
class PortDirectory {
  public:
    virtual ~PortDirectory() = default;
    virtual QStringList Ports() = 0;
    // One entry per device, sorted by path; by default the bare paths of Ports().
    virtual QList<PortEntry> Entries();
};

// QSerialPortInfo's devices, each under its /dev/serial/by-id link where it has one,
// sorted as text.
class SystemPortDirectory : public PortDirectory {
  public:
    QStringList Ports() override;
    QList<PortEntry> Entries() override;
};

class FixedPortDirectory : public PortDirectory {
  public:
    explicit FixedPortDirectory(QStringList ports) : ports_(std::move(ports)) {}
    QStringList Ports() override { return ports_; }

  private:
    QStringList ports_;
};
