#include "CRVBaseEngine/CRVDiskRecordManager.h"

#include "CRVBaseEngine/CRVBaseEngineTestUtil.h"
#include "CRVBaseEngine/CRVRecordPage.h"
#include "CRVCompression/CRVStream.h"
#include "CRVExcept/CRVExceptTestUtil.h"
#include "CRVTypes/CRVRecordLayout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>

namespace {

constexpr TCRVSessionID KSession = 0;
constexpr std::int32_t KTableID = 7;

// A table of 100-byte disk records: null bitmap (1), STRING(94) (95), INTEGER (4).
class RecordManagerTest : public ::testing::Test {
protected:
    RecordManagerTest() {
        FDefs.Add("name", TCRVAdvancedFieldType::aftString, 94);
        FDefs.Add("value", TCRVAdvancedFieldType::aftInteger);
        FManager =
            std::make_unique<TCRVDiskRecordManager>(FPages, KTableID, FDefs, CRVBTreePageIndexFactory());
        FManager->Init(FDefs.GetMemoryRecordBufferSize(), FDefs.GetDiskRecordBufferSize(), FDefs.Count());
        FManager->CreateRecordPageIndex(KSession);
        FPages.ApplyChanges(KSession);
    }

    std::vector<std::byte> Row(std::int32_t value) const {
        std::vector<std::byte> row = FDefs.Layout().NewRecord();
        const std::string name = "row " + std::to_string(value);
        SetFieldData(0, FDefs, name.c_str(), row);
        SetFieldData(1, FDefs, &value, row);
        return row;
    }
    static std::int32_t Value(const std::vector<std::byte>& row) {
        std::int32_t value = 0;
        std::memcpy(&value, row.data() + 96, 4);
        return value;
    }
    TCRVRecordID Add(std::int32_t value) {
        TCRVRecordID id{};
        EXPECT_TRUE(FManager->AddRecord(KSession, Row(value), id));
        return id;
    }
    TCRVNavigationInfo Fetch(TCRVGetRecordMode mode, TCRVRecordID from, bool first = false,
                             bool last = false) {
        TCRVNavigationInfo info;
        info.GetRecordMode = mode;
        info.RecordID = from;
        info.FirstPosition = first;
        info.LastPosition = last;
        FBuffer.assign(static_cast<std::size_t>(FDefs.GetMemoryRecordBufferSize()), std::byte{0});
        info.RecordBuffer = FBuffer;
        FManager->GetRecordBuffer(KSession, info);
        return info;
    }
    // Every row from the first, forwards (or backwards from the last): (record id, value).
    std::vector<std::pair<TCRVRecordID, std::int32_t>> Scan(bool forward) {
        std::vector<std::pair<TCRVRecordID, std::int32_t>> rows;
        TCRVNavigationInfo info = Fetch(forward ? grmNext : grmPrior, {}, forward, !forward);
        while (info.GetRecordResult == grrOK) {
            rows.emplace_back(info.RecordID, Value(FBuffer));
            info = Fetch(forward ? grmNext : grmPrior, info.RecordID);
        }
        EXPECT_EQ(info.GetRecordResult, forward ? grrEOF : grrBOF);
        return rows;
    }

    TCRVMemoryPageManager FPages;
    TCRVFieldDefs FDefs;
    std::unique_ptr<TCRVDiskRecordManager> FManager;
    std::vector<std::byte> FBuffer;
};

} // namespace

TEST(CRVRecordPage, RowsPerPageAndBitmapSize) {
    struct Case {
        std::int32_t DataSize, RecordSize, Rows, Bitmap;
    };
    for (const Case c : {Case{4056, 100, 40, 5}, Case{4056, 1, 3604, 451}, Case{4056, 4054, 1, 1},
                         Case{4056, 4055, 0, 0}, Case{4056, 8, 499, 63}}) {
        const std::int32_t rows = CRVMaxRecordsOnPage(c.DataSize, c.RecordSize);
        EXPECT_EQ(rows, c.Rows) << c.RecordSize;
        EXPECT_EQ(CRVSlotBitmapSize(rows), c.Bitmap) << c.RecordSize;
        EXPECT_LE(CRVSlotBitmapSize(rows) + rows * c.RecordSize, c.DataSize - 0) << c.RecordSize;
    }
}

