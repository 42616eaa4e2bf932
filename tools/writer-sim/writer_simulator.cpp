#include "writer_simulator.h"

#include "mastercard/hex_codec.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <stdexcept>
#include <system_error>

namespace writersim {

using mastercard::BytesToHex;
using mastercard::WriterStep;

WriterSimulator::WriterSimulator(SimulatorOptions options, LineSink sink)
    : options_(std::move(options)), sink_(std::move(sink)) {}

WriterSimulator::~WriterSimulator() { Stop(); }

void WriterSimulator::Start() {
    if (thread_.joinable()) throw std::logic_error("writer simulator already started");
    if (options_.com > 0 && options_.port_dir.empty()) {
        throw std::invalid_argument("a COM number needs a port directory to link it in");
    }
    try {
        pty_ = sio::OpenHeldPseudoTerminal();
        stop_event_ = sio::UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (!stop_event_) throw std::system_error(errno, std::generic_category(), "eventfd");
        if (options_.com > 0) link_ = PortLink(options_.port_dir, options_.com, pty_.slavePath);
        device_ = mastercard::WriterDevice(options_.faults);
        replies_.clear();
        waiting_for_output_room_ = false;
        master_failed_ = false;
        thread_ = std::thread(&WriterSimulator::Run, this);
    } catch (...) {
        link_.Remove();
        stop_event_.reset();
        pty_ = {};
        throw;
    }
}

void WriterSimulator::Stop() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        // An eventfd write of 8 bytes cannot fail short of a counter
        // overflow, which one wake-up cannot reach.
        [[maybe_unused]] const ssize_t n = ::write(stop_event_.get(), &one, sizeof one);
        thread_.join();
    }
    link_.Remove();
    stop_event_.reset();
    pty_ = {};
}

std::vector<std::string> WriterSimulator::Frames() const {
    std::lock_guard lock(frames_lock_);
    return frames_;
}

bool WriterSimulator::WaitForFrames(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(frames_lock_);
    return frames_arrived_.wait_for(lock, timeout, [&] { return frames_.size() >= count; });
}

void WriterSimulator::Report(const std::string& line) const {
    if (sink_) sink_(line);
}

void WriterSimulator::Run() {
    try {
        for (;;) {
            pollfd fds[2] = {};
            // A failed line is left out of the poll: it would report its
            // error at once on every pass and keep this thread on the CPU.
            fds[0].fd = master_failed_ ? -1 : pty_.master.get();
            fds[0].events = static_cast<short>(POLLIN | (waiting_for_output_room_ ? POLLOUT : 0));
            fds[1].fd = stop_event_.get();
            fds[1].events = POLLIN;

            if (::poll(fds, 2, PollTimeoutMs()) < 0) {
                if (errno == EINTR) continue;
                Report(std::string("poll failed: ") + std::strerror(errno));
                return;
            }
            if (fds[1].revents != 0) return;

            const short got = fds[0].revents;
            if (got & POLLIN) {
                ReadRequests();
            } else if (got & (POLLHUP | POLLERR | POLLNVAL)) {
                Report("the pseudo-terminal failed; no more requests are read");
                master_failed_ = true;
            }
            if (got & POLLOUT) waiting_for_output_room_ = false;
            WriteDueReplies();
            DropStalePartialFrame();
        }
    } catch (const std::exception& e) {
        // Nothing may escape a thread; the device simply goes quiet.
        try {
            Report(std::string("simulator stopped: ") + e.what());
        } catch (...) {
        }
    }
}

int WriterSimulator::PollTimeoutMs() const {
    std::optional<Clock::time_point> wake;
    if (!replies_.empty() && !waiting_for_output_room_) wake = replies_.front().due;
    if (options_.frame_gap_ms > 0 && device_.AssemblingFrame()) {
        const Clock::time_point gapEnd = last_byte_ + std::chrono::milliseconds(options_.frame_gap_ms);
        wake = wake ? std::min(*wake, gapEnd) : gapEnd;
    }
    if (!wake) return -1;
    const auto now = Clock::now();
    if (*wake <= now) return 0;
    // Rounded up, so the thread never wakes just before a deadline and
    // spins on zero time-outs until it passes.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*wake - now).count();
    return static_cast<int>(std::min<long long>(ms, std::numeric_limits<int>::max()));
}

