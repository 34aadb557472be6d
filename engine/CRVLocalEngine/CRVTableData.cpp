#include "CRVLocalEngine/CRVTableData.h"

#include "CRVExcept/CRVExcept.h"
#include "CRVLocalEngine/CRVFieldValue.h"
#include "CRVTypes/CRVText.h"

#include <random>

namespace {

constexpr std::int32_t KLockSlotSize = 12;
constexpr std::uint8_t KMetadataCompression = 1; // zlib
constexpr std::uint8_t KMetadataLevel = 1;

std::string RandomFreeName(const TCRVConstraintDefs& defs, const std::string& base) {
    if (!const_cast<TCRVConstraintDefs&>(defs).GetConstraintDefByName(base))
        return base;
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> draw(0, 65534);
    for (;;) {
        std::string name = base + std::to_string(draw(random));
        if (!const_cast<TCRVConstraintDefs&>(defs).GetConstraintDefByName(name))
            return name;
    }
}

// Names, table, object ids and column ids of a new table's constraints.
void PrepareConstraints(TCRVDiskDatabaseData& database, const std::string& tableName, std::int32_t tableID,
                        const TCRVFieldDefs& fields, const TCRVIndexDefs& indexes, TCRVConstraintDefs& defs) {
    for (std::int32_t i = 0; i < defs.Count(); ++i) {
        TCRVConstraintDef& def = defs[i];
        const auto type = def.ConstraintType();
        if (type != TCRVConstraintType::ctPK && type != TCRVConstraintType::ctUnique &&
            type != TCRVConstraintType::ctNotNull && type != TCRVConstraintType::ctCheck)
            CRVRaise(30040);
        def.ObjectID = database.GetNewObjectId();
        def.TableName = tableName;
        def.TableObjectID = tableID;
        if (auto* column = dynamic_cast<TCRVConstraintDefColumn*>(&def)) {
            if (def.Name.empty()) {
                const char* kind = type == TCRVConstraintType::ctNotNull ? "C_NotNull" : "C_Check";
                def.Name = RandomFreeName(defs, "$" + std::string(kind) + "$" + tableName + "$" +
                                                    column->ColumnName);
            }
            if (const TCRVFieldDef* field = fields.GetFieldDefByName(column->ColumnName))
                column->ColumnObjectID = field->ObjectID;
        } else if (auto* index = dynamic_cast<TCRVConstraintDefIndex*>(&def)) {
            if (def.Name.empty())
                CRVRaise(30038);
            if (const TCRVIndexDef* found = indexes.GetIndexDefByName(index->IndexName))
                index->IndexObjectID = found->ObjectID;
            for (TCRVConstraintColumn& c : index->Columns)
                if (const TCRVFieldDef* field = fields.GetFieldDefByName(c.ColumnName))
                    c.ColumnObjectID = field->ObjectID;
        }
    }
}

// The changed BLOB values of a row being posted. Storing a value releases its cache, so a post
// that fails after that would leave the row referring to a value the cancelled changes never
// stored, and the value itself gone. Restore puts the row back as it was before the post, with
// every such value in a fresh modified cache, so the caller may post again or cancel.
class TPendingBlobValues {
public:
    TPendingBlobValues(TCRVDiskBlobManager& blobs, const TCRVFieldDefs& fields,
                       std::span<const std::byte> record)
        : FBlobs(blobs) {
        if (!blobs.BlobFieldsPresent())
            return;
        for (std::int32_t f = 0; f < fields.Count(); ++f)
            if (IsBLOBFieldType(fields[f].BaseFieldType))
                if (const TCRVDiskBLOBCache* cache = blobs.AttachedCache(record, f); cache && cache->Modified)
                    FValues.push_back({f, *cache});
        if (!FValues.empty())
            FRow.assign(record.begin(), record.end());
    }
    void Restore(std::span<std::byte> record) {
        if (FValues.empty())
            return;
        std::copy(FRow.begin(), FRow.end(), record.begin());
        for (const auto& [fieldNo, value] : FValues)
            if (!FBlobs.AttachedCache(record, fieldNo)) // released when it was stored
                FBlobs.SetDirectBlobInfoFromRecordBuffer(record, fieldNo, value.BlobData, value.NumBlocks,
                                                         value.UncompressedSize);
    }

private:
    TCRVDiskBlobManager& FBlobs;
    std::vector<std::pair<std::int32_t, TCRVDiskBLOBCache>> FValues;
    std::vector<std::byte> FRow;
};

} // namespace

