// --json output: one object per run on standard output, so that scripts never parse
// the Russian text. Keys keep the order they are set in; every object is documented
// in docs/cli-json.md, and a key once published keeps its name and meaning.
//
//     if (args.json) {
//         CliJson out{{"file", path}};
//         out["keys"] = CliJson::array();
//         out["keys"].push_back(CliKeyJson(typeFormat, code));
//         CliPrintJson(out);
//     }
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "core/keys/key_code.h"

using CliJson = nlohmann::ordered_json;

// Writes the object and a newline to standard output. Text that is not valid UTF-8 is
// replaced, not thrown over.
void CliPrintJson(const CliJson& json);

// A key as a number and as the display format shows it: {"number": 1223629, "shown":
// "018,43981"}.
CliJson CliKeyJson(int typeFormat, KeyCode code);

// "ibutton" or "em": the names --format takes.
const char* CliFormatName(int typeFormat);
