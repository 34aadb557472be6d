// TCRVLocalCursor: one per open table component. It carries the current row (its record id and
// memory record), the active index and the cursor's place on the cracks before the first and
// after the last row, and turns dataset requests into table-object operations:
//
//   Open / Close        the table object is acquired from the database's list / released
//   SetIndexName        "" = physical order; 10325 for a name the table lacks
//   InternalFirst/Last  to the crack before the first / after the last row
//   GetRecord           the next, prior or current row in the active order (OK, BOF, EOF)
//   GotoKey             the first row in index order whose key equals the key record; on no
//                       match the cursor stays where it was
//   Insert/Update/DeleteRecord   raise ECRVEngineError for a non-zero outcome
//
// Threads: a cursor serves one thread at a time; the table object below it is shared and takes
// the database object's lock.
#pragma once

#include "CRVLocalEngine/CRVLocalSession.h"
#include "CRVLocalEngine/CRVTableData.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

class TCRVLocalCursor {
public:
    TCRVLocalCursor(TCRVLocalSession& session, std::string tableName, bool readOnly, bool exclusive);
    ~TCRVLocalCursor();
    TCRVLocalCursor(const TCRVLocalCursor&) = delete;
    TCRVLocalCursor& operator=(const TCRVLocalCursor&) = delete;

    // 30396 when the file has no such table, 20242 when exclusive use is not possible.
    void Open();
    void Close() noexcept;
    bool Active() const { return FTable != nullptr; }
    TCRVTableData& Table();
    TCRVLocalSession& Session() { return LSession; }
    const std::string& TableName() const { return FTableName; }
    bool ReadOnly() const { return FReadOnly || LSession.ReadOnly(); }

    void SetIndexName(const std::string& indexName);
    const std::string& IndexName() const { return FIndexName; }
    std::int32_t IndexID() const { return FIndexID; }
    // The active index, nullptr in physical order.
    const TCRVIndexDef* ActiveIndex();

    void InternalFirst();
    void InternalLast();
    bool FirstPosition() const { return FPosition.OnBeginningCrack; }
    bool LastPosition() const { return FPosition.OnEndCrack; }
    const TCRVRecordID& CurrentRecordID() const { return FPosition.RecordID; }
    TCRVGetRecordResult GetRecord(std::span<std::byte> record, TCRVGetRecordMode mode);
    // Makes a row current (after a post or a search).
    void SetToRecord(const TCRVRecordID& recordID, std::span<const std::byte> record);
    bool GotoKey(std::span<const std::byte> keyRecord, std::span<std::byte> record);

    // The cursor's whole place, to restore it after a failed move.
    TCRVIndexCursor SavePosition() const { return FPosition; }
    void RestorePosition(TCRVIndexCursor position) { FPosition = std::move(position); }

    void InsertRecord(std::span<std::byte> record);
    void UpdateRecord(std::span<const std::byte> editCopy, std::span<std::byte> record);
    void DeleteRecord(std::span<const std::byte> shownRecord);
    std::int64_t RecordCount();

private:
    void CheckActive() const;
    void Raise(const TCRVChangeOutcome& outcome) const;

    TCRVLocalSession& LSession;
    std::string FTableName;
    bool FReadOnly;
    bool FExclusive;
    TCRVTableData* FTable = nullptr;
    std::string FIndexName;
    std::int32_t FIndexID = -1;
    TCRVIndexCursor FPosition;
};
