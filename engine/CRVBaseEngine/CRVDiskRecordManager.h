// TCRVDiskRecordManager: a table's rows in record pages, found through the record page index.
//
// A row is a disk record in one slot of a record page (TCRVSmallRecordPage); its record id
// (page, slot) names it while it lives. The record page index maps every page that holds at
// least one row to its row count, so rows are placed (two-leaf search for a page below
// FMaxRecordsOnPage rows), counted, numbered and visited in physical order (page, then slot).
//
// Invariants after every completed operation:
//   1. a page is in the record page index exactly while its bitmap has a set bit, and its value
//      there is the number of set bits;
//   2. FRecordCount is the sum of the index's values;
//   3. every record page in the index has PageType 10 and ObjectID = the table's id.
// An operation that fails part-way leaves the session's page changes pending; the table layer
// cancels them (the counters in memory are changed only after the pages and the index are).
//
// Threads: REQUIRES the open database's lock for every call.
#pragma once

#include "CRVBase/CRVFieldDef.h"
#include "CRVBaseEngine/CRVPageIndexAccess.h"
#include "CRVCompression/CRVStream.h"
#include "CRVPage/CRVPageManager.h"
#include "CRVTypes/CRVGetRecord.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

// A fetch relative to a record id.
struct TCRVNavigationInfo {
    TCRVGetRecordMode GetRecordMode = grmNext;
    std::int32_t IndexID = -1;
    TCRVRecordID RecordID{KCRVNoPage, 0};
    // The memory record to fill; empty to move without reading.
    std::span<std::byte> RecordBuffer;
    bool FirstPosition = false; // the cursor stands before the first row
    bool LastPosition = false;  // the cursor stands after the last row
    TCRVGetRecordResult GetRecordResult = grrOK;
};

class TCRVDiskRecordManager {
public:
    // The record page index is made through `indexFactory`; the field definitions give the
    // memory <-> disk conversion and must outlive the manager.
    TCRVDiskRecordManager(TCRVPageManager& pageManager, std::int32_t tableID, const TCRVFieldDefs& fieldDefs,
                          const TCRVPageIndexFactory& indexFactory);
    ~TCRVDiskRecordManager();
    TCRVDiskRecordManager(const TCRVDiskRecordManager&) = delete;
    TCRVDiskRecordManager& operator=(const TCRVDiskRecordManager&) = delete;

    // Sizes, rows per page (20174 when not one fits), scratch record, zeroed counters.
    void Init(std::int32_t recordBufferSize, std::int32_t diskRecordBufferSize, std::int32_t fieldCount);

    void CreateRecordPageIndex(TCRVSessionID sessionID);
    // The index root, one i32 (items 20168 write / 20169 read).
    void LoadMetadata(TCRVStream& stream);
    void SaveMetadata(TCRVStream& stream) const;
    // FTableState (i32) and the low 32 bits of FRecordCount at `offset`, which moves past them.
    // Load answers false (and changes nothing) when the buffer is too short.
    bool LoadMostUpdated(std::span<const std::uint8_t> buffer, std::size_t& offset);
    void SaveMostUpdated(std::vector<std::uint8_t>& buffer, std::size_t& offset) const;
    // The sum of the index's counts must be FRecordCount, else 20292.
    void ValidateRecordPageIndex(TCRVSessionID sessionID);
    // Rebuilds the index from the pages 1 .. pageCount - 1 that can be read, are the table's
    // valid record pages and are in use (isPageInUse, the free-space map's bit). 10512 when a
    // disk record is not smaller than a page's data area.
    void RebuildRecordPageIndex(TCRVSessionID sessionID, const std::string& tableName, std::int32_t pageCount,
                                const std::function<bool(TCRVPageNo)>& isPageInUse);

    // False (instead of raising) when the row could not be added.
    bool AddRecord(TCRVSessionID sessionID, std::span<const std::byte> recordBuffer, TCRVRecordID& recordID);
    // False when the slot holds no row.
    bool UpdateRecord(TCRVSessionID sessionID, std::span<const std::byte> recordBuffer,
                      const TCRVRecordID& recordID);
    bool DeleteRecord(TCRVSessionID sessionID, const TCRVRecordID& recordID);
    void GetRecordBuffer(TCRVSessionID sessionID, TCRVNavigationInfo& info);

    // 1-based numbers in physical order. SetRecNo beyond the last row raises 20113.
    std::int64_t GetRecNo(TCRVSessionID sessionID, const TCRVRecordID& recordID);
    TCRVRecordID SetRecNo(TCRVSessionID sessionID, std::int64_t recNo);
    std::int64_t GetApproximateRecNo() const { return FRecordCount / 2; }

    // Drops every row (the index root is kept and made empty); Delete also drops the index.
    void Empty(TCRVSessionID sessionID);
    void Delete(TCRVSessionID sessionID);

    std::int64_t RecordCount() const { return FRecordCount; }
    std::int32_t TableState() const { return FTableState; }
    std::int32_t MaxRecordsOnPage() const { return FMaxRecordsOnPage; }
    std::int32_t DiskRecordBufferSize() const { return FDiskRecordBufferSize; }
    std::int32_t RecordBufferSize() const { return FRecordBufferSize; }
    std::int32_t TableID() const { return FTableID; }
    TCRVPageNo RecordPageIndexRoot() const { return FRecordPageIndex->RootPageNo(); }
    TCRVPageIndexAccess& RecordPageIndex() { return *FRecordPageIndex; }
    // The highest record page, -1 when the table has none.
    TCRVPageNo LastRecordPageNo(TCRVSessionID sessionID);

    // The validity test of a page read through a record id: relaxed while repairing with header
    // errors suppressed, or for files of format version below 2.99.
    void SetSuppressDBHeaderErrors(bool suppress) { FSuppressDBHeaderErrors = suppress; }
    void SetFormatVersion(double version) { FFormatVersion = version; }
    bool IsValidRecordPage(const TCRVPage& page) const;

private:
    bool CanAddRecord(std::uint16_t value, std::uint16_t amount) const;
    TCRVPinnedPage PageForNewRecord(TCRVSessionID sessionID);
    // The page for navigation (any type), or an empty guard when it cannot be read or fails the
    // validity test.
    TCRVPinnedPage ValidPage(TCRVSessionID sessionID, TCRVPageNo pageNo);
    void ReadSlot(TCRVNavigationInfo& info, TCRVPage& page, std::int32_t slot, int missingCode);
    void FetchFirst(TCRVSessionID sessionID, TCRVNavigationInfo& info);
    void FetchLast(TCRVSessionID sessionID, TCRVNavigationInfo& info);
    void FetchNext(TCRVSessionID sessionID, TCRVNavigationInfo& info);
    void FetchPrior(TCRVSessionID sessionID, TCRVNavigationInfo& info);
    void FetchCurrent(TCRVSessionID sessionID, TCRVNavigationInfo& info);
    void RemoveAllRecordPages(TCRVSessionID sessionID);

    TCRVPageManager& LPageManager;
    const TCRVFieldDefs& LFieldDefs;
    std::int32_t FTableID;
    std::unique_ptr<TCRVPageIndexAccess> FRecordPageIndex;
    std::int64_t FRecordCount = 0;
    std::int32_t FTableState = 0;
    std::int32_t FRecordBufferSize = 0;
    std::int32_t FDiskRecordBufferSize = 0;
    std::int32_t FMaxRecordsOnPage = 0;
    std::vector<std::int64_t> FLastAutoIncValues;
    std::vector<std::byte> FTempDiskRecordBuffer;
    bool FSuppressDBHeaderErrors = false;
    double FFormatVersion = 3.0;
};
