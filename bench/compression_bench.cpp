// The buffer compressors on 100 KB of mixed input, compressing and expanding with each algorithm at
// a few modes. The input is bytes 51200..153599 of the PPMd vectors' mixed300k.bin: 50 KB of
// English-like text followed by 50 KB of pseudo-random bytes.
//
//   build/default/bench/compression_bench [--testdata=DIR] [benchmark options]
//
// DIR is the folder holding ppmd-g/ (default: the source tree's tests/data). Throughput counts the
// uncompressed bytes; "ratio" is compressed / uncompressed.
#include "CRVCompression/CRVCompression.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string GTestData = TESSORA_TESTDATA_DIR;

const std::vector<std::uint8_t>& Input() {
    static const std::vector<std::uint8_t> input = [] {
        std::ifstream f(GTestData + "/ppmd-g/inputs/mixed300k.bin", std::ios::binary);
        std::vector<std::uint8_t> all{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
        if (all.size() < 51200 + 102400)
            return std::vector<std::uint8_t>{};
        return std::vector<std::uint8_t>(all.begin() + 51200, all.begin() + 51200 + 102400);
    }();
    return input;
}

void SetLabels(benchmark::State& state, std::int64_t compressed) {
    const auto& in = Input();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(in.size()));
    state.counters["ratio"] = static_cast<double>(compressed) / static_cast<double>(in.size());
    state.SetLabel(std::string(CRVCompressionAlgorithmNames[static_cast<std::size_t>(state.range(0))]) +
                   " mode " + std::to_string(state.range(1)));
}

void BM_Compress(benchmark::State& state) {
    const auto& in = Input();
    if (in.size() != 102400) {
        state.SkipWithError("mixed300k.bin not found (use --testdata=DIR)");
        return;
    }
    const auto alg = static_cast<std::uint8_t>(state.range(0));
    const auto mode = static_cast<std::uint8_t>(state.range(1));
    std::int64_t outSize = 0;
    std::vector<std::uint8_t> out;
    for (auto _ : state) {
        if (!CRVInternalCompressBuffer(alg, mode, in.data(), outSize, out,
                                       static_cast<std::int64_t>(in.size()))) {
            state.SkipWithError("compression failed");
            return;
        }
        benchmark::DoNotOptimize(out.data());
    }
    SetLabels(state, outSize);
}

void BM_Expand(benchmark::State& state) {
    const auto& in = Input();
    if (in.size() != 102400) {
        state.SkipWithError("mixed300k.bin not found (use --testdata=DIR)");
        return;
    }
    const auto alg = static_cast<std::uint8_t>(state.range(0));
    const auto mode = static_cast<std::uint8_t>(state.range(1));
    std::int64_t packedSize = 0;
    std::vector<std::uint8_t> packed;
    if (!CRVInternalCompressBuffer(alg, mode, in.data(), packedSize, packed,
                                   static_cast<std::int64_t>(in.size()))) {
        state.SkipWithError("compression failed");
        return;
    }
    std::vector<std::uint8_t> out;
    for (auto _ : state) {
        std::int64_t outSize = static_cast<std::int64_t>(in.size());
        if (!CRVInternalDecompressBuffer(alg, packed.data(), packedSize, outSize, out) || out != in) {
            state.SkipWithError("expansion failed");
            return;
        }
        benchmark::DoNotOptimize(out.data());
    }
    SetLabels(state, packedSize);
}

void Modes(benchmark::internal::Benchmark* b) {
    for (int mode : {1, 6, 9})
        b->Args({acaZLIB, mode});
    for (int mode : {1, 9})
        b->Args({acaBZIP, mode});
    for (int mode : {1, 5, 9})
        b->Args({acaPPM, mode});
    b->ArgNames({"alg", "mode"})->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Compress)->Apply(Modes);
BENCHMARK(BM_Expand)->Apply(Modes);

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--testdata=", 11) == 0)
            GTestData = argv[i] + 11;
        else
            rest.push_back(argv[i]);
    }
    int restCount = static_cast<int>(rest.size());
    benchmark::Initialize(&restCount, rest.data());
    if (benchmark::ReportUnrecognizedArguments(restCount, rest.data()))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
