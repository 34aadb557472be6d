// TCRVDiskBlobManager: a table's BLOB values, kept outside the rows.
//
// A BLOB field holds a 6-byte reference in the row (TCRVPageItemID):
//   PageNo 0 or -1            no value stored
//   (p, 0xFFFF)               large BLOB whose first page is p
//   (p, 255)                  small or large: decided by reading page p (size test, then the
//                             other layout when the first one fails)
//   (p, n)                    small BLOB with BlobID n on small-BLOB page p
// In the memory record the reference is followed by 4 bytes: the handle of a TCRVDiskBLOBCache
// in FBlobCacheList, or 0. A handle counts only while it is in the list; a record just read from
// disk has 0 there.
//
// The stored bytes of a value are the container of its compressed BLOB stream: the blocks for a
// compressed field, the value itself otherwise (NumBlocks 0, CompressedSize = UncompressedSize).
// Small values (S + 24 < PageDataSize) share small-BLOB pages found through the BLOB page index,
// whose value per page is the room taken there (22 + S summed over its values); large values
// have pages of their own.
//
// Threads: REQUIRES the open database's lock for every call.
#pragma once

#include "CRVBase/CRVFieldDef.h"
#include "CRVBaseEngine/CRVBlobPage.h"
#include "CRVBaseEngine/CRVDiskRecordManager.h"
#include "CRVBaseEngine/CRVPageIndexAccess.h"
#include "CRVCompression/CRVBLOBStream.h"

#include <cstdint>
#include <map>
#include <memory>
#include <span>

// The bytes of one value while it is read or written through a record buffer.
struct TCRVDiskBLOBCache {
    std::int32_t NumBlocks = 0;
    std::int64_t UncompressedSize = 0;
    bool Modified = false;
    std::vector<std::uint8_t> BlobData; // the stored bytes
};

// What GetDirectBlobInfoFromRecordBuffer hands out (valid until the cache changes).
struct TCRVDirectBlobInfo {
    std::int32_t NumBlocks = 0;
    std::int64_t UncompressedSize = 0;
    std::span<const std::uint8_t> Data;
};

class TCRVDiskBlobManager {
public:
    TCRVDiskBlobManager(TCRVPageManager& pageManager, std::int32_t tableID, const TCRVFieldDefs& fieldDefs,
                        const TCRVPageIndexFactory& indexFactory);
    // Frees any cache still attached; call CheckCachesReleased first to have that reported.
    ~TCRVDiskBlobManager();
    TCRVDiskBlobManager(const TCRVDiskBlobManager&) = delete;
    TCRVDiskBlobManager& operator=(const TCRVDiskBlobManager&) = delete;

    // 20150 while caches are still attached.
    void CheckCachesReleased() const;
    std::size_t CacheCount() const { return FBlobCacheList.size(); }

    void CreateBlobPageIndex(TCRVSessionID sessionID);
    // The index root, one i32 (-1 for a table without BLOB fields; items 10360 write / 10361 read).
    void LoadMetadata(TCRVStream& stream);
    void SaveMetadata(TCRVStream& stream) const;
    TCRVPageNo BlobPageIndexRoot() const { return FBlobPageIndex->RootPageNo(); }
    TCRVPageIndexAccess& BlobPageIndex() { return *FBlobPageIndex; }

    // Makes sure the field's cache holds the stored bytes (reads them when the reference is set
    // and no cache is attached).
    void ReadBlob(TCRVSessionID sessionID, std::span<std::byte> recordBuffer, std::int32_t fieldNo);
    // Stores a modified cached value (deleting the value it replaces), writes its reference into
    // the record and releases the cache. An empty value is not stored: the field becomes NULL.
    void WriteBlob(TCRVSessionID sessionID, std::span<std::byte> recordBuffer, std::int32_t fieldNo);
    void WriteBlobs(TCRVSessionID sessionID, std::span<std::byte> recordBuffer);
    // Removes the stored value; the reference becomes (-1, -1). DeleteBlobs visits every BLOB
    // field whose null flag is clear.
    void DeleteBlob(TCRVSessionID sessionID, std::span<std::byte> recordBuffer, std::int32_t fieldNo);
    void DeleteBlobs(TCRVSessionID sessionID, std::span<std::byte> recordBuffer);

