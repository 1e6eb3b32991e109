// vardex2-cli port-test where no adapter is: a pseudo-terminal and a missing device.
#include <gtest/gtest.h>

#include "support/sim_process.h"

namespace {

TEST(CliPortTest, PseudoTerminalCannotTestParity) {
    SimProcess sim;
    for (const char* loopback : {"", "--loopback"}) {
        std::vector<std::string> argv = {CliPath(), "--port", sim.Port(), "port-test"};
        if (*loopback)
            argv.push_back(loopback);
        const ProcessResult r = RunProgram(argv);
        EXPECT_EQ(r.status, 4) << loopback;
        EXPECT_EQ(r.out, "Порт " + sim.Port() +
                             " - псевдотерминал: чётность mark и space, стоповые биты и линии "
                             "DTR и RTS на нём проверить нельзя\n");
        EXPECT_EQ(r.err, "");
    }
    // Nothing went to the controller.
    EXPECT_EQ(sim.Log().find("request "), std::string::npos) << sim.Log();
}

TEST(CliPortTest, DeviceThatCannotBeOpened) {
    const ProcessResult r =
        RunProgram({CliPath(), "port-test", "--port", "/dev/vardex-no-such-port"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Ошибка подключения"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("/dev/vardex-no-such-port"), std::string::npos) << r.err;
}

}  // namespace
