// Copies of what a controller held, kept in the per-user data folder before anything in
// the controller is overwritten: "<database>-<6 hex of its path's hash>-<YYYYMMDD-HHMMSS>.vx2".
#pragma once

#include <ctime>
#include <string>

#include "core/keys/database.h"

// How many copies of one database path are kept at least (older ones are removed).
constexpr int BackupsKept = 20;

// $XDG_DATA_HOME/Vardex2/backups, or ~/.local/share/Vardex2/backups when it is unset or not
// an absolute path (as the XDG rules say); empty when neither gives a folder.
std::string BackupFolder();

// The six hexadecimal digits that tell copies of different files with the same name apart:
// a hash of the database's absolute path, stable across runs and builds.
std::string BackupPathHash(const std::string& databasePath);

// The name of a copy made at `when` (local time), without a counter.
std::string BackupName(const std::string& databasePath, std::time_t when);

struct BackupResult {
    DbResult result;
    std::string path;  // the copy written (full path)
};

// Writes `model` as a new copy into `folder` (created when missing). A copy never replaces
// another: a name already taken in the same second gets "-2", "-3" ... Then removes all but
// the BackupsKept newest copies of the same database path.
BackupResult WriteBackup(const std::string& folder, const std::string& databasePath,
                         const DbModel& model, std::time_t when);
