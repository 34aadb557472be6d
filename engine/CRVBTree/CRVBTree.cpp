// Search, navigation and positions of a B-tree; its changes are in CRVBTreeModify.cpp, the
// integrity check in CRVBTreeCheck.cpp.
#include "CRVBTree/CRVBTree.h"

#include "CRVExcept/CRVExcept.h"

#include <algorithm>
#include <cstring>

TCRVBTreePage TCRVBTree::GetBTreePage(TCRVSessionID sessionID, TCRVPageNo pageNo) const {
    if (pageNo < 0)
        CRVRaise(20070);
    TCRVBTreePage page(FPageManager.GetPage(sessionID, pageNo, true, ptTableIndex), FKeyRef.ReferenceSize);
    // A damaged page must not lead past its data area: its key size and entry count must fit.
    if (page.KeyPrefixSize() != FKeyRef.ShortKeySize ||
        page.EntriesOffset() + page.EntryCount() * page.EntrySize() > page.GetPageDataSize())
        CRVRaise(20194, pageNo, page.EntryCount());
    return page;
}

TCRVBTreePage TCRVBTree::AddBTreePage(TCRVSessionID sessionID) const {
    TCRVBTreePage page(FPageManager.AddPage(sessionID, ptTableIndex), FKeyRef.ReferenceSize);
    page.Init();
    return page;
}

TCRVBTreePage TCRVBTree::GetRoot(TCRVSessionID sessionID) const {
    if (FRootPageNo < 0)
        CRVRaise(20110);
    return GetBTreePage(sessionID, FRootPageNo);
}

// --- Life of the tree ---

TCRVPageNo TCRVBTree::CreateRoot(TCRVSessionID sessionID) {
    TCRVBTreePage root = AddBTreePage(sessionID);
    root.InitAsRoot(FKeyRef.ShortKeySize);
    root.MarkDirty();
    FRootPageNo = root.GetPageNo();
    return FRootPageNo;
}

std::vector<TCRVPageNo> TCRVBTree::CollectPages(TCRVSessionID sessionID) const {
    std::vector<TCRVPageNo> pages{FRootPageNo};
    TCRVPageSet seen;
    seen.Visit(FRootPageNo, 0);
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const TCRVBTreePage page = GetBTreePage(sessionID, pages[i]);
        if (page.IsLeaf())
            continue;
        for (int e = 0; e < page.EntryCount(); ++e) {
            seen.Visit(page.ChildPageNo(e), e);
            pages.push_back(page.ChildPageNo(e));
        }
    }
    return pages;
}

void TCRVBTree::Drop(TCRVSessionID sessionID) {
    if (FRootPageNo < 0)
        return;
    for (const TCRVPageNo no : CollectPages(sessionID))
        FPageManager.RemovePage(sessionID, no);
    FRootPageNo = KCRVNoPage;
}

void TCRVBTree::Empty(TCRVSessionID sessionID) {
    TCRVBTreePage root = GetRoot(sessionID); // 20110 for a tree without a root
    const std::vector<TCRVPageNo> pages = CollectPages(sessionID);
    for (std::size_t i = 1; i < pages.size(); ++i)
        FPageManager.RemovePage(sessionID, pages[i]);
    std::memset(root.GetPageData(), 0, root.GetPageDataSize());
    root.InitAsRoot(FKeyRef.ShortKeySize);
    root.MarkDirty();
}

// --- Comparing with entries ---

int TCRVBTree::CompareEntry(TCRVSessionID sessionID, const TCRVBTreePage& page, int entryNo,
                            const TCRVBTreeKey& key, bool withReference) const {
    if (page.IsLeaf()) {
        const std::uint8_t* reference = page.EntryReference(entryNo);
        int r = FKeyRef.CompareShortKeys(key, page.EntryKey(entryNo), reference, sessionID, true);
        if (r == 0 && withReference && key.Reference)
            r = FKeyRef.CompareReferences(key.Reference, reference);
        return r;
    }
    // Separators compare without the fallback; a tie goes to the first entry below the separator.
    int r = FKeyRef.CompareShortKeys(key, page.EntryKey(entryNo), nullptr, sessionID, false);
    if (r == 0 && withReference && key.Reference)
        r = CompareWithSubtreeFirst(sessionID, page.ChildPageNo(entryNo), key);
    return r;
}

