// Rows and BLOBs in a database file: written, closed, opened again and read back; emptied
// down to the pages they started from; the record page index rebuilt from the file's pages.
#include "CRVBaseEngine/CRVDiskTableData.h"

#include "CRVBaseEngine/CRVBaseEngineTestUtil.h"
#include "CRVDiskEngine/CRVDatabaseFreeSpaceManager.h"
#include "CRVDiskEngine/CRVDiskPageManager.h"
#include "CRVDiskEngine/CRVDiskTestUtil.h"
#include "CRVTypes/CRVRecordLayout.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <unistd.h>

namespace {

constexpr TCRVSessionID KSession = 0;
constexpr std::int32_t KTableID = 3;

struct TStoredRow {
    std::int32_t Value;
    std::vector<std::uint8_t> Blob;
    std::vector<std::uint8_t> Memo;
};

class DiskTableDataTest : public ::testing::TestWithParam<bool> {
protected:
    DiskTableDataTest() {
        FFileName = FDir.File("table.crv");
        FPassword = TCRVPassword{GetParam() ? "secret" : "", craRijndael_128};
        FDefs.Add("name", TCRVAdvancedFieldType::aftString, 32);
        FDefs.Add("value", TCRVAdvancedFieldType::aftInteger);
        FDefs.Add("data", TCRVAdvancedFieldType::aftBlob);
        TCRVFieldDef& memo = FDefs.Add("text", TCRVAdvancedFieldType::aftMemo);
        memo.BLOBCompressionAlgorithm = acaZLIB;
        memo.BLOBCompressionMode = 6;
    }

    std::unique_ptr<TCRVDiskPageManager> Open(bool create) {
        auto pages = std::make_unique<TCRVDiskPageManager>();
        if (create) {
            pages->CreateAndOpenDatabase(FFileName, FPassword, 4096, 8);
        } else {
            bool readOnly = false, repairNeeded = false, multiUser = false;
            pages->OpenDatabase(FFileName, FPassword, readOnly, repairNeeded, true, multiUser);
            EXPECT_FALSE(repairNeeded);
        }
        return pages;
    }
    static std::vector<std::uint8_t> Bytes(std::size_t size, unsigned seed) {
        std::vector<std::uint8_t> bytes(size);
        std::mt19937 random(seed);
        for (auto& b : bytes)
            b = static_cast<std::uint8_t>(random() % 11);
        return bytes;
    }
    void WriteBlob(TCRVDiskTableData& table, std::vector<std::byte>& row, std::int32_t fieldNo,
                   const std::vector<std::uint8_t>& value) {
        if (value.empty())
            return;
        auto stream = table.InternalCreateBlobStream(KSession, row, fieldNo, bomWrite);
        stream->Write(value.data(), static_cast<std::int64_t>(value.size()));
        stream->Finish();
    }
    std::vector<std::uint8_t> ReadBlob(TCRVDiskTableData& table, std::vector<std::byte>& row,
                                       std::int32_t fieldNo) {
        auto stream = table.InternalCreateBlobStream(KSession, row, fieldNo, bomRead);
        std::vector<std::uint8_t> value(static_cast<std::size_t>(stream->GetSize()));
        if (!value.empty())
            stream->Read(value.data(), stream->GetSize());
        table.BlobManager().ClearBlobsInRecordBuffer(row, true);
        return value;
    }
    // Every row in physical order.
    std::vector<TStoredRow> ReadAll(TCRVDiskTableData& table) {
        std::vector<TStoredRow> rows;
        std::vector<std::byte> row(static_cast<std::size_t>(FDefs.GetMemoryRecordBufferSize()));
        TCRVNavigationInfo info;
        info.FirstPosition = true;
        info.RecordBuffer = row;
        for (table.RecordManager().GetRecordBuffer(KSession, info); info.GetRecordResult == grrOK;
             table.RecordManager().GetRecordBuffer(KSession, info)) {
            TStoredRow stored{};
            GetFieldData(1, FDefs, &stored.Value, row);
            stored.Blob = ReadBlob(table, row, 2);
            stored.Memo = ReadBlob(table, row, 3);
            rows.push_back(std::move(stored));
        }
        return rows;
    }
    static std::int32_t UsedPages(TCRVDiskPageManager& pages) {
        TCRVDatabaseFreeSpaceManager& fsm = pages.FreeSpaceManager();
        std::int32_t used = 0;
        for (TCRVPageNo no = 1; no < fsm.TotalPageCount(); ++no)
            if (!fsm.IsPagePfsOrEam(no) && fsm.GetPageUsageFromPFS(no))
                ++used;
        return used;
    }

