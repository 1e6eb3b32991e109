// vardex2-cli port-test: what the serial adapter can do, asked of the adapter alone.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_command.h"
#include "cli/cli_support.h"
#include "core/link/adapter_check.h"
#include "core/link/serial_port.h"

namespace {

// A pseudo-terminal takes any setting and has no line behind it.
constexpr int CliUntestable = 4;

std::string Ms(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f мс", ms);
    return text;
}

int RunPortTest(CliArgs& args) {
    const bool loopback = args.TakeFlag("--loopback");
    AdapterReport report;
    std::string error;
    if (!CheckAdapter(args.port, loopback, report, error)) {
        // The reason as every other command tells it, with its advice.
        TSerialPort port;
        std::string text;
        if (port.Open(args.port, text))
            text = error;
        std::fprintf(stderr, "%s\n%s\n", TSerialPort::OpenErrorCaption(), CliText(text).c_str());
        return CliPortNotOpened;
    }
    if (report.pseudoTerminal) {
        std::printf(
            "Порт %s - псевдотерминал: чётность mark и space, стоповые биты и линии "
            "DTR и RTS на нём проверить нельзя\n",
            args.port.c_str());
        return CliUntestable;
    }
    auto yes = [](bool ok, const char* good, const char* bad) { return ok ? good : bad; };
    std::printf("Порт: %s\n", args.port.c_str());
    std::printf("Чётность mark: %s\n", yes(report.mark, "применяется", "не применяется"));
    std::printf("Чётность space: %s\n", yes(report.space, "применяется", "не применяется"));
    std::printf("Два стоповых бита: %s\n",
                yes(report.twoStopBits, "применяются", "не применяются"));
    std::printf("Линия DTR: %s\n", yes(report.dtr, "управляется", "не управляется"));
    std::printf("Линия RTS: %s\n", yes(report.rts, "управляется", "не управляется"));
    std::printf("Переключение чётности: %s\n", Ms(report.paritySwitchMs).c_str());
    std::printf("Ожидание конца передачи: %s\n", Ms(report.drainMs).c_str());

    std::vector<std::string> missing;
    if (!report.mark)
        missing.push_back("чётность mark");
    if (!report.space)
        missing.push_back("чётность space");
    if (!report.twoStopBits)
        missing.push_back("два стоповых бита");
    if (!report.dtr)
        missing.push_back("линия DTR");
    if (!report.rts)
        missing.push_back("линия RTS");
    if (loopback) {
        std::printf(
            "Петля: вернулось %zu из %zu байт%s за %s (11-битные символы: не менее "
            "%s)\n",
            report.received.size(), report.sent.size(),
            report.LoopbackInOrder() ? " по порядку" : "", Ms(report.loopbackMs).c_str(),
            Ms(report.elevenBitMs).c_str());
        std::printf(
            "Петля показывает, что байты проходят через переключения чётности без "
            "потерь и по порядку и что символы передаются 11-битными; где был "
            "установлен 9-й бит, она не показывает: порт принимает с той же чётностью, "
            "с какой передаёт\n");
        if (!report.LoopbackInOrder())
            missing.push_back("байты в петле теряются или меняются");
        else if (!report.LoopbackTiming())
            missing.push_back("символы в петле короче 11 бит");
    }
    // The verdict is the report's own; the list above only says what is missing.
    if (report.Suitable()) {
        std::printf("Адаптер подходит для связи с контроллером\n");
        return CliOk;
    }
    std::string verdict = "Адаптер не подходит для связи с контроллером: ";
    for (size_t i = 0; i < missing.size(); ++i)
        verdict += (i ? ", " : "") + missing[i];
    std::printf("%s\n", verdict.c_str());
    return CliFailed;
}

}  // namespace

VX_CLI_COMMAND(
    "port-test",
    "check what the serial adapter can do (parity, stop bits, DTR, RTS) without a controller",
    [](CliDefine& d) {
        d.Flag("--loopback",
               "transmit and receive are wired together: also send a test frame through the "
               "parity switches and check that it comes back")
            .Link()
            .Footer(
                "Exit status: 0 the adapter is suitable, 1 something is missing (named on "
                "the last line), 3 the port could not be opened, 4 a pseudo-terminal, "
                "where parity cannot be tested.\n\nThe loopback shows that every byte "
                "comes back in order through the parity switches and that the characters "
                "take the time of 11-bit characters. It cannot show where the ninth bit was "
                "set: one port receives under the parity it sends with.");
    },
    RunPortTest);
