// TCRVTableData: the table object, one per open table per database object, shared by every
// cursor on that table. It owns the table's definitions (field, index and constraint
// definitions), its managers (field, index, record and BLOB managers) and its three internal
// files (lock file, metadata file, counters file), and carries out each row change as one
// all-or-nothing step:
//
//   insert   counters re-read, auto-increments filled, constraints checked (outcome -8), BLOBs,
//            record and every index written, counters file written, changes applied to the file
//   update   constraints checked (-8), the stored row compared with the copy taken at Edit
//            (gone -6, changed -4), indexes (delete phase), BLOBs and record (-2), indexes
//            (insert phase), counters file, changes applied
//   delete   stored row compared (gone -7, changed -5), indexes, BLOBs and record (-3), counters
//   empty    auto-increments restarted, indexes, BLOBs and records emptied, counters written
//
// A step that fails gives up the session's pending page changes and re-reads the counters file,
// so the file and the table object are both as they were before the step.
//
// The metadata file holds, zlib-compressed at level 1: the field definitions, the index
// definitions, the constraint definitions, then the record manager's and the BLOB manager's
// parts. The counters file holds the field manager's counters, then the record manager's.
//
// Threads: every public member takes the database object's lock (re-entrant), so all tables of
// one database are served one operation at a time.
#pragma once

#include "CRVBTree/CRVBaseIndexManager.h"
#include "CRVBase/CRVBaseFieldManager.h"
#include "CRVBase/CRVTableDefinition.h"
#include "CRVBaseEngine/CRVDiskTableData.h"
#include "CRVDiskEngine/CRVDiskDatabaseData.h"
#include "CRVDiskEngine/CRVInternalFile.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

// Holds the database object's re-entrant lock for a scope.
class TCRVDatabaseLock {
public:
    explicit TCRVDatabaseLock(TCRVDatabaseData& database) : FDatabase(database) { FDatabase.Lock(); }
    ~TCRVDatabaseLock() { FDatabase.Unlock(); }
    TCRVDatabaseLock(const TCRVDatabaseLock&) = delete;
    TCRVDatabaseLock& operator=(const TCRVDatabaseLock&) = delete;

private:
    TCRVDatabaseData& FDatabase;
};

// Outcome of a row change: 0, or the engine error code -1 .. -13 with the cause's text for -8.
struct TCRVChangeOutcome {
    int Code = 0;
    std::string Message;
};

class TCRVTableData final : public TCRVIndexRecordSource {
public:
    // Opens the stored table of that table-list entry: loads the metadata and the counters.
    TCRVTableData(TCRVDiskDatabaseData& database, const TCRVTableListEntry& entry);
    ~TCRVTableData() override;
    TCRVTableData(const TCRVTableData&) = delete;
    TCRVTableData& operator=(const TCRVTableData&) = delete;

    // Builds a new table in the file from its definitions, in the system session, and applies
    // the changes (20128 without fields, 30040 for a foreign-key or unknown constraint, 20174
    // when no row fits a page). A failure leaves the file as it was.
    static void CreateTable(TCRVDiskDatabaseData& database, const std::string& tableName,
                            TCRVTableDefinition definition);
    // Deletes the table's rows, indexes, BLOBs and files and its table-list entry, and applies
    // the changes. The table must not be open.
    static void DeleteTable(TCRVDiskDatabaseData& database, const std::string& tableName);

    TCRVDiskDatabaseData& Database() { return LDatabase; }
    const std::string& TableName() const { return FEntry.TableName; }
    std::int32_t TableID() const { return FEntry.TableID; }
    const TCRVFieldDefs& FieldDefs() const { return FFieldManager.FieldDefs(); }
    const TCRVIndexDefs& IndexDefs() const { return FIndexDefs; }
    const TCRVConstraintDefs& ConstraintDefs() const { return FConstraintDefs; }
    // The managers, for the integrity check (REQUIRES the database object's lock).
    TCRVDiskTableData& Data() { return *FData; }
    TCRVBaseIndexManager& IndexManager() { return *FIndexManager; }
    std::int32_t RecordSize() const { return FieldDefs().GetMemoryRecordBufferSize(); }
    std::int64_t RecordCount();

