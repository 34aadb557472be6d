#include "CRVBTree/CRVBTreeRecordIndex.h"

#include "CRVExcept/CRVExcept.h"

#include <cstring>

namespace {

// Restores a key reference's compare state (all parts, whole values) on every path.
class TCompareStateGuard {
public:
    explicit TCompareStateGuard(TCRVRecordKeyRef& keyRef) : FKeyRef(keyRef) {}
    ~TCompareStateGuard() { FKeyRef.ResetCompareState(); }
    TCompareStateGuard(const TCompareStateGuard&) = delete;
    TCompareStateGuard& operator=(const TCompareStateGuard&) = delete;

private:
    TCRVRecordKeyRef& FKeyRef;
};

} // namespace

TCRVBTreeRecordIndex::TCRVBTreeRecordIndex(TCRVPageManager& pageManager, TCRVIndexDef& indexDef,
                                           const TCRVFieldDefs& fieldDefs,
                                           TCRVIndexRecordSource& recordSource,
                                           std::shared_ptr<const TCRVCollation> collation)
    : FIndexDef(&indexDef), FRecordSource(recordSource), FKeyRef(std::move(collation)),
      FTree(pageManager, FKeyRef, indexDef.RootPageNo) {
    FKeyRef.Assign(indexDef.Columns, fieldDefs);
    FKeyRef.SetRecordSource(&recordSource);
}

TCRVBTreeKey TCRVBTreeRecordIndex::KeyOf(const std::vector<std::uint8_t>& shortKey,
                                         const TCRVRecordID* recordID, const std::byte* record) const {
    return TCRVBTreeKey{shortKey.data(), reinterpret_cast<const std::uint8_t*>(recordID), record};
}

// --- Life of the index ---

void TCRVBTreeRecordIndex::CreateIndex(TCRVSessionID sessionID, const TCRVIndexRowSource& rows) {
    FIndexDef->RootPageNo = FTree.CreateRoot(sessionID);
    if (!rows)
        return;
    TCRVRecordID recordID{};
    std::vector<std::byte> record;
    while (rows(recordID, record))
        InsertRecord(sessionID, record.data(), recordID);
}

void TCRVBTreeRecordIndex::DropIndex(TCRVSessionID sessionID) {
    FTree.Drop(sessionID);
    FIndexDef->RootPageNo = KCRVNoPage;
}

void TCRVBTreeRecordIndex::EmptyIndex(TCRVSessionID sessionID) {
    FTree.Empty(sessionID);
}

void TCRVBTreeRecordIndex::OpenIndex() {
    FTree.SetRootPageNo(FIndexDef->RootPageNo);
}

// --- Positions ---

bool TCRVBTreeRecordIndex::GetIndexPosition(TCRVSessionID sessionID, const TCRVRecordID& recordID,
                                            const std::byte* record, TCRVKeyPath& keyPath) const {
    const std::vector<std::uint8_t> key = FKeyRef.MakeShortKey(record);
    return FTree.FindEntry(sessionID, KeyOf(key, &recordID, record), keyPath);
}

std::int64_t TCRVBTreeRecordIndex::GetRecNoByRecordID(TCRVSessionID sessionID, const TCRVRecordID& recordID,
                                                      const std::byte* record) const {
    TCRVKeyPath path;
    if (!GetIndexPosition(sessionID, recordID, record, path))
        return -1;
    return FTree.GetRecNo(sessionID, path);
}

bool TCRVBTreeRecordIndex::GetRecordIDByRecNo(TCRVSessionID sessionID, std::int64_t recNo,
                                              TCRVRecordID& recordID) const {
    std::vector<std::uint8_t> reference;
    if (!FTree.GetReferenceByRecNo(sessionID, recNo, reference))
        return false;
    std::memcpy(&recordID, reference.data(), sizeof recordID);
    return true;
}

TCRVRecordID TCRVBTreeRecordIndex::RecordIDAt(TCRVSessionID sessionID, const TCRVKeyPath& keyPath) const {
    const std::vector<std::uint8_t> reference = FTree.EntryReferenceAt(sessionID, keyPath);
    TCRVRecordID id;
    std::memcpy(&id, reference.data(), sizeof id);
    return id;
}

int TCRVBTreeRecordIndex::CompareRecordBuffersByIndex(const std::byte* record1, const std::byte* record2,
                                                      int partCount) const {
    const TCompareStateGuard guard(FKeyRef);
    if (partCount >= 0 && partCount < FKeyRef.CompareFieldCount)
        FKeyRef.CompareFieldCount = partCount;
    const std::vector<std::uint8_t> a = FKeyRef.MakeFullKey(record1), b = FKeyRef.MakeFullKey(record2);
    return FKeyRef.CompareFullKeys(a.data(), b.data());
}

// --- Changes ---

bool TCRVBTreeRecordIndex::CanInsertRecord(TCRVSessionID sessionID, const std::byte* record) const {
    if (!FIndexDef->Unique && !FIndexDef->Primary)
        return true;
    const std::vector<std::uint8_t> key = FKeyRef.MakeShortKey(record);
    TCRVKeyPath path;
    return !FTree.FindByCondition(sessionID, true, path, scEqual, KeyOf(key, nullptr, record));
}

