#include "CRVBTree/CRVBTreeTestSupport.h"
#include "CRVBTree/CRVBaseIndexManager.h"
#include "CRVExcept/CRVExceptTestUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr TCRVSessionID KSession = 0;

// A table with a unique index on Name and a plain index on Num, driven through the manager.
class IndexManagerTest : public ::testing::Test {
protected:
    TCRVMemoryPageManager FPages{1024};
    TCRVMemoryRecordSource FRows;
    TCRVFieldDefs FFields;
    TCRVIndexDefs FDefs;
    std::unique_ptr<TCRVBaseIndexManager> FManager;

    void SetUp() override {
        FFields.Add("Name", TCRVAdvancedFieldType::aftString, 32);
        FFields.Add("Num", TCRVAdvancedFieldType::aftInteger);
        TCRVIndexDef& byName = FDefs.Add("ByName");
        byName.ObjectID = 11;
        byName.Unique = true;
        byName.Columns = {{"Name", false, false, 0}};
        TCRVIndexDef& byNum = FDefs.Add("ByNum");
        byNum.ObjectID = 12;
        byNum.Columns = {{"Num", true, false, 0}};
        FManager = std::make_unique<TCRVBaseIndexManager>(FPages, FDefs, FFields, FRows);
        FManager->CreateIndex(KSession, 11);
        FManager->CreateIndex(KSession, 12);
    }

    std::vector<std::byte> Row(const std::string& name, std::int32_t num) const {
        std::vector<std::byte> r = FFields.Layout().NewRecord();
        std::vector<char> text(33, '\0');
        std::memcpy(text.data(), name.data(), name.size());
        SetFieldData(0, FFields, text.data(), r);
        SetFieldData(1, FFields, &num, r);
        return r;
    }

    // Names in the order of the index, read back through the rows.
    std::vector<std::string> Order(std::int32_t indexID) {
        TCRVIndexCursor cursor;
        std::vector<std::string> names;
        while (FManager->GetRecordBuffer(KSession, indexID, grmNext, cursor) == grrOK)
            names.emplace_back(reinterpret_cast<const char*>(cursor.RecordBuffer.data() + 1));
        return names;
    }
};

TEST_F(IndexManagerTest, RowChangesReachEveryIndexAndCountTheirTableState) {
    const std::vector<std::tuple<std::string, std::int32_t, TCRVRecordID>> rows = {
        {"delta", 1, {5, 0}}, {"alpha", 3, {5, 1}}, {"charlie", 2, {6, 0}}};
    for (const auto& [name, num, id] : rows) {
        const auto r = Row(name, num);
        ASSERT_EQ(FManager->FindDuplicate(KSession, r.data()), nullptr);
        FRows.Put(id, r);
        FManager->InsertRecord(KSession, r.data(), id);
    }
    EXPECT_EQ(Order(11), (std::vector<std::string>{"alpha", "charlie", "delta"}));
    EXPECT_EQ(Order(12), (std::vector<std::string>{"alpha", "charlie", "delta"}));
    EXPECT_EQ(FDefs[0].TableState, 3);
    EXPECT_EQ(FDefs[1].TableState, 3);

    const TCRVIndexDef* duplicate = FManager->FindDuplicate(KSession, Row("alpha", 9).data());
    ASSERT_NE(duplicate, nullptr);
    EXPECT_EQ(duplicate->Name, "ByName");

    // delta 1 -> bravo 4: both indexes move the row.
    const auto oldRow = Row("delta", 1), newRow = Row("bravo", 4);
    EXPECT_EQ(FManager->FindDuplicateOnUpdate(KSession, oldRow.data(), newRow.data()), nullptr);
    EXPECT_NE(FManager->FindDuplicateOnUpdate(KSession, oldRow.data(), Row("charlie", 1).data()), nullptr);
    FManager->UpdateRecord(KSession, oldRow.data(), newRow.data(), {5, 0}, true);
    FRows.Put({5, 0}, newRow);
    FManager->UpdateRecord(KSession, oldRow.data(), newRow.data(), {5, 0}, false);
    EXPECT_EQ(Order(11), (std::vector<std::string>{"alpha", "bravo", "charlie"}));
    EXPECT_EQ(Order(12), (std::vector<std::string>{"bravo", "alpha", "charlie"}));

    FManager->DeleteRecord(KSession, Row("alpha", 3).data(), {5, 1});
    EXPECT_EQ(Order(12), (std::vector<std::string>{"bravo", "charlie"}));
    EXPECT_EQ(FDefs[1].TableState, 6);
    EXPECT_EQ(RaisedCode([&] { FManager->DeleteRecord(KSession, Row("alpha", 3).data(), {5, 1}); }), 20027);
}

TEST_F(IndexManagerTest, EmptyDropAndReopenWhileTheDefinitionListGrows) {
    for (std::int32_t i = 0; i < 300; ++i) {
        const auto r = Row("name" + std::to_string(i), i % 7);
        const TCRVRecordID id{100 + i / 40, static_cast<std::uint16_t>(i % 40)};
        FRows.Put(id, r);
        FManager->InsertRecord(KSession, r.data(), id);
    }
    FPages.ApplyChanges(KSession);
    const TCRVPageNo nameRoot = FDefs[0].RootPageNo, numRoot = FDefs[1].RootPageNo;
    for (int i = 0; i < 20; ++i) // the list moves its definitions
        FDefs.Add("Other" + std::to_string(i)).ObjectID = 100 + i;
    EXPECT_EQ(Order(11).size(), 300u);

    FManager->EmptyAllIndexes(KSession);
    FPages.ApplyChanges(KSession);
    EXPECT_EQ(FPages.LivePageCount(), 2u);
    EXPECT_EQ(FDefs[0].RootPageNo, nameRoot);
    EXPECT_EQ(FDefs[1].RootPageNo, numRoot);
    EXPECT_TRUE(Order(12).empty());

    FManager->CloseIndex(12);
    EXPECT_EQ(FManager->FindOpenIndex(12), nullptr);
    const auto r = Row("again", 1);
    FRows.Put({1, 1}, r);
    FManager->InsertRecord(KSession, r.data(), {1, 1}); // reaches the open index only
    EXPECT_EQ(FManager->FindOpenIndex(11)->Tree().GetEntryCount(KSession), 1);
    EXPECT_EQ(FManager->OpenIndex(12).Tree().GetEntryCount(KSession), 0);
    FManager->DropIndex(KSession, 11);
    FPages.ApplyChanges(KSession);
    EXPECT_EQ(FDefs[0].RootPageNo, KCRVNoPage);
    EXPECT_EQ(FManager->FindOpenIndex(11), nullptr);
    EXPECT_EQ(FPages.LivePageCount(), 1u);
    EXPECT_EQ(RaisedCode([&] { FManager->OpenIndex(99); }), 20044);
}

} // namespace
