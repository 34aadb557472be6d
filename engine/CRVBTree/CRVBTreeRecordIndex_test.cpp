#include "CRVBTree/CRVBTreeRecordIndex.h"
#include "CRVBTree/CRVBTreeTestSupport.h"
#include "CRVExcept/CRVExceptTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <tuple>

namespace {

constexpr TCRVSessionID KSession = 0;

// A table's rows and one index over them: the rows live in a memory record source, the index
// pages in a memory page manager.
class TIndexedTable {
public:
    TCRVMemoryPageManager Pages;
    TCRVMemoryRecordSource Rows;
    TCRVFieldDefs Fields;
    TCRVIndexDef Def;
    std::unique_ptr<TCRVBTreeRecordIndex> Index;

    explicit TIndexedTable(std::uint16_t pageSize = 4096) : Pages(pageSize) {
        Fields.Add("Hash", TCRVAdvancedFieldType::aftString, 32);
        Fields.Add("Num", TCRVAdvancedFieldType::aftInteger);
        Fields.Add("Name", TCRVAdvancedFieldType::aftString, 10);
        Fields.Add("Wide", TCRVAdvancedFieldType::aftWideString, 20);
        Def.Name = "Idx";
        Def.ObjectID = 7;
    }

    void Create(std::vector<TCRVIndexColumn> columns, bool unique = false) {
        Def.Columns = std::move(columns);
        Def.Unique = unique;
        Index = std::make_unique<TCRVBTreeRecordIndex>(Pages, Def, Fields, Rows);
        Index->CreateIndex(KSession);
    }

    // NULL for nullopt; an empty string is NULL too.
    std::vector<std::byte> Row(std::optional<std::string> hash, std::optional<std::int32_t> num,
                               std::optional<std::string> name = std::nullopt) const {
        std::vector<std::byte> r = Fields.Layout().NewRecord();
        SetText(r, 0, hash);
        if (num)
            SetFieldData(1, Fields, &*num, r);
        SetText(r, 2, name);
        return r;
    }

    std::vector<std::byte> WideRow(const std::u16string& text) const {
        std::vector<std::byte> r = Fields.Layout().NewRecord();
        std::vector<char16_t> buffer(21, u'\0');
        std::copy(text.begin(), text.end(), buffer.begin());
        SetFieldData(3, Fields, buffer.data(), r);
        return r;
    }

    TCRVRecordID NewID() {
        const TCRVRecordID id{static_cast<std::int32_t>(1000 + FNext / 40),
                              static_cast<std::uint16_t>(FNext % 40)};
        ++FNext;
        return id;
    }

    TCRVRecordID Insert(const std::vector<std::byte>& row) {
        const TCRVRecordID id = NewID();
        InsertAs(id, row);
        return id;
    }
    void InsertAs(const TCRVRecordID& id, const std::vector<std::byte>& row) {
        Rows.Put(id, row);
        Index->InsertRecord(KSession, row.data(), id);
    }
    void Delete(const TCRVRecordID& id, const std::vector<std::byte>& row) {
        Index->DeleteRecord(KSession, row.data(), id);
        Rows.Remove(id);
    }
    void Update(const TCRVRecordID& id, const std::vector<std::byte>& oldRow,
                const std::vector<std::byte>& newRow) {
        Index->UpdateRecord(KSession, oldRow.data(), newRow.data(), id, true);
        Rows.Put(id, newRow);
        Index->UpdateRecord(KSession, oldRow.data(), newRow.data(), id, false);
    }

    // The record ids in index order, walking forward through GetRecordBuffer.
    std::vector<TCRVRecordID> Forward() const {
        TCRVIndexCursor cursor;
        std::vector<TCRVRecordID> ids;
        while (Index->GetRecordBuffer(KSession, grmNext, cursor) == grrOK)
            ids.push_back(cursor.RecordID);
        return ids;
    }
    std::vector<TCRVRecordID> Backward() const {
        TCRVIndexCursor cursor;
        cursor.OnBeginningCrack = false;
        cursor.OnEndCrack = true;
        std::vector<TCRVRecordID> ids;
        while (Index->GetRecordBuffer(KSession, grmPrior, cursor) == grrOK)
            ids.push_back(cursor.RecordID);
        return ids;
    }

    std::optional<TCRVRecordID> Find(const std::vector<std::byte>& keyRow, int parts = -1) const {
        TCRVRecordID id{};
        TCRVKeyPath path;
        if (!Index->FindRecord(KSession, keyRow.data(), id, path, parts))
            return std::nullopt;
        return id;
    }

private:
    void SetText(std::vector<std::byte>& r, int fieldNo, const std::optional<std::string>& text) const {
        if (!text)
            return;
        std::vector<char> buffer(static_cast<std::size_t>(Fields[fieldNo].MemoryDataSize), '\0');
        std::memcpy(buffer.data(), text->data(), std::min(text->size(), buffer.size() - 1));
        SetFieldData(fieldNo, Fields, buffer.data(), r);
    }

