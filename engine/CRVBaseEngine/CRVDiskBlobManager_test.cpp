#include "CRVBaseEngine/CRVDiskBlobManager.h"

#include "CRVBaseEngine/CRVBaseEngineTestUtil.h"
#include "CRVBaseEngine/CRVDiskTableData.h"
#include "CRVExcept/CRVExceptTestUtil.h"
#include "CRVTypes/CRVRecordLayout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>

namespace {

constexpr TCRVSessionID KSession = 0;
constexpr std::int32_t KTableID = 9;
constexpr std::int32_t KBlob = 1; // uncompressed BLOB field
constexpr std::int32_t KMemo = 2; // zlib-compressed memo field

std::vector<std::uint8_t> Bytes(std::size_t size, unsigned seed) {
    std::vector<std::uint8_t> bytes(size);
    std::mt19937 random(seed);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(random() % 7 + 'a'); // compressible
    return bytes;
}

class BlobTest : public ::testing::Test {
protected:
    explicit BlobTest(std::uint16_t pageSize = 4096) : FPages(pageSize) {
        FDefs.Add("id", TCRVAdvancedFieldType::aftInteger);
        FDefs.Add("data", TCRVAdvancedFieldType::aftBlob);
        TCRVFieldDef& memo = FDefs.Add("text", TCRVAdvancedFieldType::aftMemo);
        memo.BLOBCompressionAlgorithm = acaZLIB;
        memo.BLOBCompressionMode = 1;
        FTable =
            std::make_unique<TCRVDiskTableData>(FPages, KTableID, "files", FDefs, CRVBTreePageIndexFactory());
        FTable->InitRecordSizes();
        FTable->CreateStorage(KSession);
        FPages.ApplyChanges(KSession);
        FBaseline = FPages.LivePageCount();
    }

    std::int32_t D() const { return FPages.PageDataSize(); }
    TCRVDiskBlobManager& Blobs() { return FTable->BlobManager(); }

    std::vector<std::byte> NewRow(std::int32_t id) const {
        std::vector<std::byte> row = FDefs.Layout().NewRecord();
        SetFieldData(0, FDefs, &id, row);
        return row;
    }
    void Write(std::vector<std::byte>& row, std::int32_t fieldNo, const std::vector<std::uint8_t>& value) {
        auto stream = FTable->InternalCreateBlobStream(KSession, row, fieldNo, bomWrite);
        if (value.empty()) {
            stream->SetSize(0);
        } else {
            ASSERT_EQ(stream->Write(value.data(), static_cast<std::int64_t>(value.size())),
                      static_cast<std::int64_t>(value.size()));
        }
        stream->Finish();
    }
    std::vector<std::uint8_t> Read(std::vector<std::byte>& row, std::int32_t fieldNo) {
        auto stream = FTable->InternalCreateBlobStream(KSession, row, fieldNo, bomRead);
        std::vector<std::uint8_t> value(static_cast<std::size_t>(stream->GetSize()));
        if (!value.empty()) {
            EXPECT_EQ(stream->Read(value.data(), stream->GetSize()), stream->GetSize());
        }
        Blobs().ClearBlobsInRecordBuffer(row, true);
        return value;
    }
    TCRVRecordID Insert(std::vector<std::byte>& row) {
        TCRVRecordID id{};
        EXPECT_TRUE(FTable->InsertRecord(KSession, row, id));
        return id;
    }
    std::vector<std::byte> Fetch(const TCRVRecordID& id) {
        std::vector<std::byte> row(static_cast<std::size_t>(FDefs.GetMemoryRecordBufferSize()));
        TCRVNavigationInfo info;
        info.GetRecordMode = grmCurrent;
        info.RecordID = id;
        info.RecordBuffer = row;
        FTable->RecordManager().GetRecordBuffer(KSession, info);
        EXPECT_EQ(info.GetRecordResult, grrOK);
        return row;
    }
    TCRVRecordID InsertWith(std::int32_t fieldNo, const std::vector<std::uint8_t>& value,
                            std::int32_t id = 0) {
        std::vector<std::byte> row = NewRow(id);
        Write(row, fieldNo, value);
        return Insert(row);
    }
    TCRVPageItemID Reference(const TCRVRecordID& id, std::int32_t fieldNo) {
        return Blobs().GetBlobReference(Fetch(id), fieldNo);
    }
    void Apply() { FPages.ApplyChanges(KSession); }

