// The link check and the full clear of the controller.
#include <cstdio>

#include "cli/cli_command.h"
#include "cli/cli_support.h"

namespace {

bool NoExtraArguments(const CliArgs& args) {
    if (args.words.empty()) {
        return true;
    }
    std::fprintf(stderr, "Лишний аргумент: %s\n", args.words.front().c_str());
    return false;
}

// Runs one request without reply data and reports the outcome the usual way.
int RunSingle(CliArgs& args, const RequestFrame& request) {
    if (!NoExtraArguments(args)) {
        return CliUsage;
    }
    CliLink link;
    if (!link.Open(args)) {
        return CliPortNotOpened;
    }
    const int result = link.Run(request);
    if (!CliLinkSucceeded(result)) {
        return CliLinkFailure(result);
    }
    std::printf("OK\n");
    return CliOk;
}

int LinkCheck(CliArgs& args) {
    return RunSingle(args, MakeCheckLink());
}

int Clear(CliArgs& args) {
    if (!NoExtraArguments(args)) {
        return CliUsage;
    }
    // Clearing the controller asks twice, as the program does.
    const int confirmed =
        CliConfirm(args, "Полная очистка контроллера",
                   {"Вы действительно хотите выполнить полную очистку контроллера?",
                    "Внимание! Все данные в контроллере будут удалены!\rПродолжить?"});
    if (confirmed != CliOk) {
        return confirmed;
    }
    return RunSingle(args, MakeClearAll());
}

}  // namespace

VX_CLI_COMMAND(
    "link-check", "check that the controller answers (command 0x02)",
    [](CliDefine& d) { d.Link(); }, LinkCheck);
VX_CLI_COMMAND(
    "clear", "remove every key from the controller (command 0x01); asks twice without --yes",
    [](CliDefine& d) { d.Link().Yes(); }, Clear);
