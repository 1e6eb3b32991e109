// The per-user settings store and the list of serial ports, behind small seams.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The remembered port ("ComPort").
class SettingsStore {
  public:
    virtual ~SettingsStore() = default;
    // nullopt when nothing has been remembered yet.
    virtual std::optional<QString> ReadComPort() = 0;
    virtual void WriteComPort(const QString& port) = 0;
};

class QtSettingsStore : public SettingsStore {
  public:
    std::optional<QString> ReadComPort() override;
    void WriteComPort(const QString& port) override;
};

class MemorySettingsStore : public SettingsStore {
  public:
    std::optional<QString> ReadComPort() override { return value; }
    void WriteComPort(const QString& port) override {
        value = port;
        ++writes;
    }
    std::optional<QString> value;
    int writes = 0;
};

// The serial devices present, by path.
class PortDirectory {
  public:
    virtual ~PortDirectory() = default;
    virtual QStringList Ports() = 0;
};

// QSerialPortInfo's devices and the links in /dev/serial/by-id, sorted as text.
class SystemPortDirectory : public PortDirectory {
  public:
    QStringList Ports() override;
};

class FixedPortDirectory : public PortDirectory {
  public:
    explicit FixedPortDirectory(QStringList ports) : ports_(std::move(ports)) {}
    QStringList Ports() override { return ports_; }

  private:
    QStringList ports_;
};
