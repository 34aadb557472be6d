// The cursor and the table object below the dataset layer: change outcomes when another cursor
// changed or deleted the row, exclusive use, and table creation that fails without a trace.
#include "CRVLocalEngine/CRVLocalCursor.h"

#include "CRVDiskEngine/CRVDiskDatabaseData.h"
#include "CRVDiskEngine/CRVDiskTestUtil.h"
#include "CRVExcept/CRVExceptTestUtil.h"
#include "CRVLocalEngine/CRVFieldValue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <unistd.h>

namespace {

using A = TCRVAdvancedFieldType;

class LocalCursorTest : public ::testing::Test {
protected:
    LocalCursorTest() : FPath(FDir.File("local.crv")) {
        TCRVDiskDatabaseData(FPath, TCRVDatabaseOptions{}).CreateDatabase();
        FSession = std::make_unique<TCRVLocalSession>(TCRVLocalSessionOptions{.DatabaseFileName = FPath});
        FSession->Connect();
        const TCRVFieldDeclaration fields[] = {{.Name = "key", .Type = A::aftString, .Size = 8},
                                               {.Name = "value", .Type = A::aftInteger}};
        const TCRVIndexDeclaration indexes[] = {
            {.Name = "bykey", .Columns = {{.FieldName = "key"}}, .Unique = true}};
        TCRVTableData::CreateTable(Data(), "t", CRVBuildTableDefinition("t", fields, indexes));
    }
    ~LocalCursorTest() override { FSession.reset(); }
    TCRVDiskDatabaseData& Data() { return FSession->DatabaseData(); }
    std::vector<std::byte> Row(TCRVLocalCursor& cursor, const std::string& key, std::int64_t value) {
        std::vector<std::byte> row(static_cast<std::size_t>(cursor.Table().RecordSize()));
        cursor.Table().InitRecord(row, true);
        const TCRVFieldDefs& defs = cursor.Table().FieldDefs();
        CRVSetFieldValue(defs[0], row, key);
        CRVSetFieldValue(defs[1], row, value);
        return row;
    }
    crvtest::TTempDir FDir;
    std::string FPath;
    std::unique_ptr<TCRVLocalSession> FSession;
};

} // namespace

TEST_F(LocalCursorTest, ChangesOfARowThatAnotherCursorChangedOrDeletedAreRefused) {
    TCRVLocalCursor mine(*FSession, "t", false, false);
    TCRVLocalCursor theirs(*FSession, "t", false, false);
    mine.Open();
    theirs.Open();
    EXPECT_EQ(&mine.Table(), &theirs.Table()) << "one table object per open table";
    auto row = Row(mine, "a", 1);
    mine.InsertRecord(row);
    const std::vector<std::byte> shown = row; // what both cursors show

    theirs.SetToRecord(mine.CurrentRecordID(), shown);
    auto changed = Row(theirs, "a", 2);
    theirs.UpdateRecord(shown, changed);

    auto mineNew = Row(mine, "a", 3);
    EXPECT_EQ(EngineCodeOf([&] { mine.UpdateRecord(shown, mineNew); }), -4);
    EXPECT_EQ(EngineCodeOf([&] { mine.DeleteRecord(shown); }), -5);

    theirs.DeleteRecord(changed);
    EXPECT_EQ(EngineCodeOf([&] { mine.UpdateRecord(changed, mineNew); }), -6);
    EXPECT_EQ(EngineCodeOf([&] { mine.DeleteRecord(changed); }), -7);
    EXPECT_EQ(mine.RecordCount(), 0);

    auto again = Row(mine, "b", 1);
    mine.InsertRecord(again);
    auto duplicate = Row(theirs, "b", 9);
    try {
        theirs.InsertRecord(duplicate);
        ADD_FAILURE();
    } catch (const ECRVEngineError& e) {
        EXPECT_EQ(e.ErrorCode(), -8);
        EXPECT_NE(std::string(e.what()).find("Constraint unique 'C_Unique$key' violated"), std::string::npos)
            << e.what();
    }
    EXPECT_EQ(mine.RecordCount(), 1);
}

