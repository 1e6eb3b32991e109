#include "ui/seams/ui_platform.h"

#include <QDir>
#include <QSerialPortInfo>
#include <QSettings>

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

QStringList SystemPortDirectory::Ports() {
    QStringList ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        if (!info.systemLocation().isEmpty()) {
            ports << info.systemLocation();
        }
    }
    // The stable names of USB adapters, which survive re-plugging.
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QString& name : byId.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        ports << byId.absoluteFilePath(name);
    }
    ports.removeDuplicates();
    ports.sort(Qt::CaseSensitive);
    return ports;
}
