// The one rule for every job that writes a database file's keys to the controller (the
// export, and whatever else replaces what the controller holds with the file's keys): a
// file whose key list was read only in part is refused. The read stops at an entry whose
// name is not a number; what follows it never reaches the list, and writing the list to
// the controller would wipe those keys there.
#pragma once

#include <optional>

#include "core/jobs/job_host.h"
#include "core/keys/database.h"

// `read`: the result of reading the file (LoadDbFile / LoadDbBytes). Returns the box that
// tells the operator why nothing is written, or nothing when the keys may go.
std::optional<JobBox> RefusePartialRead(const DbResult& read);