TEST_F(LocalCursorTest, ExclusiveUseAndMissingNames) {
    TCRVLocalCursor shared(*FSession, "t", false, false);
    shared.Open();
    TCRVLocalCursor exclusive(*FSession, "t", false, true);
    EXPECT_EQ(EngineCodeOf([&] { exclusive.Open(); }), 20242);
    shared.Close();
    exclusive.Open();
    TCRVLocalCursor later(*FSession, "T", false, false);
    EXPECT_EQ(EngineCodeOf([&] { later.Open(); }), 20242)
        << "names ignore case; exclusive use excludes others";
    exclusive.Close();
    later.Open();
    EXPECT_EQ(EngineCodeOf([&] { later.SetIndexName("none"); }), 10325);
    TCRVLocalCursor missing(*FSession, "missing", false, false);
    EXPECT_EQ(EngineCodeOf([&] { missing.Open(); }), 30396);
}

TEST_F(LocalCursorTest, ATableThatCannotBeCreatedLeavesTheFileAsItWas) {
    const auto size = std::filesystem::file_size(FPath);
    const TCRVFieldDeclaration huge[] = {{.Name = "big", .Type = A::aftString, .Size = 6000}};
    EXPECT_EQ(EngineCodeOf([&] {
                  TCRVTableData::CreateTable(Data(), "big", CRVBuildTableDefinition("big", huge, {}));
              }),
              20174);
    EXPECT_EQ(EngineCodeOf([&] { TCRVTableData::CreateTable(Data(), "none", TCRVTableDefinition{}); }),
              20128);
    EXPECT_EQ(Data().GetTablesList(), std::vector<std::string>{"t"});
    EXPECT_LE(std::filesystem::file_size(FPath), size);

    // The file still takes new tables and rows.
    const TCRVFieldDeclaration small[] = {{.Name = "v", .Type = A::aftInteger}};
    TCRVTableData::CreateTable(Data(), "small", CRVBuildTableDefinition("small", small, {}));
    TCRVLocalCursor cursor(*FSession, "small", false, false);
    cursor.Open();
    std::vector<std::byte> row(static_cast<std::size_t>(cursor.Table().RecordSize()));
    cursor.Table().InitRecord(row, true);
    cursor.InsertRecord(row);
    EXPECT_EQ(cursor.RecordCount(), 1);
}

// A disk that refuses the N-th write of the write-back (1 = the header's in-progress mark,
// 2 = the first page) and then works again. A failure after some pages are written tears the
// file; that is the repair's business (the in-progress mark), not the table layer's.
class LocalCursorWriteFailureTest : public LocalCursorTest, public ::testing::WithParamInterface<int> {};

TEST_P(LocalCursorWriteFailureTest, APostThatCannotBeWrittenFailsAndLosesNothing) {
    FSession.reset();
    auto plan = std::make_shared<TCRVFaultPlan>();
    plan->Errno = 28; // ENOSPC
    FSession = std::make_unique<TCRVLocalSession>(
        TCRVLocalSessionOptions{.DatabaseFileName = FPath, .FileFactory = CRVFaultyFileFactory(plan)});
    FSession->Connect();
    {
        TCRVLocalCursor cursor(*FSession, "t", false, false);
        cursor.Open();
        for (int i = 0; i < 50; ++i) {
            auto row = Row(cursor, "k" + std::to_string(i), i);
            cursor.InsertRecord(row);
        }
        plan->FailWriteAt = plan->Writes + GetParam();
        auto row = Row(cursor, "lost", 99);
        EXPECT_THROW(cursor.InsertRecord(row), ECRVException);
        plan->FailWriteAt = 0;
        EXPECT_EQ(cursor.RecordCount(), 50);
        auto next = Row(cursor, "after", 100);
        cursor.InsertRecord(next);
        EXPECT_EQ(cursor.RecordCount(), 51);
    }
    FSession.reset();
    FSession = std::make_unique<TCRVLocalSession>(TCRVLocalSessionOptions{.DatabaseFileName = FPath});
    FSession->Connect();
    EXPECT_FALSE(FSession->RepairNeeded());
    TCRVLocalCursor cursor(*FSession, "t", false, false);
    cursor.Open();
    cursor.SetIndexName("bykey");
    std::vector<std::string> keys;
    std::vector<std::byte> row(static_cast<std::size_t>(cursor.Table().RecordSize()));
    while (cursor.GetRecord(row, grmNext) == grrOK)
        keys.push_back(std::get<std::string>(CRVGetFieldValue(cursor.Table().FieldDefs()[0], row)));
    EXPECT_EQ(keys.size(), 51u);
    EXPECT_EQ(std::count(keys.begin(), keys.end(), "lost"), 0);
    EXPECT_EQ(std::count(keys.begin(), keys.end(), "after"), 1);
    EXPECT_EQ(cursor.RecordCount(), 51);
}

