// Physical-order scans of a table shaped like the files table (a 32-character name hash, a few
// integers, a date-time: 58-byte disk records, 69 rows per 4096-byte page), and the inserts that
// fill it.
//
//   build/<dir>/bench/records_bench
//
// "Memory" runs over pages held in memory (the page cache's reads are copies); "File" runs over a
// database file, plain or enciphered with Rijndael-128 as the program's database is, so that a
// scan pays for reading, checking and deciphering each record page once.
#include "CRVBaseEngine/CRVBaseEngineTestUtil.h"
#include "CRVBaseEngine/CRVDiskTableData.h"
#include "CRVDiskEngine/CRVDiskPageManager.h"
#include "CRVTypes/CRVRecordLayout.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>

namespace {

constexpr TCRVSessionID KSession = 0;

TCRVFieldDefs FilesFields() {
    TCRVFieldDefs defs;
    defs.Add("fnhash", TCRVAdvancedFieldType::aftString, 32);
    defs.Add("filesize", TCRVAdvancedFieldType::aftLargeint);
    defs.Add("signed", TCRVAdvancedFieldType::aftInteger);
    defs.Add("attr", TCRVAdvancedFieldType::aftInteger);
    defs.Add("fileage", TCRVAdvancedFieldType::aftDateTime);
    return defs;
}

std::vector<std::byte> FilesRow(const TCRVFieldDefs& defs, std::mt19937& random) {
    std::vector<std::byte> row = defs.Layout().NewRecord();
    std::string hash(32, '0');
    for (char& c : hash)
        c = "0123456789ABCDEF"[random() % 16];
    const std::int64_t size = random() % 100000000;
    const std::int32_t flags = static_cast<std::int32_t>(random() % 2);
    const std::int32_t attr = 0x20;
    const std::int32_t age[2] = {738000 + static_cast<std::int32_t>(random() % 3000),
                                 static_cast<std::int32_t>(random() % 86400000)};
    SetFieldData(0, defs, hash.c_str(), row);
    SetFieldData(1, defs, &size, row);
    SetFieldData(2, defs, &flags, row);
    SetFieldData(3, defs, &attr, row);
    SetFieldData(4, defs, age, row);
    return row;
}

// A table of `rows` files rows over a page cache.
struct TFilesTable {
    TCRVFieldDefs Defs = FilesFields();
    std::unique_ptr<TCRVDiskTableData> Table;

    void Fill(TCRVPageManager& pages, std::int64_t rows) {
        Table = std::make_unique<TCRVDiskTableData>(pages, 5, "files", Defs);
        Table->InitRecordSizes();
        Table->CreateStorage(KSession);
        std::mt19937 random(1);
        for (std::int64_t i = 0; i < rows; ++i) {
            std::vector<std::byte> row = FilesRow(Defs, random);
            TCRVRecordID id{};
            Table->InsertRecord(KSession, row, id);
            if (i % 5000 == 4999)
                pages.ApplyChanges(KSession);
        }
        pages.ApplyChanges(KSession);
    }

    // Visits every row in physical order; answers the rows read.
    std::int64_t Scan(bool read) {
        std::vector<std::byte> row(static_cast<std::size_t>(Defs.GetMemoryRecordBufferSize()));
        TCRVNavigationInfo info;
        info.GetRecordMode = grmNext;
        info.FirstPosition = true;
        if (read)
            info.RecordBuffer = row;
        std::int64_t count = 0;
        for (Table->RecordManager().GetRecordBuffer(KSession, info); info.GetRecordResult == grrOK;
             Table->RecordManager().GetRecordBuffer(KSession, info))
            ++count;
        benchmark::DoNotOptimize(row.data());
        return count;
    }
};

void BM_ScanMemory(benchmark::State& state) {
    TCRVMemoryPageManager pages;
    TFilesTable table;
    table.Fill(pages, state.range(0));
    const bool read = state.range(1) != 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(table.Scan(read));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// A database file in the temporary folder, removed afterwards.
struct TTempDatabase {
    std::string FileName;
    TCRVDiskPageManager Pages;

    explicit TTempDatabase(const std::string& password) {
        FileName =
            (std::filesystem::temp_directory_path() / ("records_bench_" + std::to_string(getpid()) + ".crv"))
                .string();
        Pages.CreateAndOpenDatabase(FileName, TCRVPassword{password, craRijndael_128}, 4096, 8);
    }
    ~TTempDatabase() {
        Pages.CloseDatabase();
        std::remove(FileName.c_str());
    }
};

void BM_ScanFile(benchmark::State& state) {
    TTempDatabase db(state.range(1) != 0 ? "secret" : "");
    TFilesTable table;
    table.Fill(db.Pages, state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(table.Scan(true));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_InsertMemory(benchmark::State& state) {
    for (auto _ : state) {
        TCRVMemoryPageManager pages;
        TFilesTable table;
        table.Fill(pages, state.range(0));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_FetchByRecordID(benchmark::State& state) {
    TCRVMemoryPageManager pages;
    TFilesTable table;
    table.Fill(pages, state.range(0));
    std::vector<std::byte> row(static_cast<std::size_t>(table.Defs.GetMemoryRecordBufferSize()));
    std::mt19937 random(2);
    const TCRVPageNo lastPage = table.Table->RecordManager().LastRecordPageNo(KSession);
    for (auto _ : state) {
        TCRVNavigationInfo info;
        info.GetRecordMode = grmCurrent;
        info.RecordID = {static_cast<TCRVPageNo>(2 + random() % static_cast<unsigned>(lastPage - 2)),
                         static_cast<std::uint16_t>(random() % 69)};
        info.RecordBuffer = row;
        table.Table->RecordManager().GetRecordBuffer(KSession, info);
        benchmark::DoNotOptimize(info.GetRecordResult);
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(BM_ScanMemory)
    ->Args({100000, 1})
    ->Args({1000000, 1})
    ->Args({1000000, 0})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanFile)->Args({1000000, 0})->Args({1000000, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InsertMemory)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FetchByRecordID)->Arg(1000000);

BENCHMARK_MAIN();
