#include "CRVDiskEngine/CRVDiskTestUtil.h"

#include "CRVDiskEngine/CRVDatabaseFreeSpaceManager.h"
#include "CRVDiskEngine/CRVInternalFile.h"

#include <numeric>

using namespace crvtest;

namespace {

constexpr std::int32_t D = 4096 - 40;

class InternalFile : public ::testing::Test {
protected:
    void SetUp() override {
        Create(Path, Options("pw"));
        Db = std::make_unique<TOpenDb>(Path, Options("pw"));
    }
    void Reopen() {
        Db.reset();
        Db = std::make_unique<TOpenDb>(Path, Options("pw"));
    }
    static std::vector<std::uint8_t> Bytes(std::size_t n, int seed) {
        std::vector<std::uint8_t> v(n);
        for (std::size_t i = 0; i < n; ++i)
            v[i] = static_cast<std::uint8_t>((i * 31 + static_cast<std::size_t>(seed)) % 251);
        return v;
    }

    TTempDir Dir;
    std::string Path = Dir.File("files.crv");
    std::unique_ptr<TOpenDb> Db;
};

TEST(InternalFilePages, StoredBytesPlusHeaderFillWholePages) {
    struct TCase {
        std::int64_t Size;
        std::int32_t Pages;
    } cases[] = {{0, 1}, {D - 10, 1}, {D - 9, 2}, {2 * D - 10, 2}, {2 * D - 9, 3}};
    for (const auto& c : cases)
        EXPECT_EQ(CRVInternalFilePageCount(c.Size, D), c.Pages) << c.Size;
}

TEST_F(InternalFile, SeveralPagesRoundTripAndAShorterRewriteKeepsTheChain) {
    TCRVInternalDBTransactedAccessFile file(Db->Pm(), ptTableMetaData);
    file.CreateFile(0);
    const auto big = Bytes(3 * D, 1); // 4 pages with the header
    file.WriteFile(0, big.data(), static_cast<std::int32_t>(big.size()));
    Db->Data.Commit(0, false);
    const TCRVPageNo start = file.StartPageNo();
    const std::vector<TCRVPageNo> chain = file.ChainPages(0);
    ASSERT_EQ(chain.size(), 4u);

    const auto small = Bytes(100, 2);
    file.WriteFile(0, small.data(), static_cast<std::int32_t>(small.size()));
    Db->Data.Commit(0, false);
    EXPECT_EQ(file.ChainPages(0), chain); // the unused pages stay linked
    for (TCRVPageNo p : chain)
        EXPECT_TRUE(Db->Pm().FreeSpaceManager().GetPageUsageFromPFS(p)) << p;

    // Growing again appends after the real last page of the chain.
    const auto bigger = Bytes(5 * D, 3);
    file.WriteFile(0, bigger.data(), static_cast<std::int32_t>(bigger.size()));
    Db->Data.Commit(0, false);
    const auto grown = file.ChainPages(0);
    ASSERT_EQ(grown.size(), 6u);
    EXPECT_TRUE(std::equal(chain.begin(), chain.end(), grown.begin()));

    Reopen();
    TCRVInternalDBTransactedAccessFile again(Db->Pm(), ptTableMetaData);
    again.OpenFile(start);
    EXPECT_EQ(again.ReadAll(0), bigger);
    EXPECT_EQ(again.GetSize(0), static_cast<std::int32_t>(bigger.size()));
    std::vector<std::uint8_t> head(10);
    again.ReadFile(0, head.data(), 10, true);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), bigger.begin()));
    EXPECT_EQ(CodeOf([&] { again.ReadFile(0, head.data(), 5 * D + 1, true); }), 30387);
}

TEST_F(InternalFile, CompressedStreamRoundTrips) {
    TCRVInternalDBTransactedAccessFile file(Db->Pm(), ptTableMetaData);
    file.CreateFile(0);
    std::vector<std::uint8_t> text(20000, 'a');
    file.WriteFile(0, text.data(), static_cast<std::int32_t>(text.size()), 1, 1);
    std::int32_t size = 0, decompressed = 0;
    std::uint8_t alg = 0;
    bool changed = false;
    file.GetFileSize(0, size, decompressed, alg, changed, true);
    EXPECT_EQ(alg, 1);
    EXPECT_EQ(decompressed, 20000);
    EXPECT_LT(size, 1000);
    EXPECT_EQ(file.ChainPages(0).size(), 1u);
    EXPECT_EQ(file.ReadAll(0), text);
    EXPECT_EQ(CodeOf([&] { file.WriteFile(0, text.data(), 10, 9, 1); }), 20187); // no such algorithm
    Db->Data.Rollback(0);
}