    int FNext = 0;
};

std::tuple<std::int32_t, std::uint16_t> Tie(const TCRVRecordID& id) {
    return {static_cast<std::int32_t>(id.PageNo),
            static_cast<std::uint16_t>(id.PageItemNo)}; // packed: copies
}

bool SameIDs(const std::vector<TCRVRecordID>& a, const std::vector<TCRVRecordID>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const TCRVRecordID& x, const TCRVRecordID& y) { return Tie(x) == Tie(y); });
}

// --- The model for the randomized test: (Hash asc, Num desc, record id) ---

struct TModelRow {
    std::optional<std::string> Hash;
    std::optional<std::int32_t> Num;
    TCRVRecordID ID;
};

// Upper-case hexadecimal text orders like its bytes; NULL sorts first, so last when descending.
// hashDescending: (Hash desc, Num asc); otherwise (Hash asc, Num desc); then the record id.
bool ModelLess(const TModelRow& a, const TModelRow& b, bool hashDescending) {
    if (a.Hash != b.Hash)
        return hashDescending ? b.Hash < a.Hash : a.Hash < b.Hash; // nullopt is the smallest
    if (a.Num != b.Num)
        return hashDescending ? a.Num < b.Num : b.Num < a.Num;
    return Tie(a.ID) < Tie(b.ID);
}

std::string RandomHex(std::mt19937& random) {
    // Few distinct 20-character prefixes, so that cut keys often tie and the full keys decide.
    static const char* const KPrefixes[] = {"0123456789ABCDEF0123", "FFFFFFFFFFFFFFFFFFFF",
                                            "A1B2C3D4E5F6A7B8C9D0"};
    const char* KHex = "0123456789ABCDEF";
    std::string s;
    const unsigned shape = random() % 10;
    if (shape < 6) {
        s = KPrefixes[random() % 3];
        const std::size_t extra = random() % 13; // 20 .. 32 characters
        for (std::size_t i = 0; i < extra; ++i)
            s += KHex[random() % 16];
    } else if (shape < 9) {
        const std::size_t length = 1 + random() % 32;
        for (std::size_t i = 0; i < length; ++i)
            s += KHex[random() % 4];
    } // else empty: NULL
    return s;
}

class RandomIndexTest : public ::testing::TestWithParam<bool> {};

