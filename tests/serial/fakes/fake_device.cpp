#include "fake_device.h"

#include <algorithm>
#include <atomic>

using namespace sio;

namespace {
std::atomic<int> openHandles{0};
}

FakeDispatcher::FakeDispatcher(TSioCustomComPort* owner) : TSioBaseDispatcher(owner) {
    line_.BaudRate = 9600;
    line_.ByteSize = 8;
    line_.Parity = NOPARITY;
    line_.StopBits = ONESTOPBIT;
}

FakeDispatcher::~FakeDispatcher() { BeforeDestruction(); }

int FakeDispatcher::OpenHandles() { return openHandles.load(); }

void FakeDispatcher::Log(const std::string& call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(call);
}

void FakeDispatcher::Arrive(const std::string& bytes) {
    std::lock_guard lock(mutex_);
    input_ += bytes;
    events_ |= EV_RXCHAR;
    changed_.notify_all();
}

void FakeDispatcher::SetModemLines(std::uint32_t lines) {
    std::lock_guard lock(mutex_);
    modem_ = lines;
    events_ |= EV_CTS | EV_DSR | EV_RLSD;
    changed_.notify_all();
}

void FakeDispatcher::RaiseLineErrors(std::uint32_t errors) {
    std::lock_guard lock(mutex_);
    errors_ |= errors;
    events_ |= EV_ERR;
    changed_.notify_all();
}

void FakeDispatcher::Vanish() {
    std::lock_guard lock(mutex_);
    vanished_ = true;
    changed_.notify_all();
}

void FakeDispatcher::AnnounceUnreadable(int n) {
    std::lock_guard lock(mutex_);
    unreadable_ += n;
    events_ |= EV_RXCHAR;
    changed_.notify_all();
}

void FakeDispatcher::SetWriteMode(WriteMode mode, int limit) {
    std::lock_guard lock(mutex_);
    writeMode_ = mode;
    writeLimit_ = limit;
    changed_.notify_all();
}

void FakeDispatcher::SetDeviceLine(const DCB& record) {
    std::lock_guard lock(mutex_);
    line_ = record;
}

std::string FakeDispatcher::Written() {
    std::lock_guard lock(mutex_);
    return written_;
}

std::vector<std::string> FakeDispatcher::OfferedRuns() {
    std::lock_guard lock(mutex_);
    return offered_;
}