TEST_F(RecordManagerTest, FortyRowsFillAPageAndTheFortyFirstOpensAnother) {
    ASSERT_EQ(FDefs.GetDiskRecordBufferSize(), 100);
    ASSERT_EQ(FManager->MaxRecordsOnPage(), 40);
    const std::size_t before = FPages.LivePageCount();
    std::vector<TCRVRecordID> ids;
    for (int i = 0; i < 40; ++i)
        ids.push_back(Add(i));
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(+ids[i].PageNo, +ids[0].PageNo);
        EXPECT_EQ(+ids[i].PageItemNo, i);
    }
    EXPECT_EQ(FPages.LivePageCount(), before + 1);
    const TCRVRecordID next = Add(40);
    EXPECT_NE(+next.PageNo, +ids[0].PageNo);
    EXPECT_EQ(+next.PageItemNo, 0);
    EXPECT_EQ(FPages.LivePageCount(), before + 2);
    ASSERT_EQ(IndexItems(FManager->RecordPageIndex()).size(), 2U);
    EXPECT_EQ(IndexItems(FManager->RecordPageIndex())[0].PageRecordCount +
                  IndexItems(FManager->RecordPageIndex())[1].PageRecordCount,
              41);
    EXPECT_EQ(FManager->RecordCount(), 41);
    EXPECT_EQ(FManager->TableState(), 41);

    // The page is a record page of this table, with the bitmap and slot where they belong.
    TCRVPinnedPage page = FPages.GetPage(KSession, ids[0].PageNo, true, ptTableRecord);
    EXPECT_EQ(+page->GetPageHeader()->ObjectID, KTableID);
    const std::uint8_t* data = page->GetPageData();
    EXPECT_EQ(data[0], 0xFF);
    EXPECT_EQ(data[4], 0xFF);
    std::int32_t stored = 0;
    std::memcpy(&stored, data + 5 + 39 * 100 + 96, 4); // slot 39's integer
    EXPECT_EQ(stored, 39);
}

TEST_F(RecordManagerTest, InitRefusesARecordThatFitsNoPage) {
    TCRVFieldDefs wide;
    wide.Add("s", TCRVAdvancedFieldType::aftString, 4052); // 1 + 4053 bytes: one row fits
    TCRVDiskRecordManager ok(FPages, 8, wide, CRVBTreePageIndexFactory());
    ok.Init(wide.GetMemoryRecordBufferSize(), wide.GetDiskRecordBufferSize(), 1);
    EXPECT_EQ(ok.MaxRecordsOnPage(), 1);
    wide[0].SetFieldDefDataType(TCRVAdvancedFieldType::aftString, 4053);
    wide.RecalcFieldOffsets();
    TCRVDiskRecordManager tooLarge(FPages, 8, wide, CRVBTreePageIndexFactory());
    EXPECT_EQ(
        CodeOf([&] { tooLarge.Init(wide.GetMemoryRecordBufferSize(), wide.GetDiskRecordBufferSize(), 1); }),
        20174);
}

TEST_F(RecordManagerTest, ADeletedSlotIsTakenByTheNextRow) {
    std::vector<TCRVRecordID> ids;
    for (int i = 0; i < 40; ++i)
        ids.push_back(Add(i));
    ASSERT_TRUE(FManager->DeleteRecord(KSession, ids[3]));
    EXPECT_FALSE(FManager->DeleteRecord(KSession, ids[3])); // the slot is free now
    EXPECT_EQ(FManager->RecordCount(), 39);
    EXPECT_EQ(IndexItems(FManager->RecordPageIndex())[0].PageRecordCount, 39);
    const TCRVRecordID reused = Add(100);
    EXPECT_EQ(+reused.PageNo, +ids[0].PageNo);
    EXPECT_EQ(+reused.PageItemNo, 3);
    EXPECT_EQ(Fetch(grmCurrent, reused).GetRecordResult, grrOK);
    EXPECT_EQ(Value(FBuffer), 100);
}

