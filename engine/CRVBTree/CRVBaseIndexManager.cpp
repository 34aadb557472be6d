#include "CRVBTree/CRVBaseIndexManager.h"

#include "CRVExcept/CRVExcept.h"

#include <algorithm>

TCRVBaseIndexManager::TCRVBaseIndexManager(TCRVPageManager& pageManager, TCRVIndexDefs& indexDefs,
                                           const TCRVFieldDefs& fieldDefs,
                                           TCRVIndexRecordSource& recordSource,
                                           std::shared_ptr<const TCRVCollation> collation)
    : FPageManager(pageManager), FIndexDefs(indexDefs), FFieldDefs(fieldDefs), FRecordSource(recordSource),
      FCollation(collation ? std::move(collation) : std::make_shared<const TCRVCollation>()) {}

TCRVIndexDef& TCRVBaseIndexManager::DefByID(std::int32_t indexID) {
    for (std::int32_t i = 0; i < FIndexDefs.Count(); ++i)
        if (FIndexDefs[i].ObjectID == indexID)
            return FIndexDefs[i];
    CRVRaise(20044);
}

TCRVBTreeRecordIndex* TCRVBaseIndexManager::FindOpenIndex(std::int32_t indexID) {
    for (const TOpenIndex& open : FIndexes)
        if (open.IndexID == indexID) {
            open.Index->SetIndexDef(DefByID(indexID));
            return open.Index.get();
        }
    return nullptr;
}

TCRVBTreeRecordIndex& TCRVBaseIndexManager::Open(std::int32_t indexID) {
    if (TCRVBTreeRecordIndex* open = FindOpenIndex(indexID))
        return *open;
    FIndexes.push_back(
        TOpenIndex{indexID, std::make_unique<TCRVBTreeRecordIndex>(FPageManager, DefByID(indexID), FFieldDefs,
                                                                   FRecordSource, FCollation)});
    return *FIndexes.back().Index;
}

TCRVBTreeRecordIndex& TCRVBaseIndexManager::CreateIndex(TCRVSessionID sessionID, std::int32_t indexID,
                                                        const TCRVIndexRowSource& rows) {
    TCRVBTreeRecordIndex& index = Open(indexID);
    index.CreateIndex(sessionID, rows);
    return index;
}

TCRVBTreeRecordIndex& TCRVBaseIndexManager::OpenIndex(std::int32_t indexID) {
    TCRVBTreeRecordIndex& index = Open(indexID);
    index.OpenIndex();
    return index;
}

void TCRVBaseIndexManager::OpenAllIndexes() {
    for (std::int32_t i = 0; i < FIndexDefs.Count(); ++i)
        OpenIndex(FIndexDefs[i].ObjectID);
}

void TCRVBaseIndexManager::CloseIndex(std::int32_t indexID) {
    std::erase_if(FIndexes, [&](const TOpenIndex& open) { return open.IndexID == indexID; });
}

void TCRVBaseIndexManager::DropIndex(TCRVSessionID sessionID, std::int32_t indexID) {
    Open(indexID).DropIndex(sessionID);
    CloseIndex(indexID);
}

void TCRVBaseIndexManager::EmptyIndex(TCRVSessionID sessionID, std::int32_t indexID) {
    Open(indexID).EmptyIndex(sessionID);
}

template <typename F> void TCRVBaseIndexManager::ForEachIndex(F&& f) {
    for (std::int32_t i = 0; i < FIndexDefs.Count(); ++i)
        if (TCRVBTreeRecordIndex* index = FindOpenIndex(FIndexDefs[i].ObjectID))
            f(*index);
}

void TCRVBaseIndexManager::EmptyAllIndexes(TCRVSessionID sessionID) {
    ForEachIndex([&](TCRVBTreeRecordIndex& index) { index.EmptyIndex(sessionID); });
}

const TCRVIndexDef* TCRVBaseIndexManager::FindDuplicate(TCRVSessionID sessionID, const std::byte* record) {
    const TCRVIndexDef* duplicate = nullptr;
    ForEachIndex([&](TCRVBTreeRecordIndex& index) {
        if (!duplicate && !index.CanInsertRecord(sessionID, record))
            duplicate = &index.IndexDef();
    });
    return duplicate;
}

const TCRVIndexDef* TCRVBaseIndexManager::FindDuplicateOnUpdate(TCRVSessionID sessionID,
                                                                const std::byte* oldRecord,
                                                                const std::byte* newRecord) {
    const TCRVIndexDef* duplicate = nullptr;
    ForEachIndex([&](TCRVBTreeRecordIndex& index) {
        if (!duplicate && !index.CanUpdateRecord(sessionID, oldRecord, newRecord))
            duplicate = &index.IndexDef();
    });
    return duplicate;
}

void TCRVBaseIndexManager::InsertRecord(TCRVSessionID sessionID, const std::byte* record,
                                        const TCRVRecordID& recordID) {
    ForEachIndex([&](TCRVBTreeRecordIndex& index) {
        index.InsertRecord(sessionID, record, recordID);
        ++index.IndexDef().TableState;
    });
}

void TCRVBaseIndexManager::UpdateRecord(TCRVSessionID sessionID, const std::byte* oldRecord,
                                        const std::byte* newRecord, const TCRVRecordID& recordID,
                                        bool deletePhase) {
    ForEachIndex([&](TCRVBTreeRecordIndex& index) {
        index.UpdateRecord(sessionID, oldRecord, newRecord, recordID, deletePhase);
        ++index.IndexDef().TableState;
    });
}

void TCRVBaseIndexManager::DeleteRecord(TCRVSessionID sessionID, const std::byte* record,
                                        const TCRVRecordID& recordID) {
    ForEachIndex([&](TCRVBTreeRecordIndex& index) {
        index.DeleteRecord(sessionID, record, recordID);
        ++index.IndexDef().TableState;
    });
}

TCRVGetRecordResult TCRVBaseIndexManager::GetRecordBuffer(TCRVSessionID sessionID, std::int32_t indexID,
                                                          TCRVGetRecordMode mode, TCRVIndexCursor& cursor) {
    TCRVBTreeRecordIndex* index = FindOpenIndex(indexID);
    if (!index)
        CRVRaise(20044);
    return index->GetRecordBuffer(sessionID, mode, cursor);
}
