// Record format: the conversions the record manager runs on every row it reads or writes, and
// the field access of the dataset layer, on a row shaped like the program's file rows.
#include "CRVBase/CRVFieldDef.h"
#include "CRVTypes/CRVExtended.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstring>

namespace {

TCRVFieldDefs FileRow() {
    TCRVFieldDefs defs;
    defs.Add("fnhash", TCRVAdvancedFieldType::aftString, 32);
    defs.Add("filename", TCRVAdvancedFieldType::aftWideString, 260);
    defs.Add("fileage", TCRVAdvancedFieldType::aftDateTime);
    defs.Add("filesize", TCRVAdvancedFieldType::aftLargeint);
    defs.Add("hash", TCRVAdvancedFieldType::aftString, 64);
    defs.Add("signed", TCRVAdvancedFieldType::aftBoolean);
    defs.Add("extra", TCRVAdvancedFieldType::aftBlob);
    return defs;
}

void BM_DiskToMemory(benchmark::State& state) {
    const TCRVFieldDefs defs = FileRow();
    const TCRVRecordLayout& layout = defs.Layout();
    std::vector<std::byte> disk(static_cast<std::size_t>(layout.DiskRecordSize()), std::byte{0x41});
    std::vector<std::byte> memory(static_cast<std::size_t>(layout.MemoryRecordSize()));
    for (auto _ : state) {
        layout.DiskToMemory(disk, memory);
        benchmark::DoNotOptimize(memory.data());
    }
    state.SetBytesProcessed(state.iterations() * layout.DiskRecordSize());
}
BENCHMARK(BM_DiskToMemory);

void BM_MemoryToDisk(benchmark::State& state) {
    const TCRVFieldDefs defs = FileRow();
    const TCRVRecordLayout& layout = defs.Layout();
    std::vector<std::byte> memory(static_cast<std::size_t>(layout.MemoryRecordSize()), std::byte{0x41});
    std::vector<std::byte> disk(static_cast<std::size_t>(layout.DiskRecordSize()));
    for (auto _ : state) {
        layout.MemoryToDisk(memory, disk);
        benchmark::DoNotOptimize(disk.data());
    }
    state.SetBytesProcessed(state.iterations() * layout.DiskRecordSize());
}
BENCHMARK(BM_MemoryToDisk);

void BM_SetAndGetHashField(benchmark::State& state) {
    const TCRVFieldDefs defs = FileRow();
    const TCRVRecordLayout& layout = defs.Layout();
    auto record = layout.NewRecord();
    const char hash[] = "0123456789ABCDEF0123456789ABCDEF";
    char out[33];
    for (auto _ : state) {
        layout.SetFieldData(0, hash, record);
        benchmark::DoNotOptimize(layout.GetFieldData(0, out, record));
    }
}
BENCHMARK(BM_SetAndGetHashField);

void BM_ExtendedRoundTrip(benchmark::State& state) {
    std::array<std::byte, CRVExtendedSize> bytes{};
    double value = 1.0 / 3.0;
    for (auto _ : state) {
        CRVDoubleToExtended(value, bytes);
        value = CRVExtendedToDouble(bytes) * 1.0000001;
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_ExtendedRoundTrip);

} // namespace

BENCHMARK_MAIN();