TEST_P(RandomIndexTest, RandomChangesMatchASortedModel) {
    const bool hashDescending = GetParam();
    TIndexedTable table(512); // small pages: a deep tree with many splits and merges
    table.Create({{"Hash", hashDescending, false, 0}, {"Num", !hashDescending, false, 0}});
    ASSERT_EQ(table.Index->KeyRef().ShortKeySize, 23 + 5);

    std::mt19937 random(20261211);
    std::vector<TModelRow> live;
    auto rowOf = [&](const TModelRow& m) {
        return table.Row(m.Hash && !m.Hash->empty() ? m.Hash : std::nullopt, m.Num);
    };
    auto randomRow = [&](TCRVRecordID id) {
        TModelRow m{RandomHex(random), std::nullopt, id};
        if (m.Hash->empty())
            m.Hash.reset();
        if (random() % 8 != 0)
            m.Num = static_cast<std::int32_t>(random() % 7) - 3;
        return m;
    };
    for (int step = 0; step < 20000; ++step) {
        const unsigned op = random() % 10;
        if (live.size() < 50 || op < 5) {
            TModelRow m = randomRow(table.NewID());
            table.InsertAs(m.ID, rowOf(m));
            live.push_back(m);
        } else if (op < 8) {
            const std::size_t i = random() % live.size();
            table.Delete(live[i].ID, rowOf(live[i]));
            live.erase(live.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            const std::size_t i = random() % live.size();
            TModelRow changed = randomRow(live[i].ID);
            if (random() % 4 == 0)
                changed.Hash = live[i].Hash; // only the second column moves
            table.Update(live[i].ID, rowOf(live[i]), rowOf(changed));
            live[i] = changed;
        }
        if (step % 1000 == 999)
            table.Pages.ApplyChanges(KSession);
    }
    std::sort(live.begin(), live.end(),
              [&](const TModelRow& a, const TModelRow& b) { return ModelLess(a, b, hashDescending); });
    std::vector<TCRVRecordID> expected;
    for (const TModelRow& m : live)
        expected.push_back(m.ID);

    const TCRVBTreeIntegrityInfo info = table.Index->CheckIntegrity(KSession);
    EXPECT_GE(info.Depth, 3);
    EXPECT_EQ(info.EntryCount, static_cast<std::int64_t>(live.size()));
    EXPECT_TRUE(SameIDs(table.Forward(), expected));
    std::vector<TCRVRecordID> backward = table.Backward();
    std::reverse(backward.begin(), backward.end());
    EXPECT_TRUE(SameIDs(backward, expected));

    // Record numbers in index order, both ways, for a sample of rows.
    for (std::size_t i = 0; i < live.size(); i += 37) {
        EXPECT_EQ(table.Index->GetRecNoByRecordID(KSession, live[i].ID, rowOf(live[i]).data()),
                  static_cast<std::int64_t>(i + 1));
        TCRVRecordID id{};
        ASSERT_TRUE(table.Index->GetRecordIDByRecNo(KSession, static_cast<std::int64_t>(i + 1), id));
        EXPECT_EQ(Tie(id), Tie(live[i].ID));
    }
    TCRVRecordID none{};
    EXPECT_FALSE(table.Index->GetRecordIDByRecNo(KSession, static_cast<std::int64_t>(live.size() + 1), none));
    EXPECT_EQ(table.Index->GetRecNoByRecordID(KSession, TCRVRecordID{1, 1}, rowOf(live[0]).data()), -1);
}

INSTANTIATE_TEST_SUITE_P(HashAscendingOrDescending, RandomIndexTest, ::testing::Bool());

TEST(RecordIndexTest, ARootLeafThatOverflowsBecomesANodeWithTwoEntries) {
    TIndexedTable table;
    table.Create({{"Num", false, false, 0}});
    const TCRVPageNo root = table.Index->RootPageNo();
    const int fit = (4056 - 18) / (5 + 6);
    for (int i = 0; i < fit; ++i)
        table.Insert(table.Row(std::nullopt, i));
    EXPECT_TRUE(table.Index->Tree().GetBTreePage(KSession, root).IsLeaf());

    table.Insert(table.Row(std::nullopt, fit));
    const TCRVBTreePage page = table.Index->Tree().GetBTreePage(KSession, root);
    EXPECT_EQ(table.Index->RootPageNo(), root);
    EXPECT_EQ(table.Def.RootPageNo, root);
    EXPECT_TRUE(page.IsRoot());
    EXPECT_FALSE(page.IsLeaf());
    ASSERT_EQ(page.EntryCount(), 2);
    const TCRVBTreePage left = table.Index->Tree().GetBTreePage(KSession, page.ChildPageNo(0));
    const TCRVBTreePage right = table.Index->Tree().GetBTreePage(KSession, page.ChildPageNo(1));
    EXPECT_EQ(left.EntryCount(), (fit + 1) / 2);
    EXPECT_EQ(right.EntryCount(), fit + 1 - (fit + 1) / 2);
    EXPECT_EQ(left.RightPageNo(), right.GetPageNo());
    EXPECT_EQ(right.LeftPageNo(), left.GetPageNo());
    for (const TCRVBTreePage* child : {&left, &right}) {
        EXPECT_FALSE(child->IsRoot());
        EXPECT_TRUE(child->IsLeaf());
        EXPECT_EQ(child->Header().HasKeys, 1);
        EXPECT_EQ(child->KeyPrefixSize(), 5);
    }
    // The separator is the right page's first key.
    EXPECT_EQ(std::memcmp(page.EntryKey(1), right.EntryKey(0), 5), 0);
    EXPECT_EQ(table.Index->CheckIntegrity(KSession).Depth, 2);
}

TEST(RecordIndexTest, InsertingAndDeletingInShuffledOrderFreesEveryPageButTheRoot) {
    TIndexedTable table(1024);
    table.Create({{"Hash", false, false, 0}, {"Num", false, false, 0}});
    std::mt19937 random(5);
    std::vector<std::pair<TCRVRecordID, std::vector<std::byte>>> rows;
    for (int i = 0; i < 4000; ++i) {
        const auto row = table.Row(RandomHex(random), static_cast<std::int32_t>(random() % 100));
        rows.emplace_back(table.Insert(row), row);
    }
    table.Pages.ApplyChanges(KSession);
    EXPECT_GT(table.Pages.LivePageCount(), 100u);
    EXPECT_GE(table.Index->CheckIntegrity(KSession).Depth, 3);

    std::shuffle(rows.begin(), rows.end(), random);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        table.Delete(rows[i].first, rows[i].second);
        if (i % 500 == 0)
            table.Index->CheckIntegrity(KSession);
    }
    table.Pages.ApplyChanges(KSession);
    EXPECT_EQ(table.Pages.LivePageCount(), 1u);
    const TCRVBTreePage root = table.Index->Tree().GetBTreePage(KSession, table.Index->RootPageNo());
    EXPECT_TRUE(root.IsRoot());
    EXPECT_TRUE(root.IsLeaf());
    EXPECT_EQ(root.EntryCount(), 0);
    EXPECT_TRUE(table.Forward().empty());
}