    TCRVMemoryPageManager FPages;
    TCRVFieldDefs FDefs;
    std::unique_ptr<TCRVDiskTableData> FTable;
    std::size_t FBaseline = 0;
};

} // namespace

TEST_F(BlobTest, TheSizeClassesMeetAtPageDataSizeMinus24) {
    const std::size_t smallest = static_cast<std::size_t>(D() - 24);
    const TCRVRecordID small = InsertWith(KBlob, Bytes(smallest - 1, 1));
    const TCRVRecordID large = InsertWith(KBlob, Bytes(smallest, 2));
    Apply();
    const TCRVPageItemID smallRef = Reference(small, KBlob);
    EXPECT_NE(+smallRef.PageItemNo, KCRVLargeBlobItemNo);
    ASSERT_EQ(IndexItems(Blobs().BlobPageIndex()).size(), 1U);
    EXPECT_EQ(+IndexItems(Blobs().BlobPageIndex())[0].PageNo, +smallRef.PageNo);
    EXPECT_EQ(IndexItems(Blobs().BlobPageIndex())[0].PageRecordCount, smallest - 1 + 22);
    EXPECT_EQ(+Reference(large, KBlob).PageItemNo, KCRVLargeBlobItemNo);

    auto row = Fetch(small);
    EXPECT_EQ(Read(row, KBlob), Bytes(smallest - 1, 1));
    row = Fetch(large);
    EXPECT_EQ(Read(row, KBlob), Bytes(smallest, 2));
    EXPECT_EQ(Blobs().CacheCount(), 0U);
}

// Large values whose data end exactly at a page's end, one byte before it, and many pages long.
TEST_F(BlobTest, LargeValuesKeepTheirPageListAfterTheDataOrOnAPageOfItsOwn) {
    const std::size_t firstRoom = static_cast<std::size_t>(D() - 32);
    const std::size_t d = static_cast<std::size_t>(D());
    struct Case {
        std::size_t Size;
        std::int32_t DataPages;
        std::size_t AllPages;   // data and list pages
        std::size_t ListOffset; // in the last data page; 0 = a page of its own
    };
    for (const Case c : {Case{firstRoom + d, 2, 3, 0}, Case{firstRoom + d - 1, 2, 3, d - 1},
                         Case{firstRoom + d - 8, 2, 2, d - 8}, Case{firstRoom + 2 * d - 5, 3, 4, d - 5},
                         Case{100000, 25, 25, 2688}}) {
        const std::vector<std::uint8_t> value = Bytes(c.Size, static_cast<unsigned>(c.Size));
        const TCRVRecordID id = InsertWith(KBlob, value);
        Apply();
        const TCRVPageItemID ref = Reference(id, KBlob);
        ASSERT_EQ(+ref.PageItemNo, KCRVLargeBlobItemNo);
        EXPECT_EQ(FPages.LivePageCount() - FBaseline, c.AllPages + 1) << c.Size; // + the record page

        TCRVPinnedPage first = FPages.GetPage(KSession, ref.PageNo, true, ptTableBlob);
        TCRVDiskBLOBHeader header;
        TCRVPageListLink link;
        std::memcpy(&header, first->GetPageData(), sizeof(header));
        std::memcpy(&link, first->GetPageData() + 22, sizeof(link));
        first.Release();
        EXPECT_EQ(+header.NumBlocks, 0);
        EXPECT_EQ(+header.CompressedSize, static_cast<std::int64_t>(c.Size));
        EXPECT_EQ(+header.UncompressedSize, static_cast<std::int64_t>(c.Size));
        EXPECT_EQ(+link.ItemCount, c.DataPages) << c.Size;
        EXPECT_EQ(+link.StartOffset, c.ListOffset) << c.Size;

        auto row = Fetch(id);
        EXPECT_EQ(Read(row, KBlob), value) << c.Size;
        ASSERT_TRUE(FTable->DeleteRecord(KSession, id));
        Apply();
        EXPECT_EQ(FPages.LivePageCount(), FBaseline) << c.Size;
    }
}

