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

// Runs one request without reply data and reports the outcome the usual way: "OK" is
// the link check's answer (standard output), and a line of the clear's log.
int RunSingle(CliArgs& args, const RequestFrame& request, bool answer) {
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
    if (answer) {
        std::printf("OK\n");
        std::fflush(stdout);
    } else {
        CliLog(args, "OK");
    }
    return CliOk;
}

int LinkCheck(CliArgs& args) {
    return RunSingle(args, MakeCheckLink(), true);
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
    return RunSingle(args, MakeClearAll(), false);
}

}  // namespace

VX_CLI_COMMAND(
    "link-check", "check that the controller answers (command 0x02)",
    [](CliDefine& d) { d.Link(); }, LinkCheck);
VX_CLI_COMMAND(
    "clear", "remove every key from the controller (command 0x01); asks twice without --yes",
    [](CliDefine& d) { d.Link().Yes(); }, Clear);
