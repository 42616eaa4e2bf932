// Where the switch file and the traffic log live: beside the program while
// its folder is writable, in the per-user data folder when it is not (an
// installed program), and what happens when that folder cannot be made.
#include "app_test_support.h"

#include "app/traffic_log_file.h"
#include "scoped_env.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

// A folder no one may write to, root included: the kernel refuses every
// write into a process's own /proc entry, so this holds in any test run.
const QString kReadOnlyProgramFolder = "/proc/self/";

QByteArray FileText(const QString& name) {
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

void Touch(const QString& name) {
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << name.toStdString();
}

using sio::test::ScopedEnv;

class TrafficLogFolderTest : public testing::Test {
protected:
    QTemporaryDir temp_;
    const QString root_ = temp_.path();
    ScopedEnv dataHome_{"XDG_DATA_HOME", (root_ + "/data").toStdString()};
    const QString dataFolder_ = root_ + "/data/mastercard-writer/";
    TestForm form;
};

TEST_F(TrafficLogFolderTest, TheDataFolderFollowsXdgDataHomeOrTheHomeFolder) {
    EXPECT_EQ(TrafficLogDataFolder(), dataFolder_);
    ScopedEnv home("HOME", (root_ + "/home/op").toStdString());
    {
        ScopedEnv unset("XDG_DATA_HOME", "");
        EXPECT_EQ(TrafficLogDataFolder(), root_ + "/home/op/.local/share/mastercard-writer/");
    }
    {
        // A relative value is not a data home.
        ScopedEnv relative("XDG_DATA_HOME", "my/data");
        EXPECT_EQ(TrafficLogDataFolder(), root_ + "/home/op/.local/share/mastercard-writer/");
    }
    ScopedEnv trailing("XDG_DATA_HOME", (root_ + "/x//").toStdString());
    EXPECT_EQ(TrafficLogDataFolder(), root_ + "/x/mastercard-writer/");
}

TEST_F(TrafficLogFolderTest, AWritableProgramFolderKeepsTheLogBesideTheProgram) {
    const QString program = root_ + "/bin/";
    ASSERT_TRUE(QDir().mkpath(program));
    ASSERT_TRUE(QDir().mkpath(root_ + "/data"));  // a data home exists; it must not matter
    EXPECT_EQ(TrafficLogFolder(S(program)), program);

    Touch(program + "writelog.txt");
    form.PrepareTrafficLog(TrafficLogFolder(S(program)));
    ASSERT_TRUE(form.FLogEnabled);
    form.LogTraffic("02", "Sendhex ", "08:15:42 307");
    EXPECT_EQ(FileText(Q(form.FLogFileName)), "08:15:42 307;Sendhex ; 02;\r\n");
    EXPECT_EQ(QFileInfo(Q(form.FLogFileName)).absolutePath() + '/', program);
    EXPECT_FALSE(QFileInfo::exists(dataFolder_));
}

TEST_F(TrafficLogFolderTest, AReadOnlyProgramFolderWithoutTheSwitchWritesNothing) {
    ASSERT_FALSE(QFileInfo(kReadOnlyProgramFolder).isWritable());
    EXPECT_EQ(TrafficLogFolder(S(kReadOnlyProgramFolder)), dataFolder_);
    // A folder that does not exist is not writable either.
    EXPECT_EQ(TrafficLogFolder(S(root_ + "/gone/")), dataFolder_);

    form.PrepareTrafficLog(TrafficLogFolder(S(kReadOnlyProgramFolder)));
    EXPECT_FALSE(form.FLogEnabled);
    EXPECT_TRUE(Q(form.FLogFileName).startsWith(dataFolder_));
    form.LogTraffic("02", "Sendhex ", "08:15:42 307");
    form.LogTraffic("06", "Recevhex ", "08:15:42 331");
    EXPECT_EQ(form.FLogLines.size(), 2u);
    // Nothing on disk, not even the data folder.
    EXPECT_FALSE(QFileInfo::exists(dataFolder_));
}

TEST_F(TrafficLogFolderTest, AReadOnlyProgramFolderLogsIntoTheDataFolderWithTheSwitchThere) {
    ASSERT_TRUE(QDir().mkpath(dataFolder_));
    Touch(dataFolder_ + "writelog.txt");
    form.PrepareTrafficLog(TrafficLogFolder(S(kReadOnlyProgramFolder)));
    ASSERT_TRUE(form.FLogEnabled);
    EXPECT_TRUE(Q(form.FLogFileName).startsWith(dataFolder_));
    form.LogTraffic("02", "Sendhex ", "08:15:42 307");
    form.LogTraffic("06", "Recevhex ", "08:15:42 331");
    EXPECT_EQ(FileText(Q(form.FLogFileName)),
              "08:15:42 307;Sendhex ; 02;\r\n08:15:42 331;Recevhex ; 06;\r\n");
}

TEST_F(TrafficLogFolderTest, AMissingDataFolderIsMadeAndOneThatCannotBeMadeLosesNoLine) {
    ASSERT_TRUE(QDir().mkpath(dataFolder_));
    Touch(dataFolder_ + "writelog.txt");
    form.PrepareTrafficLog(TrafficLogFolder(S(kReadOnlyProgramFolder)));
    ASSERT_TRUE(form.FLogEnabled);

    // The whole data home removed after the start, and a file put in its
    // place: the folder cannot be made.
    ASSERT_TRUE(QDir(root_ + "/data").removeRecursively());
    Touch(root_ + "/data");
    try {
        form.LogTraffic("02", "Sendhex ", "08:15:42 307");
        ADD_FAILURE() << "a log that cannot be saved must be reported";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find(form.FLogFileName),
                  std::string::npos)
            << error.what();
    }
    EXPECT_EQ(form.FLogLines, (std::vector<std::string>{"08:15:42 307;Sendhex ; 02;"}));

    // Once it can be made again it is, private to its owner, and the file
    // catches up with every line.
    ASSERT_TRUE(QFile::remove(root_ + "/data"));
    form.LogTraffic("06", "Recevhex ", "08:15:42 331");
    EXPECT_EQ(FileText(Q(form.FLogFileName)),
              "08:15:42 307;Sendhex ; 02;\r\n08:15:42 331;Recevhex ; 06;\r\n");
    // rwx for the owner (0x7000), nothing for group or others (0x0077).
    EXPECT_EQ(int(QFileInfo(dataFolder_).permissions() & 0x7077), 0x7000);
}

}  // namespace
