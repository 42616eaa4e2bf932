// The serial port component on the emulated UART (tests/uart_emulator), with
// modem lines and error counters as a real serial driver keeps them: the
// time from a modem-line change to the event worker's event and, on every
// driver profile, how closely RTS frames an RS-485 transmission and the
// processor time of an open port that nothing happens on.
#include "serial/component/com_port.h"
#include "serial/notify/notify_window.h"
#include "serial/posix/posix_device.h"
#include "uart_emulator.h"
#include "uart_profiles.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kIdleSeconds = 10;
constexpr int kLineChanges = 400;
constexpr int kFrames = 100;
constexpr sio::Word kComNumber = 1;

class PortDirectory {
public:
    explicit PortDirectory(const std::string& target) {
        char pattern[] = "/tmp/sio-uart-bench-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot create the port directory");
        dir_ = pattern;
        Link(target);
        ::setenv("SIO_PORT_DIR", dir_.c_str(), 1);
    }
    // COM1 on another emulated port from now on.
    void Link(const std::string& target) {
        std::error_code ignored;
        std::filesystem::remove(dir_ / "com1", ignored);
        std::filesystem::create_symlink(target, dir_ / "com1");
    }
    ~PortDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

private:
    std::filesystem::path dir_;
};

double CpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The program's own configuration, every modem line watched.
void Configure(sio::TSioComPort& port) {
    port.SetComNumber(kComNumber);
    port.SetBaud(9600);
    port.SetInSize(40960);
    port.SetOutSize(40960);
    port.SetRS485Mode(true);
    port.SetAutoOpen(false);
}

double IdleCost() {
    sio::TSioComPort port;
    Configure(port);
    port.SetOnTrigger([](sio::TSioCustomComPort*, sio::Word, sio::Word, sio::Word) {});
    port.SetOpen(true);
    const double cpu0 = CpuSeconds();
    QEventLoop loop;
    QTimer::singleShot(std::chrono::seconds(kIdleSeconds), &loop, &QEventLoop::quit);
    loop.exec();
    const double cpu = CpuSeconds() - cpu0;
    port.SetOpen(false);
    return cpu / kIdleSeconds * 100.0;
}

// The event worker's wait on the device layer, as the dispatcher runs it.
std::vector<double> LineChangeLatency(uartemu::Port& uart) {
    sio::PosixSerialDevice device;
    if (device.Open("\\\\.\\COM1") < 0) throw std::runtime_error("cannot open the emulated port");
    device.SetEventMask(sio::EV_CTS | sio::EV_DSR | sio::EV_RLSD | sio::EV_RING | sio::EV_RXCHAR | sio::EV_ERR);
    std::mutex lock;
    std::condition_variable seen;
    std::int64_t seenAt = 0;
    std::thread worker([&] {
        std::uint32_t mask = 0;
        while (device.WaitEvent(mask) == 1) {
            std::lock_guard held(lock);
            seenAt = uartemu::Now();
            seen.notify_all();
        }
    });
    std::vector<double> samples;
    const int lines[] = {TIOCM_CTS, TIOCM_DSR, TIOCM_CAR};
    bool raised = false;
    for (int i = 0; i < kLineChanges; ++i) {
        if (i % 3 == 0) raised = !raised;
        std::unique_lock held(lock);
        seenAt = 0;
        const std::int64_t changedAt = uartemu::Now();
        uart.SetInput(lines[i % 3], raised);
        if (!seen.wait_for(held, std::chrono::seconds(5), [&] { return seenAt != 0; }))
            throw std::runtime_error("a line change was not reported");
        samples.push_back(static_cast<double>(seenAt - changedAt) / 1e6);
    }
    device.SetEventMask(0);
    worker.join();
    device.CloseHandle();
    return samples;
}

struct Switching {
    std::vector<double> lead;  // first start bit after RTS rose, ms
    std::vector<double> lag;   // RTS fell after the last stop bit, ms
};

// 26-byte frames through the component with RS485Mode on, a driver that
// refuses TIOCSRS485: RTS as the layer drives it, from the emulator's record.
Switching Rs485Frames(uartemu::Port& uart) {
    sio::TSioComPort port;
    Configure(port);
    port.SetOpen(true);
    const std::string frame(26, '\x5A');
    Switching result;
    for (int i = 0; i < kFrames; ++i) {
        uart.ClearRecord();
        port.WriteString(frame);
        if (!uart.WaitForEvent(uartemu::EventKind::RtsDown)) throw std::runtime_error("RTS never fell");
        // Bytes still on the wire when RTS fell are recorded as they leave.
        if (!uart.WaitForBytes(frame.size())) throw std::runtime_error("the frame never left");
        std::int64_t rise = -1, first = -1, last = -1, fall = -1;
        for (const uartemu::Event& e : uart.Record()) {
            if (e.kind == uartemu::EventKind::RtsUp && rise < 0) rise = e.start;
            if (e.kind == uartemu::EventKind::Byte && first < 0) first = e.start;
            if (e.kind == uartemu::EventKind::Byte) last = e.end;
            if (e.kind == uartemu::EventKind::RtsDown) fall = e.start;
        }
        if (rise < 0 || first < rise)
            throw std::runtime_error("RTS rose after the first start bit");
        result.lead.push_back(static_cast<double>(first - rise) / 1e6);
        result.lag.push_back(static_cast<double>(fall - last) / 1e6);
    }
    port.SetOpen(false);
    return result;
}

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5)];
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    sio::InstallQtMessageLink();
    try {
        uartemu::Port uart;
        PortDirectory ports(uart.Path());
        std::printf("Serial port component on the emulated UART (modem lines and error counters)\n");
        const std::vector<double> latency = LineChangeLatency(uart);
        std::printf("  %-48s %8.3f ms   goal <= 5 ms\n", "modem-line change to its event, median", Percentile(latency, 0.5));
        std::printf("  %-48s %8.3f ms\n", "modem-line change to its event, p99", Percentile(latency, 0.99));
        // Per driver profile, in the program's configuration: how late RTS
        // falls after the last stop bit of a 26-byte frame (goal: two
        // characters where the chip or the clock tells, the kernel drain's
        // jiffy where only the drain can), frames cut (RTS down before the
        // last stop bit), and what an open port that nothing happens on costs.
        std::printf("Per driver profile, %d frames of 26 bytes at 9600 8N1, RS485Mode on, TIOCSRS485 refused\n", kFrames);
        std::printf("  %-10s %12s %12s %12s %10s %8s %14s\n", "profile", "RTS lead p50", "RTS late p50",
                    "RTS late p99", "goal", "cut", "idle, % core");
        for (const uartemu::Profile& profile : uartemu::Profiles()) {
            uartemu::Port driver(profile.options);
            ports.Link(driver.Path());
            const Switching frames = Rs485Frames(driver);
            const bool drainOnly = profile.name == "ftdi" || profile.name == "cp210x";
            const long cut = std::count_if(frames.lag.begin(), frames.lag.end(), [](double lag) { return lag < 0; });
            const double idle = IdleCost();
            std::printf("  %-10s %9.3f ms %9.3f ms %9.3f ms %7s ms %4ld/%d %12.4f %%\n", profile.name.c_str(),
                        Percentile(frames.lead, 0.5), Percentile(frames.lag, 0.5), Percentile(frames.lag, 0.99), drainOnly ? "4" : "2.083", cut,
                        kFrames, idle);
        }
        std::printf("  goals: no frame cut; idle <= 0.05 %% of one core\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "uart_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
