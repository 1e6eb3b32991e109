// Arbitrary bytes as an INI file and as a key database: every read and a write of
// each entry must finish without a crash, and what is written must read back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/keys/database.h"
#include "core/keys/display_list.h"
#include "core/keys/profile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);

    ProfileFile file(bytes);
    auto entries = file.ReadSectionEntries("VardexDB2");
    (void)file.ReadInteger("ControllerSettings", "TimeOpen", 1);
    (void)file.ReadString("ControllerSettings", "Vardex", "");

    // Rewriting every listed entry with its own value must leave its value unchanged.
    ProfileFile copy(file.Bytes());
    std::vector<std::pair<std::string, std::string>> owned(entries.begin(), entries.end());
    for (const auto& [name, value] : owned)
        copy.WriteString("VardexDB2", name, value);
    copy.WriteString("NewSection", "k", bytes.substr(0, 64));
    ProfileFile back(copy.Bytes());
    if (back.ReadString("NewSection", "k", "?") != copy.ReadString("NewSection", "k", "!"))
        std::abort();
    for (const auto& [name, value] : owned) {
        auto before = file.Read("VardexDB2", name);
        if (before && back.Read("VardexDB2", name) != before)
            std::abort();
    }
    if (!owned.empty())
        back.DeleteEntry("VardexDB2", owned.front().first, true);

    // The database load and its key list.
    DbModel model;
    if (!LoadDbBytes(bytes, model))
        std::abort();
    for (const DbKey& k : model.keys) {
        if (k.description.size() > static_cast<std::size_t>(MaxDescriptionLength))
            std::abort();
    }
    auto rows = SortedDisplayRows(model.TypeFormat, model.keys);
    ReformatDisplayRows(model.TypeFormat == 0 ? 1 : 0, rows);
    return 0;
}