TEST_F(RecordManagerTest, DeletingTheOnlyRowOfAPageFreesThePage) {
    std::vector<TCRVRecordID> ids;
    for (int i = 0; i < 41; ++i)
        ids.push_back(Add(i));
    FPages.ApplyChanges(KSession);
    const std::size_t before = FPages.LivePageCount();
    ASSERT_TRUE(FManager->DeleteRecord(KSession, ids[40]));
    EXPECT_EQ(FPages.LivePageCount(), before); // freed when the changes are applied
    FPages.ApplyChanges(KSession);
    EXPECT_EQ(FPages.LivePageCount(), before - 1);
    EXPECT_FALSE(FPages.IsPageInUse(ids[40].PageNo));
    ASSERT_EQ(IndexItems(FManager->RecordPageIndex()).size(), 1U);
    EXPECT_EQ(+IndexItems(FManager->RecordPageIndex())[0].PageNo, +ids[0].PageNo);
}

TEST_F(RecordManagerTest, UpdateRewritesTheSlotInPlace) {
    const TCRVRecordID a = Add(1);
    const TCRVRecordID b = Add(2);
    ASSERT_TRUE(FManager->UpdateRecord(KSession, Row(20), b));
    EXPECT_EQ(FManager->TableState(), 3);
    EXPECT_EQ(FManager->RecordCount(), 2);
    const auto rows = Scan(true);
    ASSERT_EQ(rows.size(), 2U);
    EXPECT_EQ(rows[0].first, a);
    EXPECT_EQ(rows[1].first, b);
    EXPECT_EQ(rows[1].second, 20);
    // A free slot, and a slot past the page's last one, hold no row.
    EXPECT_FALSE(FManager->UpdateRecord(KSession, Row(3), {a.PageNo, 5}));
    EXPECT_FALSE(FManager->UpdateRecord(KSession, Row(3), {a.PageNo, 40}));
    EXPECT_EQ(FManager->TableState(), 3);
}

TEST_F(RecordManagerTest, RowsComeInPhysicalOrderAndRowNumbersFollowIt) {
    std::map<TCRVRecordID, std::int32_t, bool (*)(const TCRVRecordID&, const TCRVRecordID&)> model(
        [](const TCRVRecordID& x, const TCRVRecordID& y) { return CompareRecordID(x, y) < 0; });
    for (int i = 0; i < 130; ++i)
        model[Add(i)] = i;
    // Holes on every page, then new rows fill the holes of the highest pages first.
    for (auto it = model.begin(); it != model.end();)
        it = (it->second % 3 == 0 && FManager->DeleteRecord(KSession, it->first)) ? model.erase(it)
                                                                                  : std::next(it);
    for (int i = 1000; i < 1020; ++i)
        model[Add(i)] = i;

    std::vector<std::pair<TCRVRecordID, std::int32_t>> expected(model.begin(), model.end());
    EXPECT_EQ(Scan(true), expected);
    std::reverse(expected.begin(), expected.end());
    EXPECT_EQ(Scan(false), expected);

    std::int64_t recNo = 0;
    for (const auto& [id, value] : model) {
        ++recNo;
        EXPECT_EQ(FManager->GetRecNo(KSession, id), recNo);
        EXPECT_EQ(FManager->SetRecNo(KSession, recNo), id);
    }
    EXPECT_EQ(recNo, FManager->RecordCount());
    EXPECT_EQ(CodeOf([&] { FManager->SetRecNo(KSession, recNo + 1); }), 20113);
    EXPECT_EQ(FManager->GetApproximateRecNo(), recNo / 2);
}

TEST_F(RecordManagerTest, FetchingFromTheEndsAndFromNowhere) {
    EXPECT_EQ(Fetch(grmNext, {}, true).GetRecordResult, grrEOF);
    EXPECT_EQ(CodeOf([&] { FManager->SetRecNo(KSession, 1); }), 20113);

    const TCRVRecordID a = Add(1);
    Add(2);
    struct Case {
        TCRVGetRecordMode Mode;
        bool First, Last;
        TCRVGetRecordResult Result;
    };
    for (const Case c : {Case{grmNext, true, false, grrOK}, Case{grmPrior, true, false, grrBOF},
                         Case{grmCurrent, true, false, grrError}, Case{grmPrior, false, true, grrOK},
                         Case{grmNext, false, true, grrEOF}, Case{grmCurrent, false, true, grrError}}) {
        const TCRVNavigationInfo info = Fetch(c.Mode, a, c.First, c.Last);
        EXPECT_EQ(info.GetRecordResult, c.Result) << int(c.Mode) << c.First << c.Last;
        if (c.Result == grrOK) {
            EXPECT_FALSE(info.FirstPosition || info.LastPosition);
            EXPECT_EQ(Value(FBuffer), c.First ? 1 : 2);
        }
    }
    EXPECT_EQ(Fetch(grmCurrent, {a.PageNo, 9}).GetRecordResult, grrError);
    EXPECT_EQ(Fetch(grmPrior, a).GetRecordResult, grrBOF);

    // Moving without reading: no buffer, the record id still moves.
    TCRVNavigationInfo move;
    move.GetRecordMode = grmNext;
    move.RecordID = a;
    FManager->GetRecordBuffer(KSession, move);
    EXPECT_EQ(move.GetRecordResult, grrOK);
    EXPECT_EQ(+move.RecordID.PageItemNo, 1);
}

