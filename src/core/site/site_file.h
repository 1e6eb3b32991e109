// A site: the doors of a building, each a controller on a line with its own database
// file. The site file (".vx2site", UTF-8 JSON, see docs/site-file.md) only names the
// doors; what a door admits lives in its own ".vx2" and its own journal, so every door
// file still opens alone as before.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct SiteDoor {
    std::string name;  // "Главный вход" (UTF-8)
    std::string file;  // the door's database, as written in the site file (relative to it)
    std::string line;  // the device path of its line ("/dev/ttyUSB0")
};

struct Site {
    std::string name;
    int typeFormat = 0;  // the display format of the people view: 0 iButton, 1 EM-Marine
    std::vector<SiteDoor> doors;
};

struct SiteResult {
    bool ok = true;
    std::string error;  // UTF-8, for a box captioned "Ошибка" or standard error
    explicit operator bool() const { return ok; }
};

inline constexpr const char* kSiteExtension = ".vx2site";
inline constexpr int kSiteVersion = 1;

// Reads and checks the site file (a regular file, at most 1 MiB, the site's JSON).
SiteResult LoadSite(const std::string& path, Site& site);
// The file's text for `site` (two-space indented JSON, a final newline).
std::string SiteText(const Site& site);
// Checks the site (see CheckSite) and replaces the file atomically.
// `address` gives a door's controller address from its database file (nothing when the
// file cannot be read); by default DoorAddress below.
using AddressOf = std::function<std::optional<int>(const std::string& dbPath)>;
SiteResult SaveSite(const std::string& path, const Site& site, const AddressOf& address = {});
// What keeps a site from being saved: a door without a name or a file, two doors of one
// name, two doors of one file, and two doors with one address on one line.
SiteResult CheckSite(const std::string& sitePath, const Site& site, const AddressOf& address = {});

// A door's database path as the program opens it: relative paths are taken from the site
// file's folder.
std::string DoorFilePath(const std::string& sitePath, const SiteDoor& door);
// The door's file as the site file writes it: relative to the site's folder where it lies
// below it, absolute otherwise.
std::string DoorFileForSite(const std::string& sitePath, const std::string& dbPath);

// The controller address a database file holds ("Address" in "ControllerSettings", 0 when
// absent); nothing when the file cannot be read or is not a database.
std::optional<int> DoorAddress(const std::string& dbPath);

// The line of each door as this user's computer has it: the site file's line unless the
// user named another for that door (keys are "<site path>\n<door name>").
using LineOverrides = std::map<std::string, std::string>;
std::string DoorLine(const std::string& sitePath, const SiteDoor& door,
                     const LineOverrides& overrides);
