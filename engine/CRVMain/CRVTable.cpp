#include "CRVMain/CRVTable.h"

#include "CRVExcept/CRVExcept.h"

#include <algorithm>
#include <cctype>

TCRVTable::TCRVTable(TCRVDatabase& database, std::string tableName)
    : TableName(std::move(tableName)), LDatabase(database) {}

TCRVTable::~TCRVTable() {
    try {
        Close();
    } catch (...) {
        // Closing releases the cursor whatever happens.
    }
    LDatabase.DetachDataSet(*this);
}

void TCRVTable::CheckTableName() const {
    const bool blank =
        std::all_of(TableName.begin(), TableName.end(), [](unsigned char c) { return std::isspace(c) != 0; });
    if (blank)
        throw EDatabaseError("Missing TableName property");
}

std::unique_ptr<TCRVLocalCursor> TCRVTable::CreateCursor() {
    CheckTableName();
    LDatabase.Open();
    auto cursor = std::make_unique<TCRVLocalCursor>(LDatabase.Handle(), TableName,
                                                    ReadOnly || LDatabase.ReadOnly, Exclusive);
    cursor->SetIndexName(FIndexName);
    LDatabase.AttachDataSet(*this);
    return cursor;
}

void TCRVTable::AfterCursorClosed() {
    LDatabase.DetachDataSet(*this);
}

void TCRVTable::SetIndexName(const std::string& indexName) {
    if (!Active()) {
        FIndexName = indexName;
        return;
    }
    CheckBrowseMode();
    Cursor().SetIndexName(indexName);
    FIndexName = indexName;
    Resync();
}

std::int32_t TCRVTable::IndexFieldCount() {
    if (!Active())
        return 0;
    const TCRVIndexDef* index = Cursor().ActiveIndex();
    return index ? index->ColumnCount() : 0;
}

const TCRVFieldDefs& TCRVTable::TableFieldDefs() {
    return Cursor().Table().FieldDefs();
}

const TCRVIndexDefs& TCRVTable::TableIndexDefs() {
    return Cursor().Table().IndexDefs();
}

const TCRVConstraintDefs& TCRVTable::TableConstraintDefs() {
    return Cursor().Table().ConstraintDefs();
}

bool TCRVTable::Exists() {
    LDatabase.Open();
    return LDatabase.Handle().DatabaseData().TableExists(TableName);
}

void TCRVTable::CreateTable() {
    CheckBrowseOrInactive("CreateTable");
    CheckTableName();
    LDatabase.Open();
    TCRVLocalSession& handle = LDatabase.Handle();
    if (handle.InTransaction())
        CRVRaise(20182, "CreateTable");
    TCRVTableDefinition definition = CRVBuildTableDefinition(TableName, FieldDefs, IndexDefs, Temporary);
    TCRVDiskDatabaseData& data = handle.DatabaseData();
    TCRVDatabaseLock lock(data);
    if (handle.FindOpenTable(TableName))
        CRVRaise(20242, TableName);
    if (data.TableExists(TableName))
        TCRVTableData::DeleteTable(data, TableName);
    TCRVTableData::CreateTable(data, TableName, std::move(definition));
}

void TCRVTable::DeleteTable() {
    CheckBrowseOrInactive("DeleteTable");
    CheckTableName();
    LDatabase.Open();
    TCRVLocalSession& handle = LDatabase.Handle();
    TCRVDiskDatabaseData& data = handle.DatabaseData();
    TCRVDatabaseLock lock(data);
    if (!data.TableExists(TableName))
        CRVRaise(20133, TableName);
    if (handle.FindOpenTable(TableName))
        CRVRaise(20242, TableName);
    TCRVTableData::DeleteTable(data, TableName);
}

void TCRVTable::EmptyTable() {
    CheckBrowseOrInactive("EmptyTable");
    CheckTableName();
    LDatabase.Open();
    TCRVLocalSession& handle = LDatabase.Handle();
    if (!handle.DatabaseData().TableExists(TableName))
        CRVRaise(20133, TableName);
    TCRVLocalCursor cursor(handle, TableName, false, true);
    cursor.Open();
    cursor.Table().EmptyTable(handle.SessionID(), handle.InTransaction());
}