TEST_F(RecordManagerTest, APositionOnAFreedOrForeignPageIsLost) {
    std::vector<TCRVRecordID> ids;
    for (int i = 0; i < 41; ++i)
        ids.push_back(Add(i));
    const TCRVRecordID lonely = ids[40];
    ASSERT_TRUE(FManager->DeleteRecord(KSession, lonely));
    FPages.ApplyChanges(KSession); // the page is freed
    EXPECT_EQ(Fetch(grmNext, lonely).GetRecordResult, grrEOF);
    EXPECT_EQ(Fetch(grmCurrent, lonely).GetRecordResult, grrError);
    const TCRVNavigationInfo prior = Fetch(grmPrior, lonely);
    EXPECT_EQ(prior.GetRecordResult, grrOK);
    EXPECT_EQ(prior.RecordID, ids[39]); // the last row

    // A row of another table is never read, changed or deleted through this table.
    TCRVDiskRecordManager other(FPages, KTableID + 1, FDefs, CRVBTreePageIndexFactory());
    other.Init(FDefs.GetMemoryRecordBufferSize(), FDefs.GetDiskRecordBufferSize(), FDefs.Count());
    other.CreateRecordPageIndex(KSession);
    TCRVRecordID foreign{};
    ASSERT_TRUE(other.AddRecord(KSession, Row(5), foreign));
    EXPECT_EQ(Fetch(grmCurrent, foreign).GetRecordResult, grrError);
    EXPECT_EQ(Fetch(grmNext, foreign).GetRecordResult, grrEOF);
    EXPECT_FALSE(FManager->UpdateRecord(KSession, Row(6), foreign));
    EXPECT_FALSE(FManager->DeleteRecord(KSession, foreign));
    EXPECT_EQ(other.RecordCount(), 1);
    // While repairing with header errors suppressed, or in files older than 2.99, pages are not
    // tested.
    FManager->SetSuppressDBHeaderErrors(true);
    EXPECT_EQ(Fetch(grmCurrent, foreign).GetRecordResult, grrOK);
    FManager->SetSuppressDBHeaderErrors(false);
    FManager->SetFormatVersion(2.5);
    EXPECT_EQ(Fetch(grmCurrent, foreign).GetRecordResult, grrOK);
    FManager->SetFormatVersion(3.0);
    EXPECT_EQ(Fetch(grmCurrent, foreign).GetRecordResult, grrError);
    FPages.ApplyChanges(KSession);
}

TEST_F(RecordManagerTest, CountersAndMetadataRoundTrip) {
    for (int i = 0; i < 3; ++i)
        Add(i);
    std::vector<std::uint8_t> buffer(4, 0xAA); // the field manager's part comes first
    std::size_t offset = 4;
    FManager->SaveMostUpdated(buffer, offset);
    EXPECT_EQ(offset, 12U);
    EXPECT_EQ(buffer, (std::vector<std::uint8_t>{0xAA, 0xAA, 0xAA, 0xAA, 3, 0, 0, 0, 3, 0, 0, 0}));

    TCRVDiskRecordManager loaded(FPages, KTableID, FDefs, CRVBTreePageIndexFactory());
    offset = 4;
    ASSERT_TRUE(loaded.LoadMostUpdated(buffer, offset));
    EXPECT_EQ(loaded.RecordCount(), 3);
    EXPECT_EQ(loaded.TableState(), 3);
    // The count is read back sign-extended; a short buffer is refused without a change.
    buffer[8] = buffer[9] = buffer[10] = buffer[11] = 0xFF;
    offset = 4;
    ASSERT_TRUE(loaded.LoadMostUpdated(buffer, offset));
    EXPECT_EQ(loaded.RecordCount(), -1);
    offset = 5;
    EXPECT_FALSE(loaded.LoadMostUpdated(buffer, offset));
    EXPECT_EQ(offset, 5U);

    TCRVMemoryStream stream;
    FManager->SaveMetadata(stream);
    ASSERT_EQ(stream.GetSize(), 4);
    stream.SetPosition(0);
    loaded.LoadMetadata(stream);
    EXPECT_EQ(loaded.RecordPageIndexRoot(), FManager->RecordPageIndexRoot());
    TCRVMemoryStream empty;
    EXPECT_EQ(CodeOf([&] { loaded.LoadMetadata(empty); }), 20169);
}

