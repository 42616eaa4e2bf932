// Side-by-side figures for the serial port component and Qt's QSerialPort,
// both on pseudo-terminals, both driven by a QCoreApplication event loop:
// notification latency, throughput, idle cost and open-plus-close time.
// Each figure is printed with the peer's and their ratio.
#include "serial/component/com_port.h"
#include "serial/notify/notify_window.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSerialPort>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLatencySamples = 10000;
constexpr std::size_t kFloodBytes = 16u << 20;
constexpr int kIdleSeconds = 10;
constexpr int kOpenCloseCycles = 200;
constexpr sio::Word kComNumber = 1;
constexpr int kRounds = 10;
constexpr int kFloodRounds = 3;

void Append(std::vector<double>& all, const std::vector<double>& more) { all.insert(all.end(), more.begin(), more.end()); }

// A pseudo-terminal: the bench holds the master side and links the slave as
// COM1 in a private port directory.
class PtyPair {
public:
    PtyPair() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            throw std::runtime_error("cannot create a pseudo-terminal");
        slavePath_ = ::ptsname(master_);
        // Keep a slave descriptor open so the master never sees a hang-up
        // between two opens of the port.
        keeper_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
    ~PtyPair() {
        if (keeper_ >= 0) ::close(keeper_);
        ::close(master_);
    }
    int Master() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }

    void WriteAll(const char* data, std::size_t n) const {
        while (n > 0) {
            const ssize_t k = ::write(master_, data, n);
            if (k < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN) {
                    pollfd p{master_, POLLOUT, 0};
                    ::poll(&p, 1, 100);
                    continue;
                }
                throw std::runtime_error("write to the pseudo-terminal failed");
            }
            data += k;
            n -= static_cast<std::size_t>(k);
        }
    }

private:
    int master_ = -1;
    int keeper_ = -1;
    std::string slavePath_;
};

class PortDirectory {
public:
    explicit PortDirectory(const std::string& slavePath) {
        char pattern[] = "/tmp/sio-bench-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot create the port directory");
        dir_ = pattern;
        std::filesystem::create_symlink(slavePath, dir_ / "com1");
        ::setenv("SIO_PORT_DIR", dir_.c_str(), 1);
    }
    ~PortDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

private:
    std::filesystem::path dir_;
};

// Lets the event loop sleep for the idle period: one timer, nothing else.
void IdleFor(std::chrono::seconds period) {
    QEventLoop loop;
    QTimer::singleShot(std::chrono::duration_cast<std::chrono::milliseconds>(period), &loop, &QEventLoop::quit);
    loop.exec();
}

double CpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

// Runs the event loop until done() or the deadline; false on the deadline.
// The loop sleeps until an event comes: a guard timer wakes it now and then
// to look at the deadline, so the waiting costs no processor time.
bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    QTimer guard;
    guard.start(100);
    while (!done()) {
        if (Clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

char PatternByte(std::size_t i) { return static_cast<char>((i * 131 + (i >> 9)) & 0xFF); }

std::string FloodData() {
    std::string data(kFloodBytes, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = PatternByte(i);
    return data;
}

// The far end of the line for the latency runs: a thread of its own that
// writes one byte when asked, so the receiving thread is asleep in its event
// loop when the byte arrives, as it is when a device answers.
class PacedWriter {
public:
    explicit PacedWriter(PtyPair& pty) : pty_(pty), thread_([this] { Run(); }) {}
    ~PacedWriter() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    void SendOne() {
        {
            std::lock_guard lock(mutex_);
            ++requests_;
        }
        wake_.notify_one();
    }
    // When the last byte was written; valid once its notice arrived.
    Clock::time_point SentAt() {
        std::lock_guard lock(mutex_);
        return sentAt_;
    }

private:
    void Run() {
        const char byte = 0x5A;
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return stop_ || requests_ > 0; });
            if (stop_) return;
            --requests_;
            sentAt_ = Clock::now();
            lock.unlock();
            pty_.WriteAll(&byte, 1);
            lock.lock();
        }
    }

    PtyPair& pty_;
    std::mutex mutex_;
    std::condition_variable wake_;
    int requests_ = 0;
    bool stop_ = false;
    Clock::time_point sentAt_;
    std::thread thread_;
};

// What a receiver's handler reports to the measuring loops below, so that
// both sides are measured by the same code.
struct Reception {
    bool got = false;               // latency: the byte arrived and was read
    Clock::time_point arrived;
    std::size_t received = 0;       // flood: bytes checked so far
    bool corrupt = false;

