#include "CRVBaseEngine/CRVDiskTableData.h"

#include "CRVExcept/CRVExcept.h"
#include "CRVTypes/CRVRecordLayout.h"

// ---- the BLOB field stream ----

TCRVBlobFieldStream::TCRVBlobFieldStream(TCRVDiskBlobManager& blobManager, std::span<std::byte> recordBuffer,
                                         std::int32_t fieldNo, bool disableTempFiles)
    : LBlobManager(blobManager), FRecordBuffer(recordBuffer), FFieldNo(fieldNo),
      FContainer(disableTempFiles) {}

std::int64_t TCRVBlobFieldStream::Write(const void* buffer, std::int64_t count) {
    FModified = true;
    return FBlob->Write(buffer, count);
}

void TCRVBlobFieldStream::SetSize(std::int64_t newSize) {
    FModified = true;
    FBlob->SetSize(newSize);
}

void TCRVBlobFieldStream::Finish() {
    if (!FModified)
        return;
    LBlobManager.CopyBlobFromStreamToRecordBuffer(FRecordBuffer, FFieldNo, *FBlob, FContainer);
    FModified = false;
}

// ---- table data ----

TCRVDiskTableData::TCRVDiskTableData(TCRVPageManager& pageManager, std::int32_t tableID,
                                     std::string tableName, const TCRVFieldDefs& fieldDefs,
                                     const TCRVPageIndexFactory& indexFactory)
    : LFieldDefs(fieldDefs), FTableID(tableID), FTableName(std::move(tableName)),
      FRecordManager(pageManager, tableID, fieldDefs, indexFactory),
      FBlobManager(pageManager, tableID, fieldDefs, indexFactory) {}

void TCRVDiskTableData::InitRecordSizes() {
    FRecordManager.Init(LFieldDefs.GetMemoryRecordBufferSize(), LFieldDefs.GetDiskRecordBufferSize(),
                        LFieldDefs.Count());
}

void TCRVDiskTableData::CreateStorage(TCRVSessionID sessionID) {
    FRecordManager.CreateRecordPageIndex(sessionID);
    if (FBlobManager.BlobFieldsPresent())
        FBlobManager.CreateBlobPageIndex(sessionID);
}

void TCRVDiskTableData::LoadMetadata(TCRVStream& stream) {
    FRecordManager.LoadMetadata(stream);
    FBlobManager.LoadMetadata(stream);
}

void TCRVDiskTableData::SaveMetadata(TCRVStream& stream) const {
    FRecordManager.SaveMetadata(stream);
    FBlobManager.SaveMetadata(stream);
}

bool TCRVDiskTableData::InsertRecord(TCRVSessionID sessionID, std::span<std::byte> recordBuffer,
                                     TCRVRecordID& recordID) {
    FBlobManager.WriteBlobs(sessionID, recordBuffer);
    return FRecordManager.AddRecord(sessionID, recordBuffer, recordID);
}

bool TCRVDiskTableData::UpdateRecord(TCRVSessionID sessionID, std::span<std::byte> recordBuffer,
                                     const TCRVRecordID& recordID) {
    FBlobManager.WriteBlobs(sessionID, recordBuffer);
    return FRecordManager.UpdateRecord(sessionID, recordBuffer, recordID);
}

bool TCRVDiskTableData::DeleteRecord(TCRVSessionID sessionID, const TCRVRecordID& recordID) {
    std::vector<std::byte> record(static_cast<std::size_t>(FRecordManager.RecordBufferSize()));
    TCRVNavigationInfo info;
    info.GetRecordMode = grmCurrent;
    info.RecordID = recordID;
    info.RecordBuffer = record;
    FRecordManager.GetRecordBuffer(sessionID, info);
    if (info.GetRecordResult != grrOK)
        return false;
    FBlobManager.DeleteBlobs(sessionID, record);
    return FRecordManager.DeleteRecord(sessionID, recordID);
}

void TCRVDiskTableData::EmptyTable(TCRVSessionID sessionID) {
    FBlobManager.Empty(sessionID, FRecordManager);
    FRecordManager.Empty(sessionID);
}

std::int64_t TCRVDiskTableData::GetBitmapRecNoByRecordID(const TCRVRecordID& recordID) const {
    return static_cast<std::int64_t>(recordID.PageNo) * FRecordManager.MaxRecordsOnPage() +
           recordID.PageItemNo;
}

TCRVRecordID TCRVDiskTableData::GetRecordIDByBitmapRecNo(std::int64_t bitmapRecNo) const {
    const std::int64_t perPage = FRecordManager.MaxRecordsOnPage();
    return {static_cast<TCRVPageNo>(bitmapRecNo / perPage),
            static_cast<std::uint16_t>(bitmapRecNo % perPage)};
}

std::int64_t TCRVDiskTableData::GetBitmapRecordCount(TCRVSessionID sessionID) {
    const TCRVPageNo last = FRecordManager.LastRecordPageNo(sessionID);
    if (last == KCRVNoPage)
        return 1;
    return (static_cast<std::int64_t>(last) + 1) * FRecordManager.MaxRecordsOnPage();
}

std::unique_ptr<TCRVBlobFieldStream>
TCRVDiskTableData::InternalCreateBlobStream(TCRVSessionID sessionID, std::span<std::byte> recordBuffer,
                                            std::int32_t fieldNo, TCRVBLOBOpenMode mode) {
    if (fieldNo < 0 || fieldNo >= LFieldDefs.Count())
        CRVRaise(10000, fieldNo, LFieldDefs.Count());
    const TCRVFieldDef& def = LFieldDefs[fieldNo];
    if (def.BLOBBlockSize == 0)
        CRVRaise(20149);
    TCRVBLOBDescriptor descriptor;
    descriptor.BlockSize = def.BLOBBlockSize;
    descriptor.CompressionAlgorithm = def.BLOBCompressionAlgorithm;
    descriptor.CompressionMode = def.BLOBCompressionMode;
    descriptor.StartPosition = 0;

    auto stream =
        std::make_unique<TCRVBlobFieldStream>(FBlobManager, recordBuffer, fieldNo, DisableTempFiles);
    if (mode == bomWrite || CheckNullFlag(fieldNo, recordBuffer)) {
        stream->FBlob =
            std::make_unique<TCRVCompressedBLOBStream>(stream->FContainer, true, false, descriptor);
        return stream;
    }
    try {
        FBlobManager.CopyBlobFromRecordBufferToStream(sessionID, recordBuffer, fieldNo, descriptor,
                                                      stream->FContainer);
        if (descriptor.UncompressedSize < 0 || descriptor.NumBlocks < 0)
            CRVRaise(20248);
        stream->FContainer.SetPosition(0);
        stream->FBlob =
            std::make_unique<TCRVCompressedBLOBStream>(stream->FContainer, false, false, descriptor);
    } catch (...) {
        FBlobManager.ClearBlobInRecordBuffer(recordBuffer, fieldNo, true);
        throw;
    }
    return stream;
}
