// Row indexes in a real database file: enciphered index pages written back, read again after
// reopening, and every page but the root given back to the free-space maps after emptying.
#include "CRVBTree/CRVBTreeRecordIndex.h"
#include "CRVBTree/CRVBTreeTestSupport.h"
#include "CRVDiskEngine/CRVDatabaseFreeSpaceManager.h"
#include "CRVDiskEngine/CRVDiskTestUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace {

using namespace crvtest;

std::string HexKey(std::mt19937_64& random) {
    std::string s(32, '0');
    for (char& c : s)
        c = "0123456789ABCDEF"[random() % 16];
    return s;
}

TEST(BTreeOnDiskTest, AnIndexSurvivesReopeningAndEmptyingFreesItsPages) {
    TTempDir dir;
    const std::string path = dir.File("index.crv");
    Create(path, Options("pw"));

    TCRVFieldDefs fields;
    fields.Add("fnhash", TCRVAdvancedFieldType::aftString, 32);
    TCRVIndexDef def;
    def.Unique = true;
    def.Columns = {{"fnhash", false, false, 0}};
    TCRVMemoryRecordSource rows;
    std::vector<std::pair<TCRVRecordID, std::vector<std::byte>>> stored;
    std::mt19937_64 random(9);
    TCRVPageNo lastUsedBefore = 0;
    const TCRVSessionID session = 0;
    {
        TOpenDb db(path, Options("pw"));
        lastUsedBefore = db.Pm().FreeSpaceManager().FindLastUsedPageNo();
        TCRVBTreeRecordIndex index(db.Pm(), def, fields, rows);
        index.CreateIndex(session);
        for (int i = 0; i < 20000; ++i) {
            std::vector<std::byte> row = fields.Layout().NewRecord();
            const std::string key = HexKey(random);
            SetFieldData(0, fields, (key + '\0').data(), row);
            const TCRVRecordID id{10000 + i / 40, static_cast<std::uint16_t>(i % 40)};
            rows.Put(id, row);
            index.InsertRecord(session, row.data(), id);
            stored.emplace_back(id, row);
            if (i % 1000 == 999)
                db.Pm().ApplyChanges(session);
        }
        db.Pm().ApplyChanges(session);
        EXPECT_GE(index.CheckIntegrity(session).Depth, 3);
    }
    {
        TOpenDb db(path, Options("pw"));
        TCRVBTreeRecordIndex index(db.Pm(), def, fields, rows);
        index.OpenIndex();
        const TCRVBTreeIntegrityInfo info = index.CheckIntegrity(session);
        EXPECT_EQ(info.EntryCount, 20000);
        for (std::size_t i = 0; i < stored.size(); i += 101) {
            TCRVRecordID found{};
            TCRVKeyPath keyPath;
            ASSERT_TRUE(index.FindRecord(session, stored[i].second.data(), found, keyPath));
            EXPECT_EQ(found.PageNo, stored[i].first.PageNo);
            EXPECT_EQ(found.PageItemNo, stored[i].first.PageItemNo);
        }
        std::shuffle(stored.begin(), stored.end(), random);
        for (std::size_t i = 0; i < stored.size(); ++i) {
            index.DeleteRecord(session, stored[i].second.data(), stored[i].first);
            if (i % 1000 == 999)
                db.Pm().ApplyChanges(session);
        }
        db.Pm().ApplyChanges(session);
        EXPECT_EQ(index.CheckIntegrity(session).PageCount, 1);
        // Only the root is left of the index's pages.
        EXPECT_EQ(db.Pm().FreeSpaceManager().FindLastUsedPageNo(), std::max(lastUsedBefore, def.RootPageNo));
    }
}

} // namespace
