// The writer-sim program on a pseudo-terminal, seen from the program's side
// of the line: a plain raw descriptor on the linked COM port.
#include "serial_line_client.h"

#include "command_line.h"

#include "mastercard/hex_codec.h"
#include "mastercard/master_card_config.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kFrame =
    mastercard::HexToBytes(mastercard::BuildConfigFrame(mastercard::BuildMasterCardConfig({}).config));

// writer-sim as a child process, its standard output read line by line.
class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> args) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
        args.insert(args.begin(), WRITER_SIM_PATH);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, WRITER_SIM_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        stdin_ = in[1];
        stdout_ = out[0];
    }
    ~SimProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        CloseStdin();
        if (stdout_ >= 0) ::close(stdout_);
    }

    // Reads output until a line equal to `line` (or, with prefix, starting
    // with it); returns that line, or "" at the time-out or end of output.
    std::string WaitForLine(const std::string& line, bool prefix = false, std::chrono::milliseconds timeout = 10s) {
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            for (std::size_t pos; (pos = pending_.find('\n')) != std::string::npos;) {
                std::string got = pending_.substr(0, pos);
                pending_.erase(0, pos + 1);
                output_ += got + "\n";
                if (got == line || (prefix && got.rfind(line, 0) == 0)) return got;
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd p{stdout_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return "";
            char buffer[1024];
            const ssize_t n = ::read(stdout_, buffer, sizeof buffer);
            if (n <= 0) {
                ended_ = true;
                return "";
            }
            pending_.append(buffer, static_cast<std::size_t>(n));
        }
    }

    // Waits for the process to end (its output closes first) and returns its
    // exit code, or -1 when it did not end by itself.
    int Exit() {
        while (!ended_ && !WaitForLine("", true).empty()) {
        }
        int status = 0;
        if (!ended_ || ::waitpid(pid_, &status, 0) != pid_) return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void Signal(int sig) { ::kill(pid_, sig); }
    void CloseStdin() {
        if (stdin_ >= 0) ::close(stdin_);
        stdin_ = -1;
    }
    const std::string& Output() const { return output_; }

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
    bool ended_ = false;
    std::string pending_;
    std::string output_;
};

class WriterSimTool : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/writer-sim-test-XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        dir_ = name;
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Starts the device linked as COM3 with extra options and waits until
    // it can be opened.
    std::unique_ptr<SimProcess> Start(std::vector<std::string> options) {
        options.insert(options.end(), {"--port-dir", dir_.string(), "--com", "3"});
        auto sim = std::make_unique<SimProcess>(options);
        EXPECT_EQ(sim->WaitForLine("ready"), "ready") << sim->Output();
        return sim;
    }
    std::string Port() const { return (dir_ / "com3").string(); }

    fs::path dir_;
};

}  // namespace

