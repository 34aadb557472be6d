// TCRVDiskTableData: the stored side of one open table as far as rows and BLOBs go: its record
// manager and BLOB manager, the row operations that touch both, the bitmap numbers of row
// positions, and the stream through which a dataset reads or writes a BLOB field.
//
// Threads: REQUIRES the open database's lock for every call.
#pragma once

#include "CRVBase/CRVFieldDef.h"
#include "CRVBaseEngine/CRVBTreePageIndexAccess.h"
#include "CRVBaseEngine/CRVDiskBlobManager.h"
#include "CRVBaseEngine/CRVDiskRecordManager.h"
#include "CRVCompression/CRVBLOBStream.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

enum TCRVBLOBOpenMode : std::uint8_t { bomWrite = 0, bomRead = 1, bomReadWrite = 2 };

class TCRVDiskTableData;

// A BLOB field's value as a stream of its uncompressed bytes, over a temporary container. When
// the dataset has finished writing, Finish puts a changed value into the record buffer's cache
// (marked modified); the value reaches the file when the row is posted.
class TCRVBlobFieldStream : public TCRVStream {
public:
    std::int64_t Read(void* buffer, std::int64_t count) override { return FBlob->Read(buffer, count); }
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TCRVSeekOrigin origin) override {
        return FBlob->Seek(offset, origin);
    }
    std::int64_t GetSize() override { return FBlob->GetSize(); }
    void SetSize(std::int64_t newSize) override;

    bool Modified() const { return FModified; }
    void Finish();
    const TCRVCompressedBLOBStream& BLOBStream() const { return *FBlob; }

    // Made by TCRVDiskTableData::InternalCreateBlobStream.
    TCRVBlobFieldStream(TCRVDiskBlobManager& blobManager, std::span<std::byte> recordBuffer,
                        std::int32_t fieldNo, bool disableTempFiles);

private:
    friend class TCRVDiskTableData;

    TCRVDiskBlobManager& LBlobManager;
    std::span<std::byte> FRecordBuffer;
    std::int32_t FFieldNo;
    TCRVTemporaryStream FContainer;
    std::unique_ptr<TCRVCompressedBLOBStream> FBlob;
    bool FModified = false;
};

class TCRVDiskTableData {
public:
    TCRVDiskTableData(TCRVPageManager& pageManager, std::int32_t tableID, std::string tableName,
                      const TCRVFieldDefs& fieldDefs,
                      const TCRVPageIndexFactory& indexFactory = CRVBTreePageIndexFactory());

    // The record manager learns the record sizes (20174 when no row fits a page).
    void InitRecordSizes();
    // A new table: the record page index, and the BLOB page index when there are BLOB fields.
    void CreateStorage(TCRVSessionID sessionID);
    // The record manager's and the BLOB manager's parts of the metadata stream, in that order.
    void LoadMetadata(TCRVStream& stream);
    void SaveMetadata(TCRVStream& stream) const;

    // Row operations through both managers (BLOBs first, then the row); false when the record
    // manager refused.
    bool InsertRecord(TCRVSessionID sessionID, std::span<std::byte> recordBuffer, TCRVRecordID& recordID);
    bool UpdateRecord(TCRVSessionID sessionID, std::span<std::byte> recordBuffer,
                      const TCRVRecordID& recordID);
    // Reads the row, deletes its BLOBs, then the row.
    bool DeleteRecord(TCRVSessionID sessionID, const TCRVRecordID& recordID);
    // Every BLOB and every row; the index roots are kept.
    void EmptyTable(TCRVSessionID sessionID);

    // Bitmap numbers of row positions: PageNo x FMaxRecordsOnPage + PageItemNo and back; the
    // count is (last record page + 1) x FMaxRecordsOnPage, or 1 without record pages.
    std::int64_t GetBitmapRecNoByRecordID(const TCRVRecordID& recordID) const;
    TCRVRecordID GetRecordIDByBitmapRecNo(std::int64_t bitmapRecNo) const;
    std::int64_t GetBitmapRecordCount(TCRVSessionID sessionID);

    // A stream over the field's value: empty for bomWrite or a NULL field, else the stored value.
    // 20149 for a field without a block size, 20248 for a negative stored size.
    std::unique_ptr<TCRVBlobFieldStream> InternalCreateBlobStream(TCRVSessionID sessionID,
                                                                  std::span<std::byte> recordBuffer,
                                                                  std::int32_t fieldNo,
                                                                  TCRVBLOBOpenMode mode);

    TCRVDiskRecordManager& RecordManager() { return FRecordManager; }
    TCRVDiskBlobManager& BlobManager() { return FBlobManager; }
    const TCRVFieldDefs& FieldDefs() const { return LFieldDefs; }
    std::int32_t TableID() const { return FTableID; }
    const std::string& TableName() const { return FTableName; }
    // Temporary files for BLOB streams; the program disables them.
    bool DisableTempFiles = true;

private:
    const TCRVFieldDefs& LFieldDefs;
    std::int32_t FTableID;
    std::string FTableName;
    TCRVDiskRecordManager FRecordManager;
    TCRVDiskBlobManager FBlobManager;
};