    void Check(char c) {
        if (c != PatternByte(received)) corrupt = true;
        ++received;
    }
};

// One byte at a time, each written after the previous one's notice; the
// delays from write to handler.
std::vector<double> SampleLatency(PtyPair& pty, int count, Reception& r, const char* who) {
    std::vector<double> samples;
    samples.reserve(count);
    PacedWriter writer(pty);
    for (int i = 0; i < count; ++i) {
        r.got = false;
        writer.SendOne();
        if (!RunUntil([&] { return r.got; }, std::chrono::seconds(5)))
            throw std::runtime_error(std::string(who) + ": no notice");
        samples.push_back(Micros(r.arrived - writer.SentAt()));
    }
    return samples;
}

// The whole flood written from a thread of its own; MB/s until the handler
// has checked the last byte.
double TimeFlood(PtyPair& pty, const std::string& data, Reception& r, const char* who) {
    const auto start = Clock::now();
    std::thread writer([&] { pty.WriteAll(data.data(), data.size()); });
    const bool done = RunUntil([&] { return r.received >= data.size(); }, std::chrono::minutes(2));
    const auto elapsed = Clock::now() - start;
    writer.join();
    if (!done || r.corrupt) throw std::runtime_error(std::string(who) + ": flood lost or corrupted bytes");
    return static_cast<double>(data.size()) / std::chrono::duration<double>(elapsed).count() / 1e6;
}

// --- Ours -------------------------------------------------------------------

void ConfigureOurs(sio::TSioComPort& port) {
    port.SetComNumber(kComNumber);
    port.SetBaud(9600);
    port.SetInSize(40960);
    port.SetOutSize(40960);
    port.SetAutoOpen(false);
}

std::vector<double> OurLatency(PtyPair& pty, int count) {
    sio::TSioComPort port;
    ConfigureOurs(port);
    Reception r;
    port.SetOnTrigger([&](sio::TSioCustomComPort* cp, sio::Word msg, sio::Word, sio::Word data) {
        if (msg != sio::MsgTriggerAvail) return;
        for (int i = 0; i < data; ++i) cp->ReadChar();
        r.arrived = Clock::now();
        r.got = true;
    });
    port.SetOpen(true);
    std::vector<double> samples = SampleLatency(pty, count, r, "ours");
    port.SetOpen(false);
    return samples;
}

double OurThroughput(PtyPair& pty, const std::string& data) {
    sio::TSioComPort port;
    ConfigureOurs(port);
    Reception r;
    port.SetOnTrigger([&](sio::TSioCustomComPort* cp, sio::Word msg, sio::Word, sio::Word count) {
        if (msg != sio::MsgTriggerAvail) return;
        for (int i = 0; i < count; ++i) r.Check(cp->ReadChar());
    });
    port.SetOpen(true);
    const double rate = TimeFlood(pty, data, r, "ours");
    port.SetOpen(false);
    return rate;
}

double OurIdle() {
    sio::TSioComPort port;
    ConfigureOurs(port);
    port.SetOnTrigger([](sio::TSioCustomComPort*, sio::Word, sio::Word, sio::Word) {});
    port.SetOpen(true);
    const double cpu0 = CpuSeconds();
    IdleFor(std::chrono::seconds(kIdleSeconds));
    const double cpu = CpuSeconds() - cpu0;
    port.SetOpen(false);
    return cpu / kIdleSeconds * 100.0;
}

std::vector<double> OurOpenClose(int count) {
    sio::TSioComPort port;
    ConfigureOurs(port);
    std::vector<double> samples;
    for (int i = 0; i < count; ++i) {
        const auto t0 = Clock::now();
        port.SetOpen(true);
        port.SetOpen(false);
        samples.push_back(Micros(Clock::now() - t0));
    }
    return samples;
}

// --- The peer -----------------------------------------------------------------

void OpenPeer(QSerialPort& port, const std::string& path) {
    port.setPortName(QString::fromStdString(path));
    port.setBaudRate(9600);
    if (!port.open(QIODevice::ReadWrite)) throw std::runtime_error("peer: open failed");
}

std::vector<double> PeerLatency(PtyPair& pty, int count) {
    QSerialPort port;
    Reception r;
    QObject::connect(&port, &QSerialPort::readyRead, [&] {
        port.readAll();
        r.arrived = Clock::now();
        r.got = true;
    });
    OpenPeer(port, pty.SlavePath());
    std::vector<double> samples = SampleLatency(pty, count, r, "peer");
    port.close();
    return samples;
}

