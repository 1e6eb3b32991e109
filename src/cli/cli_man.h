// The manual page of vardex2-cli, written from the same definitions as --help, so that
// a command added to the program is in its manual page too (made at build time).
#pragma once

#include <map>
#include <string>

namespace CLI {
class App;
}

// Roff for man(7): every command with its synopsis, arguments and options.
// `synopses`: each subcommand's line as the list of commands shows it.
std::string CliManPage(const CLI::App& app, const std::map<const CLI::App*, std::string>& synopses);
