// The database component: passwords and their callback, the repair question, closing, names,
// and two threads on two tables of one database.
#include "CRVMain/CRVDatabase.h"

#include "CRVExcept/CRVExceptTestUtil.h"
#include "CRVMain/CRVTableTestUtil.h"

#include <filesystem>
#include <fstream>
#include <thread>

namespace {

constexpr const char* KPassword = "805lamprey947";

class EncryptedDatabaseTest : public CRVDatabaseFixture {
protected:
    EncryptedDatabaseTest() : CRVDatabaseFixture(KPassword) {}
};

} // namespace

TEST_F(EncryptedDatabaseTest, WrongPasswordAsksTheHandlerAndRetries) {
    {
        TCRVTable files(Database);
        CreateFiles(files);
        AddRow(files, "A", 7);
    }
    Database.Close();

    TCRVDatabase other;
    other.SetDatabaseFileName(FPath);
    other.Password = "wrong";
    EXPECT_EQ(CodeOf([&] { other.Open(); }), 30445) << "no handler: cancel";
    EXPECT_FALSE(other.Connected());

    int asked = 0;
    other.OnPassword = [&](TCRVDatabase& sender, bool& retry) {
        ++asked;
        retry = asked < 3;
        sender.Password = asked == 2 ? KPassword : "still wrong";
    };
    other.Open();
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(other.Connected());
    TCRVTable files(other, "files");
    files.Open();
    EXPECT_EQ(files.FieldByName("size").AsLargeInt(), 7);

    // A third component with another password while the file is open with the right one.
    TCRVDatabase third;
    third.SetDatabaseFileName(FPath);
    third.Password = "different";
    EXPECT_EQ(CodeOf([&] { third.Open(); }), 20298);

    other.Close();
    asked = 0;
    other.Password = "x";
    other.OnPassword = [&](TCRVDatabase&, bool& retry) {
        ++asked;
        retry = false;
    };
    EXPECT_EQ(CodeOf([&] { other.Open(); }), 30445) << "cancelled in the handler";
    EXPECT_EQ(asked, 1);
}

TEST_F(CRVDatabaseFixture, MissingFileAndNamesAndClosing) {
    TCRVDatabase missing;
    missing.SetDatabaseFileName(FPath + ".none");
    EXPECT_THROW(missing.Open(), EDatabaseError);

    TCRVTable files(Database);
    CreateFiles(files);
    EXPECT_EQ(Database.DataSets().size(), 1u);
    Database.Close();
    EXPECT_FALSE(files.Active()) << "closing the database closes its tables";
    files.Open();
    Database.SetDatabaseFileName(FPath);
    EXPECT_TRUE(files.Active()) << "the same name changes nothing";
    Database.SetDatabaseFileName(FPath + ".other");
    EXPECT_FALSE(files.Active());
    EXPECT_FALSE(Database.Connected());
    Database.SetDatabaseFileName(FPath);

    TCRVTable blank(Database);
    EXPECT_THROW(blank.Open(), EDatabaseError);

    TCRVSession session("S");
    TCRVDatabase named(session);
    named.DatabaseName = "Tessora";
    EXPECT_EQ(session.FindDatabase("tessora"), &named);
    EXPECT_EQ(session.FindDatabase("other"), nullptr);
}

TEST_F(CRVDatabaseFixture, AFileNotClosedCleanlyAsksOnNeedRepair) {
    {
        TCRVTable files(Database);
        CreateFiles(files);
        AddRow(files, "A", 1);
    }
    // A write-back that never finished: WriteChangesState (header byte 42) left at 1.
    std::filesystem::copy_file(FPath, FPath + ".crash", std::filesystem::copy_options::overwrite_existing);
    {
        std::fstream file(FPath + ".crash", std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(42);
        file.put(1);
    }
    TCRVDatabase crashed;
    crashed.SetDatabaseFileName(FPath + ".crash");
    int asked = 0;
    crashed.OnNeedRepair = [&](TCRVDatabase&, bool& doRepair) {
        ++asked;
        doRepair = false;
    };
    crashed.Open();
    ASSERT_TRUE(crashed.Handle().RepairNeeded()) << "the copy should need repair";
    EXPECT_EQ(asked, 1);
    TCRVTable files(crashed, "files");
    files.Open();
    EXPECT_EQ(files.RecordCount(), 1) << "answering no opens the file as it is";
    crashed.Close();

    crashed.OnNeedRepair = [](TCRVDatabase&, bool& doRepair) { doRepair = true; };
    EXPECT_EQ(CodeOf([&] { crashed.Open(); }), 30040) << "repair is not available yet";
    EXPECT_FALSE(crashed.Connected());
    std::filesystem::remove(FPath + ".crash");
}

TEST_F(EncryptedDatabaseTest, TwoThreadsOnTwoTablesOfOneDatabase) {
    {
        TCRVTable a(Database, "a");
        CRVDeclareFilesTable(a);
        a.CreateTable();
        TCRVTable b(Database, "b");
        CRVDeclareFilesTable(b);
        b.CreateTable();
    }
    constexpr int KRows = 400;
    auto work = [&](const char* name) {
        TCRVTable table(Database, name);
        table.SetIndexName("index");
        table.Open();
        for (int i = 0; i < KRows; ++i) {
            AddRow(table, name + std::to_string(i), i);
            table.SetKey();
            table.FieldByName("fnhash").SetAsString(name + std::to_string(i / 2));
            EXPECT_TRUE(table.GotoKey());
        }
    };
    std::thread first(work, "a");
    std::thread second(work, "b");
    first.join();
    second.join();
    Database.Close();
    for (const char* name : {"a", "b"}) {
        TCRVTable table(Database, name);
        table.Open();
        EXPECT_EQ(table.RecordCount(), KRows);
        std::int64_t sum = 0;
        for (table.First(); !table.Eof(); table.Next())
            sum += table.FieldByName("size").AsLargeInt();
        EXPECT_EQ(sum, std::int64_t{KRows} * (KRows - 1) / 2);
    }
}
