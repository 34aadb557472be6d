// Enciphering and deciphering one page data area (4096 - 40 bytes) with each cipher, as the page
// layer does it: a fresh context (key hash and key schedule) per call.
//
//   build/default/bench/cipher_bench
#include "CRVCipher/CRVChecksum.h"
#include "CRVCipher/CRVCipher.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr std::size_t KPageDataSize = 4096 - 40;

void BM_Encrypt(benchmark::State& state) {
    const auto alg = static_cast<std::uint8_t>(state.range(0));
    std::vector<std::uint8_t> page(KPageDataSize, 0x5A);
    for (auto _ : state) {
        CRVInternalEncryptBuffer(alg, page.data(), page.size(), "tessora-password");
        benchmark::DoNotOptimize(page.data());
    }
    state.SetLabel(std::string(CryptoAlgorithmNames[alg]));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}

void BM_Decrypt(benchmark::State& state) {
    const auto alg = static_cast<std::uint8_t>(state.range(0));
    std::vector<std::uint8_t> page(KPageDataSize, 0x5A);
    for (auto _ : state) {
        CRVInternalDecryptBuffer(alg, page.data(), page.size(), "tessora-password");
        benchmark::DoNotOptimize(page.data());
    }
    state.SetLabel(std::string(CryptoAlgorithmNames[alg]));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}

// The same work with the key schedule built once (what a page manager holding a context pays).
void BM_EncryptWithContext(benchmark::State& state) {
    const auto alg = static_cast<TCRVCryptoAlgorithm>(state.range(0));
    const TCRVCipherContext context(alg, "tessora-password");
    std::vector<std::uint8_t> page(KPageDataSize, 0x5A);
    for (auto _ : state) {
        context.Encrypt(page.data(), page.size());
        benchmark::DoNotOptimize(page.data());
    }
    state.SetLabel(std::string(CryptoAlgorithmNames[alg]));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}

void BM_DecryptWithContext(benchmark::State& state) {
    const auto alg = static_cast<TCRVCryptoAlgorithm>(state.range(0));
    const TCRVCipherContext context(alg, "tessora-password");
    std::vector<std::uint8_t> page(KPageDataSize, 0x5A);
    for (auto _ : state) {
        context.Decrypt(page.data(), page.size());
        benchmark::DoNotOptimize(page.data());
    }
    state.SetLabel(std::string(CryptoAlgorithmNames[alg]));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}

void BM_Crc32(benchmark::State& state) {
    std::vector<std::uint8_t> page(KPageDataSize, 0x5A);
    for (auto _ : state)
        benchmark::DoNotOptimize(CRC32(0, page.data(), page.size()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}

BENCHMARK(BM_Encrypt)->DenseRange(0, KCRVCryptoAlgorithmCount - 1);
BENCHMARK(BM_Decrypt)->DenseRange(0, KCRVCryptoAlgorithmCount - 1);
BENCHMARK(BM_EncryptWithContext)->DenseRange(0, KCRVCryptoAlgorithmCount - 1);
BENCHMARK(BM_DecryptWithContext)->DenseRange(0, KCRVCryptoAlgorithmCount - 1);
BENCHMARK(BM_Crc32);

} // namespace

BENCHMARK_MAIN();
