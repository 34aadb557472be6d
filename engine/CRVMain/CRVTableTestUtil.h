// A database file in the temporary folder for the table tests, with a "files"-shaped table.
#pragma once

#include "CRVMain/CRVTable.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

inline std::string CRVTestDatabasePath(const std::string& tag) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char& c : name)
        if (c == '/')
            c = '_';
    return (std::filesystem::temp_directory_path() /
            ("crvmain_" + tag + "_" + std::to_string(getpid()) + "_" + name + ".crv"))
        .string();
}

// fnhash STRING(32), n AUTOINC, size LARGEINT, stamp DATETIME, flag BOOLEAN, body MEMO;
// index "index" on fnhash.
inline void CRVDeclareFilesTable(TCRVTable& table) {
    using A = TCRVAdvancedFieldType;
    table.FieldDefs = {
        {.Name = "fnhash", .Type = A::aftString, .Size = 32},
        {.Name = "n", .Type = A::aftAutoInc},
        {.Name = "size", .Type = A::aftLargeint},
        {.Name = "stamp", .Type = A::aftDateTime},
        {.Name = "flag", .Type = A::aftBoolean},
        {.Name = "body", .Type = A::aftMemo, .BLOBCompressionAlgorithm = 1, .BLOBCompressionMode = 6}};
    table.IndexDefs = {{.Name = "index", .Columns = {{.FieldName = "fnhash"}}}};
}

class CRVDatabaseFixture : public ::testing::Test {
protected:
    explicit CRVDatabaseFixture(std::string password = {}) : FPath(CRVTestDatabasePath("db")) {
        std::filesystem::remove(FPath);
        Database.SetDatabaseFileName(FPath);
        Database.Password = std::move(password);
        Database.CreateDatabase();
    }
    ~CRVDatabaseFixture() override {
        Database.Close();
        std::filesystem::remove(FPath);
    }
    // Creates the "files" table and opens it on `table`.
    void CreateFiles(TCRVTable& table) {
        table.TableName = "files";
        CRVDeclareFilesTable(table);
        table.CreateTable();
        table.SetIndexName("index");
        table.Open();
    }
    void AddRow(TCRVTable& table, const std::string& hash, std::int64_t size) {
        table.Append();
        table.FieldByName("fnhash").SetAsString(hash);
        table.FieldByName("size").SetAsLargeInt(size);
        table.Post();
    }

    std::string FPath;
    TCRVDatabase Database;
};
