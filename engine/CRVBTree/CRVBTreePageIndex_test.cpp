#include "CRVBTree/CRVBTreePageIndex.h"
#include "CRVBTree/CRVBTreeTestSupport.h"
#include "CRVExcept/CRVExceptTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <numeric>
#include <random>

namespace {

constexpr TCRVSessionID KSession = 0;

// A record page index: a page takes rows while it holds fewer than 40.
class TRecordPageIndex : public TCRVBTreePageIndex {
public:
    using TCRVBTreePageIndex::TCRVBTreePageIndex;
    bool CanAddNewItem(std::uint16_t value, std::uint32_t amount) const override {
        return value + amount <= 40;
    }
};

class PageIndexTest : public ::testing::Test {
protected:
    TCRVMemoryPageManager FPages;
    TRecordPageIndex FIndex{FPages};

    void SetUp() override { FIndex.CreateIndex(KSession); }

    // Every (page, value) in ascending page order, walking forward.
    std::map<TCRVPageNo, std::uint16_t> Contents() {
        std::map<TCRVPageNo, std::uint16_t> result;
        TCRVKeyPath path;
        for (bool ok = FIndex.GetFirstPosition(KSession, path); ok;
             ok = FIndex.GetNextPosition(KSession, path))
            result[FIndex.GetPageNo(KSession, path)] = FIndex.GetPageValue(KSession, path);
        return result;
    }
};

TEST_F(PageIndexTest, RandomChangesMatchAMapAndEmptyingFreesEveryPage) {
    std::mt19937 random(7);
    std::map<TCRVPageNo, std::uint16_t> model;
    for (int step = 0; step < 20000; ++step) {
        const TCRVPageNo page = static_cast<TCRVPageNo>(random() % 5000) + 10;
        const auto it = model.find(page);
        if (it == model.end() || random() % 3 != 0) {
            const std::uint32_t amount = 1 + random() % 5;
            if (it != model.end() && it->second + amount > 40) {
                EXPECT_EQ(CodeOf([&] { FIndex.AddPageItem(KSession, amount, page); }), 20106);
                continue;
            }
            FIndex.AddPageItem(KSession, amount, page);
            model[page] += static_cast<std::uint16_t>(amount);
        } else {
            const std::uint32_t amount = 1 + random() % 3;
            FIndex.DeletePageItem(KSession, amount, -1, page);
            it->second = it->second > amount ? static_cast<std::uint16_t>(it->second - amount) : 0;
            if (it->second == 0)
                model.erase(it);
        }
    }
    const TCRVBTreeIntegrityInfo info = FIndex.CheckIntegrity(KSession);
    EXPECT_GE(info.Depth, 2);
    EXPECT_EQ(info.EntryCount, static_cast<std::int64_t>(model.size()));
    EXPECT_EQ(Contents(), model);

    // Backwards gives the same entries in reverse.
    std::vector<TCRVPageNo> backwards;
    TCRVKeyPath path;
    for (bool ok = FIndex.GetLastPosition(KSession, path); ok; ok = FIndex.GetPriorPosition(KSession, path))
        backwards.push_back(FIndex.GetPageNo(KSession, path));
    ASSERT_EQ(backwards.size(), model.size());
    EXPECT_EQ(backwards.front(), model.rbegin()->first);
    EXPECT_TRUE(std::is_sorted(backwards.rbegin(), backwards.rend()));

    // Setting a value of 0 removes each entry; the tree shrinks to its root alone.
    for (const auto& [page, value] : model)
        FIndex.DeletePageItem(KSession, 0, 0, page);
    FPages.ApplyChanges(KSession);
    EXPECT_EQ(FPages.LivePageCount(), 1u);
    EXPECT_EQ(FIndex.CheckIntegrity(KSession).PageCount, 1);
    TCRVKeyPath empty;
    EXPECT_FALSE(FIndex.GetFirstPosition(KSession, empty));
    EXPECT_FALSE(FIndex.GetLastPosition(KSession, empty));
}

TEST_F(PageIndexTest, FindPageForNewItemLooksAtTheLastLeafThenTheFirst) {
    TCRVPageNo found = 0;
    EXPECT_FALSE(FIndex.FindPageForNewItem(KSession, 1, found));
    for (TCRVPageNo page = 1; page <= 3000; ++page)
        FIndex.AddPageItem(KSession, 40, page); // all full
    ASSERT_GE(FIndex.CheckIntegrity(KSession).LeafPageCount, 3);
    EXPECT_FALSE(FIndex.FindPageForNewItem(KSession, 1, found));

    FIndex.DeletePageItem(KSession, 1, -1, 1500); // room in a middle leaf only: not searched
    EXPECT_FALSE(FIndex.FindPageForNewItem(KSession, 1, found));

    FIndex.DeletePageItem(KSession, 1, -1, 2);
    FIndex.DeletePageItem(KSession, 1, -1, 5);
    ASSERT_TRUE(FIndex.FindPageForNewItem(KSession, 1, found));
    EXPECT_EQ(found, 2); // first leaf, lowest first
    EXPECT_FALSE(FIndex.FindPageForNewItem(KSession, 2, found));

    FIndex.DeletePageItem(KSession, 1, -1, 2990);
    FIndex.DeletePageItem(KSession, 1, -1, 2995);
    ASSERT_TRUE(FIndex.FindPageForNewItem(KSession, 1, found));
    EXPECT_EQ(found, 2995); // last leaf, highest first

    // A single leaf is searched once, every page with room found, the highest first.
    TRecordPageIndex small(FPages);
    small.CreateIndex(KSession);
    small.AddPageItem(KSession, 3, 7);
    small.AddPageItem(KSession, 40, 9);
    small.AddPageItem(KSession, 39, 8);
    ASSERT_TRUE(small.FindPageForNewItem(KSession, 1, found));
    EXPECT_EQ(found, 8);
    ASSERT_TRUE(small.FindPageForNewItem(KSession, 2, found));
    EXPECT_EQ(found, 7);
}

TEST_F(PageIndexTest, PositionsValuesAndErrors) {
    FIndex.AddPageItem(KSession, 3, 42);
    TCRVKeyPath path;
    ASSERT_TRUE(FIndex.GetPosition(KSession, 42, path));
    EXPECT_EQ(FIndex.GetPageValue(KSession, path), 3);
    FIndex.SetPageValue(KSession, path, 17);
    EXPECT_EQ(Contents(), (std::map<TCRVPageNo, std::uint16_t>{{42, 17}}));
    EXPECT_FALSE(FIndex.GetPosition(KSession, 41, path));

    const TCRVKeyPath none;
    EXPECT_EQ(CodeOf([&] { FIndex.GetPageNo(KSession, none); }), 20103);
    EXPECT_EQ(CodeOf([&] { FIndex.GetPageValue(KSession, none); }), 20107);
    EXPECT_EQ(CodeOf([&] { FIndex.SetPageValue(KSession, none, 1); }), 20108);
    EXPECT_EQ(CodeOf([&] { FIndex.DeletePageItem(KSession, 1, -1, 41); }), 20111);
    EXPECT_EQ(CodeOf([&] { FIndex.AddPageItem(KSession, 24, 42); }), 20106);

    TRecordPageIndex noRoot(FPages);
    TCRVPageNo found;
    EXPECT_EQ(CodeOf([&] { noRoot.FindPageForNewItem(KSession, 1, found); }), 20110);
    EXPECT_EQ(CodeOf([&] { noRoot.AddPageItem(KSession, 1, 5); }), 20110);
    EXPECT_EQ(CodeOf([&] { noRoot.DeletePageItem(KSession, 1, -1, 5); }), 20118);
}

TEST_F(PageIndexTest, EmptyKeepsTheRootAndDropFreesIt) {
    for (TCRVPageNo page = 1; page <= 2000; ++page)
        FIndex.AddPageItem(KSession, 1, page);
    FPages.ApplyChanges(KSession);
    const TCRVPageNo root = FIndex.RootPageNo();
    ASSERT_GT(FPages.LivePageCount(), 3u);
    FIndex.EmptyIndex(KSession);
    FPages.ApplyChanges(KSession);
    EXPECT_EQ(FIndex.RootPageNo(), root);
    EXPECT_EQ(FPages.LivePageCount(), 1u);
    EXPECT_TRUE(Contents().empty());
    FIndex.AddPageItem(KSession, 1, 5);
    EXPECT_EQ(Contents().size(), 1u);

    FIndex.DropIndex(KSession);
    FPages.ApplyChanges(KSession);
    EXPECT_EQ(FIndex.RootPageNo(), KCRVNoPage);
    EXPECT_EQ(FPages.LivePageCount(), 0u);
}

TEST_F(PageIndexTest, CancelledChangesLeaveTheStoredIndexAsItWas) {
    for (TCRVPageNo page = 1; page <= 500; ++page)
        FIndex.AddPageItem(KSession, 1, page);
    FPages.ApplyChanges(KSession);
    const auto before = Contents();
    const std::size_t pagesBefore = FPages.LivePageCount();
    for (TCRVPageNo page = 501; page <= 3000; ++page)
        FIndex.AddPageItem(KSession, 2, page);
    for (TCRVPageNo page = 1; page <= 400; ++page)
        FIndex.DeletePageItem(KSession, 1, -1, page);
    FPages.CancelChanges(KSession);
    EXPECT_EQ(Contents(), before);
    EXPECT_EQ(FPages.LivePageCount(), pagesBefore);
    FIndex.CheckIntegrity(KSession);
}

} // namespace
