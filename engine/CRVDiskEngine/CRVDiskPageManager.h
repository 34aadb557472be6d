// TCRVDiskPageManager: the page cache over the database file; the header blocks, page input and
// output with encryption and CRC, the write-back, the object-id counter and the byte-range locks.
//
// Offsets (64-bit) from the header position H: database header H, crypto header H + HeaderSize,
// lock-byte block + 280, last object id + LockedByteSize, first page + 4. Page n is at
// FOffsetToFirstPage + n x PageSize.
//
// Write-back (ApplyChanges): under the header lock the header is read, WriteChangesState set to 1
// and written; the session's removed pages are freed and its dirty pages written; then State += 1,
// WriteChangesState = 2 and the header written again. A failure in between leaves 1 in the file,
// and the next open reports RepairNeeded. There is no journal.
//
// FDBHeader is the one header copy: the free-space manager re-reads and re-writes the page counts
// through it, so the header written at the end of a write-back carries the current counts.
//
// Threads: REQUIRES the open database's lock for every call.
#pragma once

#include "CRVCipher/CRVCipher.h"
#include "CRVDiskEngine/CRVDatabaseFile.h"
#include "CRVDiskEngine/CRVDiskStructs.h"
#include "CRVPage/CRVPageManager.h"

#include <array>
#include <functional>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <vector>

class TCRVDatabaseFreeSpaceManager;

// TryUsingTimeOut: up to tryCount calls of `lock`, sleeping delayMS after every failed one.
bool TryUsingTimeOut(int tryCount, int delayMS, const std::function<bool()>& lock);

constexpr int KCRVLockTryCount = 4500;
constexpr int KCRVLockDelayMS = 20;

class TCRVDiskPageManager : public TCRVPageManager {
public:
    explicit TCRVDiskPageManager(TCRVOSFileFactory fileFactory = CRVPosixFileFactory());
    ~TCRVDiskPageManager() override;

    void CreateAndOpenDatabase(const std::string& fileName, const TCRVPassword& password,
                               std::uint16_t pageSize, std::uint16_t extentPageCount);
    void OpenDatabase(const std::string& fileName, const TCRVPassword& password, bool& readOnly,
                      bool& repairNeeded, bool exclusive, bool& multiUser);
    void CloseDatabase();
    bool IsOpened() const { return FDatabaseFile.IsOpened(); }
    bool ReadOnly() const { return !FDatabaseFile.IsWritable(); }

    // TotalPageCount as the file says now (one attempt at the header lock; 20236 when refused).
    std::int32_t GetPageCount();
    // Drops every page after LastUsedPageNo.
    void TruncateDatabase();
    // The next object id; a database that is read-only (by its file, or for its sessions when
    // `notStored`) hands out the stored counter + 1 + a pseudo-random number below 10000.
    std::int32_t GetNextObjectID(int tryCount = KCRVLockTryCount, int delayMS = KCRVLockDelayMS,
                                 bool notStored = false);
    bool ApplyChanges(TCRVSessionID sessionID) override;
    // The stored object-id counter, read as it is (no lock).
    std::int32_t ReadLastObjectID();
    void FlushBuffers() { FDatabaseFile.FlushFileBuffers(); }

    // Bytes of a page, bypassing cache and cipher; offset + count must not exceed PageSize.
    void ReadPageRegion(void* buffer, TCRVPageNo pageNo, std::size_t offset, std::size_t count);
    void WritePageRegion(const void* buffer, TCRVPageNo pageNo, std::size_t offset, std::size_t count);

    // The tables lock (4500 x 20 ms; 20210 when it cannot be had, 20211 when it cannot be released).
    void LockTables();
    void UnlockTables();
    bool LockDBHeader();
    void UnlockDBHeader();
    bool LockLastObjectID();
    void UnlockLastObjectID();
    bool LockPageByte(TCRVPageNo pageNo, std::size_t offset);
    bool UnlockPageByte(TCRVPageNo pageNo, std::size_t offset);
    bool IsPageByteLocked(TCRVPageNo pageNo, std::size_t offset);
    bool IsPageRegionLocked(TCRVPageNo pageNo, std::size_t offset, std::size_t count);

    const TCRVPassword& Password() const { return FPassword; }
    bool Encrypted() const { return FDBHeader.Encrypted != 0; }
    const TCRVDBHeader& DBHeader() const { return FDBHeader; }
    const TCRVCryptoHeader& CryptoHeader() const { return FCryptoHeader; }
    std::int64_t OffsetToDBHeader() const { return FOffsetToDBHeader; }
    std::int64_t OffsetToFirstPage() const { return FOffsetToFirstPage; }
    std::int64_t PageOffset(TCRVPageNo pageNo) const;
    std::int64_t FileSize() { return FDatabaseFile.GetSize(); }
    TCRVDatabaseFreeSpaceManager& FreeSpaceManager() { return *FDatabaseFreeSpaceManager; }
    TCRVDatabaseFile& DatabaseFile() { return FDatabaseFile; }

