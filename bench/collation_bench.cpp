// Comparing 32-character upper-case hexadecimal keys (the shape of the program's name hashes):
// the ASCII fast path against the ICU root collator it reproduces.
//
//   build/default/bench/collation_bench
#include "CRVBTree/CRVCollation.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::vector<std::string> HexKeys(std::size_t n) {
    std::mt19937 rng(1);
    std::vector<std::string> keys(n, std::string(32, '0'));
    for (auto& k : keys)
        for (char& c : k)
            c = "0123456789ABCDEF"[rng() % 16];
    // Pairs that share a long prefix, as neighbours in a big index do.
    for (std::size_t i = 1; i < n; i += 2)
        keys[i].replace(0, 24, keys[i - 1], 0, 24);
    return keys;
}

void BM_CompareHexFastPath(benchmark::State& state) {
    const TCRVCollation coll;
    const auto keys = HexKeys(1024);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(coll.Compare(keys[i], keys[i + 1], false));
        i = (i + 2) & 1023;
    }
}

void BM_CompareHexCollator(benchmark::State& state) {
    const TCRVCollation coll;
    const auto keys = HexKeys(1024);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(coll.CompareWithCollator(keys[i], keys[i + 1], false));
        i = (i + 2) & 1023;
    }
}

BENCHMARK(BM_CompareHexFastPath);
BENCHMARK(BM_CompareHexCollator);

} // namespace

BENCHMARK_MAIN();
