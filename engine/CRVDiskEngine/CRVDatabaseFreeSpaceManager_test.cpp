#include "CRVDiskEngine/CRVDiskTestUtil.h"

#include "CRVDiskEngine/CRVDatabaseFreeSpaceManager.h"

using namespace crvtest;

namespace {

class FreeSpace : public ::testing::Test {
protected:
    void Open(std::uint16_t pageSize = 4096, std::uint16_t extent = 8) {
        auto options = Options();
        options.PageSize = pageSize;
        options.PageCountInExtent = extent;
        Create(Path, options);
        Db = std::make_unique<TOpenDb>(Path, options);
    }
    TCRVDatabaseFreeSpaceManager& Fsm() { return Db->Pm().FreeSpaceManager(); }
    std::int32_t Total() { return Db->Pm().GetPageCount(); }
    std::int32_t LastUsed() { return Db->Pm().DBHeader().LastUsedPageNo; }

    TTempDir Dir;
    std::string Path = Dir.File("fsm.crv");
    std::unique_ptr<TOpenDb> Db;
};

TEST_F(FreeSpace, DefaultGeometryKnowsItsMapPages) {
    Open();
    EXPECT_EQ(Fsm().PfsSpan(), 32448);
    EXPECT_EQ(Fsm().EamSpan(), 129792);
    struct TCase {
        TCRVPageNo Page;
        bool Map;
    } cases[] = {{0, true},       {1, true},      {2, false},     {32448, true},
                 {32449, false},  {64896, true},  {129792, true}, {129793, true},
                 {129794, false}, {259584, true}, {259585, true}, {259586, false}};
    for (const auto& c : cases)
        EXPECT_EQ(Fsm().IsPagePfsOrEam(c.Page), c.Map) << c.Page;
    EXPECT_EQ(Fsm().EamPageNo(1), 129793);
    EXPECT_EQ(CodeOf([&] { Fsm().CheckPageNoForSystemPages(32448); }), 30434);
}

TEST_F(FreeSpace, FourthAllocationReusesPageFiveAndTheFifthGrowsByOneExtent) {
    Open();
    EXPECT_EQ(Fsm().GetPage(), 5);
    EXPECT_EQ(Total(), 6);
    EXPECT_EQ(Fsm().GetPage(), 6);
    EXPECT_EQ(Total(), 14);
    EXPECT_EQ(Db->Pm().FileSize(), 380 + 14 * 4096);
    EXPECT_EQ(LastUsed(), 6);
    const auto bytes = ReadBytes(Path);
    EXPECT_EQ(bytes[PageAt(0) + 40], 0x7F);
    EXPECT_EQ(bytes[PageAt(1) + 40] & 3, 1); // pages 7 of extent 0 is still free
}

TEST_F(FreeSpace, LowestFreePageIsReusedAndDoubleFreeIsRefused) {
    Open();
    std::vector<TCRVPageNo> pages;
    for (int i = 0; i < 6; ++i)
        pages.push_back(Fsm().GetPage()); // 5..10
    EXPECT_EQ(pages.back(), 10);
    Fsm().FreePage(7);
    Fsm().FreePage(6);
    EXPECT_FALSE(Fsm().GetPageUsageFromPFS(6));
    const auto maps = ReadBytes(Path);
    EXPECT_EQ(CodeOf([&] { Fsm().FreePage(6); }), 30427);
    EXPECT_EQ(ReadBytes(Path), maps); // nothing changed
    EXPECT_EQ(CodeOf([&] { Fsm().SetPageUsage(8, true); }), 30425);
    EXPECT_EQ(CodeOf([&] { Fsm().SetPageUsage(5000, true); }), 30430);
    EXPECT_EQ(Fsm().GetPage(), 6);
    EXPECT_EQ(Fsm().GetPage(), 7);
    EXPECT_EQ(Fsm().GetPage(), 11);
}

TEST_F(FreeSpace, ExtentPairFollowsItsPages) {
    Open();
    for (int i = 0; i < 3; ++i)
        Fsm().GetPage(); // 5, 6 (grows to 14), 7: extent 0 full
    auto bytes = ReadBytes(Path);
    EXPECT_EQ(bytes[PageAt(1) + 40] & 3, 3);
    Fsm().FreePage(3);
    bytes = ReadBytes(Path);
    EXPECT_EQ(bytes[PageAt(1) + 40] & 3, 1);
}

TEST_F(FreeSpace, FreedPagesAtTheEndShrinkTheFileByWholeSteps) {
    Open();
    std::vector<TCRVPageNo> pages;
    while (Total() < 100)
        pages.push_back(Fsm().GetPage());
    EXPECT_EQ(Fsm().AddPagesStep(), 10);
    const std::int32_t total = Total();
    // Fill the file, then one more allocation grows it by a tenth.
    while (LastUsed() < total - 1)
        pages.push_back(Fsm().GetPage());
    pages.push_back(Fsm().GetPage());
    EXPECT_EQ(Total(), total + total / 10);
    const std::int32_t grown = Total();
    const std::int32_t step = grown / 10;
    // Free pages from the end; the file shrinks only once a whole step lies after the last used.
    while (pages.size() > 40) {
        const TCRVPageNo p = pages.back();
        pages.pop_back();
        Fsm().FreePage(p);
        const std::int32_t t = Total();
        const std::int32_t trailing = t - LastUsed() - 1;
        EXPECT_LT(trailing, std::max(t / 10, 8)) << "after freeing " << p;
        EXPECT_EQ(Db->Pm().FileSize(), 380 + static_cast<std::int64_t>(t) * 4096);
    }
    EXPECT_LT(Total(), grown);
    EXPECT_EQ(LastUsed(), pages.back());
    (void)step;
}

TEST_F(FreeSpace, TruncateDatabaseDropsEveryTrailingFreePage) {
    Open();
    Fsm().GetPage();                      // 5
    const TCRVPageNo p = Fsm().GetPage(); // 6: grows to 14
    Fsm().FreePage(p);                    // 8 trailing pages: one whole step, so back to 6 pages
    EXPECT_EQ(Total(), 6);
    EXPECT_EQ(LastUsed(), 5);
    Fsm().GetPage();   // 6: grows to 14 again
    Fsm().GetPage();   // 7
    Fsm().FreePage(7); // 7 trailing pages: less than a step
    EXPECT_EQ(Total(), 14);
    EXPECT_EQ(LastUsed(), 6);
    Db->Data.TruncateDatabase();
    EXPECT_EQ(Total(), 7);
    EXPECT_EQ(Db->Pm().FileSize(), 380 + 7 * 4096);
}

// Small pages and one-page extents put map pages within reach: page 1888 is the second EAM
// page, 3776 the second PFS page (and an EAM position), 3777 the EAM page beside it.
TEST_F(FreeSpace, AllocationSkipsMapPagesAndTheFileNeverEndsWithOne) {
    Open(512, 1);
    ASSERT_EQ(Fsm().PfsSpan(), 3776);
    ASSERT_EQ(Fsm().EamSpan(), 1888);
    std::set<TCRVPageNo> seen;
    for (int i = 0; i < 3900; ++i) {
        const TCRVPageNo p = Fsm().GetPage();
        ASSERT_FALSE(Fsm().IsPagePfsOrEam(p)) << p;
        ASSERT_TRUE(seen.insert(p).second) << p;
        ASSERT_FALSE(Fsm().IsPagePfsOrEam(Total() - 1)) << Total();
    }
    const auto bytes = ReadBytes(Path);
    for (TCRVPageNo map : {1888, 3776, 3777}) {
        const std::size_t at = 380 + static_cast<std::size_t>(map) * 512;
        EXPECT_EQ(At<std::uint16_t>(bytes, at + 8), map == 3776 ? ptPFS : ptEAM) << map;
        EXPECT_TRUE(Fsm().GetPageUsageFromPFS(map)) << map;
    }
}

TEST_F(FreeSpace, AllocationLeavesTheLockAndCountsRightWhenAMapIsDamaged) {
    Open();
    auto bytes = ReadBytes(Path);
    PutAt<std::uint16_t>(bytes, PageAt(1) + 8, ptTableRecord); // the EAM page
    WriteBytes(Path, bytes);
    try {
        Fsm().GetPage();
        FAIL() << "allocated";
    } catch (const ECRVException& e) {
        EXPECT_EQ(e.NativeErrorCode(), 30423);
        EXPECT_EQ(e.Text(), "Wrong page type. Found 'TableRecord Page', but expecting: 'EAM Page'");
    }
    // The header lock was given back: a lock attempt succeeds at once.
    EXPECT_EQ(Db->Pm().GetPageCount(), 6);
}

} // namespace