TEST(RecordIndexTest, EqualKeysComeBackInRecordIdOrderAndAnEqualSearchFindsTheFirst) {
    TIndexedTable table(512);
    table.Create({{"Name", false, false, 0}});
    std::vector<TCRVRecordID> ids;
    for (int i = 0; i < 1500; ++i)
        ids.push_back(table.NewID());
    std::vector<TCRVRecordID> shuffled = ids;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(3));
    for (int i = 0; i < 40; ++i)
        table.Insert(table.Row(std::nullopt, std::nullopt, "A"));
    for (int i = 0; i < 40; ++i)
        table.Insert(table.Row(std::nullopt, std::nullopt, "C"));
    for (const TCRVRecordID& id : shuffled)
        table.InsertAs(id, table.Row(std::nullopt, std::nullopt, "B"));
    ASSERT_GE(table.Index->CheckIntegrity(KSession).Depth, 3);

    const std::vector<TCRVRecordID> all = table.Forward();
    ASSERT_EQ(all.size(), 1580u);
    EXPECT_TRUE(SameIDs(std::vector<TCRVRecordID>(all.begin() + 40, all.begin() + 1540), ids));

    // Remove the lowest B rows until the leaf where B began holds none of them any more.
    for (int i = 0; i < 300; ++i)
        table.Delete(ids[static_cast<std::size_t>(i)], table.Row(std::nullopt, std::nullopt, "B"));
    table.Index->CheckIntegrity(KSession);
    const auto found = table.Find(table.Row(std::nullopt, std::nullopt, "B"));
    ASSERT_TRUE(found);
    EXPECT_EQ(Tie(*found), Tie(ids[300]));
    EXPECT_FALSE(table.Find(table.Row(std::nullopt, std::nullopt, "AB")));
    const auto firstC = table.Find(table.Row(std::nullopt, std::nullopt, "C"));
    ASSERT_TRUE(firstC);
    EXPECT_EQ(Tie(*firstC), Tie(all[1540]));
}

TEST(RecordIndexTest, ConditionSearchesFindTheFirstAndLastMatch) {
    TIndexedTable table(512);
    table.Create({{"Num", false, false, 0}});
    std::mt19937 random(11);
    std::vector<std::int32_t> keys;
    for (int i = 0; i < 3000; ++i) {
        const auto k = static_cast<std::int32_t>(random() % 25) * 2; // even keys, many duplicates
        keys.push_back(k);
        table.Insert(table.Row(std::nullopt, k));
    }
    std::sort(keys.begin(), keys.end());
    const int n = static_cast<int>(keys.size());
    // The expected 0-based position in index order, or -1.
    auto expected = [&](bool first, TCRVSearchCondition condition, std::int32_t probe) {
        auto firstWhere = [&](auto pred) {
            for (int i = 0; i < n; ++i)
                if (pred(keys[static_cast<std::size_t>(i)]))
                    return i;
            return -1;
        };
        auto lastWhere = [&](auto pred) {
            for (int i = n - 1; i >= 0; --i)
                if (pred(keys[static_cast<std::size_t>(i)]))
                    return i;
            return -1;
        };
        auto only = [&](int i, bool ok) { return ok ? i : -1; };
        switch (condition) {
        case scEqual:
            return first ? firstWhere([&](int k) { return k == probe; })
                         : lastWhere([&](int k) { return k == probe; });
        case scLower:
            return first ? only(0, keys[0] < probe) : lastWhere([&](int k) { return k < probe; });
        case scLowerEqual:
            return first ? only(0, keys[0] <= probe) : lastWhere([&](int k) { return k <= probe; });
        case scGreater:
            return first ? firstWhere([&](int k) { return k > probe; }) : only(n - 1, keys.back() > probe);
        case scGreaterEqual:
            return first ? firstWhere([&](int k) { return k >= probe; }) : only(n - 1, keys.back() >= probe);
        default:
            return first ? 0 : n - 1;
        }
    };
    const TCRVBTree& tree = table.Index->Tree();
    for (std::int32_t probe = -1; probe <= 50; ++probe) {
        const auto row = table.Row(std::nullopt, probe);
        const std::vector<std::uint8_t> key = table.Index->KeyRef().MakeShortKey(row.data());
        for (const TCRVSearchCondition condition :
             {scNone, scEqual, scLower, scGreater, scLowerEqual, scGreaterEqual})
            for (const bool first : {true, false}) {
                TCRVKeyPath path;
                const bool found =
                    tree.FindByCondition(KSession, first, path, condition, {key.data(), nullptr, row.data()});
                const int at = found ? static_cast<int>(tree.GetRecNo(KSession, path)) - 1 : -1;
                EXPECT_EQ(at, expected(first, condition, probe))
                    << "probe " << probe << " condition " << int(condition) << (first ? " first" : " last");
            }
    }
}

