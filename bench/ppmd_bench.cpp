// PPMd variant G throughput on the reference inputs, by mode (order / memory as the PPM mode table).
#include "CRVCompression/CRVPPMd.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct TMode {
    int Order;
    int MemoryMB;
};
constexpr TMode Modes[10] = {{0, 0},  {2, 2},  {3, 3},   {4, 7},    {5, 16},
                             {7, 22}, {8, 25}, {10, 40}, {13, 100}, {16, 100}};
const char* const Inputs[] = {"text20k", "mixed300k", "random64k"};

std::vector<std::uint8_t> ReadInput(const std::string& name) {
    // The reference inputs of the PPMd test vectors, in the test-data folder the build names.
    const std::filesystem::path dir = std::filesystem::path(TESSORA_TESTDATA_DIR) / "ppmd-g/inputs";
    std::ifstream f(dir / (name + ".bin"), std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void BM_PPMdEncode(benchmark::State& state) {
    const std::vector<std::uint8_t> input = ReadInput(Inputs[state.range(0)]);
    const TMode mode = Modes[state.range(1)];
    std::vector<std::uint8_t> out;
    for (auto _ : state) {
        if (!CRVPPMdEncode(input.data(), input.size(), mode.Order, std::size_t(mode.MemoryMB) << 20, out))
            state.SkipWithError("encode failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(input.size()));
    state.SetLabel(std::string(Inputs[state.range(0)]) + " mode " + std::to_string(state.range(1)));
}

void BM_PPMdDecode(benchmark::State& state) {
    const std::vector<std::uint8_t> input = ReadInput(Inputs[state.range(0)]);
    const TMode mode = Modes[state.range(1)];
    const std::size_t memory = std::size_t(mode.MemoryMB) << 20;
    std::vector<std::uint8_t> packed, out;
    CRVPPMdEncode(input.data(), input.size(), mode.Order, memory, packed);
    for (auto _ : state) {
        if (!CRVPPMdDecode(packed.data(), packed.size(), mode.Order, memory, input.size(), out))
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(input.size()));
    state.SetLabel(std::string(Inputs[state.range(0)]) + " mode " + std::to_string(state.range(1)));
}

void Args(benchmark::internal::Benchmark* b) {
    for (int input = 0; input < 3; ++input)
        for (int mode : {1, 5, 9})
            b->Args({input, mode});
}

} // namespace

BENCHMARK(BM_PPMdEncode)->Apply(Args)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PPMdDecode)->Apply(Args)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
