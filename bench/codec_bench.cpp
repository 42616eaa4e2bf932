// The codec formats every logged exchange and builds every frame; these
// measure the per-card cost of that text work.
#include "mastercard/hex_codec.h"
#include "mastercard/master_card_config.h"

#include <benchmark/benchmark.h>

namespace {

void BM_BuildFrameFromSettings(benchmark::State& state) {
    mastercard::MasterCardSettings settings;
    settings.RadioGroup_outdatamode0_1 = 1;
    for (auto _ : state) {
        const auto result = mastercard::BuildMasterCardConfig(settings);
        benchmark::DoNotOptimize(mastercard::HexToBytes(mastercard::BuildConfigFrame(result.config)));
    }
}
BENCHMARK(BM_BuildFrameFromSettings);

void BM_BytesToHex(benchmark::State& state) {
    const std::string bytes(static_cast<std::size_t>(state.range(0)), '\x5A');
    for (auto _ : state) benchmark::DoNotOptimize(mastercard::BytesToHex(bytes));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BytesToHex)->Arg(5)->Arg(8192);

}  // namespace
