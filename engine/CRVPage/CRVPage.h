// One cached page (TCRVPage) and the guard that keeps it pinned (TCRVPinnedPage).
//
// A page lives in exactly one list at a time (FParentList): the cache's shared list of clean
// pages or one session's dirty list; the list owns the object. A caller never owns a page: it
// holds a TCRVPinnedPage from AddPage/GetPage, which releases the pin in its destructor, so every
// path, the error paths included, gives the page back.
#pragma once

#include "CRVPage/CRVPageTypes.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class TCRVPageManager;
class TCRVSortedPageList;

class TCRVPage {
public:
    TCRVPage(TCRVPageManager* pageManager, TCRVPageNo pageNo, std::size_t pageSize);

    TCRVPageNo PageNo() const { return FPageNo; }
    TCRVDiskPageHeader* GetPageHeader() { return reinterpret_cast<TCRVDiskPageHeader*>(FPageBuffer.data()); }
    const TCRVDiskPageHeader* GetPageHeader() const {
        return reinterpret_cast<const TCRVDiskPageHeader*>(FPageBuffer.data());
    }
    std::uint8_t* GetPageData() { return FPageBuffer.data() + KCRVPageHeaderSize; }
    const std::uint8_t* GetPageData() const { return FPageBuffer.data() + KCRVPageHeaderSize; }
    std::size_t GetPageDataSize() const { return FPageSize - KCRVPageHeaderSize; }
    std::size_t GetPageSize() const { return FPageSize; }
    // The whole page (header and data), PageSize bytes; the buffer may be larger after
    // EnlargeBuffer, but only PageSize bytes are ever written.
    std::uint8_t* Buffer() { return FPageBuffer.data(); }
    const std::uint8_t* Buffer() const { return FPageBuffer.data(); }

    bool IsDirty() const { return FIsDirty; }
    void SetIsDirty(bool dirty) { FIsDirty = dirty; }
    int UseCount() const { return FUseCount; }
    TCRVSessionID SessionID() const { return FSessionID; }
    bool Reloaded() const { return FReloaded; }
    void SetReloaded(bool reloaded) { FReloaded = reloaded; }
    bool EncryptionEnabled() const { return FEncryptionEnabled; }
    void SetEncryptionEnabled(bool enabled) { FEncryptionEnabled = enabled; }

    // Zero-fills the buffer and gives it a new page header.
    void InitHeader();
    // Makes the buffer at least `size` bytes (for callers that build a page larger than it).
    void EnlargeBuffer(std::size_t size);

private:
    friend class TCRVPageManager;
    friend class TCRVSortedPageList;

    TCRVPageManager* LPageManager;
    TCRVPageNo FPageNo;
    std::size_t FPageSize;
    std::vector<std::uint8_t> FPageBuffer;
    bool FIsDirty = false;
    int FUseCount = 0;
    TCRVSortedPageList* FParentList = nullptr;
    TCRVSessionID FSessionID = KCRVInvalidSessionID;
    bool FReloaded = false;
    bool FEncryptionEnabled = true;
    // Neighbours in the use order of the list that holds the page (older, newer).
    TCRVPage* FLRUPrev = nullptr;
    TCRVPage* FLRUNext = nullptr;
};

// A pin on one page: released (PutPage) when the guard goes out of scope or on Release().
class TCRVPinnedPage {
public:
    TCRVPinnedPage() = default;
    TCRVPinnedPage(TCRVPageManager* manager, TCRVPage* page) : FManager(manager), FPage(page) {}
    TCRVPinnedPage(TCRVPinnedPage&& other) noexcept : FManager(other.FManager), FPage(other.FPage) {
        other.FPage = nullptr;
    }
    TCRVPinnedPage& operator=(TCRVPinnedPage&& other) noexcept;
    TCRVPinnedPage(const TCRVPinnedPage&) = delete;
    TCRVPinnedPage& operator=(const TCRVPinnedPage&) = delete;
    ~TCRVPinnedPage() { Release(); }

    void Release() noexcept;
    explicit operator bool() const { return FPage != nullptr; }
    TCRVPage* operator->() const { return FPage; }
    TCRVPage& operator*() const { return *FPage; }
    TCRVPage* Get() const { return FPage; }

private:
    TCRVPageManager* FManager = nullptr;
    TCRVPage* FPage = nullptr;
};
