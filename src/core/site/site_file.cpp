#include "core/site/site_file.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <set>
#include <utility>

#include "core/keys/atomic_file.h"
#include "core/keys/profile.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr std::size_t kMaxSiteFileSize = 1u << 20;

SiteResult Fail(std::string text) {
    return {false, std::move(text)};
}

std::string FormatName(int typeFormat) {
    return typeFormat == 1 ? "em" : "ibutton";
}

std::string Quoted(const std::string& text) {
    return "«" + text + "»";
}

}  // namespace

SiteResult LoadSite(const std::string& path, Site& site) {
    std::string bytes;
    if (int err = ReadWholeFile(path, bytes, kMaxSiteFileSize))
        return Fail("Не удалось прочитать файл объекта " + path + ": " + ErrorText(err));
    json doc = json::parse(bytes, nullptr, false);
    if (doc.is_discarded() || !doc.is_object() || !doc.contains("doors"))
        return Fail("Файл " + path + " не является файлом объекта (.vx2site).");
    Site read;
    try {
        if (doc.value("version", 1) > kSiteVersion)
            return Fail("Файл объекта " + path +
                        " записан более новой версией программы; обновите программу.");
        read.name = doc.value("name", std::string());
        const std::string format = doc.value("display_format", std::string("ibutton"));
        if (format != "ibutton" && format != "em")
            return Fail("Файл объекта " + path + ": неизвестный формат отображения " +
                        Quoted(format) + " (ibutton или em).");
        read.typeFormat = format == "em" ? 1 : 0;
        for (const json& d : doc.at("doors")) {
            SiteDoor door;
            door.name = d.value("name", std::string());
            door.file = d.value("file", std::string());
            door.line = d.value("line", std::string());
            read.doors.push_back(std::move(door));
        }
    } catch (const json::exception&) {
        return Fail("Файл " + path + " не является файлом объекта (.vx2site).");
    }
    site = std::move(read);
    return {};
}

std::string SiteText(const Site& site) {
    json doors = json::array();
    for (const SiteDoor& d : site.doors)
        doors.push_back(json{{"name", d.name}, {"file", d.file}, {"line", d.line}});
    json doc{{"version", kSiteVersion},
             {"name", site.name},
             {"display_format", FormatName(site.typeFormat)},
             {"doors", doors}};
    return doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

std::string DoorFilePath(const std::string& sitePath, const SiteDoor& door) {
    fs::path file(door.file);
    if (file.is_absolute())
        return file.lexically_normal().string();
    fs::path folder = fs::path(sitePath).parent_path();
    return (folder / file).lexically_normal().string();
}

std::string DoorFileForSite(const std::string& sitePath, const std::string& dbPath) {
    std::error_code ec;
    fs::path folder = fs::absolute(fs::path(sitePath), ec).parent_path();
    fs::path db = fs::absolute(fs::path(dbPath), ec).lexically_normal();
    fs::path rel = db.lexically_relative(folder);
    if (rel.empty() || *rel.begin() == "..")
        return db.string();
    return rel.string();
}

std::optional<int> DoorAddress(const std::string& dbPath) {
    std::string bytes;
    if (ReadWholeFile(dbPath, bytes) != 0)
        return std::nullopt;
    ProfileFile file(std::move(bytes));
    if (!file.HasSection("ControllerSettings") && !file.HasSection("VardexDB2"))
        return std::nullopt;
    return file.ReadInteger("ControllerSettings", "Address", 0);
}

SiteResult CheckSite(const std::string& sitePath, const Site& site, const AddressOf& address) {
    const AddressOf& addressOf = address ? address : AddressOf(DoorAddress);
    std::set<std::string> names;
    std::map<std::string, std::string> files;                   // path -> door
    std::map<std::pair<std::string, int>, std::string> places;  // (line, address) -> door
    for (const SiteDoor& door : site.doors) {
        if (door.name.empty())
            return Fail("У двери нет названия.");
        if (door.file.empty())
            return Fail("У двери " + Quoted(door.name) + " нет файла базы.");
        if (!names.insert(door.name).second)
            return Fail("Две двери называются " + Quoted(door.name) + ".");
        const std::string path = DoorFilePath(sitePath, door);
        auto [f, newFile] = files.emplace(path, door.name);
        if (!newFile)
            return Fail("Двери " + Quoted(f->second) + " и " + Quoted(door.name) +
                        " указывают на один файл " + path + ".");
        if (door.line.empty())
            continue;
        std::optional<int> a = addressOf(path);
        if (!a)
            continue;  // a door whose file cannot be read is shown as such, not refused
        auto [p, newPlace] = places.emplace(std::make_pair(door.line, *a), door.name);
        if (!newPlace)
            return Fail("Двери " + Quoted(p->second) + " и " + Quoted(door.name) +
                        " имеют один адрес " + std::to_string(*a) + " на линии " + door.line +
                        ": контроллеры с одним адресом на одной линии мешают друг другу.");
    }
    return {};
}

SiteResult SaveSite(const std::string& path, const Site& site, const AddressOf& address) {
    if (SiteResult r = CheckSite(path, site, address); !r)
        return r;
    if (int err = ReplaceFile(path, SiteText(site)))
        return Fail("Не удалось записать файл объекта " + path + ": " + ErrorText(err));
    return {};
}

std::string DoorLine(const std::string& sitePath, const SiteDoor& door,
                     const LineOverrides& overrides) {
    auto it = overrides.find(sitePath + "\n" + door.name);
    return it != overrides.end() && !it->second.empty() ? it->second : door.line;
}
