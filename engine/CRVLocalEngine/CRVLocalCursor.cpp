#include "CRVLocalEngine/CRVLocalCursor.h"

#include "CRVExcept/CRVExcept.h"

#include <algorithm>

TCRVLocalCursor::TCRVLocalCursor(TCRVLocalSession& session, std::string tableName, bool readOnly,
                                 bool exclusive)
    : LSession(session), FTableName(std::move(tableName)), FReadOnly(readOnly), FExclusive(exclusive) {}

TCRVLocalCursor::~TCRVLocalCursor() {
    Close();
}

void TCRVLocalCursor::Open() {
    if (FTable)
        return;
    FTable = &LSession.OpenTable(FTableName, FExclusive);
    try {
        SetIndexName(FIndexName);
    } catch (...) {
        Close();
        throw;
    }
    InternalFirst();
}

void TCRVLocalCursor::Close() noexcept {
    if (!FTable)
        return;
    FTable = nullptr;
    FPosition = TCRVIndexCursor{};
    LSession.CloseTable(FTableName);
}

void TCRVLocalCursor::CheckActive() const {
    if (!FTable)
        CRVRaise(10029);
}

TCRVTableData& TCRVLocalCursor::Table() {
    CheckActive();
    return *FTable;
}

void TCRVLocalCursor::SetIndexName(const std::string& indexName) {
    if (!FTable) {
        FIndexName = indexName;
        return;
    }
    std::int32_t id = -1;
    if (!indexName.empty()) {
        const TCRVIndexDef* def = FTable->IndexDefs().GetIndexDefByName(indexName);
        if (!def)
            CRVRaise(10325, indexName);
        id = def->ObjectID;
    }
    FIndexName = indexName;
    FIndexID = id;
    FPosition.PositionCache.Clear();
}

const TCRVIndexDef* TCRVLocalCursor::ActiveIndex() {
    if (!FTable || FIndexID < 0)
        return nullptr;
    for (const TCRVIndexDef& def : FTable->IndexDefs())
        if (def.ObjectID == FIndexID)
            return &def;
    return nullptr;
}

void TCRVLocalCursor::InternalFirst() {
    FPosition.OnBeginningCrack = true;
    FPosition.OnEndCrack = false;
    FPosition.PositionCache.Clear();
}

void TCRVLocalCursor::InternalLast() {
    FPosition.OnBeginningCrack = false;
    FPosition.OnEndCrack = true;
    FPosition.PositionCache.Clear();
}

TCRVGetRecordResult TCRVLocalCursor::GetRecord(std::span<std::byte> record, TCRVGetRecordMode mode) {
    CheckActive();
    const TCRVSessionID sid = LSession.SessionID();
    if (mode == grmCurrent) {
        if (FPosition.OnBeginningCrack || FPosition.OnEndCrack)
            return FPosition.OnBeginningCrack ? grrBOF : grrEOF;
        if (!FTable->ReadMemoryRecord(sid, FPosition.RecordID, FPosition.RecordBuffer))
            return grrError;
    } else if (FIndexID >= 0) {
        const TCRVGetRecordResult result = FTable->FetchIndexed(sid, FIndexID, mode, FPosition);
        if (result != grrOK)
            return result;
    } else {
        FPosition.RecordBuffer.resize(record.size());
        TCRVNavigationInfo info;
        info.GetRecordMode = mode;
        info.RecordID = FPosition.RecordID;
        info.RecordBuffer = FPosition.RecordBuffer;
        info.FirstPosition = FPosition.OnBeginningCrack;
        info.LastPosition = FPosition.OnEndCrack;
        const TCRVGetRecordResult result = FTable->FetchPhysical(sid, info);
        if (result == grrEOF || result == grrBOF) {
            FPosition.OnEndCrack = result == grrEOF;
            FPosition.OnBeginningCrack = result == grrBOF;
        }
        if (result != grrOK)
            return result;
        FPosition.RecordID = info.RecordID;
        FPosition.OnBeginningCrack = FPosition.OnEndCrack = false;
    }
    std::copy_n(FPosition.RecordBuffer.begin(), std::min(record.size(), FPosition.RecordBuffer.size()),
                record.begin());
    return grrOK;
}

void TCRVLocalCursor::SetToRecord(const TCRVRecordID& recordID, std::span<const std::byte> record) {
    FPosition.RecordID = recordID;
    FPosition.RecordBuffer.assign(record.begin(), record.end());
    FPosition.OnBeginningCrack = FPosition.OnEndCrack = false;
    FPosition.PositionCache.Clear();
}

bool TCRVLocalCursor::GotoKey(std::span<const std::byte> keyRecord, std::span<std::byte> record) {
    CheckActive();
    if (FIndexID < 0)
        CRVRaise(10325, FIndexName);
    TCRVRecordID id{KCRVNoPage, 0};
    const TCRVSessionID sid = LSession.SessionID();
    if (!FTable->FindKey(sid, FIndexID, keyRecord.data(), id))
        return false;
    std::vector<std::byte> row;
    if (!FTable->ReadMemoryRecord(sid, id, row))
        return false;
    SetToRecord(id, row);
    std::copy_n(row.begin(), std::min(record.size(), row.size()), record.begin());
    return true;
}

void TCRVLocalCursor::Raise(const TCRVChangeOutcome& outcome) const {
    if (outcome.Code != 0)
        CRVRaiseEngineError(outcome.Code, outcome.Message);
}

void TCRVLocalCursor::InsertRecord(std::span<std::byte> record) {
    CheckActive();
    TCRVRecordID id{KCRVNoPage, 0xFFFF};
    Raise(FTable->InsertRecord(LSession, LSession.SessionID(), record, id, LSession.InTransaction()));
    SetToRecord(id, record);
}

void TCRVLocalCursor::UpdateRecord(std::span<const std::byte> editCopy, std::span<std::byte> record) {
    CheckActive();
    Raise(FTable->UpdateRecord(LSession.SessionID(), editCopy, record, FPosition.RecordID,
                               LSession.InTransaction()));
    SetToRecord(FPosition.RecordID, record);
}

void TCRVLocalCursor::DeleteRecord(std::span<const std::byte> shownRecord) {
    CheckActive();
    Raise(FTable->DeleteRecord(LSession.SessionID(), shownRecord, FPosition.RecordID,
                               LSession.InTransaction()));
    // The deleted row stays the reference point for the next move through the record manager;
    // for index order the cursor continues from the row's former key.
    FPosition.PositionCache.Clear();
}

std::int64_t TCRVLocalCursor::RecordCount() {
    return FTable ? FTable->RecordCount() : 0;
}
