// The port the command line falls back on: VARDEX2_PORT, then the settings file as
// QSettings writes it (the file contents below are what Qt 6 wrote for these values).
#include "core/link/remembered_port.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

class RememberedPort : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vx_port.XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::optional<std::string> Read(const std::string& contents) {
        const std::string path = dir + "/Vardex2.conf";
        std::ofstream(path, std::ios::binary) << contents;
        return ReadRememberedPort(path);
    }
    std::string dir;
};

TEST_F(RememberedPort, ValuesAsQSettingsWritesThem) {
    EXPECT_EQ(Read("[General]\nComPort=/dev/ttyUSB0\n"), "/dev/ttyUSB0");
    EXPECT_EQ(Read("[General]\r\nComPort=/dev/ttyUSB0\r\n"), "/dev/ttyUSB0");
    EXPECT_EQ(Read("[General]\nComPort=\"/dev/a b;c\"\n"), "/dev/a b;c");
    EXPECT_EQ(Read("[General]\nComPort=\" /dev/x \\\"q\\\" \\\\t\"\n"), " /dev/x \"q\" \\t");
    EXPECT_EQ(Read("[General]\nComPort=@@weird\n"), "@weird");
    EXPECT_EQ(Read("[General]\nComPort=/dev/порт1\n"), "/dev/порт1");
    EXPECT_EQ(Read("[General]\nComPort=/dev/\\x43f\n"), "/dev/п");
}

TEST_F(RememberedPort, NothingToUse) {
    EXPECT_EQ(ReadRememberedPort(dir + "/missing.conf"), std::nullopt);
    EXPECT_EQ(Read("[General]\nComPort=\n"), std::nullopt);
    EXPECT_EQ(Read("[General]\nComPort=@Invalid()\n"), std::nullopt);
    EXPECT_EQ(Read("[General]\nOther=/dev/ttyS0\n"), std::nullopt);
    // Only [General] holds it; another section's ComPort is someone else's.
    EXPECT_EQ(Read("[Window]\nComPort=/dev/ttyS0\n"), std::nullopt);
    EXPECT_EQ(Read("[Window]\nComPort=/dev/ttyS0\n[General]\nComPort=/dev/ttyS1\n"), "/dev/ttyS1");
}

TEST_F(RememberedPort, EnvironmentFirstThenTheUsersFile) {
    std::filesystem::create_directories(dir + "/Vardex2");
    std::ofstream(dir + "/Vardex2/Vardex2.conf") << "[General]\nComPort=/dev/ttyACM3\n";
    ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    ::setenv("VARDEX2_PORT", "/dev/ttyUSB7", 1);
    EXPECT_EQ(DefaultPort(), "/dev/ttyUSB7");
    ::setenv("VARDEX2_PORT", "", 1);
    EXPECT_EQ(SettingsFilePath(), dir + "/Vardex2/Vardex2.conf");
    EXPECT_EQ(DefaultPort(), "/dev/ttyACM3");
    ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("HOME", dir.c_str(), 1);
    EXPECT_EQ(SettingsFilePath(), dir + "/.config/Vardex2/Vardex2.conf");
    EXPECT_EQ(DefaultPort(), std::nullopt);
    ::unsetenv("VARDEX2_PORT");
}

}  // namespace
