#include "CRVPage/CRVSortedPageList.h"

#include "CRVExcept/CRVExcept.h"

#include <algorithm>

TCRVSortedPageList::~TCRVSortedPageList() {
    for (const auto& e : FValueItems)
        delete e.Page;
}

std::size_t TCRVSortedPageList::LowerBound(TCRVPageNo pageNo) const {
    // The last hit is tried first: callers often ask for the same page again.
    if (FLRULastFound < FKeyItems.size() && FKeyItems[FLRULastFound] == pageNo)
        return FLRULastFound;
    return static_cast<std::size_t>(std::lower_bound(FKeyItems.begin(), FKeyItems.end(), pageNo) -
                                    FKeyItems.begin());
}

TCRVPage* TCRVSortedPageList::Find(TCRVPageNo pageNo) const {
    const std::size_t i = LowerBound(pageNo);
    if (i == FKeyItems.size() || FKeyItems[i] != pageNo)
        return nullptr;
    FLRULastFound = i;
    return FValueItems[i].Page;
}

void TCRVSortedPageList::Reserve() {
    if (FKeyItems.size() < FKeyItems.capacity() && FValueItems.size() < FValueItems.capacity())
        return;
    FKeyItems.reserve(FKeyItems.size() + FAllocBy);
    FValueItems.reserve(FKeyItems.capacity());
    FAllocBy = std::min(FAllocBy * 2, MaxAllocBy);
}

void TCRVSortedPageList::LinkNewest(TCRVPage* page) noexcept {
    page->FLRUPrev = FNewest;
    page->FLRUNext = nullptr;
    if (FNewest)
        FNewest->FLRUNext = page;
    else
        FOldest = page;
    FNewest = page;
}

void TCRVSortedPageList::Unlink(TCRVPage* page) noexcept {
    if (page->FLRUPrev)
        page->FLRUPrev->FLRUNext = page->FLRUNext;
    else
        FOldest = page->FLRUNext;
    if (page->FLRUNext)
        page->FLRUNext->FLRUPrev = page->FLRUPrev;
    else
        FNewest = page->FLRUPrev;
    page->FLRUPrev = page->FLRUNext = nullptr;
}

TCRVPage* TCRVSortedPageList::Insert(std::unique_ptr<TCRVPage> page) {
    Reserve();
    const TCRVPageNo no = page->PageNo();
    const std::size_t i = LowerBound(no);
    // Both arrays have room (Reserve), so neither insert can throw and the page is never lost.
    TCRVPage* raw = page.release();
    raw->FParentList = this;
    FKeyItems.insert(FKeyItems.begin() + static_cast<std::ptrdiff_t>(i), no);
    FValueItems.insert(FValueItems.begin() + static_cast<std::ptrdiff_t>(i),
                       TCRVPageElement{raw, ++FLRUCount});
    LinkNewest(raw);
    FLRULastFound = i;
    return raw;
}

std::unique_ptr<TCRVPage> TCRVSortedPageList::Delete(TCRVPageNo pageNo) {
    if (FKeyItems.empty())
        CRVRaise(20165);
    const std::size_t i = LowerBound(pageNo);
    if (i == FKeyItems.size() || FKeyItems[i] != pageNo)
        CRVRaise(20166, pageNo, static_cast<std::int64_t>(FKeyItems.size()));
    std::unique_ptr<TCRVPage> page(FValueItems[i].Page);
    Unlink(page.get());
    FKeyItems.erase(FKeyItems.begin() + static_cast<std::ptrdiff_t>(i));
    FValueItems.erase(FValueItems.begin() + static_cast<std::ptrdiff_t>(i));
    FLRULastFound = 0;
    page->FParentList = nullptr;
    return page;
}

void TCRVSortedPageList::UpdateLRU(TCRVPageNo pageNo) {
    const std::size_t i = LowerBound(pageNo);
    if (i == FKeyItems.size() || FKeyItems[i] != pageNo)
        CRVRaise(20167);
    FLRULastFound = i;
    TCRVPage* page = FValueItems[i].Page;
    FValueItems[i].LRUCount = ++FLRUCount;
    if (page != FNewest) {
        Unlink(page);
        LinkNewest(page);
    }
}

std::size_t TCRVSortedPageList::OldestIndex() const {
    return LowerBound(FOldest->PageNo());
}

std::vector<std::unique_ptr<TCRVPage>> TCRVSortedPageList::TakeAll() {
    std::vector<std::unique_ptr<TCRVPage>> pages;
    pages.reserve(FValueItems.size());
    for (auto& e : FValueItems) {
        e.Page->FParentList = nullptr;
        e.Page->FLRUPrev = e.Page->FLRUNext = nullptr;
        pages.emplace_back(e.Page);
    }
    FKeyItems.clear();
    FValueItems.clear();
    FOldest = FNewest = nullptr;
    FLRULastFound = 0;
    return pages;
}
