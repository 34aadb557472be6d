// Internal files: byte streams kept in chains of pages of one page type, linked through the
// page header's NextPageNo.
//
// Both kinds start with a 10-byte TCRVInternalFileHeader at data offset 0 of the first page; the
// stored bytes follow it (first page from data offset 10, every next page from 0), so a file of
// S bytes occupies ceil((S + 10) / D) pages, at least one. FileSize does not count the header.
//
// Transacted files (system directory, table list, table metadata and counters) go through the
// page cache and change only through the session write-back. Rewriting one with a shorter stream
// keeps its longer chain (the unused pages stay linked); a later longer write counts the chain
// itself and appends after its real last page.
//
// Direct-access files (session slots, table lock files) exist to provide lockable bytes: created
// through the cache (never enciphered), afterwards only their page headers are read, directly
// and skipping the first byte, which may be locked. Byte position p lies on chain page
// (p + 10) div D at data offset (p + 10) mod D.
//
// Threads: REQUIRES the open database's lock.
#pragma once

#include "CRVDiskEngine/CRVDiskPageManager.h"

#include <cstdint>
#include <vector>

class TCRVInternalDBTransactedAccessFile {
public:
    TCRVInternalDBTransactedAccessFile(TCRVDiskPageManager& pageManager, std::uint16_t pageTypeID);

    // Allocates the first page (30383 when the object already has one).
    void CreateFile(TCRVSessionID sessionID);
    void OpenFile(TCRVPageNo startPageNo) { FStartPageNo = startPageNo; }
    void CloseFile() { FStartPageNo = KCRVNoPage; }
    // Removes every page of the chain; -1 = the current file.
    void DeleteFile(TCRVSessionID sessionID, TCRVPageNo startPageNo = KCRVNoPage);
    void GetFileSize(TCRVSessionID sessionID, std::int32_t& size, std::int32_t& decompressedSize,
                     std::uint8_t& compressionAlgorithm, bool& fileWasChanged, bool synchronizeAllowed);
    // The decompressed size.
    std::int32_t GetSize(TCRVSessionID sessionID);
    // Reads the whole stream (decompressed) and copies its first `count` bytes.
    void ReadFile(TCRVSessionID sessionID, void* buffer, std::int32_t count, bool synchronizeAllowed);
    std::vector<std::uint8_t> ReadAll(TCRVSessionID sessionID);
    // Replaces the whole stream; algorithm 0 stores it as is, any other compresses it with the
    // engine's buffer compressor (the metadata file: zlib, mode 1). An empty stream is stored as is.
    void WriteFile(TCRVSessionID sessionID, const void* buffer, std::int32_t count,
                   std::uint8_t algorithm = 0, std::uint8_t compressionMode = 0);
    // Rewrites a damaged first page as an empty file (used by repair).
    void InitFileHeader(TCRVSessionID sessionID);

    TCRVPageNo StartPageNo() const { return FStartPageNo; }
    std::uint16_t PageTypeID() const { return FPageTypeID; }
    // Page numbers of the whole chain, first to last.
    std::vector<TCRVPageNo> ChainPages(TCRVSessionID sessionID);

private:
    void CheckOpened(const char* operation) const;
    TCRVPinnedPage FirstPage(TCRVSessionID sessionID, bool synchronizeAllowed);
    // The i-th page of the chain (0 = first); 20300 when the chain ends before it.
    TCRVPinnedPage GoToPage(TCRVSessionID sessionID, std::int32_t index);
    void SetFileSize(TCRVSessionID sessionID, std::int32_t storedSize);

    TCRVDiskPageManager& LPageManager;
    TCRVPageNo FStartPageNo = KCRVNoPage;
    std::uint16_t FPageTypeID;
};

class TCRVInternalDBDirectAccessFile {
public:
    TCRVInternalDBDirectAccessFile(TCRVDiskPageManager& pageManager, std::uint16_t pageTypeID);

    // Adds ceil((fileSize + 10) / D) plain pages for the session (20157 when a file exists).
    TCRVPageNo CreateFile(TCRVSessionID sessionID, std::int32_t fileSize);
    void OpenFile(TCRVPageNo startPageNo);
    void CloseFile();
    void DeleteFile(TCRVSessionID sessionID);
    std::int32_t GetSize() const { return FFileSize; }
    // The stored FileSize (GetSize counts a one-page file as D - 10 bytes).
    std::int32_t StoredFileSize() const { return FStoredFileSize; }
    bool IsOpened() const { return FStartPageNo != KCRVNoPage; }
    TCRVPageNo StartPageNo() const { return FStartPageNo; }
    const std::vector<TCRVPageNo>& FilePages() const { return FFilePages; }

    // The file's own lock: the first byte of its first page.
    bool LockFile();
    bool UnlockFile();
    bool LockByte(std::int32_t position);
    bool UnlockByte(std::int32_t position);
    bool IsByteLocked(std::int32_t position);
    bool IsRegionLocked(std::int32_t position, std::int32_t count);
    void ReadBuffer(void* buffer, std::int32_t count, std::int32_t position);
    void WriteBuffer(const void* buffer, std::int32_t count, std::int32_t position);

private:
    void CheckOpened(const char* operation) const;
    void CheckPosition(std::int32_t position) const;
    // Page number and offset within that page of a byte position.
    std::pair<TCRVPageNo, std::size_t> Locate(std::int32_t position) const;

    TCRVDiskPageManager& LPageManager;
    TCRVPageNo FStartPageNo = KCRVNoPage;
    std::uint16_t FPageTypeID;
    std::int32_t FFileSize = 0;
    std::int32_t FStoredFileSize = 0;
    std::vector<TCRVPageNo> FFilePages;
};

// Pages of an internal file of `storedSize` bytes with data area `dataSize`.
constexpr std::int32_t CRVInternalFilePageCount(std::int64_t storedSize, std::int64_t dataSize) {
    const std::int64_t pages = (storedSize + KCRVInternalFileHeaderSize + dataSize - 1) / dataSize;
    return static_cast<std::int32_t>(pages < 1 ? 1 : pages);
}
