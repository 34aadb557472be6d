// TCRVPageManager: the page cache every higher layer reads and writes pages through.
//
// The cache holds one shared list of clean pages and, per session, a list of dirty pages plus
// the numbers of the pages the session added and removed. Invariants (checked by
// AssertInvariants in debug builds):
//   1. every page object is in exactly one list, and its FParentList names that list;
//   2. pages in the shared list are clean unless pinned (a dirty page moves to its session's
//      dirty list when its last pin goes);
//   3. a page number is in the shared list at most once and in each dirty list at most once;
//   4. a pinned page is pinned by one session only (FSessionID).
//
// Transitions: AddPage (new page -> session dirty list, pinned), GetPage (disk -> shared list,
// pinned), PutPage (unpin; dirty shared page -> session dirty list; eviction of one clean page
// past the capacity), RemovePage (number recorded), ApplyChanges (removed pages freed, dirty pages
// written and moved to the shared list), CancelChanges (dirty pages dropped, added pages given
// back).
//
// Threads: the cache is not thread-safe on its own. REQUIRES: the open database's lock (one
// lock serialises all cache and free-space work of a database).
#pragma once

#include "CRVPage/CRVPage.h"
#include "CRVPage/CRVSortedPageList.h"

#include <cstdint>
#include <memory>
#include <random>
#include <span>
#include <vector>

struct TCRVSessionPageInfo {
    TCRVSessionID SessionID = KCRVInvalidSessionID;
    std::unique_ptr<TCRVSortedPageList> DirtyPages = std::make_unique<TCRVSortedPageList>();
    std::vector<TCRVPageNo> AddedPageNumbers;
    std::vector<TCRVPageNo> RemovedPageNumbers;
    // Pages this session holds pinned (in any list), so a write-back need not scan the cache.
    std::size_t PinnedPages = 0;
};

class TCRVPageManager {
public:
    TCRVPageManager();
    virtual ~TCRVPageManager();
    TCRVPageManager(const TCRVPageManager&) = delete;
    TCRVPageManager& operator=(const TCRVPageManager&) = delete;

    // A new page for the session: number from InternalAddPage, zero-filled, header initialised,
    // the type set, State random in 0..0x3FFFFFFE; pinned, dirty, in the session's dirty list.
    TCRVPinnedPage AddPage(TCRVSessionID sessionID, std::uint16_t pageType);
    // The page pinned for the session; read from disk when in no list. pageType 255 = any.
    TCRVPinnedPage GetPage(TCRVSessionID sessionID, TCRVPageNo pageNo, bool synchronizeAllowed,
                           std::uint16_t pageType);
    // Releases one pin (called by TCRVPinnedPage).
    void PutPage(TCRVPage* page) noexcept;
    // Records the page as removed by the session; it is freed when the changes are applied.
    void RemovePage(TCRVSessionID sessionID, TCRVPageNo pageNo);
    // Writes the session's changes; false when it had none.
    virtual bool ApplyChanges(TCRVSessionID sessionID);
    // Drops the session's changes and gives its added pages back.
    void CancelChanges(TCRVSessionID sessionID);
    bool SessionHasChanges(TCRVSessionID sessionID) const;
    // Raises 20097 when a session still has dirty pages (call before destroying the cache).
    void CheckNoPendingChanges() const;
    // Drops every cached page and every session's changes without writing anything.
    void ClearCache() noexcept;

    std::uint16_t PageSize() const { return FPageSize; }
    std::uint16_t PageHeaderSize() const { return FPageHeaderSize; }
    std::uint16_t PageDataSize() const { return FPageDataSize; }
    bool IgnoreCRCErrors() const { return FIgnoreCRCErrors; }
    void SetIgnoreCRCErrors(bool ignore) { FIgnoreCRCErrors = ignore; }
    bool MultiUser() const { return FMultiUser; }
    std::size_t CacheCapacity() const { return FCacheCapacity; }
    void SetCacheCapacity(std::size_t capacity) { FCacheCapacity = capacity; }
    std::size_t SharedPageCount() const { return FSharedPages.ItemCount(); }
    std::size_t DirtyPageCount(TCRVSessionID sessionID) const;

    // Debug check of the invariants above; compiled out with NDEBUG.
    void AssertInvariants() const;

    // min(1000, available physical memory / 65536), at least 1.
    static std::size_t DefaultCacheCapacity();

protected:
    void SetPageGeometry(std::uint16_t pageSize);
    void SetMultiUser(bool multiUser) { FMultiUser = multiUser; }

    // Reads the page from the database; false when the read failed (State is then 0x7FFFFFFF).
    virtual bool InternalReadPage(TCRVPage& page) = 0;
    // Writes the page (advancing its State).
    virtual void InternalWritePage(TCRVPage& page) = 0;
    // Writes the pages, in ascending page-number order, advancing their State; `written` counts
    // the pages, from the front, that reached the database (it is what is known when a write
    // fails). By default one InternalWritePage each; a file can write neighbours together.
    virtual void InternalWritePages(std::span<TCRVPage* const> pages, std::size_t& written);
    // A page number for a new page.
    virtual TCRVPageNo InternalAddPage() = 0;
    // Marks the page removed on disk and frees its number.
    virtual void InternalRemovePage(TCRVPageNo pageNo) = 0;
    // Refuses page numbers the cache must not hand out (map pages, -1).
    virtual void CheckPageNo(TCRVPageNo pageNo) { (void)pageNo; }
    // The first State of a new page.
    virtual std::int32_t NewPageState();

private:
    TCRVSessionPageInfo& Session(TCRVSessionID sessionID);
    TCRVSessionPageInfo* FindSession(TCRVSessionID sessionID);
    const TCRVSessionPageInfo* FindSession(TCRVSessionID sessionID) const;
    TCRVPage* ReadIntoSharedList(TCRVPageNo pageNo, std::uint16_t pageType);
    void EvictOne() noexcept;
    void WriteDirtyPages(TCRVSessionPageInfo& session);
    void KeepWrittenPage(std::unique_ptr<TCRVPage> page);
    void DropFromLists(TCRVSessionPageInfo& session, TCRVPageNo pageNo);

    std::size_t FCacheCapacity;
    TCRVSortedPageList FSharedPages;
    std::vector<TCRVSessionPageInfo> FSessions;
    std::uint16_t FPageSize = 0;
    std::uint16_t FPageHeaderSize = KCRVPageHeaderSize;
    std::uint16_t FPageDataSize = 0;
    bool FMultiUser = false;
    bool FIgnoreCRCErrors = false;
    std::minstd_rand FRandom;
};
