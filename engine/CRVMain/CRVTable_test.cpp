// The table component end to end over a database file: navigation, key search, posting,
// constraints, emptying, creating over an existing table, reopening.
#include "CRVMain/CRVTable.h"

#include "CRVExcept/CRVExceptTestUtil.h"
#include "CRVMain/CRVTableTestUtil.h"
#include "CRVTypes/CRVDateTime.h"
#include "CRVTypes/CRVRecordLayout.h"

#include <cstring>
#include <filesystem>

namespace {

class TableTest : public CRVDatabaseFixture {
protected:
    // The physical write counter of a page in the file.
    std::int32_t PageState(TCRVPageNo pageNo) {
        std::vector<std::uint8_t> page(4096);
        Database.Handle().DatabaseData().PageManager().ReadPageDirect(pageNo, page.data());
        std::int32_t state = 0;
        std::memcpy(&state, page.data() + 4, sizeof state);
        return state;
    }
    std::vector<std::int64_t> Sizes(TCRVTable& table) {
        std::vector<std::int64_t> sizes;
        for (table.First(); !table.Eof(); table.Next())
            sizes.push_back(table.FieldByName("size").AsLargeInt());
        return sizes;
    }
};

} // namespace

TEST_F(TableTest, GotoKeyFindsTheFirstRowOfTheKeyAndKeepsThePositionOnNoMatch) {
    TCRVTable files(Database);
    CreateFiles(files);

    files.SetKey();
    files.FieldByName("fnhash").SetAsString("A");
    EXPECT_FALSE(files.GotoKey()) << "empty table";
    EXPECT_TRUE(files.IsEmpty());

    AddRow(files, "B", 1);
    AddRow(files, "A", 2);
    AddRow(files, "A", 3);
    AddRow(files, "", 4); // NULL key
    files.SetKey();
    files.FieldByName("fnhash").SetAsString("A");
    ASSERT_TRUE(files.GotoKey());
    EXPECT_EQ(files.FieldByName("size").AsLargeInt(), 2) << "the lower record id of the two";

    files.SetKey();
    files.FieldByName("fnhash").SetAsString("Z");
    EXPECT_FALSE(files.GotoKey());
    EXPECT_EQ(files.FieldByName("size").AsLargeInt(), 2) << "the previous row stays current";
    files.Next();
    EXPECT_EQ(files.FieldByName("size").AsLargeInt(), 3) << "and the cursor with it";

    const TCRVValue key[] = {std::string("B")};
    ASSERT_TRUE(files.FindKey(key));
    EXPECT_EQ(files.FieldByName("size").AsLargeInt(), 1);

    files.SetKey();
    ASSERT_TRUE(files.GotoKey()) << "nothing assigned searches for NULL";
    EXPECT_EQ(files.FieldByName("size").AsLargeInt(), 4);
    EXPECT_TRUE(files.FieldByName("fnhash").IsNull());
}

TEST_F(TableTest, KeyStateAcceptsOnlyIndexFieldsAndCancelRestoresTheKey) {
    TCRVTable files(Database);
    CreateFiles(files);
    AddRow(files, "A", 1);
    files.SetKey();
    EXPECT_EQ(EngineCodeOf([&] { files.FieldByName("size").SetAsLargeInt(1); }), 20019);
    files.FieldByName("fnhash").SetAsString("A");
    files.Cancel();
    EXPECT_EQ(files.State(), TCRVDataSetState::dsBrowse);
    EXPECT_EQ(EngineCodeOf([&] { files.FieldByName("size").SetAsLargeInt(1); }), 10007);
    EXPECT_EQ(EngineCodeOf([&] { files.Post(); }), 10030);
}

