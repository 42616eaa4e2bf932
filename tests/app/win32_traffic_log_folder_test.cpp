// Where the Windows edition keeps its traffic log: beside the program where
// the operator may write there, else in the operator's local application
// data folder (an installed program under Program Files). The tests run as
// an administrator, for whom Program Files is writable, so the rule is fed
// the folders directly.
#include "app/toolkit/files.h"
#include "app/traffic_log_file.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace {

std::string Environment(const char* name) {
    char value[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA(name, value, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(value, length) : std::string{};
}

TEST(TrafficLogFolderOnWindows, AFolderTheOperatorCannotWriteGivesTheLocalApplicationData) {
    const std::string localAppData = Environment("LOCALAPPDATA");
    ASSERT_FALSE(localAppData.empty());
    EXPECT_EQ(TrafficLogFolder("C:\\no such folder\\"), localAppData + "\\mastercard-writer\\");
}

TEST(TrafficLogFolderOnWindows, AWritableProgramFolderIsKept) {
    const std::string temp = Environment("TEMP") + "\\";
    EXPECT_EQ(TrafficLogFolder(temp), temp);
    EXPECT_EQ(TrafficLogFolder(ProgramFolder()), ProgramFolder());
}

}  // namespace