TEST_F(InternalFile, ChainThatEndsEarlyIsReportedAndClosedFilesRefused) {
    TCRVInternalDBTransactedAccessFile file(Db->Pm(), ptTableMetaData);
    EXPECT_EQ(CodeOf([&] { file.GetSize(0); }), 30389);
    EXPECT_EQ(CodeOf([&] { file.InitFileHeader(0); }), 20301);
    file.CreateFile(0);
    EXPECT_EQ(CodeOf([&] { file.CreateFile(0); }), 30383);
    const auto data = Bytes(2 * D, 4);
    file.WriteFile(0, data.data(), static_cast<std::int32_t>(data.size()));
    Db->Data.Commit(0, false);
    {
        auto first = Db->Pm().GetPage(0, file.StartPageNo(), false, ptTableMetaData);
        first->GetPageHeader()->NextPageNo = -1;
        first->SetIsDirty(true);
    }
    Db->Data.Commit(0, false);
    EXPECT_EQ(CodeOf([&] { file.ReadAll(0); }), 30388);
    file.InitFileHeader(0);
    EXPECT_EQ(file.GetSize(0), 0);
    Db->Data.Commit(0, false);
}

TEST_F(InternalFile, DeletedFileGivesItsPagesBackAtCommit) {
    TCRVInternalDBTransactedAccessFile file(Db->Pm(), ptTableMostUpdated);
    file.CreateFile(0);
    const auto data = Bytes(D, 5);
    file.WriteFile(0, data.data(), static_cast<std::int32_t>(data.size()));
    Db->Data.Commit(0, false);
    const auto chain = file.ChainPages(0);
    file.DeleteFile(0);
    EXPECT_EQ(file.StartPageNo(), KCRVNoPage);
    Db->Data.Commit(0, false);
    // Freed, or cut off the end of the file with the pages after them.
    const std::int32_t total = Db->Pm().GetPageCount();
    for (TCRVPageNo p : chain)
        EXPECT_TRUE(p >= total || !Db->Pm().FreeSpaceManager().GetPageUsageFromPFS(p)) << p;
    EXPECT_EQ(total, 6);
}

TEST_F(InternalFile, DirectAccessBytesMapToPagesAndStayPlain) {
    TCRVInternalDBDirectAccessFile locks(Db->Pm(), ptTableLocks);
    const std::int32_t size = D + 100; // two pages
    const TCRVPageNo start = locks.CreateFile(0, size);
    EXPECT_EQ(CodeOf([&] { locks.CreateFile(0, 4); }), 20157);
    Db->Data.Commit(0, false);
    ASSERT_EQ(locks.FilePages().size(), 2u);

    TCRVInternalDBDirectAccessFile opened(Db->Pm(), ptTableLocks);
    EXPECT_EQ(CodeOf([&] { opened.LockByte(0); }), 20156);
    opened.OpenFile(start);
    EXPECT_EQ(opened.GetSize(), size);
    EXPECT_EQ(opened.FilePages(), locks.FilePages());
    const std::uint8_t id[6] = {1, 2, 3, 4, 5, 6};
    opened.WriteBuffer(id, 6, D - 13); // crosses into the second page
    const auto bytes = ReadBytes(Path);
    const std::size_t first = PageAt(locks.FilePages()[0]);
    const std::size_t second = PageAt(locks.FilePages()[1]);
    EXPECT_EQ(bytes[first + 40 + D - 3], 1);
    EXPECT_EQ(bytes[first + 40 + D - 1], 3);
    EXPECT_EQ(bytes[second + 40], 4);
    EXPECT_EQ(bytes[second + 42], 6);
    std::uint8_t back[6] = {};
    opened.ReadBuffer(back, 6, D - 13);
    EXPECT_EQ(std::memcmp(back, id, 6), 0);
    EXPECT_EQ(CodeOf([&] { opened.WriteBuffer(id, 6, size - 5); }), 20158);
    EXPECT_EQ(CodeOf([&] { opened.LockByte(size); }), 20159);

    // Byte locks: seen by the other object on the same file like another process's.
    ASSERT_TRUE(opened.LockByte(D - 11));
    EXPECT_TRUE(locks.IsByteLocked(D - 11));
    EXPECT_FALSE(locks.LockByte(D - 11));
    EXPECT_TRUE(locks.IsRegionLocked(D - 20, 20));
    EXPECT_FALSE(locks.IsRegionLocked(0, 20));
    ASSERT_TRUE(opened.UnlockByte(D - 11));
    EXPECT_FALSE(locks.IsRegionLocked(0, size));
    ASSERT_TRUE(locks.LockFile());
    EXPECT_FALSE(opened.LockFile());
    EXPECT_TRUE(locks.UnlockFile());

    TCRVInternalDBDirectAccessFile wrongType(Db->Pm(), ptActiveSessionList);
    EXPECT_EQ(CodeOf([&] { wrongType.OpenFile(start); }), 20155);
}

