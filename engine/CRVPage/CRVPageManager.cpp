#include "CRVPage/CRVPageManager.h"

#include "CRVExcept/CRVExcept.h"

#include <algorithm>
#include <cassert>
#include <set>
#include <unistd.h>

TCRVPageManager::TCRVPageManager()
    : FCacheCapacity(DefaultCacheCapacity()), FRandom(std::random_device{}()) {}

TCRVPageManager::~TCRVPageManager() {
    ClearCache();
}

std::size_t TCRVPageManager::DefaultCacheCapacity() {
    const long pages = sysconf(_SC_AVPHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return 1000;
    const unsigned long long bytes =
        static_cast<unsigned long long>(pages) * static_cast<unsigned long long>(pageSize);
    return static_cast<std::size_t>(std::clamp<unsigned long long>(bytes / 65536, 1, 1000));
}

void TCRVPageManager::SetPageGeometry(std::uint16_t pageSize) {
    FPageSize = pageSize;
    FPageHeaderSize = KCRVPageHeaderSize;
    FPageDataSize = static_cast<std::uint16_t>(pageSize - KCRVPageHeaderSize);
}

std::int32_t TCRVPageManager::NewPageState() {
    return static_cast<std::int32_t>(FRandom() % (static_cast<std::uint32_t>(KCRVPageStateMaxRandom) + 1));
}

TCRVSessionPageInfo* TCRVPageManager::FindSession(TCRVSessionID sessionID) {
    for (auto& s : FSessions)
        if (s.SessionID == sessionID)
            return &s;
    return nullptr;
}

const TCRVSessionPageInfo* TCRVPageManager::FindSession(TCRVSessionID sessionID) const {
    for (const auto& s : FSessions)
        if (s.SessionID == sessionID)
            return &s;
    return nullptr;
}

TCRVSessionPageInfo& TCRVPageManager::Session(TCRVSessionID sessionID) {
    if (sessionID == KCRVInvalidSessionID)
        CRVRaise(20186);
    if (TCRVSessionPageInfo* s = FindSession(sessionID))
        return *s;
    FSessions.emplace_back();
    FSessions.back().SessionID = sessionID;
    return FSessions.back();
}

TCRVPinnedPage TCRVPageManager::AddPage(TCRVSessionID sessionID, std::uint16_t pageType) {
    TCRVSessionPageInfo& session = Session(sessionID);
    const TCRVPageNo no = InternalAddPage();
    auto page = std::make_unique<TCRVPage>(this, no, FPageSize);
    page->InitHeader();
    page->GetPageHeader()->PageType = pageType;
    page->GetPageHeader()->State = NewPageState();
    page->FIsDirty = true;
    page->FUseCount = 1;
    page->FSessionID = sessionID;
    if (TCRVPage* stale = FSharedPages.Find(no); stale && stale->FUseCount == 0)
        FSharedPages.Delete(no);
    if (session.DirtyPages->Find(no))
        session.DirtyPages->Delete(no);
    TCRVPage* raw = session.DirtyPages->Insert(std::move(page));
    session.AddedPageNumbers.push_back(no);
    ++session.PinnedPages;
    AssertInvariants();
    return TCRVPinnedPage(this, raw);
}

TCRVPage* TCRVPageManager::ReadIntoSharedList(TCRVPageNo pageNo, std::uint16_t pageType) {
    TCRVPage* page = FSharedPages.Insert(std::make_unique<TCRVPage>(this, pageNo, FPageSize));
    bool ok = false;
    try {
        ok = InternalReadPage(*page);
    } catch (...) {
        FSharedPages.Delete(pageNo);
        throw;
    }
    // A page marked removed on disk is no live page: reading it through the cache is an error
    // like a failed read (repair, which ignores CRC errors, may still look at it).
    if (ok && page->GetPageHeader()->State == KCRVPageStateRemoved && !FIgnoreCRCErrors)
        ok = false;
    if (!ok) {
        FSharedPages.Delete(pageNo);
        CRVRaise(20299, pageNo, static_cast<int>(pageType));
    }
    return page;
}

TCRVPinnedPage TCRVPageManager::GetPage(TCRVSessionID sessionID, TCRVPageNo pageNo, bool synchronizeAllowed,
                                        std::uint16_t pageType) {
    (void)synchronizeAllowed; // a cached page is re-checked against the file only in multi-user mode
    TCRVSessionPageInfo& session = Session(sessionID);
    CheckPageNo(pageNo);
    TCRVPage* page = session.DirtyPages->Find(pageNo);
    if (!page)
        page = FSharedPages.Find(pageNo);
    if (!page)
        page = ReadIntoSharedList(pageNo, pageType);
    const std::uint16_t found = page->GetPageHeader()->PageType;
    if (!FIgnoreCRCErrors && pageType != KCRVAnyPageType && found != pageType)
        CRVRaise(20153, static_cast<int>(pageType), static_cast<int>(found));
    if (page->FUseCount > 0 && page->FSessionID != sessionID)
        CRVRaise(20090);
    page->FSessionID = sessionID;
    if (page->FUseCount++ == 0)
        ++session.PinnedPages;
    return TCRVPinnedPage(this, page);
}

void TCRVPageManager::PutPage(TCRVPage* page) noexcept {
    assert(page && page->FUseCount > 0);
    if (--page->FUseCount == 0) {
        page->FReloaded = false;
        if (TCRVSessionPageInfo* owner = FindSession(page->FSessionID); owner && owner->PinnedPages > 0)
            --owner->PinnedPages;
    }
    const bool inShared = page->FParentList == &FSharedPages;
    if (page->FUseCount == 0 && inShared) {
        if (page->FIsDirty) {
            // Session() cannot fail here: the page was pinned by a valid session.
            TCRVSessionPageInfo& session = Session(page->FSessionID);
            session.DirtyPages->Insert(FSharedPages.Delete(page->FPageNo));
            AssertInvariants();
            return;
        }
        FSharedPages.UpdateLRU(page->FPageNo);
    }
    if (inShared && FSharedPages.ItemCount() > FCacheCapacity)
        EvictOne();
    AssertInvariants();
}

void TCRVPageManager::EvictOne() noexcept {
    const std::size_t i = FSharedPages.OldestIndex();
    TCRVPage* oldest = FSharedPages.ItemAt(i);
    if (oldest->FUseCount == 0)
        FSharedPages.Delete(oldest->FPageNo);
}

void TCRVPageManager::RemovePage(TCRVSessionID sessionID, TCRVPageNo pageNo) {
    TCRVSessionPageInfo& session = Session(sessionID);
    CheckPageNo(pageNo);
    auto& removed = session.RemovedPageNumbers;
    if (std::find(removed.begin(), removed.end(), pageNo) == removed.end())
        removed.push_back(pageNo);
}

bool TCRVPageManager::SessionHasChanges(TCRVSessionID sessionID) const {
    const TCRVSessionPageInfo* s = FindSession(sessionID);
    return s && (!s->DirtyPages->Empty() || !s->AddedPageNumbers.empty() || !s->RemovedPageNumbers.empty());
}

std::size_t TCRVPageManager::DirtyPageCount(TCRVSessionID sessionID) const {
    const TCRVSessionPageInfo* s = FindSession(sessionID);
    return s ? s->DirtyPages->ItemCount() : 0;
}

void TCRVPageManager::DropFromLists(TCRVSessionPageInfo& session, TCRVPageNo pageNo) {
    if (TCRVPage* p = session.DirtyPages->Find(pageNo); p && p->FUseCount == 0)
        session.DirtyPages->Delete(pageNo);
    if (TCRVPage* p = FSharedPages.Find(pageNo); p && p->FUseCount == 0)
        FSharedPages.Delete(pageNo);
}

void TCRVPageManager::KeepWrittenPage(std::unique_ptr<TCRVPage> page) {
    if (TCRVPage* cached = FSharedPages.Find(page->FPageNo)) {
        // Another session read the old content meanwhile: its copy takes the written one,
        // unless that session is changing it right now.
        if (cached->FUseCount == 0)
            FSharedPages.Delete(page->FPageNo);
        else
            return;
    }
    if (FSharedPages.ItemCount() < FCacheCapacity)
        FSharedPages.Insert(std::move(page));
}

void TCRVPageManager::InternalWritePages(std::span<TCRVPage* const> pages, std::size_t& written) {
    for (TCRVPage* page : pages) {
        InternalWritePage(*page);
        ++written;
    }
}

void TCRVPageManager::WriteDirtyPages(TCRVSessionPageInfo& session) {
    // Every page is checked before the first is written. They are written in page-number order;
    // a failure leaves the pages not known to be written in the dirty list.
    TCRVSortedPageList& dirty = *session.DirtyPages;
    std::vector<TCRVPage*> pages;
    pages.reserve(dirty.ItemCount());
    for (std::size_t i = 0; i < dirty.ItemCount(); ++i) {
        TCRVPage* page = dirty.ItemAt(i);
        if (!page->FIsDirty)
            CRVRaise(20085);
        if (page->FUseCount > 0)
            CRVRaise(20086);
        pages.push_back(page);
    }
    std::size_t written = 0;
    try {
        InternalWritePages(pages, written);
    } catch (...) {
        for (std::size_t i = written; i-- > 0;) {
            pages[i]->FIsDirty = false;
            KeepWrittenPage(dirty.Delete(pages[i]->FPageNo));
        }
        throw;
    }
    for (auto& page : dirty.TakeAll()) {
        page->FIsDirty = false;
        KeepWrittenPage(std::move(page));
    }
}

bool TCRVPageManager::ApplyChanges(TCRVSessionID sessionID) {
    TCRVSessionPageInfo* session = FindSession(sessionID);
    if (!session || !SessionHasChanges(sessionID))
        return false;
    if (session->PinnedPages > 0) {
        for (std::size_t i = 0; i < FSharedPages.ItemCount(); ++i) {
            const TCRVPage* p = FSharedPages.ItemAt(i);
            if (p->FUseCount > 0 && p->FSessionID == sessionID)
                CRVRaise(20152);
        }
        for (std::size_t i = 0; i < session->DirtyPages->ItemCount(); ++i)
            if (session->DirtyPages->ItemAt(i)->FUseCount > 0)
                CRVRaise(20086);
    }
    // Freed in order; a failure keeps the numbers not yet freed.
    auto& removed = session->RemovedPageNumbers;
    std::size_t freed = 0;
    try {
        while (freed < removed.size()) {
            const TCRVPageNo no = removed[freed];
            InternalRemovePage(no);
            ++freed;
            DropFromLists(*session, no);
        }
    } catch (...) {
        removed.erase(removed.begin(), removed.begin() + static_cast<std::ptrdiff_t>(freed));
        throw;
    }
    removed.clear();
    session->AddedPageNumbers.clear();
    WriteDirtyPages(*session);
    AssertInvariants();
    return true;
}

void TCRVPageManager::CancelChanges(TCRVSessionID sessionID) {
    TCRVSessionPageInfo* session = FindSession(sessionID);
    if (!session)
        return;
    for (std::size_t i = 0; i < session->DirtyPages->ItemCount(); ++i) {
        const TCRVPage* p = session->DirtyPages->ItemAt(i);
        if (!p->FIsDirty)
            CRVRaise(20087);
        if (p->FUseCount > 0)
            CRVRaise(20088);
    }
    session->DirtyPages->TakeAll();
    session->RemovedPageNumbers.clear();
    while (!session->AddedPageNumbers.empty()) {
        const TCRVPageNo no = session->AddedPageNumbers.back();
        session->AddedPageNumbers.pop_back();
        InternalRemovePage(no);
    }
    AssertInvariants();
}

void TCRVPageManager::CheckNoPendingChanges() const {
    for (const auto& s : FSessions)
        if (!s.DirtyPages->Empty())
            CRVRaise(20097);
}

void TCRVPageManager::ClearCache() noexcept {
    FSharedPages.TakeAll();
    FSessions.clear();
}

void TCRVPageManager::AssertInvariants() const {
#ifndef NDEBUG
    auto checkList = [](const TCRVSortedPageList& list, bool shared) {
        std::set<TCRVPageNo> seen;
        for (std::size_t i = 0; i < list.ItemCount(); ++i) {
            const TCRVPage* p = list.ItemAt(i);
            assert(p->FParentList == &list);
            assert(seen.insert(p->FPageNo).second);
            assert(!shared || !p->FIsDirty || p->FUseCount > 0);
            assert(p->FUseCount >= 0);
        }
    };
    checkList(FSharedPages, true);
    for (const auto& s : FSessions)
        checkList(*s.DirtyPages, false);
#endif
}