TEST_F(TableTest, AppendPostWithNothingSetStoresNullsAndTheAutoIncrement) {
    TCRVTable files(Database);
    CreateFiles(files);
    files.Append();
    files.Post();
    files.Append();
    files.FieldByName("fnhash").SetAsString(""); // empty text is NULL
    files.Post();
    files.SetIndexName("");
    files.First();
    for (std::int64_t n = 1; n <= 2; ++n, files.Next()) {
        ASSERT_FALSE(files.Eof());
        EXPECT_TRUE(files.FieldByName("fnhash").IsNull());
        EXPECT_EQ(files.FieldByName("fnhash").AsString(), "");
        EXPECT_TRUE(files.FieldByName("size").IsNull());
        EXPECT_EQ(files.FieldByName("size").AsLargeInt(), 0);
        EXPECT_FALSE(files.FieldByName("flag").AsBoolean());
        EXPECT_TRUE(std::holds_alternative<std::monostate>(files.FieldByName("stamp").Value()));
        EXPECT_EQ(files.FieldByName("n").AsLargeInt(), n);
    }
    EXPECT_EQ(files.RecordCount(), 2);
}

TEST_F(TableTest, ValuesReadBackExactly) {
    TCRVTable files(Database);
    CreateFiles(files);
    const double stamp = CRVEncodeDateTime(2024, 2, 29, 13, 45, 10, 500);
    const std::string longText(40, 'x');
    const std::string body(5000, 'm');
    files.Append();
    files.FieldByName("fnhash").SetAsString(longText);
    files.FieldByName("size").SetAsLargeInt(-(std::int64_t{1} << 40));
    files.FieldByName("stamp").SetAsDateTime(stamp);
    files.FieldByName("flag").SetAsBoolean(true);
    files.FieldByName("body").SetAsString(body);
    files.Post();
    files.Close();
    Database.Close();

    files.Open();
    files.First();
    EXPECT_EQ(files.FieldByName("fnhash").AsString(), std::string(32, 'x')) << "cut to the field size";
    EXPECT_EQ(files.FieldByName("size").AsLargeInt(), -(std::int64_t{1} << 40));
    EXPECT_EQ(files.FieldByName("stamp").AsString(), "2024-02-29 13:45:10.500");
    EXPECT_EQ(DateTimeToCRVDateTime(files.FieldByName("stamp").AsDateTime()).Time,
              DateTimeToCRVDateTime(stamp).Time);
    EXPECT_TRUE(files.FieldByName("flag").AsBoolean());
    EXPECT_EQ(files.FieldByName("body").AsString(), body);
}

TEST_F(TableTest, EditPostWithoutChangesRewritesTheRowAndLeavesTheIndexUntouched) {
    TCRVTable files(Database);
    CreateFiles(files);
    for (int i = 0; i < 20; ++i)
        AddRow(files, "H" + std::to_string(i), i);
    files.First();
    const TCRVPageNo root = files.TableIndexDefs()[0].RootPageNo;
    const TCRVPageNo recordPage = files.Bookmark().RecordID.PageNo;
    const std::int32_t rootState = PageState(root);
    const std::int32_t recordState = PageState(recordPage);
    files.Edit();
    files.Post();
    EXPECT_EQ(PageState(root), rootState);
    EXPECT_NE(PageState(recordPage), recordState);

    files.Edit();
    files.FieldByName("fnhash").SetAsString("ZZ");
    files.Post();
    EXPECT_NE(PageState(root), rootState) << "a key change does reach the index";
    files.Last();
    EXPECT_EQ(files.FieldByName("fnhash").AsString(), "ZZ");
}

TEST_F(TableTest, FirstEditPostInsertsOnAnEmptyTableAndChangesTheFirstRowOtherwise) {
    TCRVTable files(Database);
    CreateFiles(files);
    files.First();
    files.Edit();
    EXPECT_EQ(files.State(), TCRVDataSetState::dsInsert);
    files.FieldByName("fnhash").SetAsString("M");
    files.FieldByName("size").SetAsLargeInt(1);
    files.Post();
    EXPECT_EQ(files.RecordCount(), 1);
    AddRow(files, "B", 2);
    files.First();
    files.Edit();
    EXPECT_EQ(files.State(), TCRVDataSetState::dsEdit);
    files.FieldByName("size").SetAsLargeInt(20);
    files.Post();
    EXPECT_EQ(files.RecordCount(), 2);
    EXPECT_EQ(Sizes(files), (std::vector<std::int64_t>{20, 1}));
}