TCRVTableData::TCRVTableData(TCRVDiskDatabaseData& database, const TCRVTableListEntry& entry)
    : LDatabase(database), FEntry(entry), FMetadataFile(database.PageManager(), ptTableMetaData),
      FCountersFile(database.PageManager(), ptTableMostUpdated) {
    TCRVDatabaseLock lock(LDatabase);
    FMetadataFile.OpenFile(entry.MetaDataFilePageNo);
    FCountersFile.OpenFile(entry.MostUpdatedFilePageNo);
    LoadMetadata();
    ReadCounters(KCRVSystemSessionID);
}

TCRVTableData::~TCRVTableData() = default;

void TCRVTableData::LoadMetadata() {
    const std::vector<std::uint8_t> bytes = FMetadataFile.ReadAll(KCRVSystemSessionID);
    TCRVMemoryStream stream(bytes);
    FFieldManager.LoadMetadata(stream);
    FFieldManager.TableID = FEntry.TableID;
    TCRVMetadataReader reader(stream);
    FIndexDefs.LoadFromStream(reader);
    FConstraintDefs.LoadFromStream(reader);
    FData = std::make_unique<TCRVDiskTableData>(LDatabase.PageManager(), FEntry.TableID, FEntry.TableName,
                                                FFieldManager.FieldDefs());
    FData->InitRecordSizes();
    FData->LoadMetadata(stream);
    FIndexManager = std::make_unique<TCRVBaseIndexManager>(LDatabase.PageManager(), FIndexDefs,
                                                           FFieldManager.FieldDefs(), *this);
    FIndexManager->OpenAllIndexes();
}

void TCRVTableData::WriteMetadata(TCRVSessionID sessionID) {
    TCRVMemoryStream stream;
    FFieldManager.SaveMetadata(stream);
    TCRVMetadataWriter writer(stream);
    FIndexDefs.SaveToStream(writer);
    FConstraintDefs.SaveToStream(writer);
    FData->SaveMetadata(stream);
    const auto bytes = stream.Bytes();
    FMetadataFile.WriteFile(sessionID, bytes.data(), static_cast<std::int32_t>(bytes.size()),
                            KMetadataCompression, KMetadataLevel);
}

void TCRVTableData::ReadCounters(TCRVSessionID sessionID) {
    const std::vector<std::uint8_t> bytes = FCountersFile.ReadAll(sessionID);
    std::size_t offset = 0;
    FFieldManager.LoadMostUpdated(bytes, offset);
    if (!FData->RecordManager().LoadMostUpdated(bytes, offset))
        CRVRaise(30416);
}

void TCRVTableData::WriteCounters(TCRVSessionID sessionID) {
    std::vector<std::uint8_t> bytes;
    std::size_t offset = 0;
    FFieldManager.SaveMostUpdated(bytes, offset);
    FData->RecordManager().SaveMostUpdated(bytes, offset);
    FCountersFile.WriteFile(sessionID, bytes.data(), static_cast<std::int32_t>(offset));
}

void TCRVTableData::Finish(TCRVSessionID sessionID, bool inTransaction) {
    if (!inTransaction)
        LDatabase.Commit(sessionID, false);
}

void TCRVTableData::Undo(TCRVSessionID sessionID) noexcept {
    try {
        LDatabase.PageManager().CancelChanges(sessionID);
        ReadCounters(sessionID);
    } catch (...) {
        // The counters could not be read back; the next change reads them again.
    }
}

// --- Creating and deleting ---

void TCRVTableData::CreateTable(TCRVDiskDatabaseData& database, const std::string& tableName,
                                TCRVTableDefinition definition) {
    TCRVDatabaseLock lock(database);
    if (definition.Fields.Count() == 0)
        CRVRaise(20128);
    const std::int32_t tableID = database.GetNewObjectId();
    database.LockTables();
    try {
        BuildStorage(database, tableName, definition, tableID);
    } catch (...) {
        database.Rollback(KCRVSystemSessionID);
        database.UnlockTables();
        throw;
    }
    database.UnlockTables();
}