TEST_F(RecordManagerTest, ValidationFindsWrongCountersAndRebuildRepairsThem) {
    for (int i = 0; i < 100; ++i)
        Add(i);
    FPages.ApplyChanges(KSession);
    FManager->ValidateRecordPageIndex(KSession);
    const auto before = IndexItems(FManager->RecordPageIndex());

    std::vector<std::uint8_t> counters;
    std::size_t offset = 0;
    FManager->SaveMostUpdated(counters, offset);
    counters[4] = 90; // the count says 90
    offset = 0;
    ASSERT_TRUE(FManager->LoadMostUpdated(counters, offset));
    EXPECT_EQ(CodeOf([&] { FManager->ValidateRecordPageIndex(KSession); }), 20292);

    FManager->RebuildRecordPageIndex(KSession, "files", FPages.PageCount(),
                                     [&](TCRVPageNo no) { return FPages.IsPageInUse(no); });
    EXPECT_EQ(FManager->RecordCount(), 100);
    const auto after = IndexItems(FManager->RecordPageIndex());
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < after.size(); ++i) {
        EXPECT_EQ(+after[i].PageNo, +before[i].PageNo);
        EXPECT_EQ(after[i].PageRecordCount, before[i].PageRecordCount);
    }
    FManager->ValidateRecordPageIndex(KSession);
}

TEST_F(RecordManagerTest, EmptyFreesEveryRecordPageAndKeepsTheRoot) {
    const std::size_t baseline = FPages.LivePageCount();
    const TCRVPageNo root = FManager->RecordPageIndexRoot();
    for (int i = 0; i < 200; ++i)
        Add(i);
    FPages.ApplyChanges(KSession);
    EXPECT_EQ(FPages.LivePageCount(), baseline + 5);
    FManager->Empty(KSession);
    FPages.ApplyChanges(KSession);
    EXPECT_EQ(FPages.LivePageCount(), baseline);
    EXPECT_EQ(FManager->RecordPageIndexRoot(), root);
    EXPECT_EQ(FManager->RecordCount(), 0);
    EXPECT_EQ(FManager->TableState(), 0);
    EXPECT_EQ(Fetch(grmNext, {}, true).GetRecordResult, grrEOF);
    Add(1);
    EXPECT_EQ(Scan(true).size(), 1U);

    FManager->Delete(KSession);
    FPages.ApplyChanges(KSession);
    EXPECT_EQ(FManager->RecordPageIndexRoot(), KCRVNoPage);
    EXPECT_EQ(FPages.LivePageCount(), baseline - 1);
    // Without an index a row cannot be placed: reported by the result, counters untouched.
    TCRVRecordID id{};
    EXPECT_FALSE(FManager->AddRecord(KSession, Row(2), id));
    EXPECT_EQ(FManager->RecordCount(), 0);
    EXPECT_EQ(FManager->TableState(), 0);
    FPages.CancelChanges(KSession);
    EXPECT_EQ(FPages.LivePageCount(), baseline - 1);
}