bool TCRVBTree::SubtreeFirstEntry(TCRVSessionID sessionID, TCRVPageNo pageNo,
                                  std::vector<std::uint8_t>& entry) const {
    TCRVBTreePage page = GetBTreePage(sessionID, pageNo);
    for (int depth = 0; !page.IsLeaf(); ++depth) {
        if (page.EntryCount() == 0)
            return false;
        if (depth >= KCRVMaxKeyPathLevels) // deeper than any tree: the child links go round
            CRVRaise(20032, page.GetPageNo(), 0);
        const TCRVPageNo child = page.ChildPageNo(0);
        page = GetBTreePage(sessionID, child);
    }
    for (int step = 0; page.EntryCount() == 0; ++step) { // only while a change is under way
        const TCRVPageNo right = page.RightPageNo();
        if (right < 0 || step >= KCRVMaxKeyPathLevels)
            return false;
        page = GetBTreePage(sessionID, right);
    }
    entry.assign(page.EntryKey(0), page.EntryKey(0) + page.EntrySize());
    return true;
}

int TCRVBTree::CompareWithSubtreeFirst(TCRVSessionID sessionID, TCRVPageNo childPageNo,
                                       const TCRVBTreeKey& key) const {
    std::vector<std::uint8_t> entry;
    if (!SubtreeFirstEntry(sessionID, childPageNo, entry))
        return 0;
    const std::uint8_t* reference = entry.data() + FKeyRef.ShortKeySize;
    const int r = FKeyRef.CompareShortKeys(key, entry.data(), reference, sessionID, true);
    return r != 0 ? r : FKeyRef.CompareReferences(key.Reference, reference);
}

TCRVKeyPosition TCRVBTree::GetKeyPosition(TCRVSessionID sessionID, const TCRVBTreePage& page,
                                          const TCRVBTreeKey& key, TCRVKeyPositionMode mode,
                                          int startEntry) const {
    const int count = page.EntryCount();
    if (count == 0)
        return {0, kppEOF};
    int low = startEntry, high = count - 1;
    while (low <= high) {
        const int mid = (low + high) / 2;
        const int r = CompareEntry(sessionID, page, mid, key, true);
        if (r == 0) {
            int at = mid;
            if (mode == kpmFirstEqual)
                while (at - 1 >= startEntry && CompareEntry(sessionID, page, at - 1, key, false) == 0)
                    --at;
            else if (mode == kpmLastEqual)
                while (at + 1 < count && CompareEntry(sessionID, page, at + 1, key, false) == 0)
                    ++at;
            return {at, kppOnKey};
        }
        if (r < 0)
            high = mid - 1;
        else
            low = mid + 1;
    }
    return {low, kppBeforeKey};
}

// --- Condition search ---

int TCRVBTree::FirstSeparatorNotLower(TCRVSessionID sessionID, const TCRVBTreePage& page,
                                      const TCRVBTreeKey& key, bool orEqual) const {
    // The first entry k >= 1 whose separator is >= key (orEqual) or > key; EntryCount when none.
    int low = 1, high = page.EntryCount() - 1;
    while (low <= high) {
        const int mid = (low + high) / 2;
        const int r = FKeyRef.CompareShortKeys(key, page.EntryKey(mid), nullptr, sessionID, false);
        if (orEqual ? r <= 0 : r < 0)
            high = mid - 1;
        else
            low = mid + 1;
    }
    return low;
}

std::pair<int, int> TCRVBTree::ChildRange(TCRVSessionID sessionID, const TCRVBTreePage& page, bool first,
                                          TCRVSearchCondition condition, const TCRVBTreeKey& key) const {
    const int last = page.EntryCount() - 1;
    auto beforeFirstEqual = [&] {
        return std::max(FirstSeparatorNotLower(sessionID, page, key, true) - 1, 0);
    };
    auto ofLastEqual = [&] { return std::max(FirstSeparatorNotLower(sessionID, page, key, false) - 1, 0); };
    switch (condition) {
    case scEqual:
        return {beforeFirstEqual(), ofLastEqual()};
    case scGreaterEqual:
        return first ? std::pair{beforeFirstEqual(), last} : std::pair{last, last};
    case scGreater:
        return first ? std::pair{ofLastEqual(), last} : std::pair{last, last};
    case scLower:
        return first ? std::pair{0, 0} : std::pair{0, beforeFirstEqual()};
    case scLowerEqual:
        return first ? std::pair{0, 0} : std::pair{0, ofLastEqual()};
    default:
        return first ? std::pair{0, 0} : std::pair{last, last};
    }
}

