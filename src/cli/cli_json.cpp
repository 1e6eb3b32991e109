#include "cli/cli_json.h"

#include <cstdio>

void CliPrintJson(const CliJson& json) {
    const std::string text =
        json.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

CliJson CliKeyJson(int typeFormat, KeyCode code) {
    return CliJson{{"number", code}, {"shown", Format(typeFormat, code)}};
}

const char* CliFormatName(int typeFormat) {
    return typeFormat == TypeFormatEmMarine ? "em" : "ibutton";
}