void TCRVTableData::BuildStorage(TCRVDiskDatabaseData& database, const std::string& tableName,
                                 TCRVTableDefinition& definition, std::int32_t tableID) {
    constexpr TCRVSessionID sid = KCRVSystemSessionID;
    TCRVDiskPageManager& pages = database.PageManager();
    TCRVInternalDBDirectAccessFile lockFile(pages, ptTableLocks);
    const TCRVPageNo locksPage = lockFile.CreateFile(sid, database.MaxSessionCount() * KLockSlotSize);
    lockFile.CloseFile();

    TCRVTableListEntry entry{tableName, tableID, KCRVNoPage, KCRVNoPage, locksPage};
    auto table = std::unique_ptr<TCRVTableData>(new TCRVTableData(database, entry, definition));
    table->FMetadataFile.CreateFile(sid);
    table->FCountersFile.CreateFile(sid);
    table->FEntry.MetaDataFilePageNo = table->FMetadataFile.StartPageNo();
    table->FEntry.MostUpdatedFilePageNo = table->FCountersFile.StartPageNo();
    PrepareConstraints(database, tableName, tableID, table->FieldDefs(), table->FIndexDefs,
                       table->FConstraintDefs);
    table->WriteCounters(sid);
    table->FData->CreateStorage(sid);
    for (std::int32_t i = 0; i < table->FIndexDefs.Count(); ++i)
        table->FIndexManager->CreateIndex(sid, table->FIndexDefs[i].ObjectID);
    table->WriteMetadata(sid);
    database.AddTable(sid, tableID, tableName, table->FEntry.MetaDataFilePageNo,
                      table->FEntry.MostUpdatedFilePageNo, locksPage);
    database.Commit(sid, false);
}

// A new table's object from its definitions (ids given here); nothing is read from the file.
TCRVTableData::TCRVTableData(TCRVDiskDatabaseData& database, const TCRVTableListEntry& entry,
                             TCRVTableDefinition& definition)
    : LDatabase(database), FEntry(entry), FMetadataFile(database.PageManager(), ptTableMetaData),
      FCountersFile(database.PageManager(), ptTableMostUpdated) {
    for (std::int32_t i = 0; i < definition.Fields.Count(); ++i)
        definition.Fields[i].ObjectID = database.GetNewObjectId();
    definition.Fields.RecalcFieldOffsets();
    FFieldManager = TCRVBaseFieldManager(definition.Fields);
    FFieldManager.TableID = entry.TableID;
    FFieldManager.InitLastAutoIncValues();
    FIndexDefs = definition.Indexes;
    for (std::int32_t i = 0; i < FIndexDefs.Count(); ++i)
        FIndexDefs[i].ObjectID = database.GetNewObjectId();
    FConstraintDefs = definition.Constraints;
    FData = std::make_unique<TCRVDiskTableData>(LDatabase.PageManager(), entry.TableID, entry.TableName,
                                                FFieldManager.FieldDefs());
    FData->InitRecordSizes();
    FIndexManager = std::make_unique<TCRVBaseIndexManager>(LDatabase.PageManager(), FIndexDefs,
                                                           FFieldManager.FieldDefs(), *this);
}

void TCRVTableData::DeleteTable(TCRVDiskDatabaseData& database, const std::string& tableName) {
    TCRVDatabaseLock lock(database);
    constexpr TCRVSessionID sid = KCRVSystemSessionID;
    const TCRVTableListEntry entry = database.OpenTable(tableName);
    database.LockTables();
    try {
        {
            TCRVTableData table(database, entry);
            for (std::int32_t i = 0; i < table.FIndexDefs.Count(); ++i)
                table.FIndexManager->DropIndex(sid, table.FIndexDefs[i].ObjectID);
            table.FData->BlobManager().Delete(sid, table.FData->RecordManager());
            table.FData->RecordManager().Delete(sid);
            table.FMetadataFile.DeleteFile(sid);
            table.FCountersFile.DeleteFile(sid);
        }
        TCRVInternalDBDirectAccessFile lockFile(database.PageManager(), ptTableLocks);
        lockFile.OpenFile(entry.LocksFilePageNo);
        lockFile.DeleteFile(sid);
        database.RemoveTable(sid, entry.TableName);
        database.Commit(sid, false);
    } catch (...) {
        database.Rollback(sid);
        database.UnlockTables();
        throw;
    }
    database.UnlockTables();
}

// --- Reading ---

std::int64_t TCRVTableData::RecordCount() {
    TCRVDatabaseLock lock(LDatabase);
    return FData->RecordManager().RecordCount();
}

void TCRVTableData::InitRecord(std::span<std::byte> record, bool applyDefaults) const {
    FieldDefs().Layout().InitNewRecord(record);
    if (applyDefaults)
        FFieldManager.ApplyDefaultValuesToRecordBuffer(record);
}

TCRVGetRecordResult TCRVTableData::FetchPhysical(TCRVSessionID sessionID, TCRVNavigationInfo& info) {
    TCRVDatabaseLock lock(LDatabase);
    FData->RecordManager().GetRecordBuffer(sessionID, info);
    return info.GetRecordResult;
}

