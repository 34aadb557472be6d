// A database file in the temporary folder for the table tests, with a "files"-shaped table.
#pragma once

#include "CRVDiskEngine/CRVDiskTestUtil.h"
#include "CRVMain/CRVTable.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

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
    explicit CRVDatabaseFixture(std::string password = {}) : FPath(FDir.File("db.crv")) {
        Database.SetDatabaseFileName(FPath);
        Database.Password = std::move(password);
        Database.CreateDatabase();
    }
    ~CRVDatabaseFixture() override { Database.Close(); }
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

    crvtest::TTempDir FDir;
    std::string FPath;
    TCRVDatabase Database;
};