TEST(RecordIndexTest, CutKeysAreToldApartByTheFullKeyInAUniqueIndex) {
    TIndexedTable table(512);
    table.Create({{"Hash", false, false, 0}}, true);
    const std::string prefix = "0123456789ABCDEF0123"; // the 20 bytes the short key keeps
    const std::vector<std::string> values = {prefix + "F",           prefix,       prefix + "0",
                                             prefix + "00000000000", prefix + "9", prefix + "000000000001"};
    std::map<std::string, TCRVRecordID> byValue;
    for (int round = 0; round < 30; ++round) // many rows, so the equal prefixes span leaves
        for (const std::string& v : values) {
            const std::string value = v + (round == 0 ? "" : std::string(1, "123456789ABCDEF"[round % 15]));
            if (value.size() > 32 || byValue.count(value))
                continue;
            const auto row = table.Row(value, std::nullopt);
            ASSERT_TRUE(table.Index->CanInsertRecord(KSession, row.data())) << value;
            byValue[value] = table.Insert(row);
        }
    for (const auto& [value, id] : byValue) {
        EXPECT_FALSE(table.Index->CanInsertRecord(KSession, table.Row(value, std::nullopt).data())) << value;
        const auto found = table.Find(table.Row(value, std::nullopt));
        ASSERT_TRUE(found) << value;
        EXPECT_EQ(Tie(*found), Tie(id)) << value;
    }
    EXPECT_TRUE(table.Index->CanInsertRecord(KSession, table.Row(prefix + "80", std::nullopt).data()));
    EXPECT_FALSE(table.Find(table.Row(prefix + "80", std::nullopt)));

    std::vector<TCRVRecordID> expected;
    for (const auto& [value, id] : byValue) // std::map orders upper-case hexadecimal as the index does
        expected.push_back(id);
    EXPECT_TRUE(SameIDs(table.Forward(), expected));
    table.Index->CheckIntegrity(KSession);

    // Without the rows the fallback cannot work: the failure is the index's error.
    const auto missing = table.Row(byValue.begin()->first, std::nullopt);
    table.Rows.Remove(byValue.begin()->second);
    EXPECT_EQ(RaisedCode([&] { table.Index->CanInsertRecord(KSession, missing.data()); }), 20170);
}

TEST(RecordIndexTest, AFailedChangeReleasesItsPagesAndCancellingRestoresTheTree) {
    TIndexedTable table(512);
    table.Create({{"Hash", false, false, 0}});
    const std::string prefix = "FFFFFFFFFFFFFFFFFFFF";
    std::vector<std::pair<TCRVRecordID, std::vector<std::byte>>> rows;
    for (int i = 0; i < 400; ++i) {
        const auto row = table.Row(prefix + std::to_string(100000 + i), std::nullopt);
        rows.emplace_back(table.Insert(row), row);
    }
    table.Pages.ApplyChanges(KSession);
    const std::vector<TCRVRecordID> before = table.Forward();

    // Changes under way, then an insert whose full-key fallback cannot read a row.
    for (int i = 0; i < 100; ++i)
        table.Delete(rows[static_cast<std::size_t>(i)].first, rows[static_cast<std::size_t>(i)].second);
    table.Insert(table.Row(prefix + "0", std::nullopt));
    table.Rows.Remove(rows[200].first);
    const auto row = table.Row(prefix + "100200", std::nullopt);
    EXPECT_EQ(RaisedCode([&] {
                  table.Index->InsertRecord(KSession, row.data(), TCRVRecordID{1, 1});
              }),
              20170);
    // No page is left pinned (cancelling refuses pinned pages), and the stored tree is back.
    table.Pages.CancelChanges(KSession);
    table.Rows.Put(rows[200].first, rows[200].second);
    for (int i = 0; i < 100; ++i)
        table.Rows.Put(rows[static_cast<std::size_t>(i)].first, rows[static_cast<std::size_t>(i)].second);
    EXPECT_TRUE(SameIDs(table.Forward(), before));
    EXPECT_EQ(table.Index->CheckIntegrity(KSession).EntryCount, 400);
}

TEST(RecordIndexTest, CutWideKeysAreToldApartToo) {
    TIndexedTable table(512);
    table.Create({{"Wide", false, false, 10}}, true); // 10 bytes: the first 5 code units
    ASSERT_EQ(table.Index->KeyRef().Parts[0].ShortSize, 13);
    std::vector<std::u16string> values = {u"\u00e9t\u00e9s",  u"\u00e9t\u00e9s-x", u"\u00e9t\u00e9s-a",
                                          u"\u00e9t\u00e9sz", u"\u00e9t\u00e9",    u"\u00e9t\u00e9s\u0416"};
    std::map<std::u16string, TCRVRecordID> ids;
    for (const std::u16string& v : values) {
        const auto row = table.WideRow(v);
        ASSERT_TRUE(table.Index->CanInsertRecord(KSession, row.data()));
        ids[v] = table.Insert(row);
    }
    for (const std::u16string& v : values)
        EXPECT_FALSE(table.Index->CanInsertRecord(KSession, table.WideRow(v).data()));
    // The root collation: the shorter first, punctuation before letters, Latin before Cyrillic.
    EXPECT_TRUE(SameIDs(table.Forward(), {ids[values[4]], ids[values[0]], ids[values[2]], ids[values[1]],
                                          ids[values[3]], ids[values[5]]}));
}