bool TCRVBTreeRecordIndex::CanUpdateRecord(TCRVSessionID sessionID, const std::byte* oldRecord,
                                           const std::byte* newRecord) const {
    if (CompareRecordBuffersByIndex(oldRecord, newRecord) == 0)
        return true;
    return CanInsertRecord(sessionID, newRecord);
}

void TCRVBTreeRecordIndex::InsertRecord(TCRVSessionID sessionID, const std::byte* record,
                                        const TCRVRecordID& recordID) {
    const std::vector<std::uint8_t> key = FKeyRef.MakeShortKey(record);
    FTree.InsertLeafEntry(sessionID, KeyOf(key, &recordID, record));
}

void TCRVBTreeRecordIndex::DeleteRecord(TCRVSessionID sessionID, const std::byte* record,
                                        const TCRVRecordID& recordID) {
    const std::vector<std::uint8_t> key = FKeyRef.MakeShortKey(record);
    if (!FTree.DeleteLeafEntry(sessionID, KeyOf(key, &recordID, record)))
        CRVRaise(20027);
}

void TCRVBTreeRecordIndex::UpdateRecord(TCRVSessionID sessionID, const std::byte* oldRecord,
                                        const std::byte* newRecord, const TCRVRecordID& recordID,
                                        bool deletePhase) {
    if (CompareRecordBuffersByIndex(oldRecord, newRecord) == 0)
        return;
    if (deletePhase) {
        const std::vector<std::uint8_t> key = FKeyRef.MakeShortKey(oldRecord);
        if (!FTree.DeleteLeafEntry(sessionID, KeyOf(key, &recordID, oldRecord)))
            CRVRaise(20250);
    } else {
        InsertRecord(sessionID, newRecord, recordID);
    }
}

// --- Searches and fetching ---

bool TCRVBTreeRecordIndex::FindRecord(TCRVSessionID sessionID, const std::byte* keyRecord,
                                      TCRVRecordID& recordID, TCRVKeyPath& keyPath, int partCount,
                                      const std::vector<std::ptrdiff_t>& compareLengths) const {
    const TCompareStateGuard guard(FKeyRef);
    if (partCount >= 0 && partCount < FKeyRef.CompareFieldCount)
        FKeyRef.CompareFieldCount = partCount;
    for (std::size_t i = 0; i < compareLengths.size() && i < FKeyRef.CompareLengths.size(); ++i)
        FKeyRef.CompareLengths[i] = compareLengths[i];
    const std::vector<std::uint8_t> key = FKeyRef.MakeShortKey(keyRecord);
    if (!FTree.FindByCondition(sessionID, true, keyPath, scEqual, KeyOf(key, nullptr, keyRecord)))
        return false;
    recordID = RecordIDAt(sessionID, keyPath);
    return true;
}

bool TCRVBTreeRecordIndex::LocateCurrent(TCRVSessionID sessionID, const TCRVIndexCursor& cursor,
                                         TCRVKeyPath& keyPath) const {
    const TCRVIndexPositionCache& cache = cursor.PositionCache;
    if (cache.Valid && cache.IndexID == FIndexDef->ObjectID &&
        CompareRecordID(cache.RecordID, cursor.RecordID) == 0 && cache.ViewState == cursor.ViewState &&
        cache.TableState == FIndexDef->TableState) {
        keyPath = cache.KeyPath;
        return true;
    }
    if (cursor.RecordBuffer.size() < static_cast<std::size_t>(FKeyRef.RecordSize()))
        return false;
    return GetIndexPosition(sessionID, cursor.RecordID, cursor.RecordBuffer.data(), keyPath);
}

TCRVGetRecordResult TCRVBTreeRecordIndex::GetRecordBuffer(TCRVSessionID sessionID, TCRVGetRecordMode mode,
                                                          TCRVIndexCursor& cursor) const {
    if (mode == grmCurrent)
        CRVRaise(20053);
    const bool forward = mode == grmNext;
    TCRVKeyPath path;
    bool moved;
    if (cursor.OnBeginningCrack || cursor.OnEndCrack) {
        const bool fromStart = cursor.OnBeginningCrack;
        if (fromStart != forward)
            moved = false; // prior from the beginning, next from the end
        else
            moved =
                forward ? FTree.GetFirstPosition(sessionID, path) : FTree.GetLastPosition(sessionID, path);
    } else {
        if (!LocateCurrent(sessionID, cursor, path))
            return grrError;
        moved = forward ? FTree.GetNextPosition(sessionID, path) : FTree.GetPriorPosition(sessionID, path);
    }
    if (!moved) {
        cursor.OnEndCrack = forward;
        cursor.OnBeginningCrack = !forward;
        cursor.PositionCache.Clear();
        return forward ? grrEOF : grrBOF;
    }
    const TCRVRecordID id = RecordIDAt(sessionID, path);
    if (!FRecordSource.ReadMemoryRecord(sessionID, id, cursor.RecordBuffer))
        return grrError;
    cursor.RecordID = id;
    cursor.OnBeginningCrack = cursor.OnEndCrack = false;
    cursor.PositionCache =
        TCRVIndexPositionCache{true, FIndexDef->ObjectID, id, cursor.ViewState, FIndexDef->TableState, path};
    return grrOK;
}

int TCRVBTreeRecordIndex::GetMaxEntriesPerPage() const {
    return FTree.PageManager().PageDataSize() / (FKeyRef.ShortKeySize + 4);
}