TEST_F(BlobTest, APageListLongerThanAPageIsFollowedAcrossItsPages) {
    const std::size_t size = 1100 * static_cast<std::size_t>(D()); // 1101 page numbers: two list pages
    const std::vector<std::uint8_t> value = Bytes(size, 5);
    const TCRVRecordID id = InsertWith(KBlob, value);
    Apply();
    auto row = Fetch(id);
    EXPECT_EQ(Read(row, KBlob), value);
    ASSERT_TRUE(FTable->DeleteRecord(KSession, id));
    Apply();
    EXPECT_EQ(FPages.LivePageCount(), FBaseline);
}

TEST_F(BlobTest, DeletingTheLastBlobOfAPageRemovesThePageAndItsIndexEntry) {
    const TCRVRecordID a = InsertWith(KBlob, Bytes(100, 1));
    const TCRVRecordID b = InsertWith(KBlob, Bytes(200, 2));
    Apply();
    const TCRVPageItemID refA = Reference(a, KBlob);
    ASSERT_EQ(+Reference(b, KBlob).PageNo, +refA.PageNo);
    ASSERT_EQ(IndexItems(Blobs().BlobPageIndex()).size(), 1U);
    EXPECT_EQ(IndexItems(Blobs().BlobPageIndex())[0].PageRecordCount, 122 + 222);

    ASSERT_TRUE(FTable->DeleteRecord(KSession, a));
    Apply();
    ASSERT_EQ(IndexItems(Blobs().BlobPageIndex()).size(), 1U);
    EXPECT_EQ(IndexItems(Blobs().BlobPageIndex())[0].PageRecordCount, 222);
    auto row = Fetch(b);
    EXPECT_EQ(Read(row, KBlob), Bytes(200, 2)); // moved down, still found by its id
    EXPECT_TRUE(FPages.IsPageInUse(refA.PageNo));

    ASSERT_TRUE(FTable->DeleteRecord(KSession, b));
    Apply();
    EXPECT_TRUE(IndexItems(Blobs().BlobPageIndex()).empty());
    EXPECT_FALSE(FPages.IsPageInUse(refA.PageNo));
    EXPECT_EQ(FPages.LivePageCount(), FBaseline);
}

TEST_F(BlobTest, AnEmptyValueIsStoredAsNullAndDropsTheOldOne) {
    const TCRVRecordID id = InsertWith(KBlob, Bytes(5000, 3));
    Apply();
    const std::size_t withValue = FPages.LivePageCount();
    auto row = Fetch(id);
    Write(row, KBlob, {});
    EXPECT_TRUE(CheckNullFlag(KBlob, row));
    ASSERT_TRUE(FTable->UpdateRecord(KSession, row, id));
    Apply();
    EXPECT_EQ(FPages.LivePageCount(), withValue - 2); // the large value's two pages
    row = Fetch(id);
    EXPECT_TRUE(CheckNullFlag(KBlob, row));
    EXPECT_FALSE(TCRVDiskBlobManager::IsBlobStored(Blobs().GetBlobReference(row, KBlob)));
    EXPECT_TRUE(Read(row, KBlob).empty());

    // A row whose BLOB fields are all NULL has no BLOB pages.
    std::vector<std::byte> bare = NewRow(2);
    Insert(bare);
    Apply();
    EXPECT_EQ(FPages.LivePageCount(), withValue - 2);
    EXPECT_TRUE(IndexItems(Blobs().BlobPageIndex()).empty());
}

