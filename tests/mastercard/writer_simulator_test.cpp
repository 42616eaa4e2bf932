// The simulated writer device run inside the test process, as the window's
// end-to-end tests run it.
#include "serial_line_client.h"
#include "writer_simulator.h"

#include "mastercard/hex_codec.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using writersim::WriterSimulator;

namespace {

const std::string kFrame =
    mastercard::HexToBytes(mastercard::BuildConfigFrame(mastercard::BuildMasterCardConfig({}).config));

// Collects the device's report lines so a test can wait for one.
class ReportedLines {
public:
    WriterSimulator::LineSink Sink() {
        return [this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
            added_.notify_all();
        };
    }
    bool WaitForPrefix(const std::string& prefix) {
        std::unique_lock lock(mutex_);
        return added_.wait_for(lock, 5s, [&] {
            for (const std::string& l : lines_) {
                if (l.rfind(prefix, 0) == 0) return true;
            }
            return false;
        });
    }

private:
    std::mutex mutex_;
    std::condition_variable added_;
    std::vector<std::string> lines_;
};

}  // namespace

TEST(WriterSimulator, RecordsAFrameThatArrivesInPieces) {
    WriterSimulator sim({});
    sim.Start();
    SerialLineClient line(sim.SlavePath());
    EXPECT_EQ(line.Ask("\x02", 1), "\x06");
    ASSERT_TRUE(line.Write(kFrame.substr(0, 5)));
    EXPECT_EQ(line.Ask(kFrame.substr(5), 1), "\x02");
    EXPECT_TRUE(sim.WaitForFrames(1, 5s));
    EXPECT_EQ(sim.Frames(), std::vector<std::string>{kFrame});
    EXPECT_EQ(line.Ask("\x06", 5)[1], '\x00');
}

TEST(WriterSimulator, DropsAHalfSentFrameAfterAQuietGap) {
    ReportedLines reported;
    writersim::SimulatorOptions options;
    options.frame_gap_ms = 100;
    WriterSimulator sim(options, reported.Sink());
    sim.Start();
    SerialLineClient line(sim.SlavePath());
    ASSERT_TRUE(line.Write(kFrame.substr(0, 10)));
    EXPECT_TRUE(reported.WaitForPrefix("dropped 10 bytes of an unfinished frame"));
    EXPECT_EQ(line.Ask("\x02", 1), "\x06");
    EXPECT_TRUE(sim.Frames().empty());
}

TEST(WriterSimulator, LinkLivesExactlyAsLongAsTheDevice) {
    char name[] = "/tmp/writer-sim-test-XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    const fs::path dir = name;
    std::ofstream(dir / "com5") << "taken";
    auto openFds = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); };
    const auto fdsBefore = openFds();

    writersim::SimulatorOptions options;
    options.port_dir = dir.string();
    options.com = 5;
    WriterSimulator refused(options);
    EXPECT_THROW(refused.Start(), std::runtime_error);
    EXPECT_EQ(refused.SlavePath(), "");  // nothing left open

    options.com = 6;
    WriterSimulator sim(options);
    sim.Start();
    EXPECT_EQ(sim.LinkPath(), (dir / "com6").string());
    EXPECT_EQ(fs::read_symlink(dir / "com6"), sim.SlavePath());
    {
        SerialLineClient line(sim.LinkPath());
        EXPECT_EQ(line.Ask("\x02", 1), "\x06");
    }
    sim.Stop();
    sim.Stop();
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "com6")));
    EXPECT_TRUE(fs::exists(dir / "com5"));
    EXPECT_EQ(openFds(), fdsBefore);
    fs::remove_all(dir);
}