    crvtest::TTempDir FDir;
    std::string FFileName;
    TCRVPassword FPassword;
    TCRVFieldDefs FDefs;
};

} // namespace

TEST_P(DiskTableDataTest, RowsAndBlobsSurviveClosingAndOpeningTheFile) {
    std::vector<TStoredRow> expected;
    TCRVMemoryStream metadata;
    std::vector<std::uint8_t> counters;
    std::int32_t usedAtStart = 0;
    {
        auto pages = Open(true);
        TCRVDiskTableData table(*pages, KTableID, "files", FDefs);
        table.InitRecordSizes();
        table.CreateStorage(KSession);
        pages->ApplyChanges(KSession);
        usedAtStart = UsedPages(*pages);
        for (int i = 0; i < 400; ++i) {
            TStoredRow stored{i, Bytes(static_cast<std::size_t>(i * 37 % 9000), static_cast<unsigned>(i)),
                              i % 4 == 0
                                  ? Bytes(static_cast<std::size_t>(i * 500), static_cast<unsigned>(i + 1))
                                  : std::vector<std::uint8_t>{}};
            std::vector<std::byte> row = FDefs.Layout().NewRecord();
            SetFieldData(0, FDefs, "name", row);
            SetFieldData(1, FDefs, &stored.Value, row);
            WriteBlob(table, row, 2, stored.Blob);
            WriteBlob(table, row, 3, stored.Memo);
            TCRVRecordID id{};
            ASSERT_TRUE(table.InsertRecord(KSession, row, id));
            expected.push_back(std::move(stored));
            if (i % 50 == 49)
                pages->ApplyChanges(KSession);
        }
        pages->ApplyChanges(KSession);
        table.SaveMetadata(metadata);
        std::size_t offset = 0;
        table.RecordManager().SaveMostUpdated(counters, offset);
        pages->CloseDatabase();
    }
    auto pages = Open(false);
    TCRVDiskTableData table(*pages, KTableID, "files", FDefs);
    table.InitRecordSizes();
    metadata.SetPosition(0);
    table.LoadMetadata(metadata);
    std::size_t offset = 0;
    ASSERT_TRUE(table.RecordManager().LoadMostUpdated(counters, offset));
    table.RecordManager().ValidateRecordPageIndex(KSession);

    const std::vector<TStoredRow> rows = ReadAll(table);
    ASSERT_EQ(rows.size(), expected.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].Value, expected[i].Value);
        EXPECT_EQ(rows[i].Blob, expected[i].Blob) << i;
        EXPECT_EQ(rows[i].Memo, expected[i].Memo) << i;
    }

    // The record page index rebuilt from the file's pages says the same.
    const auto before = IndexItems(table.RecordManager().RecordPageIndex());
    table.RecordManager().RebuildRecordPageIndex(
        KSession, "files", pages->FreeSpaceManager().TotalPageCount(),
        [&](TCRVPageNo no) { return pages->FreeSpaceManager().GetPageUsageFromPFS(no); });
    EXPECT_EQ(table.RecordManager().RecordCount(), 400);
    const auto after = IndexItems(table.RecordManager().RecordPageIndex());
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < after.size(); ++i)
        EXPECT_EQ(+after[i].PageNo, +before[i].PageNo);
    pages->ApplyChanges(KSession);

    table.EmptyTable(KSession);
    pages->ApplyChanges(KSession);
    EXPECT_EQ(UsedPages(*pages), usedAtStart);
    EXPECT_TRUE(ReadAll(table).empty());
    pages->CloseDatabase();
}

INSTANTIATE_TEST_SUITE_P(PlainAndEnciphered, DiskTableDataTest, ::testing::Bool());
