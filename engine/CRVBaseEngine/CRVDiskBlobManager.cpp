#include "CRVBaseEngine/CRVDiskBlobManager.h"

#include "CRVBase/CRVMetadataStream.h"
#include "CRVExcept/CRVExcept.h"
#include "CRVTypes/CRVRecordLayout.h"

#include <cassert>
#include <cstring>

namespace {

constexpr TCRVStreamItem KBlobPageIndexRootItem{10360, 10361};
constexpr std::size_t KReferenceSize = sizeof(TCRVPageItemID);

} // namespace

TCRVDiskBlobManager::TCRVDiskBlobManager(TCRVPageManager& pageManager, std::int32_t tableID,
                                         const TCRVFieldDefs& fieldDefs,
                                         const TCRVPageIndexFactory& indexFactory)
    : LPageManager(pageManager), LFieldDefs(fieldDefs), FTableID(tableID) {
    FBlobPageIndex = indexFactory(
        pageManager, [this](std::uint16_t value, std::uint16_t amount) { return CanAddBlob(value, amount); });
}

TCRVDiskBlobManager::~TCRVDiskBlobManager() = default;

void TCRVDiskBlobManager::CheckCachesReleased() const {
    if (!FBlobCacheList.empty())
        CRVRaise(20150);
}

bool TCRVDiskBlobManager::CanAddBlob(std::uint16_t value, std::uint16_t amount) const {
    return static_cast<std::int32_t>(value) + amount < LPageManager.PageDataSize() - KCRVBlobCountSize;
}

bool TCRVDiskBlobManager::BlobFieldsPresent() const {
    for (const TCRVFieldDef& def : LFieldDefs)
        if (IsBLOBFieldType(def.BaseFieldType))
            return true;
    return false;
}

// ---- metadata ----

void TCRVDiskBlobManager::CreateBlobPageIndex(TCRVSessionID sessionID) {
    FBlobPageIndex->CreateIndex(sessionID);
}

void TCRVDiskBlobManager::LoadMetadata(TCRVStream& stream) {
    TCRVMetadataReader reader(stream);
    FBlobPageIndex->OpenIndex(reader.I32(KBlobPageIndexRootItem));
}

void TCRVDiskBlobManager::SaveMetadata(TCRVStream& stream) const {
    TCRVMetadataWriter writer(stream);
    writer.I32(FBlobPageIndex->RootPageNo(), KBlobPageIndexRootItem);
}

// ---- references and caches in the record buffer ----

const TCRVFieldDef& TCRVDiskBlobManager::BlobField(std::int32_t fieldNo) const {
    if (fieldNo < 0 || fieldNo >= LFieldDefs.Count())
        CRVRaise(10000, fieldNo, LFieldDefs.Count());
    const TCRVFieldDef& def = LFieldDefs[fieldNo];
    assert(IsBLOBFieldType(def.BaseFieldType));
    return def;
}

TCRVPageItemID TCRVDiskBlobManager::GetBlobReference(std::span<const std::byte> recordBuffer,
                                                     std::int32_t fieldNo) const {
    TCRVPageItemID reference{};
    std::memcpy(&reference,
                recordBuffer.subspan(static_cast<std::size_t>(BlobField(fieldNo).MemoryOffset)).data(),
                KReferenceSize);
    return reference;
}

void TCRVDiskBlobManager::SetBlobReference(std::span<std::byte> recordBuffer, std::int32_t fieldNo,
                                           TCRVPageItemID reference) const {
    std::memcpy(recordBuffer.subspan(static_cast<std::size_t>(BlobField(fieldNo).MemoryOffset)).data(),
                &reference, KReferenceSize);
}

std::uint32_t TCRVDiskBlobManager::CacheHandle(std::span<const std::byte> recordBuffer,
                                               std::int32_t fieldNo) const {
    std::uint32_t handle = 0;
    std::memcpy(
        &handle,
        recordBuffer.subspan(static_cast<std::size_t>(BlobField(fieldNo).MemoryOffset) + KReferenceSize)
            .data(),
        sizeof(handle));
    return handle;
}

