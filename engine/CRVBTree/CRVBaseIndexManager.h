// TCRVBaseIndexManager: the row indexes of one open table.
//
// It holds the table's index definitions (owned by the table) and one open index object per
// definition, found by the definition's ObjectID. A row insert, update (each phase) or delete
// visits every open index in definition order and then increases that definition's TableState,
// which also invalidates the position caches of cursors on it.
//
// Threads: REQUIRES the table's data lock.
#pragma once

#include "CRVBTree/CRVBTreeRecordIndex.h"
#include "CRVBase/CRVIndexDef.h"

#include <cstdint>
#include <memory>
#include <vector>

class TCRVBaseIndexManager {
public:
    TCRVBaseIndexManager(TCRVPageManager& pageManager, TCRVIndexDefs& indexDefs,
                         const TCRVFieldDefs& fieldDefs, TCRVIndexRecordSource& recordSource,
                         std::shared_ptr<const TCRVCollation> collation = {});

    // Builds the index of the definition with that id (its root in the definition), inserting the
    // given rows; the index is then open.
    TCRVBTreeRecordIndex& CreateIndex(TCRVSessionID sessionID, std::int32_t indexID,
                                      const TCRVIndexRowSource& rows = {});
    // Opens the stored index of that definition (or every definition).
    TCRVBTreeRecordIndex& OpenIndex(std::int32_t indexID);
    void OpenAllIndexes();
    void CloseIndex(std::int32_t indexID);
    // Frees every page of the index and closes it; the definition's root becomes -1.
    void DropIndex(TCRVSessionID sessionID, std::int32_t indexID);
    void EmptyIndex(TCRVSessionID sessionID, std::int32_t indexID);
    void EmptyAllIndexes(TCRVSessionID sessionID);
    // nullptr when no index with that id is open.
    TCRVBTreeRecordIndex* FindOpenIndex(std::int32_t indexID);

    // The first unique or primary index (in definition order) that already holds the record's
    // key, or nullptr when every index accepts the row.
    const TCRVIndexDef* FindDuplicate(TCRVSessionID sessionID, const std::byte* record);
    // The same for an update from oldRecord to newRecord.
    const TCRVIndexDef* FindDuplicateOnUpdate(TCRVSessionID sessionID, const std::byte* oldRecord,
                                              const std::byte* newRecord);

    void InsertRecord(TCRVSessionID sessionID, const std::byte* record, const TCRVRecordID& recordID);
    void UpdateRecord(TCRVSessionID sessionID, const std::byte* oldRecord, const std::byte* newRecord,
                      const TCRVRecordID& recordID, bool deletePhase);
    void DeleteRecord(TCRVSessionID sessionID, const std::byte* record, const TCRVRecordID& recordID);
    // The next or prior row in the order of that index.
    TCRVGetRecordResult GetRecordBuffer(TCRVSessionID sessionID, std::int32_t indexID, TCRVGetRecordMode mode,
                                        TCRVIndexCursor& cursor);

private:
    TCRVIndexDef& DefByID(std::int32_t indexID);
    TCRVBTreeRecordIndex& Open(std::int32_t indexID);
    // Calls f(index) for every open index in definition order, re-pointing each to its definition.
    template <typename F> void ForEachIndex(F&& f);

    TCRVPageManager& FPageManager;
    TCRVIndexDefs& FIndexDefs;
    const TCRVFieldDefs& FFieldDefs;
    TCRVIndexRecordSource& FRecordSource;
    std::shared_ptr<const TCRVCollation> FCollation;
    // Kept with its id: the definition list may move, so an index's own pointer to its
    // definition is re-pointed before every use and never read for the lookup.
    struct TOpenIndex {
        std::int32_t IndexID;
        std::unique_ptr<TCRVBTreeRecordIndex> Index;
    };
    std::vector<TOpenIndex> FIndexes;
};
