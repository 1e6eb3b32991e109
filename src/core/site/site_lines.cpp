#include "core/site/site_lines.h"

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <system_error>

#include "core/keys/atomic_file.h"

using nlohmann::json;

namespace {

constexpr std::size_t kMaxSize = 1 << 20;

// The site file's path as every program names it, however it was given.
std::string Key(const std::string& sitePath, const std::string& door) {
    std::error_code ec;
    std::filesystem::path path = std::filesystem::weakly_canonical(sitePath, ec);
    if (ec)
        path = std::filesystem::absolute(sitePath, ec);
    return path.string() + "\n" + door;
}

// The lines kept; an absent, unreadable or damaged file holds none.
json ReadAll() {
    std::string bytes;
    if (ReadWholeFile(SiteLinesPath(), bytes, kMaxSize) != 0)
        return json::object();
    json doc = json::parse(bytes, nullptr, false);
    return doc.is_object() ? doc : json::object();
}

}  // namespace

std::string SiteLinesPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::filesystem::path base;
    if (config && *config == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        base = std::filesystem::path(home && *home ? home : "/") / ".config";
    }
    return (base / "vardex2" / "site-lines.json").string();
}

std::string ReadSiteLineOverride(const std::string& sitePath, const std::string& door) {
    const json all = ReadAll();
    const auto it = all.find(Key(sitePath, door));
    return it != all.end() && it->is_string() ? it->get<std::string>() : std::string();
}

SiteResult WriteSiteLineOverride(const std::string& sitePath, const std::string& door,
                                 const std::string& line) {
    json all = ReadAll();
    if (line.empty())
        all.erase(Key(sitePath, door));
    else
        all[Key(sitePath, door)] = line;
    const std::string path = SiteLinesPath();
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    if (int err = ReplaceFile(path, all.dump(2, ' ', false, json::error_handler_t::replace) + "\n"))
        return {false, "Не удалось записать файл " + path + ": " + ErrorText(err)};
    return {};
}

LineOverrides ReadSiteLineOverrides(const std::string& sitePath, const Site& site) {
    const json all = ReadAll();
    LineOverrides overrides;
    for (const SiteDoor& door : site.doors) {
        const auto it = all.find(Key(sitePath, door.name));
        if (it != all.end() && it->is_string() && !it->get<std::string>().empty())
            overrides[sitePath + "\n" + door.name] = it->get<std::string>();
    }
    return overrides;
}