void TCRVDiskBlobManager::SetCacheHandle(std::span<std::byte> recordBuffer, std::int32_t fieldNo,
                                         std::uint32_t handle) const {
    std::memcpy(
        recordBuffer.subspan(static_cast<std::size_t>(BlobField(fieldNo).MemoryOffset) + KReferenceSize)
            .data(),
        &handle, sizeof(handle));
}

TCRVDiskBLOBCache* TCRVDiskBlobManager::AttachedCache(std::span<const std::byte> recordBuffer,
                                                      std::int32_t fieldNo) {
    const std::uint32_t handle = CacheHandle(recordBuffer, fieldNo);
    if (handle == 0)
        return nullptr;
    const auto it = FBlobCacheList.find(handle);
    return it == FBlobCacheList.end() ? nullptr : it->second.get();
}

TCRVDiskBLOBCache& TCRVDiskBlobManager::AttachNewCache(std::span<std::byte> recordBuffer,
                                                       std::int32_t fieldNo) {
    do {
        ++FLastCacheHandle;
    } while (FLastCacheHandle == 0 || FBlobCacheList.contains(FLastCacheHandle));
    auto& cache = FBlobCacheList[FLastCacheHandle];
    cache = std::make_unique<TCRVDiskBLOBCache>();
    SetCacheHandle(recordBuffer, fieldNo, FLastCacheHandle);
    return *cache;
}

TCRVDiskBLOBCache& TCRVDiskBlobManager::CacheForWriting(std::span<std::byte> recordBuffer,
                                                        std::int32_t fieldNo) {
    if (TCRVDiskBLOBCache* cache = AttachedCache(recordBuffer, fieldNo))
        return *cache;
    return AttachNewCache(recordBuffer, fieldNo);
}

void TCRVDiskBlobManager::ReleaseCache(std::span<std::byte> recordBuffer, std::int32_t fieldNo) {
    const std::uint32_t handle = CacheHandle(recordBuffer, fieldNo);
    if (handle != 0)
        FBlobCacheList.erase(handle);
    SetCacheHandle(recordBuffer, fieldNo, 0);
}

void TCRVDiskBlobManager::ClearBlobInRecordBuffer(std::span<std::byte> recordBuffer, std::int32_t fieldNo,
                                                  bool force) {
    const TCRVDiskBLOBCache* cache = AttachedCache(recordBuffer, fieldNo);
    if (!cache || force || !cache->Modified)
        ReleaseCache(recordBuffer, fieldNo);
}

void TCRVDiskBlobManager::ClearBlobsInRecordBuffer(std::span<std::byte> recordBuffer, bool force) {
    for (std::int32_t fieldNo = 0; fieldNo < LFieldDefs.Count(); ++fieldNo)
        if (IsBLOBFieldType(LFieldDefs[fieldNo].BaseFieldType))
            ClearBlobInRecordBuffer(recordBuffer, fieldNo, force);
}

// ---- reading ----

bool TCRVDiskBlobManager::IsLargeReference(TCRVSessionID sessionID, TCRVPageItemID reference) {
    TCRVLargeBlob large(LPageManager, sessionID, FTableID);
    const auto trySmall = [&] {
        TCRVPinnedPage page = LPageManager.GetPage(sessionID, reference.PageNo, true, ptTableBlob);
        if (!TCRVSmallBlobPage(*page).FindBlob(reference.PageItemNo))
            CRVRaise(20171);
    };
    if (large.LooksLikeFirstPage(reference.PageNo)) {
        try {
            large.CheckLayout(reference.PageNo);
            return true;
        } catch (const ECRVException&) {
            trySmall();
            return false;
        }
    }
    try {
        trySmall();
        return false;
    } catch (const ECRVException&) {
        large.CheckLayout(reference.PageNo);
        return true;
    }
}