std::vector<std::string> FakeDispatcher::Calls() {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::size_t FakeDispatcher::PendingInput() {
    std::lock_guard lock(mutex_);
    return input_.size();
}

int FakeDispatcher::SetLineCount() {
    std::lock_guard lock(mutex_);
    return setLineCount_;
}

int FakeDispatcher::WaitEventCalls() {
    std::lock_guard lock(mutex_);
    return waitEventCalls_;
}

int FakeDispatcher::WaitWritableCalls() {
    std::lock_guard lock(mutex_);
    return waitWritableCalls_;
}

int FakeDispatcher::PassCount() {
    std::lock_guard lock(mutex_);
    return passes_;
}

DCB FakeDispatcher::DeviceLine() {
    std::lock_guard lock(mutex_);
    return line_;
}

std::vector<int> FakeDispatcher::Escapes() {
    std::lock_guard lock(mutex_);
    return escapes_;
}

// ---- Device primitives ----

int FakeDispatcher::DeviceOpen(const std::string& name, int, int) {
    Log("Open " + name);
    if (openResult_ < 0) return openResult_;
    std::lock_guard lock(mutex_);
    open_ = true;
    ++openHandles;
    return openResult_;
}

int FakeDispatcher::DeviceCloseHandle() {
    Log("CloseHandle");
    std::lock_guard lock(mutex_);
    if (open_) --openHandles;
    open_ = false;
    return 0;
}

int FakeDispatcher::DeviceSetupQueues(int, int) {
    Log("SetupQueues");
    return setupResult_;
}

int FakeDispatcher::DeviceGetLine(DCB& record) {
    std::lock_guard lock(mutex_);
    record = line_;
    return 0;
}

int FakeDispatcher::DeviceSetLine(const DCB& record) {
    Log("SetLine");
    std::lock_guard lock(mutex_);
    line_ = record;
    ++setLineCount_;
    return 0;
}

int FakeDispatcher::DeviceEscape(int code) {
    Log("Escape " + std::to_string(code));
    std::lock_guard lock(mutex_);
    escapes_.push_back(code);
    return 0;
}

std::uint32_t FakeDispatcher::DeviceClearErrors(COMSTAT& status) {
    std::lock_guard lock(mutex_);
    const std::uint32_t errors = errors_;
    errors_ = 0;
    status.cbInQue = static_cast<std::uint32_t>(input_.size());
    status.cbInQue += static_cast<std::uint32_t>(unreadable_);
    return errors;
}

std::uint32_t FakeDispatcher::DeviceModemStatus() {
    std::lock_guard lock(mutex_);
    ++passes_;
    return modem_;
}

int FakeDispatcher::DeviceRead(char* buffer, int n) {
    std::lock_guard lock(mutex_);
    if (vanished_) return -1;
    const int k = std::min<int>(n, static_cast<int>(input_.size()));
    std::copy_n(input_.data(), k, buffer);
    input_.erase(0, static_cast<std::size_t>(k));
    return k;
}

void FakeDispatcher::DeviceSetEventMask(std::uint32_t mask) {
    if (mask == 0) Log("SetEventMask 0");
    std::lock_guard lock(mutex_);
    mask_ = mask;
    if (mask == 0) wake_ = true;
    changed_.notify_all();
}

int FakeDispatcher::DeviceWaitEvent(std::uint32_t& mask) {
    std::unique_lock lock(mutex_);
    ++waitEventCalls_;
    for (;;) {
        if (vanished_) {
            if (hangUpReported_) return -1;
            hangUpReported_ = true;
            mask = EV_ERR;
            return 1;
        }
        if (wake_ || mask_ == 0) {
            wake_ = false;
            return 0;
        }
        if (events_ & mask_) {
            mask = events_ & mask_;
            events_ = 0;
            return 1;
        }
        changed_.wait(lock);
    }
}

int FakeDispatcher::DeviceWriteRun(const char* data, int n) {
    std::lock_guard lock(mutex_);
    offered_.emplace_back(data, static_cast<std::size_t>(n));
    if (vanished_) return -1;
    int taken = 0;
    switch (writeMode_) {
    case WriteMode::Accept: taken = n; break;
    case WriteMode::Partial: taken = std::min(n, writeLimit_); break;
    case WriteMode::Budget:
        taken = std::min(n, writeLimit_);
        writeLimit_ -= taken;
        break;
    case WriteMode::Stall: taken = 0; break;
    case WriteMode::Fail: return -1;
    }
    written_.append(data, static_cast<std::size_t>(taken));
    changed_.notify_all();
    return taken;
}

int FakeDispatcher::DeviceWaitWritable() {
    std::unique_lock lock(mutex_);
    ++waitWritableCalls_;
    changed_.notify_all();
    for (;;) {
        if (cancel_) {
            cancel_ = false;
            return 0;
        }
        if (vanished_) return -1;
        const bool stalled = writeMode_ == WriteMode::Stall || (writeMode_ == WriteMode::Budget && writeLimit_ == 0);
        if (!stalled) return 1;
        changed_.wait(lock);
    }
}

void FakeDispatcher::DeviceCancelWrite() {
    std::lock_guard lock(mutex_);
    cancel_ = true;
    changed_.notify_all();
}

int FakeDispatcher::DeviceFlush(int which) {
    Log("Flush " + std::to_string(which));
    std::lock_guard lock(mutex_);
    if (which == 1) input_.clear();
    return 0;
}
