#include "CRVPage/CRVSortedPageList.h"

#include "CRVExcept/CRVExcept.h"

#include <algorithm>

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
    return FValueItems[i].Page.get();
}

void TCRVSortedPageList::Reserve() {
    if (FKeyItems.size() < FKeyItems.capacity())
        return;
    FKeyItems.reserve(FKeyItems.capacity() + FAllocBy);
    FValueItems.reserve(FKeyItems.capacity());
    FAllocBy = std::min(FAllocBy * 2, MaxAllocBy);
}

TCRVPage* TCRVSortedPageList::Insert(std::unique_ptr<TCRVPage> page) {
    Reserve();
    const TCRVPageNo no = page->PageNo();
    const std::size_t i = LowerBound(no);
    page->FParentList = this;
    TCRVPage* raw = page.get();
    FKeyItems.insert(FKeyItems.begin() + static_cast<std::ptrdiff_t>(i), no);
    FValueItems.insert(FValueItems.begin() + static_cast<std::ptrdiff_t>(i),
                       TCRVPageElement{std::move(page), ++FLRUCount});
    FByStamp.emplace_hint(FByStamp.end(), FLRUCount, no);
    FLRULastFound = i;
    return raw;
}

std::unique_ptr<TCRVPage> TCRVSortedPageList::Delete(TCRVPageNo pageNo) {
    if (FKeyItems.empty())
        CRVRaise(20165);
    const std::size_t i = LowerBound(pageNo);
    if (i == FKeyItems.size() || FKeyItems[i] != pageNo)
        CRVRaise(20166, pageNo, static_cast<std::int64_t>(FKeyItems.size()));
    std::unique_ptr<TCRVPage> page = std::move(FValueItems[i].Page);
    FByStamp.erase({FValueItems[i].LRUCount, pageNo});
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
    // The page's entry moves to the end of the stamp order: its node is reused, and the new
    // stamp, the largest, is inserted at the end without a search (no allocation per page use).
    auto node = FByStamp.extract({FValueItems[i].LRUCount, pageNo});
    FValueItems[i].LRUCount = ++FLRUCount;
    if (node.empty()) {
        FByStamp.emplace_hint(FByStamp.end(), FLRUCount, pageNo);
        return;
    }
    node.value().first = FLRUCount;
    FByStamp.insert(FByStamp.end(), std::move(node));
}

std::size_t TCRVSortedPageList::OldestIndex() const {
    return LowerBound(FByStamp.begin()->second);
}

std::vector<std::unique_ptr<TCRVPage>> TCRVSortedPageList::TakeAll() {
    std::vector<std::unique_ptr<TCRVPage>> pages;
    pages.reserve(FValueItems.size());
    for (auto& e : FValueItems) {
        e.Page->FParentList = nullptr;
        pages.push_back(std::move(e.Page));
    }
    FKeyItems.clear();
    FValueItems.clear();
    FByStamp.clear();
    FLRULastFound = 0;
    return pages;
}