TCRVStoredBlob TCRVDiskBlobManager::LoadStored(TCRVSessionID sessionID, TCRVPageItemID reference) {
    const bool large =
        reference.PageItemNo == KCRVLargeBlobItemNo ||
        (reference.PageItemNo == KCRVAmbiguousBlobItemNo && IsLargeReference(sessionID, reference));
    if (large)
        return TCRVLargeBlob(LPageManager, sessionID, FTableID).Read(reference.PageNo);
    TCRVPinnedPage page = LPageManager.GetPage(sessionID, reference.PageNo, true, ptTableBlob);
    const TCRVSmallBlobPage blobs(*page);
    const auto offset = blobs.FindBlob(reference.PageItemNo);
    if (!offset)
        return {}; // an absent BlobID leaves the cache empty
    return blobs.ReadBlobAt(*offset);
}

void TCRVDiskBlobManager::ReadBlob(TCRVSessionID sessionID, std::span<std::byte> recordBuffer,
                                   std::int32_t fieldNo) {
    if (AttachedCache(recordBuffer, fieldNo))
        return;
    const TCRVPageItemID reference = GetBlobReference(recordBuffer, fieldNo);
    if (!IsBlobStored(reference))
        return;
    TCRVStoredBlob stored = LoadStored(sessionID, reference);
    TCRVDiskBLOBCache& cache = AttachNewCache(recordBuffer, fieldNo);
    cache.NumBlocks = stored.Header.NumBlocks;
    cache.UncompressedSize = stored.Header.UncompressedSize;
    cache.BlobData = std::move(stored.Data);
}

// ---- writing ----

TCRVPageItemID TCRVDiskBlobManager::StoreSmall(TCRVSessionID sessionID, const TCRVDiskBLOBHeader& header,
                                               std::span<const std::uint8_t> data) {
    const auto needed = static_cast<std::uint16_t>(data.size() + KCRVBlobHeaderSize);
    TCRVPageNo pageNo = KCRVNoPage;
    TCRVPinnedPage page;
    std::int32_t room = 0;
    if (FBlobPageIndex->FindPageForNewItem(sessionID, needed, pageNo)) {
        page = LPageManager.GetPage(sessionID, pageNo, true, ptTableBlob);
        room = FBlobPageIndex->GetPageValue(sessionID, pageNo).value_or(0);
    } else {
        page = LPageManager.AddPage(sessionID, ptTableBlob);
        page->GetPageHeader()->ObjectID = FTableID;
    }
    const std::uint16_t blobID = TCRVSmallBlobPage(*page).AddBlob(header, data, room);
    page->SetIsDirty(true);
    FBlobPageIndex->AddPageItem(sessionID, needed, page->PageNo());
    return {page->PageNo(), blobID};
}

TCRVPageItemID TCRVDiskBlobManager::Store(TCRVSessionID sessionID, const TCRVDiskBLOBCache& cache) {
    TCRVDiskBLOBHeader header;
    header.NumBlocks = cache.NumBlocks;
    header.CompressedSize = static_cast<std::int64_t>(cache.BlobData.size());
    header.UncompressedSize = cache.UncompressedSize;
    if (CRVIsSmallBlob(header.CompressedSize, LPageManager.PageDataSize()))
        return StoreSmall(sessionID, header, cache.BlobData);
    header.BlobID = KCRVLargeBlobItemNo;
    const TCRVPageNo first = TCRVLargeBlob(LPageManager, sessionID, FTableID).Write(header, cache.BlobData);
    return {first, KCRVLargeBlobItemNo};
}

void TCRVDiskBlobManager::WriteBlob(TCRVSessionID sessionID, std::span<std::byte> recordBuffer,
                                    std::int32_t fieldNo) {
    TCRVDiskBLOBCache* cache = AttachedCache(recordBuffer, fieldNo);
    if (!cache || !cache->Modified)
        return;
    const TCRVPageItemID old = GetBlobReference(recordBuffer, fieldNo);
    if (IsBlobStored(old)) {
        RemoveStored(sessionID, old);
        SetBlobReference(recordBuffer, fieldNo, {-1, 0xFFFF});
    }
    if (cache->UncompressedSize > 0) {
        SetBlobReference(recordBuffer, fieldNo, Store(sessionID, *cache));
        SetNullFlag(false, fieldNo, recordBuffer);
    } else {
        SetBlobReference(recordBuffer, fieldNo, {-1, 0xFFFF});
        SetNullFlag(true, fieldNo, recordBuffer);
    }
    cache->Modified = false;
    ReleaseCache(recordBuffer, fieldNo);
}