TEST_F(BlobTest, ACompressedValueIsStoredAsItsBlocks) {
    const std::vector<std::uint8_t> value = Bytes(250000, 4);
    std::vector<std::byte> row = NewRow(1);
    Write(row, KMemo, value);
    const TCRVDiskBLOBCache* cache = Blobs().AttachedCache(row, KMemo);
    ASSERT_NE(cache, nullptr);
    EXPECT_TRUE(cache->Modified);
    EXPECT_EQ(cache->NumBlocks, 3);
    EXPECT_EQ(cache->UncompressedSize, 250000);
    EXPECT_LT(cache->BlobData.size(), value.size() / 2);
    const std::size_t stored = cache->BlobData.size();
    const TCRVRecordID id = Insert(row);
    EXPECT_EQ(Blobs().CacheCount(), 0U); // released when the row was posted
    Apply();

    row = Fetch(id);
    const TCRVDirectBlobInfo info = Blobs().GetDirectBlobInfoFromRecordBuffer(KSession, row, KMemo);
    EXPECT_EQ(info.NumBlocks, 3);
    EXPECT_EQ(info.UncompressedSize, 250000);
    EXPECT_EQ(info.Data.size(), stored);
    Blobs().ClearBlobInRecordBuffer(row, KMemo, false);
    EXPECT_EQ(Blobs().CacheCount(), 0U);
    EXPECT_EQ(Read(row, KMemo), value);

    // Opened for reading and writing, the stored value is changed and posted again.
    std::vector<std::uint8_t> longer = value;
    longer.insert(longer.end(), 10, 'z');
    {
        auto stream = FTable->InternalCreateBlobStream(KSession, row, KMemo, bomReadWrite);
        stream->Seek(0, TCRVSeekOrigin::soEnd);
        ASSERT_EQ(stream->Write(longer.data() + value.size(), 10), 10);
        stream->Finish();
    }
    ASSERT_TRUE(FTable->UpdateRecord(KSession, row, id));
    Apply();
    row = Fetch(id);
    EXPECT_EQ(Read(row, KMemo), longer);
    EXPECT_EQ(Blobs().CacheCount(), 0U);
}

TEST_F(BlobTest, CachesAreCountedAndOnlyListedHandlesCount) {
    std::vector<std::byte> row = NewRow(1);
    Write(row, KBlob, Bytes(10, 1));
    EXPECT_EQ(CodeOf([&] { Blobs().CheckCachesReleased(); }), 20150);
    // A copy of the record whose handle is not in the list any more has no cache.
    std::vector<std::byte> copy = row;
    Blobs().ClearBlobInRecordBuffer(row, KBlob, false); // modified: kept without force
    EXPECT_EQ(Blobs().CacheCount(), 1U);
    Blobs().ClearBlobInRecordBuffer(row, KBlob, true);
    EXPECT_EQ(Blobs().CacheCount(), 0U);
    EXPECT_EQ(Blobs().AttachedCache(copy, KBlob), nullptr);
    Blobs().CheckCachesReleased();

    // Not NULL, but neither a cache nor a stored value.
    std::vector<std::byte> broken = NewRow(2);
    SetNullFlag(false, KBlob, broken);
    EXPECT_EQ(CodeOf([&] { FTable->InternalCreateBlobStream(KSession, broken, KBlob, bomRead); }), 20162);
    EXPECT_EQ(CodeOf([&] { Blobs().GetDirectBlobInfoFromRecordBuffer(KSession, broken, KBlob); }), 20291);
    EXPECT_EQ(Blobs().CacheCount(), 0U);
    FDefs[KBlob].BLOBBlockSize = 0;
    EXPECT_EQ(CodeOf([&] { FTable->InternalCreateBlobStream(KSession, broken, KBlob, bomWrite); }), 20149);
}

TEST_F(BlobTest, EmptyingTheTableFreesEveryBlobPage) {
    const TCRVPageNo blobRoot = Blobs().BlobPageIndexRoot();
    for (int i = 0; i < 60; ++i) {
        std::vector<std::byte> row = NewRow(i);
        Write(row, KBlob, Bytes(static_cast<std::size_t>(i * 311 % 9000 + 1), static_cast<unsigned>(i)));
        if (i % 3 == 0)
            Write(row, KMemo, Bytes(static_cast<std::size_t>(i * 1000 + 10), static_cast<unsigned>(i)));
        Insert(row);
    }
    Apply();
    EXPECT_GT(FPages.LivePageCount(), FBaseline + 20);
    FTable->EmptyTable(KSession);
    Apply();
    EXPECT_EQ(FPages.LivePageCount(), FBaseline);
    EXPECT_EQ(Blobs().BlobPageIndexRoot(), blobRoot);
    EXPECT_TRUE(IndexItems(Blobs().BlobPageIndex()).empty());
    EXPECT_EQ(FTable->RecordManager().RecordCount(), 0);
}