TEST(RecordIndexTest, DescendingAndCaseInsensitiveColumns) {
    TIndexedTable table;
    table.Create({{"Name", false, true, 0}, {"Num", true, false, 0}});
    const auto a1 = table.Insert(table.Row(std::nullopt, 1, "abc"));
    const auto a9 = table.Insert(table.Row(std::nullopt, 9, "ABC"));
    const auto a5 = table.Insert(table.Row(std::nullopt, 5, "Abc"));
    const auto b = table.Insert(table.Row(std::nullopt, 100, "abd"));
    const auto n = table.Insert(table.Row(std::nullopt, 3, "ab-c")); // punctuation is not ignored
    const auto anull = table.Insert(table.Row(std::nullopt, std::nullopt, "ABC"));
    // "ab-c" < "abc" (case folded, equal, then Num descending, NULL last) < "abd"
    EXPECT_TRUE(SameIDs(table.Forward(), {n, a9, a5, a1, anull, b}));
    // Two parts given: the first row of ("aBc", 5); one part: the first "abc" of any case.
    EXPECT_EQ(Tie(*table.Find(table.Row(std::nullopt, 5, "aBc"))), Tie(a5));
    EXPECT_EQ(Tie(*table.Find(table.Row(std::nullopt, 0, "aBc"), 1)), Tie(a9));

    TIndexedTable unique;
    unique.Create({{"Name", false, true, 0}}, true);
    const auto row = unique.Row(std::nullopt, std::nullopt, "ABC");
    const auto id = unique.Insert(row);
    EXPECT_FALSE(
        unique.Index->CanInsertRecord(KSession, unique.Row(std::nullopt, std::nullopt, "abc").data()));
    EXPECT_TRUE(
        unique.Index->CanInsertRecord(KSession, unique.Row(std::nullopt, std::nullopt, "abd").data()));
    // Changing only the case keeps the key: the update passes and leaves the index alone.
    const auto lower = unique.Row(std::nullopt, std::nullopt, "abc");
    EXPECT_TRUE(unique.Index->CanUpdateRecord(KSession, row.data(), lower.data()));
    unique.Pages.ApplyChanges(KSession);
    unique.Update(id, row, lower);
    EXPECT_EQ(unique.Pages.DirtyPageCount(KSession), 0u);
}

TEST(RecordIndexTest, NullKeysSortFirstAndEqualEachOther) {
    TIndexedTable table;
    table.Create({{"Num", false, false, 0}, {"Name", false, false, 0}}, true);
    const auto bothNull = table.Row(std::nullopt, std::nullopt);
    const auto nullFirst = table.Insert(bothNull);
    EXPECT_FALSE(table.Index->CanInsertRecord(KSession, table.Row(std::nullopt, std::nullopt).data()));
    const auto minInt = table.Insert(table.Row(std::nullopt, INT32_MIN, "x"));
    const auto nullNum = table.Insert(table.Row(std::nullopt, std::nullopt, "x"));
    const auto zero = table.Insert(table.Row(std::nullopt, 0));
    EXPECT_TRUE(SameIDs(table.Forward(), {nullFirst, nullNum, minInt, zero}));
    EXPECT_EQ(Tie(*table.Find(bothNull)), Tie(nullFirst));
    EXPECT_EQ(Tie(*table.Find(table.Row(std::nullopt, std::nullopt, "zzz"), 1)), Tie(nullFirst));
}

TEST(RecordIndexTest, UpdatesMoveOnlyTheChangedRowAndMissingEntriesAreErrors) {
    TIndexedTable table;
    table.Create({{"Num", false, false, 0}});
    std::vector<TCRVRecordID> ids;
    for (int i = 0; i < 5; ++i)
        ids.push_back(table.Insert(table.Row(std::nullopt, i * 10)));
    table.Pages.ApplyChanges(KSession);

    // A change outside the indexed column leaves every index page untouched.
    table.Update(ids[2], table.Row(std::nullopt, 20), table.Row("changed", 20, "x"));
    EXPECT_EQ(table.Pages.DirtyPageCount(KSession), 0u);

    table.Update(ids[1], table.Row(std::nullopt, 10), table.Row(std::nullopt, 35));
    EXPECT_TRUE(SameIDs(table.Forward(), {ids[0], ids[2], ids[3], ids[1], ids[4]}));
    EXPECT_EQ(table.Index->GetRecNoByRecordID(KSession, ids[1], table.Row(std::nullopt, 35).data()), 4);

    const auto stale = table.Row(std::nullopt, 10);
    EXPECT_EQ(RaisedCode([&] { table.Index->DeleteRecord(KSession, stale.data(), ids[1]); }), 20027);
    const auto next = table.Row(std::nullopt, 11);
    EXPECT_EQ(
        RaisedCode([&] { table.Index->UpdateRecord(KSession, stale.data(), next.data(), ids[1], true); }),
        20250);
    EXPECT_EQ(RaisedCode([&] {
                  TCRVIndexCursor cursor;
                  table.Index->GetRecordBuffer(KSession, grmCurrent, cursor);
              }),
              20053);
}

