// This user's lines of a site's doors, where a door's line on this computer differs from
// the one its site file names (another adapter, another device name). They are kept per
// user in $XDG_CONFIG_HOME/vardex2/site-lines.json (~/.config/vardex2 without it), a JSON
// object from "<site file's absolute path>\n<door name>" to the device, so that the
// window and the command line use the same ones.
#pragma once

#include <string>

#include "core/site/site_file.h"

// Where they are kept.
std::string SiteLinesPath();
// The device this user gave the door, "" for none.
std::string ReadSiteLineOverride(const std::string& sitePath, const std::string& door);
// Gives the door that device on this computer; "" takes it back (the site file's line
// again). Written whole, atomically.
SiteResult WriteSiteLineOverride(const std::string& sitePath, const std::string& door,
                                 const std::string& line);
// Every door of `site` this user gave a line, keyed as DoorLine looks them up.
LineOverrides ReadSiteLineOverrides(const std::string& sitePath, const Site& site);