double PeerThroughput(PtyPair& pty, const std::string& data) {
    QSerialPort port;
    Reception r;
    QObject::connect(&port, &QSerialPort::readyRead, [&] {
        for (char c : port.readAll()) r.Check(c);
    });
    OpenPeer(port, pty.SlavePath());
    const double rate = TimeFlood(pty, data, r, "peer");
    port.close();
    return rate;
}

double PeerIdle(PtyPair& pty) {
    QSerialPort port;
    QObject::connect(&port, &QSerialPort::readyRead, [&] { port.readAll(); });
    OpenPeer(port, pty.SlavePath());
    const double cpu0 = CpuSeconds();
    IdleFor(std::chrono::seconds(kIdleSeconds));
    const double cpu = CpuSeconds() - cpu0;
    port.close();
    return cpu / kIdleSeconds * 100.0;
}

std::vector<double> PeerOpenClose(PtyPair& pty, int count) {
    QSerialPort port;
    port.setPortName(QString::fromStdString(pty.SlavePath()));
    std::vector<double> samples;
    for (int i = 0; i < count; ++i) {
        const auto t0 = Clock::now();
        if (!port.open(QIODevice::ReadWrite)) throw std::runtime_error("peer: open failed");
        port.close();
        samples.push_back(Micros(Clock::now() - t0));
    }
    return samples;
}

// --- Report ---------------------------------------------------------------------

void Row(const char* what, double ours, double peer, const char* unit, const char* goal) {
    std::printf("%-34s ours %10.3f %-5s peer %10.3f %-5s ratio %6.2f   goal: %s\n", what, ours, unit, peer, unit,
                peer != 0 ? ours / peer : 0.0, goal);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    sio::InstallQtMessageLink();
    // Names on the command line (latency, throughput, idle, open) run just
    // those figures, which is handy under a profiler.
    const QStringList chosen = QCoreApplication::arguments().mid(1);
    auto wanted = [&](const char* name) { return chosen.isEmpty() || chosen.contains(QLatin1String(name)); };
    try {
        PtyPair pty;
        PortDirectory ports(pty.SlavePath());

        std::printf("Serial port component vs QSerialPort, pseudo-terminal; rounds of each alternate\n");
        // The two take turns in rounds, so a busy spell of the machine falls
        // on both rather than on one of them.
        if (wanted("latency")) {
            std::vector<double> ourLatency, peerLatency;
            for (int round = 0; round < kRounds; ++round) {
                Append(ourLatency, OurLatency(pty, kLatencySamples / kRounds));
                Append(peerLatency, PeerLatency(pty, kLatencySamples / kRounds));
            }
            Row("notification latency median", Percentile(ourLatency, 0.5), Percentile(peerLatency, 0.5), "us",
                "ratio <= 3");
            Row("notification latency p99", Percentile(ourLatency, 0.99), Percentile(peerLatency, 0.99), "us",
                "ours <= 500 us");
        }
        if (wanted("throughput")) {
            const std::string flood = FloodData();
            std::vector<double> ourRates, peerRates;
            for (int round = 0; round < kFloodRounds; ++round) {
                ourRates.push_back(OurThroughput(pty, flood));
                peerRates.push_back(PeerThroughput(pty, flood));
            }
            Row("16 MiB throughput (median round)", Percentile(ourRates, 0.5), Percentile(peerRates, 0.5), "MB/s",
                "ratio >= 0.33");
        }
        if (wanted("idle")) {
            const double ourIdle = OurIdle();
            const double peerIdle = PeerIdle(pty);
            Row("idle cost, 10 s (% of one core)", ourIdle, peerIdle, "%", "ours <= 0.1 %");
        }
        if (wanted("open")) {
            // A first round of each, not counted: the first opens pay for
            // loading and for the file system's first lock files.
            OurOpenClose(kOpenCloseCycles / kRounds);
            PeerOpenClose(pty, kOpenCloseCycles / kRounds);
            std::vector<double> ourOpen, peerOpen;
            for (int round = 0; round < kRounds; ++round) {
                Append(ourOpen, OurOpenClose(kOpenCloseCycles / kRounds));
                Append(peerOpen, PeerOpenClose(pty, kOpenCloseCycles / kRounds));
            }
            Row("open + close median", Percentile(ourOpen, 0.5) / 1000.0, Percentile(peerOpen, 0.5) / 1000.0, "ms",
                "ratio <= 1");
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "com_port_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
