#include "serial/posix/port_map.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "port_dir.h"
#include "scoped_env.h"

namespace sio {
namespace {

using test::ScopedEnv;

std::string MakeTempDir() {
    char pattern[] = "/tmp/sio-home-XXXXXX";
    return ::mkdtemp(pattern);
}

TEST(PortName, DeviceAndShortFormsGiveTheNumber) {
    EXPECT_EQ(PortNumberFromName("\\\\.\\COM12"), 12);
    EXPECT_EQ(PortNumberFromName("com7"), 7);
    EXPECT_EQ(PortNumberFromName(DeviceNameFor(250)), 250);
    for (const char* name : {"", "COM", "\\\\.\\COM0", "COM05", "COM1x", "COM-1", "LPT1",
                             "/dev/ttyS0", "\\\\.\\COM99999999999"})
        EXPECT_EQ(PortNumberFromName(name), 0) << name;
}

TEST(PortMap, OnlyTheLinksOfSioPortDirExistDanglingOnesIncluded) {
    test::ScopedPortDir ports;
    ports.Link(3, "/dev/ttyUSB7");
    ports.Link(4, "/nonexistent/device");  // the open then says "no such port"
    EXPECT_EQ(PortPath(3), ports.path() + "/com3");
    EXPECT_EQ(PortPath(4), ports.path() + "/com4");
    EXPECT_EQ(PortPath(1), "");  // no fallback to /dev/ttyS0
    EXPECT_EQ(PortPath(0), "");
}

TEST(PortMap, LinksInTheConfigDirectoryComeBeforeTheFixedTable) {
    std::string home = MakeTempDir();
    ScopedEnv noPortDir("SIO_PORT_DIR", std::nullopt);
    ScopedEnv noXdg("XDG_CONFIG_HOME", "relative/is/ignored");
    ScopedEnv homeVar("HOME", home.c_str());
    std::filesystem::create_directories(home + "/.config/sio/ports");
    std::filesystem::create_symlink("/dev/ttyUSB2", home + "/.config/sio/ports/com1");

    EXPECT_EQ(PortPath(1), home + "/.config/sio/ports/com1");
    EXPECT_EQ(PortPath(4), "/dev/ttyS3");
    EXPECT_EQ(PortPath(5), "/dev/ttyUSB0");
    EXPECT_EQ(PortPath(12), "/dev/ttyACM3");
    EXPECT_EQ(PortPath(13), "");
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "/elsewhere");
        EXPECT_EQ(PortDirectory(), "/elsewhere/sio/ports");
    }
    std::filesystem::remove_all(home);
}

}  // namespace
}  // namespace sio