TEST_F(TableTest, NavigationInIndexAndPhysicalOrderAndDelete) {
    TCRVTable files(Database);
    CreateFiles(files);
    const char* keys[] = {"D", "B", "E", "A", "C"};
    for (int i = 0; i < 5; ++i)
        AddRow(files, keys[i], i);
    EXPECT_EQ(Sizes(files), (std::vector<std::int64_t>{3, 1, 4, 0, 2}));
    files.Last();
    EXPECT_TRUE(files.Eof());
    EXPECT_EQ(files.FieldByName("fnhash").AsString(), "E");
    files.Prior();
    EXPECT_EQ(files.FieldByName("fnhash").AsString(), "D");
    files.First();
    files.Prior();
    EXPECT_TRUE(files.Bof());
    EXPECT_EQ(files.FieldByName("fnhash").AsString(), "A");

    files.Next(); // B
    files.SetIndexName("");
    EXPECT_EQ(files.FieldByName("fnhash").AsString(), "B") << "switching the index keeps the row";
    files.Next();
    EXPECT_EQ(files.FieldByName("fnhash").AsString(), "E") << "and goes on in the new order";
    files.SetIndexName("index");
    files.Prior();
    EXPECT_EQ(files.FieldByName("fnhash").AsString(), "D");
    files.Prior();
    files.Prior();
    ASSERT_EQ(files.FieldByName("fnhash").AsString(), "B");
    files.Delete();
    EXPECT_EQ(files.FieldByName("fnhash").AsString(), "C") << "the next row becomes current";
    files.Last();
    files.Delete();
    EXPECT_EQ(files.FieldByName("fnhash").AsString(), "D") << "deleting the last shows the new last";

    files.SetIndexName("");
    EXPECT_EQ(Sizes(files), (std::vector<std::int64_t>{0, 3, 4}));
    EXPECT_EQ(files.RecordCount(), 3);
    EXPECT_EQ(EngineCodeOf([&] { files.SetIndexName("nosuch"); }), 10325);
}

TEST_F(TableTest, CreateTableOverAnExistingNameReplacesIt) {
    TCRVTable files(Database);
    CreateFiles(files);
    AddRow(files, "A", 1);
    files.Close();
    files.FieldDefs = {{.Name = "other", .Type = TCRVAdvancedFieldType::aftInteger}};
    files.IndexDefs.clear();
    files.SetIndexName("");
    files.CreateTable();
    files.Open();
    EXPECT_EQ(files.RecordCount(), 0);
    EXPECT_EQ(files.Fields().size(), 1u);
    EXPECT_NE(files.FindField("other"), nullptr);
    EXPECT_EQ(Database.GetTableNames(), std::vector<std::string>{"files"});
}

TEST_F(TableTest, EmptyTableOnAClosedTable) {
    TCRVTable files(Database);
    CreateFiles(files);
    EXPECT_THROW(files.EmptyTable(), EDatabaseError) << "the table is open";
    auto fill = [&] {
        for (int i = 0; i < 300; ++i)
            AddRow(files, "H" + std::to_string(i), i);
    };
    fill();
    files.Close();
    const auto filled = std::filesystem::file_size(FPath);
    files.EmptyTable();
    EXPECT_LT(std::filesystem::file_size(FPath), filled) << "trailing free pages are cut off";
    files.Open();
    EXPECT_EQ(files.RecordCount(), 0);
    EXPECT_TRUE(files.IsEmpty());
    EXPECT_NE(files.FindField("body"), nullptr) << "definitions kept";
    fill();
    files.SetIndexName("");
    files.First();
    EXPECT_EQ(files.FieldByName("n").AsLargeInt(), 1) << "auto-increment restarted";
    files.Close();
    // Emptying and refilling again reuses the same pages: the file stays as it is.
    const auto refilled = std::filesystem::file_size(FPath);
    files.EmptyTable();
    files.Open();
    fill();
    files.Close();
    EXPECT_LE(std::filesystem::file_size(FPath), refilled);
}

