// Copies of what a controller held, kept in the per-user data folder before anything in
// the controller is overwritten: "<database>-<6 hex of its path's hash>-<sequence number,
// 6 digits or more>-<YYYYMMDD-HHMMSS>.vx2", named after the file a link leads to. The
// folder is the user's alone (0700), every copy 0600.
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

// The name of the copy numbered `sequence`, made at `when` (local time; for the reader
// only: copies are ordered by their numbers, never by a clock).
std::string BackupName(const std::string& databasePath, long long sequence, std::time_t when);

struct BackupResult {
    DbResult result;
    std::string path;  // the copy written (full path)
};

// Writes `model` as a new copy into `folder` (created when missing), numbered one past
// the highest number among the copies of the same database. A copy never replaces
// another. Then removes all but the BackupsKept highest-numbered copies of the same
// database (copies named by an earlier version, by time alone, count as older than any
// numbered one), never the copy just made.
BackupResult WriteBackup(const std::string& folder, const std::string& databasePath,
                         const DbModel& model, std::time_t when);