    // Lock retries of the shared structures (4500 x 20 ms); tests shorten them.
    void SetLockRetry(int tryCount, int delayMS) {
        FLockTryCount = tryCount;
        FLockDelayMS = delayMS;
    }
    int LockTryCount() const { return FLockTryCount; }
    int LockDelayMS() const { return FLockDelayMS; }

    // --- used by the free-space manager ---
    // Re-reads the header from the file (under the header lock) into the header copy.
    void ReReadPageCountVariables(std::int32_t& totalPageCount, std::int32_t& lastUsedPageNo);
    // Writes the header when one of the two counts differs from the header copy.
    void ReWritePageCountVariables(std::int32_t totalPageCount, std::int32_t lastUsedPageNo);
    // A whole page, directly: no cache, no cipher.
    void ReadPageDirect(TCRVPageNo pageNo, void* buffer);
    void WritePageDirect(TCRVPageNo pageNo, const void* buffer);
    // Grows / shrinks the file to hold `totalPageCount` pages.
    void ResizeForPages(std::int32_t totalPageCount);

    // Deciphers a data area read raw from the file and checks its CRC; false on a mismatch.
    // Used by the page reads and by the checker.
    bool DecipherPageData(TCRVDiskPageHeader& header, std::uint8_t* data) const;
    // True for pages whose data area is never enciphered (map pages, direct-access files).
    bool IsPlainPage(TCRVPageNo pageNo, std::uint16_t pageType) const;

protected:
    bool InternalReadPage(TCRVPage& page) override;
    void InternalWritePage(TCRVPage& page) override;
    void InternalWritePages(std::span<TCRVPage* const> pages, std::size_t& written) override;
    TCRVPageNo InternalAddPage() override;
    void InternalRemovePage(TCRVPageNo pageNo) override;
    void CheckPageNo(TCRVPageNo pageNo) override;

private:
    void ReadDBHeader();
    void WriteDBHeader();
    void SetOffsets(std::int64_t headerPos, std::uint16_t headerSize, std::uint16_t lockedByteSize);
    void ValidateGeometry() const;
    void CheckPassword() const;
    bool DetectReadOnly(const std::string& fileName);
    void EncipherControlBlock();
    void LockDBHeaderOrRaise(int errorCode);
    // Sets the password of the file being created or opened; the page ciphers follow it.
    void SetPassword(const TCRVPassword& password);
    // Advances the page's State and puts the bytes to write into `image` (PageSize bytes): the
    // data area enciphered when the page is, the cached buffer left plain.
    void PreparePageImage(TCRVPage& page, std::uint8_t* image);
    // The page cipher for `alg` and the current password; nullptr for an unknown algorithm
    // (whose pages stay as they are) or when the cipher cannot be set up.
    const TCRVCipherContext* PageCipher(std::uint8_t alg) const;

    std::unique_ptr<TCRVDatabaseFreeSpaceManager> FDatabaseFreeSpaceManager;
    TCRVDatabaseFile FDatabaseFile;
    TCRVOSFileFactory FFileFactory;
    TCRVDBHeader FDBHeader{};
    TCRVCryptoHeader FCryptoHeader{};
    TCRVLockedBytes FLockedBytes{};
    TCRVPassword FPassword;
    // Keyed ciphers for page data, one per algorithm, built on first use for FPassword (and
    // dropped whenever the password is set).
    // Pages are enciphered exactly as by CRVInternalEncryptBuffer; only the key hash and the
    // schedules are not rebuilt for every page.
    mutable std::array<std::unique_ptr<TCRVCipherContext>, KCRVCryptoAlgorithmCount> FPageCiphers;
    int FLockDBHeaderCount = 0;
    bool FExclusive = false;
    // Whether the write-back under way has changed the file; one that fails after that has left
    // the file torn, and every later write-back then keeps WriteChangesState at 1 so the next open
    // still reports that the file needs repair.
    bool FWriteBackChangedFile = false;
    // The bytes of the pages of one write (reused, so a write-back allocates nothing).
    std::vector<std::uint8_t> FWriteImage;
    bool FWriteBackTorn = false;
    std::int64_t FOffsetToDBHeader = 0;
    std::int64_t FOffsetToCryptoHeader = 0;
    std::int64_t FOffsetToLockedBytes = 0;
    std::int64_t FOffsetToLastObjectID = 0;
    std::int64_t FOffsetToFirstPage = 0;
    int FLockTryCount = KCRVLockTryCount;
    int FLockDelayMS = KCRVLockDelayMS;
    std::minstd_rand FRandom;
};

// Holds the header lock for a scope (raising `errorCode` when the attempts run out).
class TCRVDBHeaderLock {
public:
    TCRVDBHeaderLock(TCRVDiskPageManager& manager, int errorCode);
    ~TCRVDBHeaderLock() { FManager.UnlockDBHeader(); }
    TCRVDBHeaderLock(const TCRVDBHeaderLock&) = delete;
    TCRVDBHeaderLock& operator=(const TCRVDBHeaderLock&) = delete;

private:
    TCRVDiskPageManager& FManager;
};
