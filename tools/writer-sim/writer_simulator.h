// A simulated writer device on a pseudo-terminal, run by one thread of its
// own. The writer-sim program wraps it; tests run it inside their process.
//
//   writersim::SimulatorOptions options;
//   options.port_dir = dir;           // link it as <dir>/com3 for the port map
//   options.com = 3;
//   options.faults.status = 0xFF;     // report every card as failed
//   writersim::WriterSimulator sim(options);
//   sim.Start();                      // throws when the device cannot be made
//   ... the program talks to COM3 ...
//   sim.WaitForFrames(1, std::chrono::seconds(5));
//   std::vector<std::string> frames = sim.Frames();
//   sim.Stop();                       // also done by the destructor
#pragma once

#include "mastercard/writer_protocol.h"
#include "port_link.h"
#include "serial/posix/pseudo_terminal.h"
#include "serial/posix/unique_fd.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace writersim {

struct SimulatorOptions {
    mastercard::WriterFaults faults;
    // With com > 0 the device is linked as <port_dir>/com<com>; otherwise
    // only its slave path is known.
    std::string port_dir;
    int com = 0;
    // A frame whose bytes stop coming for this long is dropped, so a
    // half-sent frame cannot swallow the next handshake. 0: never.
    int frame_gap_ms = 500;
};

class WriterSimulator {
public:
    // Receives every line the device reports (each exchange, each decoded
    // card), called on the simulator's thread.
    using LineSink = std::function<void(const std::string& line)>;

    explicit WriterSimulator(SimulatorOptions options, LineSink sink = {});
    ~WriterSimulator();
    WriterSimulator(const WriterSimulator&) = delete;
    WriterSimulator& operator=(const WriterSimulator&) = delete;

    // Opens the pseudo-terminal, creates the link and starts the thread; the
    // device answers as soon as this returns. Throws std::system_error or
    // std::runtime_error, leaving nothing behind.
    void Start();
    // Stops and joins the thread, removes the link and closes the device.
    // Safe to call more than once.
    void Stop();

    const std::string& SlavePath() const { return pty_.slavePath; }
    const std::string& LinkPath() const { return link_.Path(); }

    // Every complete frame received so far (26 bytes each, valid or not).
    std::vector<std::string> Frames() const;
    // Waits until at least `count` frames have arrived; false at the time-out.
    bool WaitForFrames(std::size_t count, std::chrono::milliseconds timeout) const;

private:
    using Clock = std::chrono::steady_clock;

    struct PendingWrite {
        Clock::time_point due;
        std::string bytes;
        std::size_t written = 0;
    };

    void Run();
    void ReadRequests();
    void Handle(const mastercard::WriterStep& step);
    void WriteDueReplies();
    void DropStalePartialFrame();
    int PollTimeoutMs() const;
    void Report(const std::string& line) const;

    SimulatorOptions options_;
    LineSink sink_;

    sio::PseudoTerminal pty_;
    PortLink link_;
    sio::UniqueFd stop_event_;
    std::thread thread_;

    // Touched only by the simulator's thread while it runs.
    mastercard::WriterDevice device_;
    std::deque<PendingWrite> replies_;  // in due order
    Clock::time_point last_byte_;
    bool waiting_for_output_room_ = false;
    bool master_failed_ = false;
    int cards_ = 0;

    mutable std::mutex frames_lock_;  // guards frames_
    mutable std::condition_variable frames_arrived_;
    std::vector<std::string> frames_;
};

}  // namespace writersim