TCRVGetRecordResult TCRVTableData::FetchIndexed(TCRVSessionID sessionID, std::int32_t indexID,
                                                TCRVGetRecordMode mode, TCRVIndexCursor& cursor) {
    TCRVDatabaseLock lock(LDatabase);
    return FIndexManager->GetRecordBuffer(sessionID, indexID, mode, cursor);
}

bool TCRVTableData::FindKey(TCRVSessionID sessionID, std::int32_t indexID, const std::byte* keyRecord,
                            TCRVRecordID& recordID) {
    TCRVDatabaseLock lock(LDatabase);
    TCRVBTreeRecordIndex& index = FIndexManager->OpenIndex(indexID);
    TCRVKeyPath path;
    return index.FindRecord(sessionID, keyRecord, recordID, path);
}

bool TCRVTableData::ReadMemoryRecord(TCRVSessionID sessionID, const TCRVRecordID& recordID,
                                     std::vector<std::byte>& record) {
    TCRVDatabaseLock lock(LDatabase);
    record.resize(static_cast<std::size_t>(RecordSize()));
    TCRVNavigationInfo info;
    info.GetRecordMode = grmCurrent;
    info.RecordID = recordID;
    info.RecordBuffer = record;
    FData->RecordManager().GetRecordBuffer(sessionID, info);
    return info.GetRecordResult == grrOK;
}

// --- Constraints ---

void TCRVTableData::CheckFieldConstraint(const TCRVConstraintDefColumn& constraint,
                                         std::span<const std::byte> record) const {
    const TCRVFieldDef* field = FieldDefs().GetFieldDefByName(constraint.ColumnName);
    if (!field)
        return;
    const bool isNull = CheckNullFlag(field->FieldNoReference, record);
    if (constraint.ConstraintType() == TCRVConstraintType::ctNotNull) {
        if (isNull)
            CRVRaise(30026, constraint.Name, field->Name);
        return;
    }
    const auto& check = static_cast<const TCRVConstraintDefCheck&>(constraint);
    if (isNull)
        return;
    const TCRVValue value = CRVGetFieldValue(*field, record);
    if (!check.MinValue.IsNull) {
        const TCRVValue min = CRVVariantValue(check.MinValue);
        if (CRVCompareValues(value, min) < 0)
            CRVRaise(30029, constraint.Name, field->Name, CRVValueToText(min));
    }
    if (!check.MaxValue.IsNull) {
        const TCRVValue max = CRVVariantValue(check.MaxValue);
        if (CRVCompareValues(value, max) > 0)
            CRVRaise(30030, constraint.Name, field->Name, CRVValueToText(max));
    }
}

void TCRVTableData::RaiseDuplicate(const TCRVIndexDef& index) const {
    for (std::int32_t i = 0; i < FConstraintDefs.Count(); ++i) {
        const auto* def = dynamic_cast<const TCRVConstraintDefIndex*>(&FConstraintDefs[i]);
        if (def && CRVSameName(def->IndexName, index.Name)) {
            if (def->ConstraintType() == TCRVConstraintType::ctPK)
                CRVRaise(30319, def->Name);
            CRVRaise(30320, def->Name);
        }
    }
    CRVRaise(index.Primary ? 30319 : 30320, index.Name);
}

void TCRVTableData::CheckConstraints(TCRVSessionID sessionID, const std::byte* oldRecord,
                                     std::span<const std::byte> record) {
    for (std::int32_t i = 0; i < FConstraintDefs.Count(); ++i)
        if (const auto* column = dynamic_cast<const TCRVConstraintDefColumn*>(&FConstraintDefs[i]))
            CheckFieldConstraint(*column, record);
    const TCRVIndexDef* duplicate =
        oldRecord ? FIndexManager->FindDuplicateOnUpdate(sessionID, oldRecord, record.data())
                  : FIndexManager->FindDuplicate(sessionID, record.data());
    if (duplicate)
        RaiseDuplicate(*duplicate);
}

// --- Changes ---