TEST_F(BlobTest, CancelledBlobChangesLeaveTheStoredValuesAsTheyWere) {
    std::vector<TCRVRecordID> ids;
    for (int i = 0; i < 12; ++i)
        ids.push_back(
            InsertWith(KBlob, Bytes(static_cast<std::size_t>(i * 997 + 3), static_cast<unsigned>(i)), i));
    Apply();
    const std::size_t pagesBefore = FPages.LivePageCount();
    for (int i = 0; i < 12; i += 2) {
        auto row = Fetch(ids[static_cast<std::size_t>(i)]);
        Write(row, KBlob, Bytes(5000, 99));
        ASSERT_TRUE(FTable->UpdateRecord(KSession, row, ids[static_cast<std::size_t>(i)]));
    }
    ASSERT_TRUE(FTable->DeleteRecord(KSession, ids[1]));
    InsertWith(KBlob, Bytes(300, 98), 100);
    FPages.CancelChanges(KSession);

    for (int i = 0; i < 12; ++i) {
        auto row = Fetch(ids[static_cast<std::size_t>(i)]);
        EXPECT_EQ(Read(row, KBlob), Bytes(static_cast<std::size_t>(i * 997 + 3), static_cast<unsigned>(i)))
            << i;
    }
    EXPECT_EQ(FPages.LivePageCount(), pagesBefore);
    IndexPageCount(Blobs().BlobPageIndex());
}

// Damaged BLOB pages give a clear error and nothing is freed.
TEST_F(BlobTest, DamagedBlobPagesAreRefusedWithoutLosingPages) {
    const TCRVRecordID small = InsertWith(KBlob, Bytes(100, 1));
    const TCRVRecordID large = InsertWith(KBlob, Bytes(9000, 2));
    Apply();
    const TCRVPageItemID smallRef = Reference(small, KBlob);
    const TCRVPageItemID largeRef = Reference(large, KBlob);
    const std::size_t pages = FPages.LivePageCount();
    const auto corrupt = [&](TCRVPageNo pageNo, std::size_t offset, std::int64_t value, std::size_t size) {
        std::memcpy(FPages.Stored(pageNo).data() + KCRVPageHeaderSize + offset, &value, size);
    };
    corrupt(smallRef.PageNo, 2 + 6, 1000000, 8); // the entry's CompressedSize passes the page end
    corrupt(largeRef.PageNo, 22 + 6, 7, 4);      // the link's ItemCount does not fit the size
    FPages.ClearCache();

    for (const TCRVRecordID& id : {small, large}) {
        auto row = Fetch(id);
        EXPECT_EQ(CodeOf([&] { Read(row, KBlob); }), 20171);
        EXPECT_EQ(Blobs().CacheCount(), 0U);
        EXPECT_EQ(CodeOf([&] { FTable->DeleteRecord(KSession, id); }), 20171);
        FPages.CancelChanges(KSession);
    }
    EXPECT_EQ(FPages.LivePageCount(), pages);
    EXPECT_EQ(FTable->RecordManager().RecordCount(), 2);
}

TEST_F(BlobTest, MetadataHoldsTheTwoIndexRoots) {
    TCRVMemoryStream stream;
    FTable->SaveMetadata(stream);
    ASSERT_EQ(stream.GetSize(), 8);
    TCRVDiskTableData loaded(FPages, KTableID, "files", FDefs, CRVBTreePageIndexFactory());
    stream.SetPosition(0);
    loaded.LoadMetadata(stream);
    EXPECT_EQ(loaded.RecordManager().RecordPageIndexRoot(), FTable->RecordManager().RecordPageIndexRoot());
    EXPECT_EQ(loaded.BlobManager().BlobPageIndexRoot(), Blobs().BlobPageIndexRoot());
    stream.SetSize(6);
    stream.SetPosition(0);
    EXPECT_EQ(CodeOf([&] { loaded.LoadMetadata(stream); }), 10361);
}

TEST_F(BlobTest, BitmapNumbersOfRowPositions) {
    EXPECT_EQ(FTable->GetBitmapRecordCount(KSession), 1);
    const TCRVRecordID id = InsertWith(KBlob, Bytes(1, 1));
    const std::int64_t perPage = FTable->RecordManager().MaxRecordsOnPage();
    EXPECT_EQ(FTable->GetBitmapRecordCount(KSession), (id.PageNo + 1) * perPage);
    const TCRVRecordID at{id.PageNo, static_cast<std::uint16_t>(perPage - 1)};
    const std::int64_t n = FTable->GetBitmapRecNoByRecordID(at);
    EXPECT_EQ(n, id.PageNo * perPage + perPage - 1);
    EXPECT_EQ(FTable->GetRecordIDByBitmapRecNo(n), at);
}

