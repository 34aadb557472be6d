#include "CRVExcept/CRVExceptTestUtil.h"
#include "CRVPage/CRVPageController.h"
#include "CRVPage/CRVPageManager.h"

#include <gtest/gtest.h>

#include <random>

#include <map>
#include <set>

namespace {

// A cache over pages kept in memory; counts what the cache asks of the storage below it.
class TMemoryPageManager : public TCRVPageManager {
public:
    explicit TMemoryPageManager(std::uint16_t pageSize = 256) { SetPageGeometry(pageSize); }

    std::map<TCRVPageNo, std::vector<std::uint8_t>> Disk;
    std::set<TCRVPageNo> Removed;
    TCRVPageNo NextNo = 10;
    int Reads = 0;
    int Writes = 0;
    bool FailReads = false;

protected:
    bool InternalReadPage(TCRVPage& page) override {
        ++Reads;
        auto it = Disk.find(page.PageNo());
        if (FailReads || it == Disk.end()) {
            page.GetPageHeader()->State = KCRVPageStateRemoved;
            return false;
        }
        std::copy(it->second.begin(), it->second.end(), page.Buffer());
        page.SetReloaded(true);
        return true;
    }
    void InternalWritePage(TCRVPage& page) override {
        ++Writes;
        page.GetPageHeader()->State = CRVNextPageState(page.GetPageHeader()->State);
        Disk[page.PageNo()].assign(page.Buffer(), page.Buffer() + page.GetPageSize());
    }
    TCRVPageNo InternalAddPage() override { return NextNo++; }
    void InternalRemovePage(TCRVPageNo pageNo) override {
        Removed.insert(pageNo);
        Disk[pageNo].resize(PageSize());
        reinterpret_cast<TCRVDiskPageHeader*>(Disk[pageNo].data())->State = KCRVPageStateRemoved;
    }
};

// A page of `type` committed by the system session; answers its number.
TCRVPageNo Committed(TMemoryPageManager& pm, std::uint16_t type, std::uint8_t firstByte = 0) {
    TCRVPageNo no;
    {
        auto page = pm.AddPage(KCRVSystemSessionID, type);
        page->GetPageData()[0] = firstByte;
        no = page->PageNo();
    }
    pm.ApplyChanges(KCRVSystemSessionID);
    return no;
}

TEST(CRVPageTypes, StateWrapsAfterLastLiveValueAndNamesAreChecked) {
    EXPECT_EQ(CRVNextPageState(5), 6);
    EXPECT_EQ(CRVNextPageState(KCRVPageStateLastLive), 0);
    EXPECT_EQ(CRVNextPageState(KCRVPageStateLastLive - 1), KCRVPageStateLastLive);
    EXPECT_EQ(PageTypeToStr(ptPFS), "PFS Page");
    EXPECT_EQ(PageTypeToStr(ptTableIndex), "TableIndex Page");
    EXPECT_EQ(CodeOf([] { PageTypeToStr(13); }), 30382);
    TCRVDiskPageHeader h;
    CRVInitPageHeader(h);
    EXPECT_EQ(std::string(h.Signature, 4), "CRVP");
    EXPECT_EQ(+h.NextPageNo, -1);
    EXPECT_EQ(+h.ObjectID, -1);
    EXPECT_EQ(+h.RecordID.PageNo, -1);
    EXPECT_EQ(+h.State, 0);
}

TEST(CRVSortedPageList, KeepsOrderAndReportsMissingPages) {
    TCRVSortedPageList list;
    EXPECT_EQ(CodeOf([&] { list.Delete(3); }), 20165);
    for (TCRVPageNo no : {7, 3, 9, 1})
        list.Insert(std::make_unique<TCRVPage>(nullptr, no, 64));
    ASSERT_EQ(list.ItemCount(), 4u);
    for (std::size_t i = 0; i + 1 < list.ItemCount(); ++i)
        EXPECT_LT(list.ItemAt(i)->PageNo(), list.ItemAt(i + 1)->PageNo());
    EXPECT_EQ(list.Find(5), nullptr);
    EXPECT_EQ(list.Find(9)->PageNo(), 9);
    // 7 was inserted first: the oldest until stamped again.
    EXPECT_EQ(list.ItemAt(list.OldestIndex())->PageNo(), 7);
    list.UpdateLRU(7);
    EXPECT_EQ(list.ItemAt(list.OldestIndex())->PageNo(), 3);
    EXPECT_EQ(CodeOf([&] { list.UpdateLRU(5); }), 20167);
    EXPECT_EQ(CodeOf([&] { list.Delete(5); }), 20166);
    EXPECT_EQ(list.Delete(3)->PageNo(), 3);
    EXPECT_EQ(list.ItemCount(), 3u);
}

// The eviction candidate after any mix of inserts, stamps and deletes is the page with the
// smallest stamp, as a scan of the whole list finds it.
TEST(CRVSortedPageList, OldestPageMatchesAScanAfterRandomWork) {
    TCRVSortedPageList list;
    std::mt19937 rng(11);
    for (int step = 0; step < 5000; ++step) {
        const TCRVPageNo no = static_cast<TCRVPageNo>(rng() % 200);
        const bool present = list.Find(no) != nullptr;
        switch (rng() % 3) {
        case 0:
            if (!present)
                list.Insert(std::make_unique<TCRVPage>(nullptr, no, 64));
            break;
        case 1:
            if (present)
                list.UpdateLRU(no);
            break;
        default:
            if (present)
                list.Delete(no);
            break;
        }
        if (list.Empty())
            continue;
        std::size_t scan = 0;
        for (std::size_t i = 1; i < list.ItemCount(); ++i)
            if (list.StampAt(i) < list.StampAt(scan))
                scan = i;
        ASSERT_EQ(list.OldestIndex(), scan) << "step " << step;
    }
    list.TakeAll();
    list.Insert(std::make_unique<TCRVPage>(nullptr, 5, 64));
    EXPECT_EQ(list.ItemAt(list.OldestIndex())->PageNo(), 5);
}

TEST(CRVPageManager, AddedPageIsDirtyUntilAppliedThenCachedClean) {
    TMemoryPageManager pm;
    TCRVPageNo no;
    std::int32_t firstState;
    {
        auto page = pm.AddPage(0, ptTableRecord);
        no = page->PageNo();
        firstState = page->GetPageHeader()->State;
        EXPECT_GE(firstState, 0);
        EXPECT_LE(firstState, KCRVPageStateMaxRandom);
        EXPECT_TRUE(page->IsDirty());
        EXPECT_EQ(+page->GetPageHeader()->PageType, ptTableRecord);
        EXPECT_EQ(page->UseCount(), 1);
    }
    EXPECT_EQ(pm.DirtyPageCount(0), 1u);
    EXPECT_TRUE(pm.ApplyChanges(0));
    EXPECT_FALSE(pm.ApplyChanges(0)); // nothing left
    EXPECT_EQ(pm.Writes, 1);
    EXPECT_EQ(pm.DirtyPageCount(0), 0u);
    ASSERT_EQ(pm.SharedPageCount(), 1u);
    auto page = pm.GetPage(0, no, false, ptTableRecord);
    EXPECT_FALSE(page->IsDirty());
    EXPECT_EQ(+page->GetPageHeader()->State, firstState + 1);
    EXPECT_EQ(pm.Reads, 0); // served from the cache
}

TEST(CRVPageManager, ModifiedPageMovesToItsSessionAndOthersSeeTheFile) {
    TMemoryPageManager pm;
    const TCRVPageNo no = Committed(pm, ptTableRecord, 1);
    {
        auto page = pm.GetPage(0, no, false, ptTableRecord);
        page->GetPageData()[0] = 2;
        page->SetIsDirty(true);
    }
    EXPECT_EQ(pm.DirtyPageCount(0), 1u);
    {
        // The system session does not see session 0's pending change.
        auto other = pm.GetPage(KCRVSystemSessionID, no, false, ptTableRecord);
        EXPECT_EQ(other->GetPageData()[0], 1);
    }
    pm.ApplyChanges(0);
    auto page = pm.GetPage(KCRVSystemSessionID, no, false, ptTableRecord);
    EXPECT_EQ(page->GetPageData()[0], 2);
}

TEST(CRVPageManager, ErrorsOfGetPageLeaveNothingPinned) {
    TMemoryPageManager pm;
    const TCRVPageNo no = Committed(pm, ptTableList);
    EXPECT_EQ(CodeOf([&] { pm.GetPage(KCRVInvalidSessionID, no, false, ptTableList); }), 20186);
    EXPECT_EQ(CodeOf([&] { pm.GetPage(0, no, false, ptTableIndex); }), 20153);
    EXPECT_EQ(CodeOf([&] { pm.GetPage(0, 999, false, ptTableIndex); }), 20299);
    {
        auto any = pm.GetPage(0, no, false, KCRVAnyPageType);
        EXPECT_EQ(any->UseCount(), 1);
        EXPECT_EQ(CodeOf([&] { pm.GetPage(1, no, false, ptTableList); }), 20090);
        auto again = pm.GetPage(0, no, false, ptTableList);
        EXPECT_EQ(again->UseCount(), 2);
    }
    auto page = pm.GetPage(1, no, false, ptTableList);
    EXPECT_EQ(page->UseCount(), 1);
}

TEST(CRVPageManager, PageRemovedOnDiskFailsItsStateTest) {
    TMemoryPageManager pm;
    pm.SetCacheCapacity(1);
    const TCRVPageNo no = Committed(pm, ptTableRecord);
    Committed(pm, ptTableRecord); // pushes the first page out of the cache
    pm.RemovePage(0, no);
    pm.ApplyChanges(0);
    EXPECT_TRUE(pm.Removed.count(no));
    EXPECT_EQ(CodeOf([&] { pm.GetPage(0, no, false, ptTableRecord); }), 20299);
    pm.SetIgnoreCRCErrors(true); // repair may still look at it
    EXPECT_NO_THROW(pm.GetPage(0, no, false, ptTableRecord));
}

TEST(CRVPageManager, EvictsTheLeastRecentlyUsedCleanPageBeyondCapacity) {
    TMemoryPageManager pm;
    std::vector<TCRVPageNo> pages;
    for (int i = 0; i < 3; ++i)
        pages.push_back(Committed(pm, ptTableRecord));
    pm.SetCacheCapacity(2);
    pm.ClearCache();
    for (TCRVPageNo no : pages)
        pm.GetPage(0, no, false, ptTableRecord);
    EXPECT_EQ(pm.SharedPageCount(), 2u);
    const int reads = pm.Reads;
    pm.GetPage(0, pages[2], false, ptTableRecord); // most recent: still cached
    EXPECT_EQ(pm.Reads, reads);
    pm.GetPage(0, pages[0], false, ptTableRecord); // evicted first
    EXPECT_EQ(pm.Reads, reads + 1);
}

TEST(CRVPageManager, ApplyRefusesPinnedPagesAndCancelGivesAddedPagesBack) {
    TMemoryPageManager pm;
    const TCRVPageNo kept = Committed(pm, ptTableRecord);
    {
        auto added = pm.AddPage(0, ptTableRecord);
        EXPECT_EQ(CodeOf([&] { pm.ApplyChanges(0); }), 20086);
        EXPECT_EQ(CodeOf([&] { pm.CancelChanges(0); }), 20088);
    }
    {
        auto shared = pm.GetPage(0, kept, false, ptTableRecord);
        EXPECT_EQ(CodeOf([&] { pm.ApplyChanges(0); }), 20152);
    }
    EXPECT_EQ(CodeOf([&] { pm.CheckNoPendingChanges(); }), 20097);
    const TCRVPageNo added = pm.NextNo - 1;
    pm.CancelChanges(0);
    EXPECT_FALSE(pm.SessionHasChanges(0));
    EXPECT_TRUE(pm.Removed.count(added));
    EXPECT_EQ(pm.Writes, 1);
    EXPECT_NO_THROW(pm.CheckNoPendingChanges());
}

TEST(CRVPageController, WrapsOnePinnedPage) {
    TMemoryPageManager pm;
    const TCRVPageNo no = Committed(pm, ptTableIndex);
    TCRVPageController c;
    c.SetPageNo(pm, 0, no, ptTableIndex);
    EXPECT_EQ(c.GetPageNo(), no);
    EXPECT_EQ(c.GetPageDataSize(), 256u - 40u);
    c.EnlargePageBuffer(512);
    c.GetPageData()[400] = 7; // beyond the page: only the buffer grew
    c.SetIsDirty(true);
    c.Release();
    EXPECT_EQ(pm.DirtyPageCount(0), 1u);
    pm.ApplyChanges(0);
    EXPECT_EQ(pm.Disk[no].size(), 256u);
}

} // namespace