    // The stored bytes into `stream`, block count and size into the descriptor; 20162 when the
    // field is not NULL but there is nothing to read.
    void CopyBlobFromRecordBufferToStream(TCRVSessionID sessionID, std::span<std::byte> recordBuffer,
                                          std::int32_t fieldNo, TCRVBLOBDescriptor& descriptor,
                                          TCRVStream& stream);
    // The container of a changed BLOB stream into the field's cache, marked modified; the null
    // flag follows the value's length.
    void CopyBlobFromStreamToRecordBuffer(std::span<std::byte> recordBuffer, std::int32_t fieldNo,
                                          TCRVCompressedBLOBStream& blobStream, TCRVStream& container);
    // Drops the field's cache; a modified one only with `force`.
    void ClearBlobInRecordBuffer(std::span<std::byte> recordBuffer, std::int32_t fieldNo, bool force);
    void ClearBlobsInRecordBuffer(std::span<std::byte> recordBuffer, bool force);
    // The cached bytes (read first when needed); 20291 when the field is not NULL but has nothing.
    TCRVDirectBlobInfo GetDirectBlobInfoFromRecordBuffer(TCRVSessionID sessionID,
                                                         std::span<std::byte> recordBuffer,
                                                         std::int32_t fieldNo);
    void SetDirectBlobInfoFromRecordBuffer(std::span<std::byte> recordBuffer, std::int32_t fieldNo,
                                           std::span<const std::uint8_t> data, std::int32_t numBlocks,
                                           std::int64_t uncompressedSize);
    // The attached cache of the field, or nullptr.
    TCRVDiskBLOBCache* AttachedCache(std::span<const std::byte> recordBuffer, std::int32_t fieldNo);

    // Deletes the BLOBs of every row, then empties the BLOB page index (Delete drops it).
    void Empty(TCRVSessionID sessionID, TCRVDiskRecordManager& recordManager);
    void Delete(TCRVSessionID sessionID, TCRVDiskRecordManager& recordManager);

    bool BlobFieldsPresent() const;
    TCRVPageItemID GetBlobReference(std::span<const std::byte> recordBuffer, std::int32_t fieldNo) const;
    void SetBlobReference(std::span<std::byte> recordBuffer, std::int32_t fieldNo,
                          TCRVPageItemID reference) const;
    static bool IsBlobStored(TCRVPageItemID reference) {
        return reference.PageNo != 0 && reference.PageNo != -1;
    }

private:
    const TCRVFieldDef& BlobField(std::int32_t fieldNo) const;
    std::uint32_t CacheHandle(std::span<const std::byte> recordBuffer, std::int32_t fieldNo) const;
    void SetCacheHandle(std::span<std::byte> recordBuffer, std::int32_t fieldNo, std::uint32_t handle) const;
    TCRVDiskBLOBCache& AttachNewCache(std::span<std::byte> recordBuffer, std::int32_t fieldNo);
    TCRVDiskBLOBCache& CacheForWriting(std::span<std::byte> recordBuffer, std::int32_t fieldNo);
    void ReleaseCache(std::span<std::byte> recordBuffer, std::int32_t fieldNo);

    bool CanAddBlob(std::uint16_t value, std::uint16_t amount) const;
    // Whether a (page, 255) reference names a large BLOB; the error of the second layout tried
    // reaches the caller when neither fits.
    bool IsLargeReference(TCRVSessionID sessionID, TCRVPageItemID reference);
    TCRVStoredBlob LoadStored(TCRVSessionID sessionID, TCRVPageItemID reference);
    TCRVPageItemID Store(TCRVSessionID sessionID, const TCRVDiskBLOBCache& cache);
    TCRVPageItemID StoreSmall(TCRVSessionID sessionID, const TCRVDiskBLOBHeader& header,
                              std::span<const std::uint8_t> data);
    void RemoveStored(TCRVSessionID sessionID, TCRVPageItemID reference);
    void RemoveSmall(TCRVSessionID sessionID, TCRVPageItemID reference);
    void DeleteAllRowBlobs(TCRVSessionID sessionID, TCRVDiskRecordManager& recordManager);

    TCRVPageManager& LPageManager;
    const TCRVFieldDefs& LFieldDefs;
    std::int32_t FTableID;
    std::unique_ptr<TCRVPageIndexAccess> FBlobPageIndex;
    std::map<std::uint32_t, std::unique_ptr<TCRVDiskBLOBCache>> FBlobCacheList;
    std::uint32_t FLastCacheHandle = 0;
};