// BlobID 255 is given like any other id; a (page, 255) reference is resolved by reading the page.
class BigPageBlobTest : public BlobTest {
protected:
    BigPageBlobTest() : BlobTest(16384) {}
};

TEST_F(BigPageBlobTest, A255ReferenceIsReadAndDeletedByItsPage) {
    std::vector<TCRVRecordID> ids;
    for (int i = 0; i < 257; ++i)
        ids.push_back(InsertWith(KBlob, Bytes(1 + i % 5, static_cast<unsigned>(i)), i));
    Apply();
    const TCRVPageItemID ref = Reference(ids[255], KBlob);
    ASSERT_EQ(+ref.PageItemNo, 255);
    ASSERT_EQ(+Reference(ids[256], KBlob).PageNo, +ref.PageNo);
    auto row = Fetch(ids[255]);
    EXPECT_EQ(Read(row, KBlob), Bytes(1, 255));

    // A large value referenced with 255 passes the size test and reads as large.
    const std::vector<std::uint8_t> value = Bytes(40000, 7);
    const TCRVRecordID largeID = InsertWith(KBlob, value, 1000);
    row = Fetch(largeID);
    TCRVPageItemID largeRef = Blobs().GetBlobReference(row, KBlob);
    ASSERT_EQ(+largeRef.PageItemNo, KCRVLargeBlobItemNo);
    largeRef.PageItemNo = 255;
    Blobs().SetBlobReference(row, KBlob, largeRef);
    ASSERT_TRUE(FTable->RecordManager().UpdateRecord(KSession, row, largeID));
    row = Fetch(largeID);
    EXPECT_EQ(Read(row, KBlob), value);
    Apply();

    for (const TCRVRecordID& id : ids)
        ASSERT_TRUE(FTable->DeleteRecord(KSession, id));
    ASSERT_TRUE(FTable->DeleteRecord(KSession, largeID));
    Apply();
    EXPECT_EQ(FPages.LivePageCount(), FBaseline);
}

// Random inserts, updates and deletes of rows with values of every size class against a model.
TEST_F(BlobTest, RandomBlobChangesAgreeWithAModel) {
    std::mt19937 random(4242);
    std::map<std::int32_t, std::pair<TCRVRecordID, std::vector<std::uint8_t>>> model;
    const auto randomValue = [&] {
        static constexpr std::size_t sizes[] = {0, 1, 50, 400, 4031, 4032, 4033, 8080, 12000};
        const std::size_t size = sizes[random() % std::size(sizes)] + random() % 3;
        return Bytes(size, static_cast<unsigned>(random()));
    };
    for (int step = 0; step < 400; ++step) {
        const unsigned op = random() % 3;
        if (op == 0 || model.empty()) {
            std::vector<std::uint8_t> value = randomValue();
            const TCRVRecordID id = InsertWith(KBlob, value, step);
            model[step] = {id, std::move(value)};
        } else {
            auto it = std::next(model.begin(), static_cast<long>(random() % model.size()));
            if (op == 1) {
                std::vector<std::byte> row = Fetch(it->second.first);
                std::vector<std::uint8_t> value = randomValue();
                Write(row, KBlob, value);
                ASSERT_TRUE(FTable->UpdateRecord(KSession, row, it->second.first));
                it->second.second = std::move(value);
            } else {
                ASSERT_TRUE(FTable->DeleteRecord(KSession, it->second.first));
                model.erase(it);
            }
        }
        if (step % 7 == 0)
            Apply();
    }
    Apply();
    for (auto& [key, entry] : model) {
        auto row = Fetch(entry.first);
        EXPECT_EQ(Read(row, KBlob), entry.second) << key;
    }
    // The index's room is what the small-BLOB pages hold.
    for (const TCRVTablePFSPageMapItem& item : IndexItems(Blobs().BlobPageIndex())) {
        TCRVPinnedPage page = FPages.GetPage(KSession, item.PageNo, true, ptTableBlob);
        EXPECT_EQ(TCRVSmallBlobPage(*page).EndOffset() - 2, item.PageRecordCount);
    }
    EXPECT_EQ(Blobs().CacheCount(), 0U);
    FTable->EmptyTable(KSession);
    Apply();
    EXPECT_EQ(FPages.LivePageCount(), FBaseline);
}