TEST_F(WriterSimTool, AnswersTheWholeExchangeAndPrintsEachCard) {
    auto sim = Start({});
    EXPECT_TRUE(fs::is_symlink(Port()));
    {
        SerialLineClient line(Port());
        ASSERT_TRUE(line.IsOpen());
        EXPECT_EQ(line.Ask("\x02", 1), "\x06");
        EXPECT_EQ(line.Ask(kFrame, 1), "\x02");
        EXPECT_EQ(line.Ask("\x06", 5), std::string("\x20\x00\x00\x00\x03", 5));
    }
    EXPECT_NE(sim->WaitForLine("card 1:"), "");
    EXPECT_NE(sim->WaitForLine("  Password enable: 0 (disabled)"), "");

    // The program closes and reopens its port between attempts.
    SerialLineClient again(Port());
    EXPECT_EQ(again.Ask("\x02", 1), "\x06");
    std::string bad = kFrame;
    bad[24] = static_cast<char>(bad[24] ^ 0x40);
    EXPECT_EQ(again.Ask(bad, 1), "\x02");
    EXPECT_EQ(again.Ask("\x06", 5)[1], '\xFF');
    EXPECT_NE(sim->WaitForLine("refused frame (bad checksum)", true), "");

    sim->Signal(SIGTERM);
    EXPECT_EQ(sim->Exit(), 0);
    EXPECT_NE(sim->Output().find("stopped\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(fs::symlink_status(Port())));
}

TEST_F(WriterSimTool, ChangedReplies) {
    auto sim = Start({"--handshake-reply", "06 06", "--prompt-extra", "03", "--status", "0F", "--status-length", "4"});
    SerialLineClient line(Port());
    EXPECT_EQ(line.Ask("\x02", 2), "\x06\x06");
    EXPECT_EQ(line.Ask(kFrame, 2), "\x02\x03");
    EXPECT_EQ(line.Ask("\x06", 4), std::string("\x20\x0F\x00\x00", 4));
    // A fifth status byte would come before the next answer.
    EXPECT_EQ(line.Ask("\x02", 2), "\x06\x06");
}

TEST_F(WriterSimTool, SilentDeviceNeverAnswers) {
    auto sim = Start({"--silent=handshake,status"});
    SerialLineClient line(Port());
    ASSERT_TRUE(line.Write("\x02"));
    EXPECT_NE(sim->WaitForLine("recv 02: handshake, not answered"), "");
    EXPECT_EQ(line.Ask(kFrame, 1), "\x02");
    ASSERT_TRUE(line.Write("\x06"));
    EXPECT_NE(sim->WaitForLine("recv 06: acknowledge, not answered"), "");
    // Were anything queued, it would have gone out by the time the next
    // request is answered.
    EXPECT_EQ(line.Ask(kFrame, 1), "\x02");
}

TEST_F(WriterSimTool, LateAndChunkedReplies) {
    auto sim = Start({"--reply-delay", "300", "--delay-on", "handshake", "--chunk-delay", "100", "--chunks", "3,2"});
    SerialLineClient line(Port());
    auto sent = Clock::now();
    EXPECT_EQ(line.Ask("\x02", 1), "\x06");
    EXPECT_GE(Clock::now() - sent, 300ms);

    EXPECT_EQ(line.Ask(kFrame, 1), "\x02");
    sent = Clock::now();
    ASSERT_TRUE(line.Write("\x06"));
    EXPECT_EQ(line.Read(3), std::string("\x20\x00\x00", 3));
    EXPECT_EQ(line.Read(2), std::string("\x00\x03", 2));
    EXPECT_GE(Clock::now() - sent, 100ms);
}

TEST_F(WriterSimTool, StopsWhenStandardInputCloses) {
    auto sim = Start({"--exit-on-stdin-eof"});
    sim->CloseStdin();
    EXPECT_EQ(sim->Exit(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(Port())));
}

TEST_F(WriterSimTool, WithoutALinkPrintsTheDevicePath) {
    SimProcess sim({});
    const std::string device = sim.WaitForLine("device ", true);
    ASSERT_NE(device, "");
    SerialLineClient line(device.substr(7));
    EXPECT_EQ(line.Ask("\x02", 1), "\x06");
    sim.Signal(SIGINT);
    EXPECT_EQ(sim.Exit(), 0);
}

TEST_F(WriterSimTool, ReplacesOnlyAStaleLink) {
    fs::create_symlink("/dev/pts/does-not-exist", dir_ / "com3");
    auto sim = Start({});
    SerialLineClient line(Port());
    EXPECT_EQ(line.Ask("\x02", 1), "\x06");

    std::ofstream(dir_ / "com4") << "someone else's";
    SimProcess second({"--port-dir", dir_.string(), "--com", "4"});
    EXPECT_EQ(second.Exit(), 1);
    EXPECT_NE(second.Output().find("already exists"), std::string::npos);
}

TEST_F(WriterSimTool, RefusesBadOptions) {
    for (std::vector<std::string> args : {std::vector<std::string>{"--status", "100"}, {"--handshake-reply", "6"},
                                          {"--com", "3"}, {"--silent=everything"}, {"--reply-delay"}}) {
        SimProcess sim(args);
        EXPECT_EQ(sim.Exit(), 2) << args[0];
    }
}

// The option limits, just inside and just outside, without starting the
// program: each row is the arguments and the error text (empty: accepted).
TEST(WriterSimCommandLine, LimitsOfTheOptions) {
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{"--port-dir", "/tmp/p", "--com", "255"}, ""},
        {{"--port-dir", "/tmp/p", "--com", "256"}, "--com: expected a number from 1 to 255, not \"256\""},
        {{"--port-dir", "/tmp/p"}, "--port-dir and --com go together"},
        {{"--status-length=64"}, ""},
        {{"--status-length=65"}, "--status-length: expected a length from 0 to 64, not \"65\""},
        {{"--chunks", "4,64"}, ""},
        {{"--chunks", "3,0"}, "--chunks: expected sizes from 1 to 64, e.g. 3,2, not \"3,0\""},
    };
    for (const auto& [args, error] : rows) EXPECT_EQ(writersim::ParseCommandLine(args).error, error) << args[0];

    const writersim::CommandLine cl = writersim::ParseCommandLine(
        {"--port-dir", "/tmp/p", "--com", "255", "--status-length", "64", "--chunks", "4,64"});
    EXPECT_EQ(cl.options.com, 255);
    EXPECT_EQ(cl.options.faults.status_length, 64u);
    EXPECT_EQ(cl.options.faults.chunk_sizes, (std::vector<std::size_t>{4, 64}));
}