int TCRVBTree::LeafMatch(TCRVSessionID sessionID, const TCRVBTreePage& page, bool first,
                         TCRVSearchCondition condition, const TCRVBTreeKey& key) const {
    const int count = page.EntryCount();
    const TCRVBTreeKey bare{key.Key, nullptr, key.Record};
    auto position = [&](TCRVKeyPositionMode mode) { return GetKeyPosition(sessionID, page, bare, mode, 0); };
    auto compareWith = [&](int entryNo) { return CompareEntry(sessionID, page, entryNo, bare, false); };
    auto valid = [&](int entryNo) { return entryNo >= 0 && entryNo < count ? entryNo : -1; };
    switch (condition) {
    case scEqual: {
        const TCRVKeyPosition p = position(first ? kpmFirstEqual : kpmLastEqual);
        return p.PositionType == kppOnKey ? p.EntryNo : -1;
    }
    case scLower:
        if (first)
            return compareWith(0) > 0 ? 0 : -1;
        return valid(position(kpmFirstEqual).EntryNo - 1);
    case scLowerEqual:
        if (first)
            return compareWith(0) >= 0 ? 0 : -1;
        else {
            const TCRVKeyPosition p = position(kpmLastEqual);
            return valid(p.PositionType == kppOnKey ? p.EntryNo : p.EntryNo - 1);
        }
    case scGreater:
        if (first) {
            const TCRVKeyPosition p = position(kpmLastEqual);
            return valid(p.PositionType == kppOnKey ? p.EntryNo + 1 : p.EntryNo);
        }
        return compareWith(count - 1) < 0 ? count - 1 : -1;
    case scGreaterEqual:
        if (first)
            return valid(position(kpmFirstEqual).EntryNo);
        return compareWith(count - 1) <= 0 ? count - 1 : -1;
    default:
        return first ? 0 : count - 1;
    }
}

bool TCRVBTree::FindInPage(TCRVSessionID sessionID, TCRVPageNo pageNo, bool first,
                           TCRVSearchCondition condition, const TCRVBTreeKey& key,
                           TCRVKeyPath& keyPath) const {
    const TCRVBTreePage page = GetBTreePage(sessionID, pageNo);
    const int count = page.EntryCount();
    if (count == 0)
        return false;
    if (page.IsLeaf()) {
        const int entryNo = LeafMatch(sessionID, page, first, condition, key);
        if (entryNo < 0)
            return false;
        keyPath.Push(pageNo, entryNo, count);
        return true;
    }
    if (condition == scEqual)
        return FindEqualInChildren(sessionID, page, first, key, keyPath);
    const auto [low, high] = ChildRange(sessionID, page, first, condition, key);
    const int levels = keyPath.Count;
    for (int i = 0; i <= high - low; ++i) {
        const int entryNo = first ? low + i : high - i;
        keyPath.Count = levels;
        keyPath.Push(pageNo, entryNo, count);
        if (FindInPage(sessionID, page.ChildPageNo(entryNo), first, condition, key, keyPath))
            return true;
    }
    keyPath.Count = levels;
    return false;
}

// Equal keys may span children: from the child before the first equal separator through the
// child of the last equal one. The far end of that range is found on the way, one separator at
// a time, since the first child tried nearly always answers.
bool TCRVBTree::FindEqualInChildren(TCRVSessionID sessionID, const TCRVBTreePage& page, bool first,
                                    const TCRVBTreeKey& key, TCRVKeyPath& keyPath) const {
    const int count = page.EntryCount();
    const int levels = keyPath.Count;
    auto separatorVersusKey = [&](int entryNo) {
        return FKeyRef.CompareShortKeys(key, page.EntryKey(entryNo), nullptr, sessionID, false);
    };
    const int start = std::max(FirstSeparatorNotLower(sessionID, page, key, first) - 1, 0);
    for (int entryNo = start; entryNo >= 0 && entryNo < count; entryNo += first ? 1 : -1) {
        if (first && entryNo > start && separatorVersusKey(entryNo) < 0)
            break; // this child and the later ones hold greater keys only
        if (!first && entryNo < start && separatorVersusKey(entryNo + 1) > 0)
            break; // this child and the earlier ones hold lower keys only
        keyPath.Count = levels;
        keyPath.Push(page.GetPageNo(), entryNo, count);
        if (FindInPage(sessionID, page.ChildPageNo(entryNo), first, scEqual, key, keyPath))
            return true;
    }
    keyPath.Count = levels;
    return false;
}

