#include "core/site/site_scan.h"

#include <filesystem>
#include <set>
#include <system_error>

#include "core/jobs/job_host.h"
#include "core/jobs/load_job.h"
#include "core/link/requester.h"
#include "core/site/site_run.h"

namespace {

// "door-7.vx2" in the site's folder, or the first of "door-7-2.vx2", ... that is free
// (on the disk and among the names already chosen).
std::string FreeDoorFile(const std::filesystem::path& folder, int address,
                         std::set<std::string>& taken) {
    for (int n = 1;; ++n) {
        std::string name = "door-" + std::to_string(address);
        if (n > 1)
            name += "-" + std::to_string(n);
        const std::string path = (folder / (name + ".vx2")).string();
        std::error_code ec;
        if (!taken.count(path) && !std::filesystem::exists(path, ec) && !ec) {
            taken.insert(path);
            return path;
        }
    }
}

std::string FreeDoorName(const Site& site, int address) {
    for (int n = 1;; ++n) {
        std::string name = "Дверь " + std::to_string(address);
        if (n > 1)
            name += " (" + std::to_string(n) + ")";
        bool used = false;
        for (const SiteDoor& door : site.doors)
            used = used || door.name == name;
        if (!used)
            return name;
    }
}

}  // namespace

std::vector<ScannedDoor> PlanScannedDoors(const std::string& sitePath, const Site& site,
                                          const std::string& line,
                                          const std::vector<ScanEntry>& found,
                                          const LineOverrides& overrides) {
    std::set<int> known;
    for (const SiteDoor& door : site.doors) {
        if (DoorLine(sitePath, door, overrides) != line)
            continue;
        if (std::optional<int> address = DoorAddress(DoorFilePath(sitePath, door)))
            known.insert(*address);
    }
    const std::filesystem::path folder =
        std::filesystem::absolute(std::filesystem::path(sitePath)).parent_path();
    std::set<std::string> taken;
    std::vector<ScannedDoor> plan;
    for (const ScanEntry& entry : found) {
        if (entry.doubtful || known.count(entry.address))
            continue;
        known.insert(entry.address);
        ScannedDoor door;
        door.address = entry.address;
        door.name = FreeDoorName(site, entry.address);
        door.file = FreeDoorFile(folder, entry.address, taken);
        plan.push_back(std::move(door));
    }
    return plan;
}

SiteResult AddScannedDoors(const std::string& sitePath, Site& site, const std::string& line,
                           TRequester& lineWorker, std::vector<ScannedDoor>& doors,
                           const std::function<bool()>& stop,
                           const std::function<void(const ScannedDoor&)>& progress) {
    Site grown = site;
    bool any = false;
    for (ScannedDoor& door : doors) {
        if (stop && stop())
            break;
        TAddressedRequester addressed(lineWorker, static_cast<std::uint8_t>(door.address));
        TJobLoop loop;
        std::optional<TLoadJob> job;
        {
            TSiteDoorHost host(loop, addressed);
            job.emplace(host);
            job->Address = door.address;
            host.Attach(*job);
            host.RunJob();
            if (host.failed)
                door.error = host.failed->text;
        }
        if (job->ReadComplete()) {
            DbModel loaded;
            const DbResult written = job->SaveTo(door.file, loaded);
            if (written) {
                door.error.clear();
                door.keys = static_cast<int>(loaded.keys.size());
                door.name = FreeDoorName(grown, door.address);
                grown.doors.push_back({door.name, DoorFileForSite(sitePath, door.file), line});
                any = true;
            } else {
                door.error = written.error;
            }
        } else if (door.error.empty()) {
            door.error = "Чтение из контроллера не завершено";
        }
        door.done = true;
        if (progress)
            progress(door);
    }
    if (!any)
        return {};
    SiteResult saved = SaveSite(sitePath, grown);
    if (saved)
        site = std::move(grown);
    return saved;
}