TEST_F(TableTest, EmptyTableWhileAnotherComponentHasTheTableOpenFails) {
    TCRVTable files(Database);
    CreateFiles(files);
    AddRow(files, "A", 1);
    TCRVTable other(Database, "files");
    EXPECT_EQ(EngineCodeOf([&] { other.EmptyTable(); }), 20242);
    EXPECT_EQ(files.RecordCount(), 1);
    TCRVTable missing(Database, "nosuch");
    EXPECT_EQ(EngineCodeOf([&] { missing.EmptyTable(); }), 20133);
    EXPECT_EQ(EngineCodeOf([&] { missing.Open(); }), 30396);
}

TEST_F(TableTest, ConstraintViolationsEndThePostWithMinus8AndWriteNothing) {
    using A = TCRVAdvancedFieldType;
    TCRVTable table(Database, "checked");
    table.FieldDefs = {
        {.Name = "code", .Type = A::aftString, .Size = 10, .Required = true},
        {.Name = "level", .Type = A::aftInteger, .MinValue = std::int64_t{1}, .MaxValue = std::int64_t{5}}};
    table.IndexDefs = {{.Name = "pk", .Columns = {{.FieldName = "code"}}, .Primary = true}};
    table.CreateTable();
    table.Open();
    table.Append();
    table.FieldByName("code").SetAsString("a");
    table.FieldByName("level").SetAsInteger(3);
    table.Post();
    const auto before = std::filesystem::file_size(FPath);

    struct TCase {
        const char* Code;
        std::int32_t Level;
        const char* Message;
    } cases[] = {{"", 3, "cannot be null"},
                 {"b", 0, "cannot be lower than '1'"},
                 {"b", 6, "cannot be greater than '5'"},
                 {"a", 2, "Primary Key constraint 'C_PK$code' violated"}};
    for (const TCase& c : cases) {
        table.Append();
        table.FieldByName("code").SetAsString(c.Code);
        table.FieldByName("level").SetAsInteger(c.Level);
        try {
            table.Post();
            ADD_FAILURE() << c.Message;
        } catch (const ECRVEngineError& e) {
            EXPECT_EQ(e.ErrorCode(), -8);
            EXPECT_NE(std::string(e.what()).find(c.Message), std::string::npos) << e.what();
            EXPECT_EQ(std::string(e.what()).rfind("Corvista Engine Error # -8 ", 0), 0u) << e.what();
        }
        EXPECT_EQ(table.State(), TCRVDataSetState::dsInsert) << "a failed post stays in insert";
        table.Cancel();
    }
    EXPECT_EQ(table.RecordCount(), 1);
    EXPECT_EQ(std::filesystem::file_size(FPath), before);
    table.Close();
    Database.Close();
    table.Open();
    EXPECT_EQ(table.RecordCount(), 1);
}

TEST_F(TableTest, ReopeningTheFileShowsEveryPostedRow) {
    {
        TCRVTable files(Database);
        CreateFiles(files);
        for (int i = 0; i < 1000; ++i)
            AddRow(files, "H" + std::to_string(i), i);
        files.First();
        files.Edit();
        files.FieldByName("size").SetAsLargeInt(-1);
        files.Post();
    }
    Database.Close();
    TCRVDatabase again;
    again.SetDatabaseFileName(FPath);
    TCRVTable files(again, "files");
    files.Open();
    EXPECT_EQ(files.RecordCount(), 1000);
    const auto sizes = Sizes(files);
    ASSERT_EQ(sizes.size(), 1000u);
    EXPECT_EQ(sizes[0], -1);
    for (std::size_t i = 1; i < sizes.size(); ++i)
        EXPECT_EQ(sizes[i], static_cast<std::int64_t>(i));
    files.SetIndexName("index");
    EXPECT_EQ(Sizes(files).size(), 1000u) << "the index, grown past its root, is found again";
    files.SetKey();
    files.FieldByName("fnhash").SetAsString("H777");
    ASSERT_TRUE(files.GotoKey());
    EXPECT_EQ(files.FieldByName("size").AsLargeInt(), 777);
}