bool TCRVBTree::FindByCondition(TCRVSessionID sessionID, bool first, TCRVKeyPath& keyPath,
                                TCRVSearchCondition condition, const TCRVBTreeKey& key) const {
    keyPath.Clear();
    if (FRootPageNo < 0)
        CRVRaise(20110);
    if (!FindInPage(sessionID, FRootPageNo, first, condition, key, keyPath)) {
        keyPath.Clear();
        return false;
    }
    keyPath.PositionType = kppOnKey;
    return true;
}

void TCRVBTree::DescendForChange(TCRVSessionID sessionID, const TCRVBTreeKey& key,
                                 TCRVKeyPath& keyPath) const {
    keyPath.Clear();
    TCRVBTreePage page = GetRoot(sessionID);
    for (;;) {
        const TCRVPageNo pageNo = page.GetPageNo();
        if (page.IsLeaf()) {
            const TCRVKeyPosition p = GetKeyPosition(sessionID, page, key, kpmAny, 0);
            keyPath.Push(pageNo, p.EntryNo, page.EntryCount());
            keyPath.PositionType = p.PositionType;
            return;
        }
        const TCRVKeyPosition p = GetKeyPosition(sessionID, page, key, kpmAny, 1);
        const int entryNo = p.PositionType == kppOnKey ? p.EntryNo : std::max(p.EntryNo - 1, 0);
        keyPath.Push(pageNo, entryNo, page.EntryCount());
        const TCRVPageNo child = page.ChildPageNo(entryNo);
        page = GetBTreePage(sessionID, child);
    }
}

bool TCRVBTree::FindEntry(TCRVSessionID sessionID, const TCRVBTreeKey& key, TCRVKeyPath& keyPath) const {
    DescendForChange(sessionID, key, keyPath);
    if (keyPath.PositionType == kppOnKey)
        return true;
    keyPath.Clear();
    return false;
}

// --- Navigation ---

bool TCRVBTree::DescendToEdge(TCRVSessionID sessionID, TCRVKeyPath& keyPath, bool last) const {
    keyPath.Clear();
    TCRVBTreePage page = GetRoot(sessionID);
    if (page.EntryCount() == 0)
        return false;
    for (;;) {
        const int entryNo = last ? page.EntryCount() - 1 : 0;
        keyPath.Push(page.GetPageNo(), entryNo, page.EntryCount());
        if (page.IsLeaf())
            break;
        const TCRVPageNo child = page.ChildPageNo(entryNo);
        page = GetBTreePage(sessionID, child);
    }
    keyPath.PositionType = kppOnKey;
    return true;
}

bool TCRVBTree::GetFirstPosition(TCRVSessionID sessionID, TCRVKeyPath& keyPath) const {
    return DescendToEdge(sessionID, keyPath, false);
}

bool TCRVBTree::GetLastPosition(TCRVSessionID sessionID, TCRVKeyPath& keyPath) const {
    return DescendToEdge(sessionID, keyPath, true);
}

bool TCRVBTree::StepPosition(TCRVSessionID sessionID, TCRVKeyPath& keyPath, bool forward) const {
    if (keyPath.Empty())
        CRVRaise(forward ? 20068 : 20069);
    // The deepest level that can move in that direction; below it, the path follows the
    // sibling links to the edge of the neighbouring pages.
    int level = keyPath.Count - 1;
    for (; level >= 0; --level) {
        const TCRVBTreePage page = GetBTreePage(sessionID, keyPath[level].PageNo);
        keyPath[level].EntryCount = page.EntryCount();
        if (forward ? keyPath[level].EntryNo < page.EntryCount() - 1 : keyPath[level].EntryNo > 0)
            break;
    }
    if (level < 0)
        return false;
    keyPath[level].EntryNo += forward ? 1 : -1;
    for (int deeper = level + 1; deeper < keyPath.Count; ++deeper) {
        const TCRVBTreePage current = GetBTreePage(sessionID, keyPath[deeper].PageNo);
        const TCRVPageNo sibling = forward ? current.RightPageNo() : current.LeftPageNo();
        if (sibling < 0)
            CRVRaise(20070);
        const TCRVBTreePage page = GetBTreePage(sessionID, sibling);
        keyPath[deeper] = TCRVKeyPathItem{sibling, forward ? 0 : page.EntryCount() - 1, page.EntryCount()};
    }
    keyPath.PositionType = kppOnKey;
    return true;
}

