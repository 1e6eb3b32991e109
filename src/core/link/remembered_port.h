// The port to use when the command line names none: the environment's VARDEX2_PORT,
// else the port the program remembers for this user. The program keeps it with
// QSettings in an INI file; the command line reads that file itself, without Qt.
#pragma once

#include <optional>
#include <string>

// $XDG_CONFIG_HOME/Vardex2/Vardex2.conf, else ~/.config/Vardex2/Vardex2.conf: where
// QSettings keeps the per-user settings of organisation and application "Vardex2".
std::string SettingsFilePath();

// "ComPort" of the [General] section of an INI file as QSettings writes it (quotes,
// backslash escapes, a leading "@@"); nullopt when the file or the key is missing or
// the value is empty.
std::optional<std::string> ReadRememberedPort(const std::string& settingsPath);

// VARDEX2_PORT when set and not empty, else ReadRememberedPort(SettingsFilePath()).
std::optional<std::string> DefaultPort();