    // A fresh memory record: every field NULL, data zero, and the defaults when asked for.
    void InitRecord(std::span<std::byte> record, bool applyDefaults) const;

    // Fetches in physical order (indexID -1) or in an index's order.
    TCRVGetRecordResult FetchPhysical(TCRVSessionID sessionID, TCRVNavigationInfo& info);
    TCRVGetRecordResult FetchIndexed(TCRVSessionID sessionID, std::int32_t indexID, TCRVGetRecordMode mode,
                                     TCRVIndexCursor& cursor);
    // The first row in the index's order whose key parts equal those of keyRecord.
    bool FindKey(TCRVSessionID sessionID, std::int32_t indexID, const std::byte* keyRecord,
                 TCRVRecordID& recordID);
    bool ReadMemoryRecord(TCRVSessionID sessionID, const TCRVRecordID& recordID,
                          std::vector<std::byte>& record) override;

    TCRVChangeOutcome InsertRecord(TCRVAutoincSession& session, TCRVSessionID sessionID,
                                   std::span<std::byte> record, TCRVRecordID& recordID, bool inTransaction);
    TCRVChangeOutcome UpdateRecord(TCRVSessionID sessionID, std::span<const std::byte> editCopy,
                                   std::span<std::byte> record, const TCRVRecordID& recordID,
                                   bool inTransaction);
    TCRVChangeOutcome DeleteRecord(TCRVSessionID sessionID, std::span<const std::byte> shownRecord,
                                   const TCRVRecordID& recordID, bool inTransaction);
    void EmptyTable(TCRVSessionID sessionID, bool inTransaction);

    // A stream over a BLOB field of a record buffer (Part of the dataset's BLOB streams).
    std::unique_ptr<TCRVBlobFieldStream> CreateBlobStream(TCRVSessionID sessionID,
                                                          std::span<std::byte> record, std::int32_t fieldNo,
                                                          TCRVBLOBOpenMode mode);
    // Releases every BLOB cache attached to a record buffer.
    void ReleaseBlobCaches(std::span<std::byte> record);
    // Releases one field's cache; a modified one only with `force`.
    void ReleaseBlobCache(std::span<std::byte> record, std::int32_t fieldNo, bool force);

    // Cursor bookkeeping (REQUIRES the database lock, held by the table-data list).
    int CursorCount = 0;
    bool OpenedExclusive = false;

private:
    // A new table's object from its definitions; nothing is read from the file.
    TCRVTableData(TCRVDiskDatabaseData& database, const TCRVTableListEntry& entry,
                  TCRVTableDefinition& definition);
    static void BuildStorage(TCRVDiskDatabaseData& database, const std::string& tableName,
                             TCRVTableDefinition& definition, std::int32_t tableID);
    void LoadMetadata();
    void WriteMetadata(TCRVSessionID sessionID);
    void ReadCounters(TCRVSessionID sessionID);
    void WriteCounters(TCRVSessionID sessionID);
    // Applies the changes unless inside a transaction.
    void Finish(TCRVSessionID sessionID, bool inTransaction);
    // Gives up the pending changes and re-reads the counters (never throws).
    void Undo(TCRVSessionID sessionID) noexcept;
    // Not-null, check, unique and primary key; raises the violation. oldRecord is null for
    // an insert.
    void CheckConstraints(TCRVSessionID sessionID, const std::byte* oldRecord,
                          std::span<const std::byte> record);
    void CheckFieldConstraint(const TCRVConstraintDefColumn& constraint,
                              std::span<const std::byte> record) const;
    [[noreturn]] void RaiseDuplicate(const TCRVIndexDef& index) const;

    TCRVDiskDatabaseData& LDatabase;
    TCRVTableListEntry FEntry;
    TCRVInternalDBTransactedAccessFile FMetadataFile;
    TCRVInternalDBTransactedAccessFile FCountersFile;
    TCRVBaseFieldManager FFieldManager;
    TCRVIndexDefs FIndexDefs;
    TCRVConstraintDefs FConstraintDefs;
    std::unique_ptr<TCRVDiskTableData> FData;
    std::unique_ptr<TCRVBaseIndexManager> FIndexManager;
};