bool TCRVBTree::GetNextPosition(TCRVSessionID sessionID, TCRVKeyPath& keyPath) const {
    return StepPosition(sessionID, keyPath, true);
}

bool TCRVBTree::GetPriorPosition(TCRVSessionID sessionID, TCRVKeyPath& keyPath) const {
    return StepPosition(sessionID, keyPath, false);
}

TCRVBTreePage TCRVBTree::LeafAt(TCRVSessionID sessionID, const TCRVKeyPath& keyPath) const {
    if (keyPath.Empty())
        CRVRaise(20068);
    TCRVBTreePage page = GetBTreePage(sessionID, keyPath.Leaf().PageNo);
    const int entryNo = keyPath.Leaf().EntryNo;
    if (!page.IsLeaf() || entryNo < 0 || entryNo >= page.EntryCount())
        CRVRaise(20068);
    return page;
}

std::vector<std::uint8_t> TCRVBTree::EntryKeyAt(TCRVSessionID sessionID, const TCRVKeyPath& keyPath) const {
    const TCRVBTreePage page = LeafAt(sessionID, keyPath);
    const std::uint8_t* key = page.EntryKey(keyPath.Leaf().EntryNo);
    return {key, key + page.KeyPrefixSize()};
}

std::vector<std::uint8_t> TCRVBTree::EntryReferenceAt(TCRVSessionID sessionID,
                                                      const TCRVKeyPath& keyPath) const {
    const TCRVBTreePage page = LeafAt(sessionID, keyPath);
    const std::uint8_t* reference = page.EntryReference(keyPath.Leaf().EntryNo);
    return {reference, reference + page.ReferenceSize()};
}

void TCRVBTree::SetEntryReferenceAt(TCRVSessionID sessionID, const TCRVKeyPath& keyPath,
                                    const std::uint8_t* reference) {
    TCRVBTreePage page = LeafAt(sessionID, keyPath);
    std::memcpy(page.EntryReference(keyPath.Leaf().EntryNo), reference, page.ReferenceSize());
    page.MarkDirty();
}

// --- Positions in index order ---

std::int64_t TCRVBTree::GetRecNo(TCRVSessionID sessionID, const TCRVKeyPath& keyPath) const {
    if (keyPath.Empty())
        CRVRaise(20068);
    std::int64_t recNo = keyPath.Leaf().EntryNo + 1;
    TCRVPageNo left = GetBTreePage(sessionID, keyPath.Leaf().PageNo).LeftPageNo();
    TCRVPageSet seen;
    seen.Visit(keyPath.Leaf().PageNo, 0);
    while (left >= 0) {
        seen.Visit(left, 0);
        const TCRVBTreePage page = GetBTreePage(sessionID, left);
        recNo += page.EntryCount();
        left = page.LeftPageNo();
    }
    return recNo;
}

bool TCRVBTree::GetReferenceByRecNo(TCRVSessionID sessionID, std::int64_t recNo,
                                    std::vector<std::uint8_t>& reference) const {
    TCRVKeyPath path;
    if (recNo < 1 || !GetFirstPosition(sessionID, path))
        return false;
    std::int64_t before = 0;
    TCRVPageNo pageNo = path.Leaf().PageNo;
    TCRVPageSet seen;
    while (pageNo >= 0) {
        seen.Visit(pageNo, 0);
        const TCRVBTreePage page = GetBTreePage(sessionID, pageNo);
        if (recNo <= before + page.EntryCount()) {
            const int entryNo = static_cast<int>(recNo - before - 1);
            reference.assign(page.EntryReference(entryNo),
                             page.EntryReference(entryNo) + page.ReferenceSize());
            return true;
        }
        before += page.EntryCount();
        pageNo = page.RightPageNo();
    }
    return false;
}

std::int64_t TCRVBTree::GetEntryCount(TCRVSessionID sessionID) const {
    TCRVKeyPath path;
    if (!GetFirstPosition(sessionID, path))
        return 0;
    std::int64_t count = 0;
    TCRVPageSet seen;
    for (TCRVPageNo pageNo = path.Leaf().PageNo; pageNo >= 0;) {
        seen.Visit(pageNo, 0);
        const TCRVBTreePage page = GetBTreePage(sessionID, pageNo);
        count += page.EntryCount();
        pageNo = page.RightPageNo();
    }
    return count;
}