TEST_F(InternalFile, OnePageLockFileCountsItsWholeDataArea) {
    TCRVInternalDBDirectAccessFile locks(Db->Pm(), ptTableLocks);
    const TCRVPageNo start = locks.CreateFile(0, 24);
    Db->Data.Commit(0, false);
    TCRVInternalDBDirectAccessFile opened(Db->Pm(), ptTableLocks);
    opened.OpenFile(start);
    EXPECT_EQ(opened.StoredFileSize(), 24);
    EXPECT_EQ(opened.GetSize(), D - 10);
}

TEST(TableListFile, NamesAreCutAtACharacterBoundaryAndMatchedIgnoringCase) {
    EXPECT_EQ(TCRVTableListFile::StoredName(std::string(300, 'n')).size(), 255u);
    std::string utf8(254, 'a');
    utf8 += "\xC3\xA9"; // 'é' would end at byte 256
    EXPECT_EQ(TCRVTableListFile::StoredName(utf8), std::string(254, 'a'));
    std::vector<TCRVTableListEntry> entries{{"Files", 3, 10, 11, 12}, {std::string(255, 'z'), 4, 20, 21, 22}};
    const auto bytes = TCRVTableListFile::Serialize(entries);
    ASSERT_EQ(bytes.size(), 2u * 272);
    EXPECT_EQ(bytes[0], 5);
    EXPECT_EQ(std::string(bytes.begin() + 1, bytes.begin() + 6), "Files");
    EXPECT_EQ(bytes[6], 0);
    EXPECT_EQ(At<std::int32_t>(bytes, 256), 3);
    EXPECT_EQ(At<std::int32_t>(bytes, 268), 12);
    const auto parsed = TCRVTableListFile::Parse(bytes);
    ASSERT_EQ(parsed.size(), 2u);
    EXPECT_EQ(parsed[1].TableName, std::string(255, 'z'));
    EXPECT_EQ(parsed[1].MostUpdatedFilePageNo, 21);
}

TEST_F(InternalFile, TableListRefusesDuplicatesAndUnknownNames) {
    TCRVTableListFile list(Db->Pm());
    list.CreateFile(0);
    EXPECT_EQ(CodeOf([&] { list.OpenFile(4); }), 30393);
    list.AddTable(1, "Info", 10, 11, 12);
    list.AddTable(2, "Files", 20, 21, 22);
    list.AddTable(3, std::string(300, 'L'), 30, 31, 32);
    EXPECT_EQ(CodeOf([&] { list.AddTable(4, "INFO", 1, 1, 1); }), 30395);
    EXPECT_EQ(CodeOf([&] { list.OpenTable("nope"); }), 30396);
    EXPECT_EQ(CodeOf([&] { list.RemoveTable("nope"); }), 30405);
    EXPECT_EQ(CodeOf([&] { list.RenameTable("nope", "x"); }), 30397);
    EXPECT_EQ(CodeOf([&] { list.RenameTable("info", "FILES"); }), 30395);
    EXPECT_TRUE(list.TableExists(std::string(255, 'l')));
    list.RemoveTable("info");
    EXPECT_EQ(list.GetTablesList(), (std::vector<std::string>{"Files", std::string(255, 'L')}));
    EXPECT_EQ(list.OpenTable("files").TableID, 2);
    list.Save(0);
    Db->Data.Commit(0, false);
    TCRVTableListFile again(Db->Pm());
    again.OpenFile(list.StartPageNo());
    again.Load(0);
    EXPECT_EQ(again.Entries().size(), 2u);
    EXPECT_EQ(again.OpenTable("FILES").LocksFilePageNo, 22);
}

TEST_F(InternalFile, SystemDirectoryAnswersMinusOneForAnUnknownFile) {
    TCRVSystemDirectory dir(Db->Pm());
    dir.LoadDirectory(0);
    EXPECT_EQ(dir.GetFileFirstPageNo(dbftActiveSessionsList), 3);
    EXPECT_EQ(dir.GetFileFirstPageNo(dbftTablesList), 4);
    EXPECT_EQ(dir.GetFileFirstPageNo(dbftUnknown), -1);
    EXPECT_EQ(dir.GetFileFirstPageNo(static_cast<TCRVDBFileType>(9)), -1);
}

} // namespace