TCRVChangeOutcome TCRVTableData::InsertRecord(TCRVAutoincSession& session, TCRVSessionID sessionID,
                                              std::span<std::byte> record, TCRVRecordID& recordID,
                                              bool inTransaction) {
    TCRVDatabaseLock lock(LDatabase);
    try {
        ReadCounters(sessionID);
        FFieldManager.ApplyAutoincsToRecordBuffer(session, record);
        CheckConstraints(sessionID, nullptr, record);
    } catch (const std::exception& e) {
        Undo(sessionID);
        return {-8, e.what()};
    }
    TPendingBlobValues blobs(FData->BlobManager(), FieldDefs(), record);
    try {
        TCRVRecordID id{KCRVNoPage, 0xFFFF};
        if (!FData->InsertRecord(sessionID, record, id)) {
            Undo(sessionID);
            blobs.Restore(record);
            return {-1, {}};
        }
        FIndexManager->InsertRecord(sessionID, record.data(), id);
        WriteCounters(sessionID);
        Finish(sessionID, inTransaction);
        recordID = id;
    } catch (...) {
        Undo(sessionID);
        blobs.Restore(record);
        throw;
    }
    return {};
}

TCRVChangeOutcome TCRVTableData::UpdateRecord(TCRVSessionID sessionID, std::span<const std::byte> editCopy,
                                              std::span<std::byte> record, const TCRVRecordID& recordID,
                                              bool inTransaction) {
    TCRVDatabaseLock lock(LDatabase);
    std::vector<std::byte> stored;
    try {
        ReadCounters(sessionID);
        CheckConstraints(sessionID, editCopy.data(), record);
    } catch (const std::exception& e) {
        Undo(sessionID);
        return {-8, e.what()};
    }
    if (!ReadMemoryRecord(sessionID, recordID, stored))
        return {-6, {}};
    if (!FFieldManager.CompareRecordBuffers(stored, editCopy))
        return {-4, {}};
    TPendingBlobValues blobs(FData->BlobManager(), FieldDefs(), record);
    try {
        FIndexManager->UpdateRecord(sessionID, stored.data(), record.data(), recordID, true);
        if (!FData->UpdateRecord(sessionID, record, recordID)) {
            Undo(sessionID);
            blobs.Restore(record);
            return {-2, {}};
        }
        FIndexManager->UpdateRecord(sessionID, stored.data(), record.data(), recordID, false);
        WriteCounters(sessionID);
        Finish(sessionID, inTransaction);
    } catch (...) {
        Undo(sessionID);
        blobs.Restore(record);
        throw;
    }
    return {};
}

TCRVChangeOutcome TCRVTableData::DeleteRecord(TCRVSessionID sessionID, std::span<const std::byte> shownRecord,
                                              const TCRVRecordID& recordID, bool inTransaction) {
    TCRVDatabaseLock lock(LDatabase);
    std::vector<std::byte> stored;
    if (!ReadMemoryRecord(sessionID, recordID, stored))
        return {-7, {}};
    if (!FFieldManager.CompareRecordBuffers(stored, shownRecord))
        return {-5, {}};
    try {
        ReadCounters(sessionID);
        FIndexManager->DeleteRecord(sessionID, stored.data(), recordID);
        if (!FData->DeleteRecord(sessionID, recordID)) {
            Undo(sessionID);
            return {-3, {}};
        }
        WriteCounters(sessionID);
        Finish(sessionID, inTransaction);
    } catch (...) {
        Undo(sessionID);
        throw;
    }
    return {};
}

void TCRVTableData::EmptyTable(TCRVSessionID sessionID, bool inTransaction) {
    TCRVDatabaseLock lock(LDatabase);
    try {
        FFieldManager.InitLastAutoIncValues();
        FIndexManager->EmptyAllIndexes(sessionID);
        FData->EmptyTable(sessionID);
        WriteCounters(sessionID);
        Finish(sessionID, inTransaction);
    } catch (...) {
        Undo(sessionID);
        throw;
    }
    if (!inTransaction)
        LDatabase.TruncateDatabase();
}

// --- BLOBs ---

std::unique_ptr<TCRVBlobFieldStream> TCRVTableData::CreateBlobStream(TCRVSessionID sessionID,
                                                                     std::span<std::byte> record,
                                                                     std::int32_t fieldNo,
                                                                     TCRVBLOBOpenMode mode) {
    TCRVDatabaseLock lock(LDatabase);
    return FData->InternalCreateBlobStream(sessionID, record, fieldNo, mode);
}

void TCRVTableData::ReleaseBlobCaches(std::span<std::byte> record) {
    TCRVDatabaseLock lock(LDatabase);
    if (FFieldManager.BlobFieldsPresent())
        FData->BlobManager().ClearBlobsInRecordBuffer(record, true);
}

void TCRVTableData::ReleaseBlobCache(std::span<std::byte> record, std::int32_t fieldNo, bool force) {
    TCRVDatabaseLock lock(LDatabase);
    FData->BlobManager().ClearBlobInRecordBuffer(record, fieldNo, force);
}