void TCRVDiskBlobManager::WriteBlobs(TCRVSessionID sessionID, std::span<std::byte> recordBuffer) {
    for (std::int32_t fieldNo = 0; fieldNo < LFieldDefs.Count(); ++fieldNo)
        if (IsBLOBFieldType(LFieldDefs[fieldNo].BaseFieldType))
            WriteBlob(sessionID, recordBuffer, fieldNo);
}

// ---- deleting ----

void TCRVDiskBlobManager::RemoveSmall(TCRVSessionID sessionID, TCRVPageItemID reference) {
    TCRVPinnedPage page = LPageManager.GetPage(sessionID, reference.PageNo, true, ptTableBlob);
    TCRVSmallBlobPage blobs(*page);
    const auto offset = blobs.FindBlob(reference.PageItemNo);
    if (!offset)
        CRVRaise(20171);
    const std::int32_t room = blobs.RemoveBlobAt(*offset);
    page->SetIsDirty(true);
    const std::int32_t left = blobs.EndOffset() - KCRVBlobCountSize;
    if (blobs.BlobCount() == 0)
        LPageManager.RemovePage(sessionID, reference.PageNo);
    FBlobPageIndex->DeletePageItem(sessionID, static_cast<std::uint16_t>(room), left, reference.PageNo);
}

void TCRVDiskBlobManager::RemoveStored(TCRVSessionID sessionID, TCRVPageItemID reference) {
    const bool large =
        reference.PageItemNo == KCRVLargeBlobItemNo ||
        (reference.PageItemNo == KCRVAmbiguousBlobItemNo && IsLargeReference(sessionID, reference));
    if (large)
        TCRVLargeBlob(LPageManager, sessionID, FTableID).Delete(reference.PageNo);
    else
        RemoveSmall(sessionID, reference);
}

void TCRVDiskBlobManager::DeleteBlob(TCRVSessionID sessionID, std::span<std::byte> recordBuffer,
                                     std::int32_t fieldNo) {
    const TCRVPageItemID reference = GetBlobReference(recordBuffer, fieldNo);
    if (!IsBlobStored(reference))
        return;
    RemoveStored(sessionID, reference);
    SetBlobReference(recordBuffer, fieldNo, {-1, 0xFFFF});
}

void TCRVDiskBlobManager::DeleteBlobs(TCRVSessionID sessionID, std::span<std::byte> recordBuffer) {
    for (std::int32_t fieldNo = 0; fieldNo < LFieldDefs.Count(); ++fieldNo)
        if (IsBLOBFieldType(LFieldDefs[fieldNo].BaseFieldType) && !CheckNullFlag(fieldNo, recordBuffer))
            DeleteBlob(sessionID, recordBuffer, fieldNo);
}

// ---- streams and direct access ----

void TCRVDiskBlobManager::CopyBlobFromRecordBufferToStream(TCRVSessionID sessionID,
                                                           std::span<std::byte> recordBuffer,
                                                           std::int32_t fieldNo,
                                                           TCRVBLOBDescriptor& descriptor,
                                                           TCRVStream& stream) {
    ReadBlob(sessionID, recordBuffer, fieldNo);
    const TCRVDiskBLOBCache* cache = AttachedCache(recordBuffer, fieldNo);
    if (!cache) {
        if (!CheckNullFlag(fieldNo, recordBuffer))
            CRVRaise(20162);
        descriptor.NumBlocks = 0;
        descriptor.UncompressedSize = 0;
        return;
    }
    if (!cache->BlobData.empty())
        stream.Write(cache->BlobData.data(), static_cast<std::int64_t>(cache->BlobData.size()));
    descriptor.NumBlocks = cache->NumBlocks;
    descriptor.UncompressedSize = cache->UncompressedSize;
}

