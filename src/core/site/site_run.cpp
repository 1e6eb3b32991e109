#include "core/site/site_run.h"

#include <map>
#include <thread>

std::vector<std::size_t> SiteDoorsOrAll(const Site& site, const std::vector<std::size_t>& doors) {
    if (!doors.empty())
        return doors;
    std::vector<std::size_t> all;
    for (std::size_t i = 0; i < site.doors.size(); ++i)
        all.push_back(i);
    return all;
}

void RunByLine(const SiteRun& run, const std::vector<std::size_t>& doors, TSiteLines* lines,
               const std::function<void(const SiteTarget&)>& work) {
    const Site& site = *run.site;
    std::map<std::string, std::vector<SiteTarget>> byLine;
    std::vector<std::string> order;
    for (std::size_t d : doors) {
        SiteTarget t;
        t.door = d;
        t.path = DoorFilePath(run.sitePath, site.doors[d]);
        t.line = DoorLine(run.sitePath, site.doors[d], run.overrides);
        t.address = DoorAddress(t.path).value_or(0);
        if (!byLine.count(t.line))
            order.push_back(t.line);
        byLine[t.line].push_back(std::move(t));
    }
    if (lines) {
        for (auto& [line, targets] : byLine)
            for (SiteTarget& t : targets) {
                if (line.empty())
                    t.lineError = "Для двери не указана линия (порт).";
                else
                    t.requester = lines->Door(line, t.address, t.lineError);
            }
    }
    auto one = [&](const std::vector<SiteTarget>& targets) {
        for (const SiteTarget& t : targets)
            work(t);
    };
    std::vector<std::thread> threads;
    for (std::size_t i = 1; i < order.size(); ++i)
        threads.emplace_back(one, std::cref(byLine[order[i]]));
    if (!order.empty())
        one(byLine[order[0]]);
    for (std::thread& t : threads)
        t.join();
}