// Thousands of inserts, updates and deletes against a model; the session is applied now and then.
TEST_F(RecordManagerTest, RandomChangesAgreeWithAModel) {
    std::mt19937 random(20261211);
    std::map<TCRVRecordID, std::int32_t, bool (*)(const TCRVRecordID&, const TCRVRecordID&)> model(
        [](const TCRVRecordID& x, const TCRVRecordID& y) { return CompareRecordID(x, y) < 0; });
    for (int step = 0; step < 6000; ++step) {
        const unsigned op = random() % 8;
        if (op < 4 || model.empty()) {
            const auto value = static_cast<std::int32_t>(random());
            const TCRVRecordID id = Add(value);
            ASSERT_FALSE(model.contains(id));
            model[id] = value;
        } else {
            auto it = std::next(model.begin(), static_cast<long>(random() % model.size()));
            if (op < 6) {
                const auto value = static_cast<std::int32_t>(random());
                ASSERT_TRUE(FManager->UpdateRecord(KSession, Row(value), it->first));
                it->second = value;
            } else {
                ASSERT_TRUE(FManager->DeleteRecord(KSession, it->first));
                model.erase(it);
            }
        }
        if (step % 37 == 0)
            FPages.ApplyChanges(KSession);
    }
    FPages.ApplyChanges(KSession);
    const std::vector<std::pair<TCRVRecordID, std::int32_t>> expected(model.begin(), model.end());
    EXPECT_EQ(Scan(true), expected);
    EXPECT_EQ(FManager->RecordCount(), static_cast<std::int64_t>(model.size()));
    FManager->ValidateRecordPageIndex(KSession);
    std::set<TCRVPageNo> pages;
    for (const auto& entry : model)
        pages.insert(entry.first.PageNo);
    EXPECT_EQ(IndexItems(FManager->RecordPageIndex()).size(), pages.size());
    EXPECT_EQ(FPages.LivePageCount(),
              pages.size() + static_cast<std::size_t>(IndexPageCount(FManager->RecordPageIndex())));
}

TEST_F(RecordManagerTest, CancelledChangesLeaveTheStoredRowsAsTheyWere) {
    std::vector<TCRVRecordID> ids;
    for (int i = 0; i < 100; ++i)
        ids.push_back(Add(i));
    FPages.ApplyChanges(KSession);
    std::vector<std::uint8_t> counters;
    std::size_t offset = 0;
    FManager->SaveMostUpdated(counters, offset);
    const auto before = Scan(true);
    const std::size_t pagesBefore = FPages.LivePageCount();

    for (int i = 0; i < 90; ++i)
        Add(1000 + i);
    for (int i = 0; i < 100; i += 3)
        ASSERT_TRUE(FManager->DeleteRecord(KSession, ids[static_cast<std::size_t>(i)]));
    ASSERT_TRUE(FManager->UpdateRecord(KSession, Row(-1), ids[1]));
    FPages.CancelChanges(KSession);
    offset = 0;
    ASSERT_TRUE(FManager->LoadMostUpdated(counters, offset)); // the table layer re-reads its counters

    EXPECT_EQ(Scan(true), before);
    EXPECT_EQ(FPages.LivePageCount(), pagesBefore);
    FManager->ValidateRecordPageIndex(KSession);
    IndexPageCount(FManager->RecordPageIndex());
}

// Room for a row is looked for in the last and the first leaf of the record page index only.
TEST_F(RecordManagerTest, ANewRowLooksForRoomInTheOuterLeavesOnly) {
    std::vector<TCRVRecordID> ids;
    for (int i = 0; i < 1500 * 40; ++i) {
        ids.push_back(Add(i));
        if (i % 4000 == 0)
            FPages.ApplyChanges(KSession);
    }
    FPages.ApplyChanges(KSession);
    ASSERT_GE(dynamic_cast<TCRVBTreePageIndexAccess&>(FManager->RecordPageIndex())
                  .Index()
                  .CheckIntegrity(KSession)
                  .LeafPageCount,
              3);
    const TCRVRecordID firstPageRow = ids[5];
    const TCRVRecordID middlePageRow = ids[750 * 40 + 7];
    ASSERT_TRUE(FManager->DeleteRecord(KSession, middlePageRow));
    ASSERT_TRUE(FManager->DeleteRecord(KSession, firstPageRow));
    EXPECT_EQ(Add(-1), firstPageRow); // the first leaf has room
    const TCRVRecordID added = Add(-2);
    EXPECT_NE(+added.PageNo, +middlePageRow.PageNo); // a middle leaf is not searched
    EXPECT_GT(+added.PageNo, +ids.back().PageNo);
    EXPECT_EQ(+added.PageItemNo, 0);
}
