// B-tree insert and exact search of 1,000,000 keys of 32 upper-case hexadecimal characters (the
// program's name hashes: a string column of size 32, so a 23-byte short key cut at 20 bytes) in
// a unique index, with the pages in the in-memory page manager. Inserts are applied one by one,
// as posted rows are (Insert1M/1/0), or 10,000 at a time to show the tree's own cost
// (/10000/0); and in an enciphered database file, applied 1,000 at a time (/1000/1).
//
//   build/<dir>/bench/btree_bench [--benchmark_filter=...]
#include "CRVBTree/CRVBTreeRecordIndex.h"
#include "CRVBTree/CRVBTreeTestSupport.h"
#include "CRVDiskEngine/CRVDiskDatabaseData.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::size_t KKeyCount = 1000000;
constexpr TCRVSessionID KSession = 0;

std::vector<std::string> HexKeys(std::size_t n, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::vector<std::string> keys(n, std::string(32, '0'));
    for (auto& k : keys)
        for (char& c : k)
            c = "0123456789ABCDEF"[rng() % 16];
    return keys;
}

// Rows by record id in a flat array: record id (p, s) is row p * 40 + s.
class TFlatRows : public TCRVIndexRecordSource {
public:
    explicit TFlatRows(std::size_t recordSize) : FRecordSize(recordSize) {}
    bool ReadMemoryRecord(TCRVSessionID, const TCRVRecordID& id, std::vector<std::byte>& record) override {
        const std::size_t row = static_cast<std::size_t>(id.PageNo) * 40 + id.PageItemNo;
        if (row >= FCount)
            return false;
        record.assign(FData.begin() + static_cast<std::ptrdiff_t>(row * FRecordSize),
                      FData.begin() + static_cast<std::ptrdiff_t>((row + 1) * FRecordSize));
        return true;
    }
    TCRVRecordID Add(const std::vector<std::byte>& record) {
        FData.insert(FData.end(), record.begin(), record.end());
        const std::size_t row = FCount++;
        return TCRVRecordID{static_cast<std::int32_t>(row / 40), static_cast<std::uint16_t>(row % 40)};
    }

private:
    std::size_t FRecordSize;
    std::size_t FCount = 0;
    std::vector<std::byte> FData;
};

// A database file of its own in the temporary folder, removed afterwards.
struct TBenchFile {
    std::string Path;
    std::unique_ptr<TCRVDiskDatabaseData> Data;
    TCRVDiskSession Session;

    TBenchFile() {
        std::string pattern = (std::filesystem::temp_directory_path() / "btree_bench_XXXXXX").string();
        Path = std::string(::mkdtemp(pattern.data())) + "/bench.crv";
        TCRVDatabaseOptions options;
        options.Password.Password = "pw";
        TCRVDiskDatabaseData(Path, options).CreateDatabase();
        Data = std::make_unique<TCRVDiskDatabaseData>(Path, options);
        bool repairNeeded = false;
        Data->ConnectSession(Session, repairNeeded);
    }
    ~TBenchFile() {
        Data->DisconnectSession(Session);
        Data.reset();
        std::filesystem::remove_all(std::filesystem::path(Path).parent_path());
    }
};

struct TBenchTable {
    std::unique_ptr<TBenchFile> File;
    TCRVMemoryPageManager MemoryPages;
    TCRVPageManager& Pages;
    TCRVFieldDefs Fields;
    TCRVIndexDef Def;
    std::unique_ptr<TFlatRows> Rows;
    std::unique_ptr<TCRVBTreeRecordIndex> Index;

    explicit TBenchTable(bool onFile = false)
        : File(onFile ? std::make_unique<TBenchFile>() : nullptr),
          Pages(onFile ? static_cast<TCRVPageManager&>(File->Data->PageManager()) : MemoryPages) {
        Fields.Add("fnhash", TCRVAdvancedFieldType::aftString, 32);
        Def.Name = "fnhashidx";
        Def.Unique = true;
        Def.Columns = {{"fnhash", false, false, 0}};
        Rows = std::make_unique<TFlatRows>(static_cast<std::size_t>(Fields.GetMemoryRecordBufferSize()));
        Index = std::make_unique<TCRVBTreeRecordIndex>(Pages, Def, Fields, *Rows);
        Index->CreateIndex(KSession);
        Pages.ApplyChanges(KSession);
    }

    std::vector<std::byte> Row(const std::string& key) const {
        std::vector<std::byte> r = Fields.Layout().NewRecord();
        char value[33] = {};
        std::memcpy(value, key.data(), 32);
        SetFieldData(0, Fields, value, r);
        return r;
    }

    // Inserts the row; its changes are applied every applyEvery rows.
    void Insert(const std::string& key, std::size_t applyEvery) {
        const std::vector<std::byte> row = Row(key);
        const TCRVRecordID id = Rows->Add(row);
        Index->InsertRecord(KSession, row.data(), id);
        if (++FPending >= applyEvery) {
            Pages.ApplyChanges(KSession);
            FPending = 0;
        }
    }

private:
    std::size_t FPending = 0;
};

// range(0): how many inserts share one ApplyChanges (1 = every row posted on its own);
// range(1): 1 for a database file (enciphered pages), 0 for the in-memory page manager.
void BM_BTreeInsert1M(benchmark::State& state) {
    const auto applyEvery = static_cast<std::size_t>(state.range(0));
    const bool onFile = state.range(1) != 0;
    const std::vector<std::string> keys = HexKeys(KKeyCount, 1);
    for (auto _ : state) {
        state.PauseTiming();
        TBenchTable table(onFile);
        state.ResumeTiming();
        for (const std::string& k : keys)
            table.Insert(k, applyEvery);
        table.Pages.ApplyChanges(KSession);
        state.PauseTiming();
        state.counters["pages"] = static_cast<double>(table.Index->CheckIntegrity(KSession).PageCount);
        state.counters["depth"] = table.Index->CheckIntegrity(KSession).Depth;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * KKeyCount));
}

void BM_BTreeExactSearch1M(benchmark::State& state) {
    const std::vector<std::string> keys = HexKeys(KKeyCount, 1);
    TBenchTable table(state.range(0) != 0);
    for (const std::string& k : keys)
        table.Insert(k, 10000);
    table.Pages.ApplyChanges(KSession);
    std::vector<std::vector<std::byte>> probes;
    probes.reserve(KKeyCount);
    std::mt19937 rng(2);
    for (std::size_t i = 0; i < KKeyCount; ++i)
        probes.push_back(table.Row(keys[rng() % KKeyCount]));
    std::size_t found = 0;
    for (auto _ : state) {
        for (const auto& probe : probes) {
            TCRVRecordID id{};
            TCRVKeyPath path;
            found += table.Index->FindRecord(KSession, probe.data(), id, path) ? 1 : 0;
        }
    }
    if (found != state.iterations() * KKeyCount)
        state.SkipWithError("a key was not found");
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * KKeyCount));
}

BENCHMARK(BM_BTreeInsert1M)
    ->Args({1, 0})
    ->Args({10000, 0})
    ->Args({1000, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_BTreeExactSearch1M)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
