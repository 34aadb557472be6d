// TCRVSortedPageList: cached pages kept sorted by page number (binary search), each with a
// 64-bit use stamp for eviction.
//
// KeyItems (page numbers, ascending) and ValueItems (page and stamp) are parallel arrays. A page
// enters with a fresh stamp; UpdateLRU gives it the next one; the eviction candidate is the page
// with the smallest stamp, the first such in page-number order. The arrays grow in steps of
// AllocBy items, starting at 1000 and doubling per growth up to MaxAllocBy = 10000.
//
// Stamps only grow and every stamp is given once, so the stamp order is a queue: the pages are
// also linked in stamp order through their FLRUPrev/FLRUNext, oldest first, and the eviction
// candidate is the head of that chain. The list owns its pages; the value items hold plain
// pointers so that inserting and deleting move the arrays as flat memory.
#pragma once

#include "CRVPage/CRVPage.h"

#include <cstdint>
#include <memory>
#include <vector>

struct TCRVPageElement {
    TCRVPage* Page = nullptr; // owned by the list
    std::int64_t LRUCount = 0;
};

class TCRVSortedPageList {
public:
    TCRVSortedPageList() = default;
    ~TCRVSortedPageList();
    TCRVSortedPageList(const TCRVSortedPageList&) = delete;
    TCRVSortedPageList& operator=(const TCRVSortedPageList&) = delete;

    static constexpr std::size_t KInitialAllocBy = 1000;
    static constexpr std::size_t MaxAllocBy = 10000;

    std::size_t ItemCount() const { return FKeyItems.size(); }
    bool Empty() const { return FKeyItems.empty(); }
    TCRVPage* Find(TCRVPageNo pageNo) const;
    TCRVPage* ItemAt(std::size_t index) const { return FValueItems[index].Page; }
    std::int64_t StampAt(std::size_t index) const { return FValueItems[index].LRUCount; }

    // Takes ownership; the page's parent becomes this list. A page with that number must not be
    // in the list.
    TCRVPage* Insert(std::unique_ptr<TCRVPage> page);
    // Gives the page back to the caller; raises 20165 on an empty list, 20166 for a missing page.
    std::unique_ptr<TCRVPage> Delete(TCRVPageNo pageNo);
    // Stamps the page with the next use count; 20167 when it is not in the list.
    void UpdateLRU(TCRVPageNo pageNo);
    // Index of the page with the smallest stamp (O(log n)); the list must not be empty.
    std::size_t OldestIndex() const;
    // Moves every page out (page-number order), leaving the list empty.
    std::vector<std::unique_ptr<TCRVPage>> TakeAll();

private:
    // Index of the first key >= pageNo.
    std::size_t LowerBound(TCRVPageNo pageNo) const;
    void Reserve();
    void LinkNewest(TCRVPage* page) noexcept;
    void Unlink(TCRVPage* page) noexcept;

    std::vector<TCRVPageNo> FKeyItems;
    std::vector<TCRVPageElement> FValueItems;
    TCRVPage* FOldest = nullptr;
    TCRVPage* FNewest = nullptr;
    std::int64_t FLRUCount = 0;
    mutable std::size_t FLRULastFound = 0;
    std::size_t FAllocBy = KInitialAllocBy;
};