TEST(RecordIndexTest, FetchingInIndexOrderUsesThePositionCacheWhileItHolds) {
    TIndexedTable table;
    table.Create({{"Num", false, false, 0}});
    TCRVIndexCursor cursor;
    EXPECT_EQ(table.Index->GetRecordBuffer(KSession, grmNext, cursor), grrEOF);
    EXPECT_TRUE(cursor.OnEndCrack);
    EXPECT_EQ(table.Index->GetRecordBuffer(KSession, grmPrior, cursor), grrBOF);
    EXPECT_TRUE(cursor.OnBeginningCrack);

    std::vector<TCRVRecordID> ids;
    for (int i = 0; i < 3; ++i)
        ids.push_back(table.Insert(table.Row(std::nullopt, i)));
    ASSERT_EQ(table.Index->GetRecordBuffer(KSession, grmNext, cursor), grrOK);
    EXPECT_EQ(Tie(cursor.RecordID), Tie(ids[0]));
    // With the cache valid the stored path is followed, whatever the record buffer holds.
    cursor.RecordBuffer = table.Row(std::nullopt, 99);
    ASSERT_EQ(table.Index->GetRecordBuffer(KSession, grmNext, cursor), grrOK);
    EXPECT_EQ(Tie(cursor.RecordID), Tie(ids[1]));
    // Once the index has changed, the current row is searched by its key: a wrong key is an error.
    cursor.RecordBuffer = table.Row(std::nullopt, 99);
    ++table.Def.TableState;
    EXPECT_EQ(table.Index->GetRecordBuffer(KSession, grmNext, cursor), grrError);
    cursor.RecordBuffer = table.Row(std::nullopt, 1);
    ASSERT_EQ(table.Index->GetRecordBuffer(KSession, grmPrior, cursor), grrOK);
    EXPECT_EQ(Tie(cursor.RecordID), Tie(ids[0]));
    EXPECT_EQ(table.Index->GetRecordBuffer(KSession, grmPrior, cursor), grrBOF);
}

TEST(RecordIndexTest, KeyDescriptionFromTheDefinition) {
    TIndexedTable table;
    table.Fields.Add("Data", TCRVAdvancedFieldType::aftBlob);
    table.Create({{"Hash", false, false, 0}, {"Num", false, false, 3}, {"Name", false, false, 4}});
    const TCRVRecordKeyRef& key = table.Index->KeyRef();
    ASSERT_EQ(key.Parts.size(), 3u);
    EXPECT_EQ(key.Parts[0].ShortSize, 23); // a 32-character column keeps 20 bytes
    EXPECT_EQ(key.Parts[0].AddedSize, 2);
    EXPECT_EQ(key.Parts[0].FullSize, 34);
    EXPECT_EQ(key.Parts[1].ShortSize, 5); // a size on an integer column is ignored (20)
    EXPECT_EQ(key.Parts[1].OffsetInShortKeyBuffer, 23);
    EXPECT_EQ(key.Parts[2].ShortSize, 7);
    EXPECT_EQ(key.Parts[2].OffsetInFullKeyBuffer, 34 + 5);
    EXPECT_EQ(key.ShortKeySize, 23 + 5 + 7);
    EXPECT_EQ(key.FullKeySize, 34 + 5 + 12);
    EXPECT_EQ(table.Index->GetMaxEntriesPerPage(), 4056 / (35 + 4));

    TCRVIndexDef def;
    def.Columns = {{"Missing", false, false, 0}};
    EXPECT_EQ(RaisedCode([&] { TCRVBTreeRecordIndex(table.Pages, def, table.Fields, table.Rows); }), 20043);
    def.Columns = {{"data", false, false, 0}};
    EXPECT_EQ(RaisedCode([&] { TCRVBTreeRecordIndex(table.Pages, def, table.Fields, table.Rows); }), 20295);
}

TEST(RecordIndexTest, IntegrityCheckFindsDamagedPages) {
    TIndexedTable table;
    table.Create({{"Num", false, false, 0}});
    for (int i = 0; i < 1000; ++i)
        table.Insert(table.Row(std::nullopt, i));
    table.Pages.ApplyChanges(KSession);
    const TCRVBTree& tree = table.Index->Tree();
    const TCRVPageNo firstLeaf = tree.GetBTreePage(KSession, tree.RootPageNo()).ChildPageNo(0);

    struct TCase {
        const char* Name;
        int Expected;
        std::function<void(TCRVBTreePage&)> Damage;
    };
    const std::vector<TCase> cases = {
        {"entries out of order", 20028,
         [](TCRVBTreePage& p) {
             std::vector<std::uint8_t> tmp(p.EntryKey(0), p.EntryKey(0) + p.EntrySize());
             std::memcpy(p.EntryKey(0), p.EntryKey(1), p.EntrySize());
             std::memcpy(p.EntryKey(1), tmp.data(), tmp.size());
         }},
        {"broken right link", 20033, [](TCRVBTreePage& p) { p.Header().RightPageNo = KCRVNoPage; }},
        {"broken left link", 20034, [](TCRVBTreePage& p) { p.Header().LeftPageNo = 12345; }},
        {"empty leaf", 20194, [](TCRVBTreePage& p) { p.SetEntryCount(0); }},
        {"key above the next separator", 20031,
         [](TCRVBTreePage& p) {
             const std::int32_t big = INT32_MAX;
             std::memcpy(p.EntryKey(p.EntryCount() - 1) + 1, &big, sizeof big);
         }},
    };
    for (const TCase& c : cases) {
        {
            TCRVBTreePage page = tree.GetBTreePage(KSession, firstLeaf);
            c.Damage(page);
            page.MarkDirty();
        }
        EXPECT_EQ(RaisedCode([&] { tree.CheckIntegrity(KSession); }), c.Expected) << c.Name;
        table.Pages.CancelChanges(KSession);
        EXPECT_NO_THROW(tree.CheckIntegrity(KSession)) << c.Name;
    }
}