void WriterSimulator::ReadRequests() {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(pty_.master.get(), buffer, sizeof buffer);
        if (n > 0) {
            last_byte_ = Clock::now();
            for (const WriterStep& step : device_.Receive(std::string_view(buffer, static_cast<std::size_t>(n)))) {
                Handle(step);
            }
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        Report(std::string("reading the pseudo-terminal failed: ") +
               (n == 0 ? "end of file" : std::strerror(errno)));
        master_failed_ = true;
        return;
    }
}

namespace {

std::string RequestName(WriterStep::Kind kind) {
    switch (kind) {
    case WriterStep::Kind::Handshake: return "handshake";
    case WriterStep::Kind::Frame: return "frame";
    case WriterStep::Kind::Acknowledge: return "acknowledge";
    case WriterStep::Kind::Stray: return "ignored";
    }
    return "?";
}

// How the reply will go out, when it is not simply at once and whole.
std::string ReplyPlan(const WriterStep& step) {
    if (!step.reply) return "";
    if (step.pieces.empty()) return ", not answered";
    std::string plan;
    if (step.pieces.front().delay_ms > 0) {
        plan += ", answer after " + std::to_string(step.pieces.front().delay_ms) + " ms";
    }
    if (step.pieces.size() > 1) plan += ", answer in " + std::to_string(step.pieces.size()) + " pieces";
    return plan;
}

}  // namespace

void WriterSimulator::Handle(const WriterStep& step) {
    std::string status;
    if (step.kind == WriterStep::Kind::Acknowledge && step.reply_bytes.size() >= 2) {
        const auto code = static_cast<std::uint8_t>(step.reply_bytes[1]);
        status = ", status " + mastercard::ByteToHex(code) +
                 (code == mastercard::kStatusSuccess   ? " (success)"
                  : code == mastercard::kStatusFailure ? " (failure)"
                                                       : " (error)");
    }
    Report("recv " + BytesToHex(step.received) + ": " + RequestName(step.kind) + status + ReplyPlan(step));

    if (step.kind == WriterStep::Kind::Frame) {
        const bool valid = step.frame.fault == mastercard::FrameFault::None;
        if (valid) {
            Report("card " + std::to_string(++cards_) + ":");
        } else {
            Report("refused frame (" + mastercard::DescribeFrameFault(step.frame.fault) +
                   "), its record as received:");
        }
        for (const std::string& line : mastercard::DescribeMasterCardConfig(step.frame.config)) {
            Report("  " + line);
        }
        {
            std::lock_guard lock(frames_lock_);
            frames_.push_back(step.received);
        }
        frames_arrived_.notify_all();
    }

    // Pieces keep their order: a reply never overtakes one still waiting.
    Clock::time_point due = Clock::now();
    for (const mastercard::ReplyPiece& piece : step.pieces) {
        due += std::chrono::milliseconds(piece.delay_ms);
        if (!replies_.empty()) due = std::max(due, replies_.back().due);
        replies_.push_back({due, piece.bytes, 0});
    }
}

void WriterSimulator::WriteDueReplies() {
    while (!replies_.empty() && !waiting_for_output_room_) {
        PendingWrite& reply = replies_.front();
        if (reply.due > Clock::now()) return;
        if (master_failed_) {
            replies_.pop_front();
            continue;
        }
        const ssize_t n = ::write(pty_.master.get(), reply.bytes.data() + reply.written,
                                  reply.bytes.size() - reply.written);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                waiting_for_output_room_ = true;
                return;
            }
            Report("send " + BytesToHex(reply.bytes) + " failed: " + std::strerror(errno));
            replies_.pop_front();
            continue;
        }
        reply.written += static_cast<std::size_t>(n);
        if (reply.written == reply.bytes.size()) {
            Report("send " + BytesToHex(reply.bytes));
            replies_.pop_front();
        }
    }
}

void WriterSimulator::DropStalePartialFrame() {
    if (options_.frame_gap_ms <= 0 || !device_.AssemblingFrame()) return;
    if (Clock::now() < last_byte_ + std::chrono::milliseconds(options_.frame_gap_ms)) return;
    const std::string dropped = device_.AbandonPartialFrame();
    Report("dropped " + std::to_string(dropped.size()) + " bytes of an unfinished frame after " +
           std::to_string(options_.frame_gap_ms) + " ms of quiet: " + BytesToHex(dropped));
}

}  // namespace writersim
