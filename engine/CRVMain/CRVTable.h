// TCRVTable: the table component, a dataset over one table of a database component.
//
//   Open / Close         opens the database when needed, then the table (30396 for a table the
//                        file lacks, 10325 for an IndexName the table lacks, 20242 when exclusive
//                        use is not possible)
//   SetIndexName         "" = physical order; on an open table a pending edit is posted first and
//                        the current row stays current
//   CreateTable          the component must be closed; builds the table from FieldDefs and
//                        IndexDefs (corrections, checks and implied constraints of
//                        CRVBuildTableDefinition), replacing a table of the same name
//   EmptyTable           the component must be closed; deletes every row through a temporary
//                        exclusive cursor (20242 while another component has the table open)
//   DeleteTable          the component must be closed; removes the table from the file
//
// Every successful Post, Delete, CreateTable and EmptyTable is applied to the file when it
// returns. A failed Post, Delete or EmptyTable writes nothing; a CreateTable over an existing
// name that fails after the old table was deleted leaves it deleted, and object ids handed out
// stay used.
//
// Use:
//   TCRVDatabase db;                         // outlives its tables
//   db.SetDatabaseFileName("tessora.crv");
//   db.Password = "...";
//   TCRVTable files(db, "files");
//   files.SetIndexName("index");
//   files.Open();
//   files.SetKey();
//   files.FieldByName("fnhash").SetAsString(hash);
//   if (files.GotoKey()) { files.Edit(); files.FieldByName("size").SetAsLargeInt(n); files.Post(); }
//   files.Append(); ...; files.Post();       // ECRVEngineError (-1 .. -13) when refused
//   for (files.First(); !files.Eof(); files.Next()) ...
#pragma once

#include "CRVBase/CRVTableDefinition.h"
#include "CRVMain/CRVDataSet.h"
#include "CRVMain/CRVDatabase.h"

#include <string>
#include <vector>

class TCRVTable : public TCRVDataSet {
public:
    explicit TCRVTable(TCRVDatabase& database, std::string tableName = {});
    ~TCRVTable() override;

    std::string TableName;
    bool Exclusive = false;
    bool Temporary = false;
    // The declarations CreateTable builds the table from.
    std::vector<TCRVFieldDeclaration> FieldDefs;
    std::vector<TCRVIndexDeclaration> IndexDefs;

    TCRVDatabase& Database() { return LDatabase; }
    const std::string& IndexName() const { return FIndexName; }
    void SetIndexName(const std::string& indexName);
    // The active index's column count (0 in physical order).
    std::int32_t IndexFieldCount();

    // The open table's stored definitions.
    const TCRVFieldDefs& TableFieldDefs();
    const TCRVIndexDefs& TableIndexDefs();
    const TCRVConstraintDefs& TableConstraintDefs();

    void CreateTable();
    void EmptyTable();
    void DeleteTable();
    // True when the database file holds a table of this name.
    bool Exists();

protected:
    std::unique_ptr<TCRVLocalCursor> CreateCursor() override;
    void AfterCursorClosed() override;

private:
    void CheckTableName() const;

    TCRVDatabase& LDatabase;
    std::string FIndexName;
};