TEST(RecordIndexTest, DamagedPagesGiveAClearErrorAndNoEndlessWalk) {
    TIndexedTable table;
    table.Create({{"Num", false, false, 0}});
    for (int i = 0; i < 2000; ++i)
        table.Insert(table.Row(std::nullopt, i));
    table.Pages.ApplyChanges(KSession);
    const TCRVBTree& tree = table.Index->Tree();
    TCRVPageNo firstLeaf, secondLeaf;
    {
        const TCRVBTreePage root = tree.GetBTreePage(KSession, tree.RootPageNo());
        firstLeaf = root.ChildPageNo(0);
        secondLeaf = root.ChildPageNo(1);
    }
    const auto probe = table.Row(std::nullopt, 5);

    auto damage = [&](TCRVPageNo pageNo, const std::function<void(TCRVBTreePage&)>& f) {
        TCRVBTreePage page = tree.GetBTreePage(KSession, pageNo);
        f(page);
        page.MarkDirty();
    };
    // An entry count past the end of the page.
    damage(firstLeaf, [](TCRVBTreePage& p) { p.SetEntryCount(60000); });
    EXPECT_EQ(RaisedCode([&] { table.Find(probe); }), 20194);
    table.Pages.CancelChanges(KSession);
    // Leaves linked in a circle.
    damage(secondLeaf, [&](TCRVBTreePage& p) { p.Header().RightPageNo = firstLeaf; });
    EXPECT_EQ(RaisedCode([&] { tree.GetEntryCount(KSession); }), 20032);
    table.Pages.CancelChanges(KSession);
    // A node whose child is the node itself.
    {
        TCRVBTreePage page = tree.GetBTreePage(KSession, tree.RootPageNo());
        page.SetChildPageNo(0, tree.RootPageNo());
        page.MarkDirty();
    }
    EXPECT_EQ(RaisedCode([&] { table.Index->EmptyIndex(KSession); }), 20032);
    EXPECT_EQ(RaisedCode([&] { table.Find(probe); }), 20024);
    table.Pages.CancelChanges(KSession);
    EXPECT_EQ(table.Index->CheckIntegrity(KSession).EntryCount, 2000);
}

TEST(RecordIndexTest, EmptyAndDropAndBuildingFromRows) {
    TIndexedTable table(1024);
    std::vector<std::pair<TCRVRecordID, std::vector<std::byte>>> rows;
    for (int i = 0; i < 500; ++i) {
        const TCRVRecordID id = table.NewID();
        rows.emplace_back(id, table.Row(std::nullopt, 499 - i));
        table.Rows.Put(id, rows.back().second);
    }
    std::size_t next = 0;
    table.Def.Columns = {{"Num", false, false, 0}};
    table.Index = std::make_unique<TCRVBTreeRecordIndex>(table.Pages, table.Def, table.Fields, table.Rows);
    table.Index->CreateIndex(KSession, [&](TCRVRecordID& id, std::vector<std::byte>& row) {
        if (next == rows.size())
            return false;
        id = rows[next].first;
        row = rows[next++].second;
        return true;
    });
    const std::vector<TCRVRecordID> forward = table.Forward();
    ASSERT_EQ(forward.size(), 500u);
    EXPECT_EQ(Tie(forward.front()), Tie(rows.back().first));

    table.Pages.ApplyChanges(KSession);
    const TCRVPageNo root = table.Def.RootPageNo;
    table.Index->EmptyIndex(KSession);
    table.Pages.ApplyChanges(KSession);
    EXPECT_EQ(table.Def.RootPageNo, root);
    EXPECT_EQ(table.Pages.LivePageCount(), 1u);
    EXPECT_TRUE(table.Forward().empty());

    // A reopened index finds its root through the definition.
    table.Insert(table.Row(std::nullopt, 1));
    TCRVBTreeRecordIndex reopened(table.Pages, table.Def, table.Fields, table.Rows);
    reopened.OpenIndex();
    EXPECT_EQ(reopened.Tree().GetEntryCount(KSession), 1);

    table.Index->DropIndex(KSession);
    table.Pages.ApplyChanges(KSession);
    EXPECT_EQ(table.Def.RootPageNo, KCRVNoPage);
    EXPECT_EQ(table.Pages.LivePageCount(), 0u);
}

} // namespace