void TCRVDiskBlobManager::CopyBlobFromStreamToRecordBuffer(std::span<std::byte> recordBuffer,
                                                           std::int32_t fieldNo,
                                                           TCRVCompressedBLOBStream& blobStream,
                                                           TCRVStream& container) {
    std::vector<std::uint8_t> data(static_cast<std::size_t>(blobStream.GetStreamSize()));
    container.SetPosition(blobStream.BLOBDescriptor().StartPosition);
    if (!data.empty() && container.Read(data.data(), static_cast<std::int64_t>(data.size())) !=
                             static_cast<std::int64_t>(data.size()))
        CRVRaise(20162);
    TCRVDiskBLOBCache& cache = CacheForWriting(recordBuffer, fieldNo);
    cache.NumBlocks = static_cast<std::int32_t>(blobStream.NumBlocks());
    cache.UncompressedSize = blobStream.GetSize();
    cache.BlobData = std::move(data);
    cache.Modified = true;
    SetNullFlag(cache.UncompressedSize == 0, fieldNo, recordBuffer);
}

TCRVDirectBlobInfo TCRVDiskBlobManager::GetDirectBlobInfoFromRecordBuffer(TCRVSessionID sessionID,
                                                                          std::span<std::byte> recordBuffer,
                                                                          std::int32_t fieldNo) {
    ReadBlob(sessionID, recordBuffer, fieldNo);
    const TCRVDiskBLOBCache* cache = AttachedCache(recordBuffer, fieldNo);
    if (!cache) {
        if (!CheckNullFlag(fieldNo, recordBuffer))
            CRVRaise(20291);
        return {};
    }
    return {cache->NumBlocks, cache->UncompressedSize, cache->BlobData};
}

void TCRVDiskBlobManager::SetDirectBlobInfoFromRecordBuffer(std::span<std::byte> recordBuffer,
                                                            std::int32_t fieldNo,
                                                            std::span<const std::uint8_t> data,
                                                            std::int32_t numBlocks,
                                                            std::int64_t uncompressedSize) {
    TCRVDiskBLOBCache& cache = CacheForWriting(recordBuffer, fieldNo);
    cache.NumBlocks = numBlocks;
    cache.UncompressedSize = uncompressedSize;
    cache.BlobData.assign(data.begin(), data.end());
    cache.Modified = true;
    SetNullFlag(uncompressedSize == 0, fieldNo, recordBuffer);
}

// ---- emptying ----

void TCRVDiskBlobManager::DeleteAllRowBlobs(TCRVSessionID sessionID, TCRVDiskRecordManager& recordManager) {
    if (!BlobFieldsPresent())
        return;
    std::vector<std::byte> record(static_cast<std::size_t>(recordManager.RecordBufferSize()));
    TCRVNavigationInfo info;
    info.GetRecordMode = grmNext;
    info.FirstPosition = true;
    info.RecordBuffer = record;
    for (recordManager.GetRecordBuffer(sessionID, info); info.GetRecordResult == grrOK;
         recordManager.GetRecordBuffer(sessionID, info))
        DeleteBlobs(sessionID, record);
    // Pages no row refers to any more are freed with the index.
    for (auto item = FBlobPageIndex->GetFirst(sessionID); item;
         item = FBlobPageIndex->GetNext(sessionID, item->PageNo, 20111))
        LPageManager.RemovePage(sessionID, item->PageNo);
}

void TCRVDiskBlobManager::Empty(TCRVSessionID sessionID, TCRVDiskRecordManager& recordManager) {
    if (FBlobPageIndex->RootPageNo() == KCRVNoPage)
        return;
    DeleteAllRowBlobs(sessionID, recordManager);
    FBlobPageIndex->EmptyIndex(sessionID);
}

void TCRVDiskBlobManager::Delete(TCRVSessionID sessionID, TCRVDiskRecordManager& recordManager) {
    if (FBlobPageIndex->RootPageNo() == KCRVNoPage)
        return;
    DeleteAllRowBlobs(sessionID, recordManager);
    FBlobPageIndex->DropIndex(sessionID);
}