// A post with a changed memo whose write-back fails keeps the memo's value in the row: posting
// the same row again stores it. Once for an insert and once for an update of the value.
TEST_P(LocalCursorWriteFailureTest, APostThatFailsKeepsItsBlobValuesForTheNextPost) {
    FSession.reset();
    auto plan = std::make_shared<TCRVFaultPlan>();
    FSession = std::make_unique<TCRVLocalSession>(
        TCRVLocalSessionOptions{.DatabaseFileName = FPath, .FileFactory = CRVFaultyFileFactory(plan)});
    FSession->Connect();
    const TCRVFieldDeclaration fields[] = {{.Name = "key", .Type = A::aftString, .Size = 8},
                                           {.Name = "memo", .Type = A::aftMemo}};
    TCRVTableData::CreateTable(Data(), "m", CRVBuildTableDefinition("m", fields, {}));
    const std::vector<std::uint8_t> warm(100, 0x11), first(200, 0x5A), second(300, 0xC3);
    {
        TCRVLocalCursor cursor(*FSession, "m", false, false);
        cursor.Open();
        TCRVDiskBlobManager& blobs = cursor.Table().Data().BlobManager();
        std::vector<std::byte> row(static_cast<std::size_t>(cursor.Table().RecordSize()));
        // A first row takes the pages, so the failing posts below allocate none and their first
        // writes are the write-back's.
        cursor.Table().InitRecord(row, true);
        blobs.SetDirectBlobInfoFromRecordBuffer(row, 1, warm, 0, static_cast<std::int64_t>(warm.size()));
        cursor.InsertRecord(row);
        cursor.Table().InitRecord(row, true);
        CRVSetFieldValue(cursor.Table().FieldDefs()[0], row, std::string("k"));
        blobs.SetDirectBlobInfoFromRecordBuffer(row, 1, first, 0, static_cast<std::int64_t>(first.size()));
        plan->FailWriteAt = plan->Writes + GetParam();
        EXPECT_THROW(cursor.InsertRecord(row), ECRVException);
        plan->FailWriteAt = 0;
        cursor.InsertRecord(row);

        cursor.InternalFirst();
        ASSERT_EQ(cursor.GetRecord(row, grmNext), grrOK);
        ASSERT_EQ(cursor.GetRecord(row, grmNext), grrOK); // the row "k"
        const std::vector<std::byte> editCopy = row;
        blobs.SetDirectBlobInfoFromRecordBuffer(row, 1, second, 0, static_cast<std::int64_t>(second.size()));
        plan->FailWriteAt = plan->Writes + GetParam();
        EXPECT_THROW(cursor.UpdateRecord(editCopy, row), ECRVException);
        plan->FailWriteAt = 0;
        cursor.UpdateRecord(editCopy, row);
        EXPECT_EQ(blobs.CacheCount(), 0u);
    }
    FSession.reset();
    FSession = std::make_unique<TCRVLocalSession>(TCRVLocalSessionOptions{.DatabaseFileName = FPath});
    FSession->Connect();
    TCRVLocalCursor cursor(*FSession, "m", false, false);
    cursor.Open();
    EXPECT_EQ(cursor.RecordCount(), 2);
    std::vector<std::byte> row(static_cast<std::size_t>(cursor.Table().RecordSize()));
    ASSERT_EQ(cursor.GetRecord(row, grmNext), grrOK);
    ASSERT_EQ(cursor.GetRecord(row, grmNext), grrOK);
    EXPECT_EQ(std::get<std::string>(CRVGetFieldValue(cursor.Table().FieldDefs()[0], row)), "k");
    const TCRVDirectBlobInfo value =
        cursor.Table().Data().BlobManager().GetDirectBlobInfoFromRecordBuffer(FSession->SessionID(), row, 1);
    EXPECT_EQ(std::vector<std::uint8_t>(value.Data.begin(), value.Data.end()), second);
    cursor.Table().Data().BlobManager().ClearBlobsInRecordBuffer(row, true);
}

INSTANTIATE_TEST_SUITE_P(WriteNo, LocalCursorWriteFailureTest, ::testing::Values(1, 2));
