// TCRVBTreeRecordIndex: one row index of a table, a B+tree whose leaf entries are (short key of
// a row, record id of that row).
//
// Entries are ordered by key and then by record id, so rows with equal keys lie in physical
// order and every (key, record id) pair occurs once. Keys cut at MaxIndexedSize are told apart
// through the full-key fallback, which reads rows through the table's TCRVIndexRecordSource.
//
// A row update reaches an index twice (UpdateRecord): in the delete phase, before the record is
// rewritten, the old entry goes; in the insert phase, after it, the new one comes. When the full
// keys of the old and new record are equal, neither phase touches the index.
//
// Threads: REQUIRES the table's data lock.
#pragma once

#include "CRVBTree/CRVBTree.h"
#include "CRVBTree/CRVBTreeKeyRef.h"
#include "CRVBase/CRVFieldDef.h"
#include "CRVBase/CRVIndexDef.h"
#include "CRVTypes/CRVGetRecord.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// The key path of the last row a cursor fetched through an index, valid while the index, the
// row, the cursor's view state and the index's TableState are the same.
struct TCRVIndexPositionCache {
    bool Valid = false;
    std::int32_t IndexID = -1;
    TCRVRecordID RecordID{KCRVNoPage, 0};
    std::int64_t ViewState = 0;
    std::int32_t TableState = 0;
    TCRVKeyPath KeyPath;

    void Clear() { Valid = false; }
};

// What fetching in index order needs of a cursor: its cracks, its current row and view state.
struct TCRVIndexCursor {
    bool OnBeginningCrack = true;
    bool OnEndCrack = false;
    TCRVRecordID RecordID{KCRVNoPage, 0};
    std::vector<std::byte> RecordBuffer;
    std::int64_t ViewState = 0;
    TCRVIndexPositionCache PositionCache;
};

// Gives the rows of a table in physical order for building an index: false after the last.
using TCRVIndexRowSource = std::function<bool(TCRVRecordID& recordID, std::vector<std::byte>& record)>;

class TCRVBTreeRecordIndex {
public:
    // The definition must outlive the index (SetIndexDef re-points it when the list moves).
    TCRVBTreeRecordIndex(TCRVPageManager& pageManager, TCRVIndexDef& indexDef, const TCRVFieldDefs& fieldDefs,
                         TCRVIndexRecordSource& recordSource,
                         std::shared_ptr<const TCRVCollation> collation = {});

    TCRVIndexDef& IndexDef() const { return *FIndexDef; }
    void SetIndexDef(TCRVIndexDef& indexDef) { FIndexDef = &indexDef; }
    const TCRVRecordKeyRef& KeyRef() const { return FKeyRef; }
    const TCRVBTree& Tree() const { return FTree; }
    TCRVPageNo RootPageNo() const { return FTree.RootPageNo(); }

    // Allocates and initialises the root, stores its number in the definition and, when rows
    // are given, inserts every one of them.
    void CreateIndex(TCRVSessionID sessionID, const TCRVIndexRowSource& rows = {});
    // Frees every page, the root included (RootPageNo becomes -1).
    void DropIndex(TCRVSessionID sessionID);
    // Frees every page but the root and makes the root an empty leaf again.
    void EmptyIndex(TCRVSessionID sessionID);
    // Takes the root page number from the definition.
    void OpenIndex();

    // The entry (key of that record, that record id); false when absent.
    bool GetIndexPosition(TCRVSessionID sessionID, const TCRVRecordID& recordID, const std::byte* record,
                          TCRVKeyPath& keyPath) const;
    static int CompareRecordPositionsInIndex(const TCRVKeyPath& a, const TCRVKeyPath& b) {
        return CompareKeyPaths(a, b);
    }
    // 1-based position of the row in index order; -1 when the row is not in the index.
    std::int64_t GetRecNoByRecordID(TCRVSessionID sessionID, const TCRVRecordID& recordID,
                                    const std::byte* record) const;
    // The row at 1-based position recNo in index order; false when there is none.
    bool GetRecordIDByRecNo(TCRVSessionID sessionID, std::int64_t recNo, TCRVRecordID& recordID) const;
    // Full-key comparison of two memory records over the first partCount parts (-1: all).
    int CompareRecordBuffersByIndex(const std::byte* record1, const std::byte* record2,
                                    int partCount = -1) const;

    // False when the index is unique or primary and a row with an equal key is stored.
    bool CanInsertRecord(TCRVSessionID sessionID, const std::byte* record) const;
    // True when old and new full keys are equal, else CanInsertRecord for the new record.
    bool CanUpdateRecord(TCRVSessionID sessionID, const std::byte* oldRecord,
                         const std::byte* newRecord) const;
    void InsertRecord(TCRVSessionID sessionID, const std::byte* record, const TCRVRecordID& recordID);
    // Raises 20027 when the row's entry is missing.
    void DeleteRecord(TCRVSessionID sessionID, const std::byte* record, const TCRVRecordID& recordID);
    // One phase of a row update (20250 when the old entry is missing in the delete phase).
    void UpdateRecord(TCRVSessionID sessionID, const std::byte* oldRecord, const std::byte* newRecord,
                      const TCRVRecordID& recordID, bool deletePhase);

    // The equal-key search: the first row whose first partCount key parts (-1: all) equal those
    // of keyRecord; compareLengths, when given, limits string parts to their first n characters.
    bool FindRecord(TCRVSessionID sessionID, const std::byte* keyRecord, TCRVRecordID& recordID,
                    TCRVKeyPath& keyPath, int partCount = -1,
                    const std::vector<std::ptrdiff_t>& compareLengths = {}) const;

    // The next or prior row in index order into the cursor (grmCurrent raises 20053).
    TCRVGetRecordResult GetRecordBuffer(TCRVSessionID sessionID, TCRVGetRecordMode mode,
                                        TCRVIndexCursor& cursor) const;

    int GetMaxEntriesPerPage() const;
    TCRVBTreeIntegrityInfo CheckIntegrity(TCRVSessionID sessionID) const {
        return FTree.CheckIntegrity(sessionID);
    }

private:
    TCRVBTreeKey KeyOf(const std::vector<std::uint8_t>& shortKey, const TCRVRecordID* recordID,
                       const std::byte* record) const;
    bool LocateCurrent(TCRVSessionID sessionID, const TCRVIndexCursor& cursor, TCRVKeyPath& keyPath) const;
    TCRVRecordID RecordIDAt(TCRVSessionID sessionID, const TCRVKeyPath& keyPath) const;

    TCRVIndexDef* FIndexDef;
    TCRVIndexRecordSource& FRecordSource;
    // The compare state (part count, compare lengths) changes during a partial search only.
    mutable TCRVRecordKeyRef FKeyRef;
    TCRVBTree FTree;
};
