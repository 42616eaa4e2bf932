// The program's own timing against the simulated writer device on a
// pseudo-terminal: one master card from the button press to the result, and
// what a wait that runs out costs the processor.
//
// Goals: a generation against a device that answers at once takes at most
// 75 ms (median): three 20 ms looks plus the transfers. A 1500 ms wait for a
// device that stays silent uses at most 5% of one core.
#include "app/application.h"
#include "app/form_com.h"
#include "mastercard/hex_codec.h"
#include "writer_simulator.h"

#include <QComboBox>
#include <QPushButton>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <stdexcept>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The window with its message boxes answered at once.
class BenchForm : public TForm_Com {
public:
    int MessageBox(const QString& Text, const QString&, unsigned) override {
        lastMessage = Text;
        return 1;
    }
    QString lastMessage;
};

// A port directory of the benchmark's own with a simulated device as COM3.
class Bench {
public:
    explicit Bench(const mastercard::WriterFaults& faults) {
        if (!dir_.isValid()) throw std::runtime_error("cannot create a port directory");
        qputenv("SIO_PORT_DIR", dir_.path().toLocal8Bit());
        writersim::SimulatorOptions options;
        options.port_dir = dir_.path().toStdString();
        options.com = 3;
        options.faults = faults;
        device_ = std::make_unique<writersim::WriterSimulator>(options);
        device_->Start();
        form_ = std::make_unique<BenchForm>();
    }
    ~Bench() {
        form_.reset();  // closes the port before the device goes
        device_.reset();
        qunsetenv("SIO_PORT_DIR");
    }
    BenchForm& Form() { return *form_; }

private:
    QTemporaryDir dir_;
    std::unique_ptr<writersim::WriterSimulator> device_;
    std::unique_ptr<BenchForm> form_;
};

double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Percentile(std::vector<double> samples, double p) {
    std::sort(samples.begin(), samples.end());
    const auto i = static_cast<std::size_t>(p * static_cast<double>(samples.size() - 1) + 0.5);
    return samples[i];
}

double ProcessCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Button press to result, the device answering each request at once.
void BM_GenerateMasterCard(benchmark::State& state) {
    Bench bench({});
    BenchForm& form = bench.Form();
    form.ComboBox_ComNum->setCurrentIndex(3);
    form.Button1->click();
    if (!form.FComReady) {
        state.SkipWithError("the simulated device did not answer the handshake");
        return;
    }
    std::vector<double> samples;
    for (auto _ : state) {
        const Clock::time_point pressed = Clock::now();
        form.Button_genMcard->click();
        const Clock::duration took = Clock::now() - pressed;
        if (form.lastMessage != QString::fromUtf8("生成母卡执行成功")) {
            state.SkipWithError("a generation did not succeed");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(took).count());
        samples.push_back(Milliseconds(took));
    }
    state.counters["median_ms"] = Percentile(samples, 0.5);
    state.counters["p90_ms"] = Percentile(samples, 0.9);
    state.counters["max_ms"] = *std::max_element(samples.begin(), samples.end());
}
BENCHMARK(BM_GenerateMasterCard)->UseManualTime()->Iterations(50)->Unit(benchmark::kMillisecond);

// The whole process's processor time (main thread, the port's workers and
// the silent device) while the handshake waits the full 1500 ms.
void BM_TimedOutWaitCpu(benchmark::State& state) {
    mastercard::WriterFaults silent;
    silent.silent = mastercard::ExchangeSet::All();
    Bench bench(silent);
    BenchForm& form = bench.Form();
    if (!form.TryOpenPort(3)) {
        state.SkipWithError("cannot open the simulated device");
        return;
    }
    double cpu = 0;
    double wall = 0;
    for (auto _ : state) {
        const double cpuBefore = ProcessCpuSeconds();
        const Clock::time_point before = Clock::now();
        form.SendAndWait(mastercard::HexToBytes("2"));
        wall += std::chrono::duration<double>(Clock::now() - before).count();
        cpu += ProcessCpuSeconds() - cpuBefore;
        if (!form.FRecvText.empty()) {
            state.SkipWithError("the silent device answered");
            return;
        }
    }
    state.counters["cpu_percent_of_one_core"] = 100.0 * cpu / wall;
}
BENCHMARK(BM_TimedOutWaitCpu)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
