// How fast the dispatcher moves bytes, measured against the in-memory device:
// arrival to data-available notice (woken by the device event, so far below
// the 50 ms tick), queueing output, taking received bytes.
#include "fake_device.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

using namespace sio;

namespace {

constexpr const char* kPort = "\\\\.\\COM1";

struct Notices {
    std::mutex mutex;
    std::condition_variable arrived;
    int count = 0;
};

}  // namespace

// From a byte becoming available in the device to its notice reaching a
// handler (a procedure handler runs on the dispatch worker itself).
static void BM_ArrivalToNotice(benchmark::State& state) {
    FakeDispatcher d;
    Notices notices;
    d.AddProcHandler([&](unsigned, WParam, LParam) {
        std::lock_guard lock(notices.mutex);
        ++notices.count;
        notices.arrived.notify_all();
    });
    if (d.OpenAndStart(kPort, 9600, 0, 8, 1, 40960, 40960, optDtrLevel) != 0) {
        state.SkipWithError("open failed");
        return;
    }
    d.SetAvailThreshold(1);
    for (auto _ : state) {
        int before;
        {
            std::lock_guard lock(notices.mutex);
            before = notices.count;
        }
        const auto start = std::chrono::steady_clock::now();
        d.Arrive("x");
        std::unique_lock lock(notices.mutex);
        notices.arrived.wait(lock, [&] { return notices.count > before; });
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        lock.unlock();
        char b;
        d.TakeByte(b);  // the handler took nothing; keep the ring empty
    }
}
BENCHMARK(BM_ArrivalToNotice)->UseManualTime()->Unit(benchmark::kMicrosecond);

// Queueing blocks into the output ring and having the output worker write
// them out.
static void BM_QueueAndTransmit(benchmark::State& state) {
    FakeDispatcher d;
    if (d.OpenAndStart(kPort, 9600, 0, 8, 1, 40960, 40960, optDtrLevel) != 0) {
        state.SkipWithError("open failed");
        return;
    }
    const std::string block(static_cast<std::size_t>(state.range(0)), 'q');
    for (auto _ : state) {
        while (d.QueueBlock(block.data(), static_cast<int>(block.size())) != 0) std::this_thread::yield();
    }
    while (d.OutputQueued() > 0) std::this_thread::yield();
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_QueueAndTransmit)->Arg(1)->Arg(64)->Arg(4096);

// Taking a full ring of received bytes one at a time, as ReadChar does.
static void BM_TakeFullRing(benchmark::State& state) {
    FakeDispatcher d;
    if (d.OpenAndStart(kPort, 9600, 0, 8, 1, 40960, 40960, optDtrLevel) != 0) {
        state.SkipWithError("open failed");
        return;
    }
    const std::string ring(kDispRingSize, 'r');
    for (auto _ : state) {
        state.PauseTiming();
        d.Arrive(ring);
        while (d.UnreadCount() < kDispRingSize) std::this_thread::yield();
        state.ResumeTiming();
        char b;
        while (d.TakeByte(b) == 0) benchmark::DoNotOptimize(b);
    }
    state.SetBytesProcessed(state.iterations() * kDispRingSize);
}
BENCHMARK(BM_TakeFullRing)->Unit(benchmark::kMicrosecond);
