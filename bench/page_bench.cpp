// Page cache and write-back: reads through the cache (hits and misses) and ApplyChanges with 1,
// 4 and 64 dirty pages, on a plain and on an encrypted (Rijndael_128) database.
#include "CRVDiskEngine/CRVDiskDatabaseData.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

constexpr int KPages = 256;

// A database of KPages record pages in a scratch folder, open for one session.
class TBenchDatabase {
public:
    explicit TBenchDatabase(bool encrypted) {
        FDir = std::filesystem::temp_directory_path() / ("crv-page-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(FDir);
        const std::string path = (FDir / (encrypted ? "enc.crv" : "plain.crv")).string();
        TCRVDatabaseOptions options;
        if (encrypted)
            options.Password.Password = "benchmark password";
        TCRVDiskDatabaseData(path, options).CreateDatabase();
        FData = std::make_unique<TCRVDiskDatabaseData>(path, options);
        bool repair = false;
        FData->ConnectSession(FSession, repair);
        for (int i = 0; i < KPages; ++i) {
            auto page = Pm().AddPage(0, ptTableRecord);
            for (std::size_t b = 0; b < page->GetPageDataSize(); ++b)
                page->GetPageData()[b] = static_cast<std::uint8_t>(b * 7 + static_cast<std::size_t>(i));
            FPages.push_back(page->PageNo());
        }
        FData->Commit(0, false);
    }
    ~TBenchDatabase() {
        FData->DisconnectSession(FSession);
        FData.reset();
        std::error_code ec;
        std::filesystem::remove_all(FDir, ec);
    }
    TCRVDiskPageManager& Pm() { return FData->PageManager(); }
    TCRVDiskDatabaseData& Data() { return *FData; }
    const std::vector<TCRVPageNo>& Pages() const { return FPages; }

private:
    std::filesystem::path FDir;
    std::unique_ptr<TCRVDiskDatabaseData> FData;
    TCRVDiskSession FSession;
    std::vector<TCRVPageNo> FPages;
};

void BM_GetPageHit(benchmark::State& state) {
    TBenchDatabase db(state.range(0) != 0);
    const auto& pages = db.Pages();
    for (TCRVPageNo no : pages) // warm the cache
        db.Pm().GetPage(0, no, false, ptTableRecord);
    std::size_t i = 0;
    for (auto _ : state) {
        auto page = db.Pm().GetPage(0, pages[i++ % 64], false, ptTableRecord);
        benchmark::DoNotOptimize(page->GetPageData()[0]);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_GetPageMiss(benchmark::State& state) {
    TBenchDatabase db(state.range(0) != 0);
    db.Pm().SetCacheCapacity(1); // every read of another page goes to the file
    const auto& pages = db.Pages();
    std::size_t i = 0;
    for (auto _ : state) {
        auto page = db.Pm().GetPage(0, pages[i++ % pages.size()], false, ptTableRecord);
        benchmark::DoNotOptimize(page->GetPageData()[0]);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * 4096);
}

void BM_ApplyChanges(benchmark::State& state) {
    TBenchDatabase db(state.range(1) != 0);
    const auto dirty = static_cast<std::size_t>(state.range(0));
    const auto& pages = db.Pages();
    std::uint8_t stamp = 0;
    for (auto _ : state) {
        ++stamp;
        for (std::size_t k = 0; k < dirty; ++k) {
            auto page = db.Pm().GetPage(0, pages[k], false, ptTableRecord);
            page->GetPageData()[0] = stamp;
            page->SetIsDirty(true);
        }
        db.Data().Commit(0, false);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(dirty));
}

BENCHMARK(BM_GetPageHit)->ArgName("encrypted")->Arg(0)->Arg(1);
BENCHMARK(BM_GetPageMiss)->ArgName("encrypted")->Arg(0)->Arg(1);
BENCHMARK(BM_ApplyChanges)->ArgNames({"dirty", "encrypted"})->ArgsProduct({{1, 4, 64}, {0, 1}});

} // namespace

BENCHMARK_MAIN();
