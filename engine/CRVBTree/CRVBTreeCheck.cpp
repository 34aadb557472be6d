// CheckIntegrity: a level-by-level walk of the whole tree.
//
// Level check: every page is met once (else 20032, circular links), pages of a level are chained
// in entry order across parents (20033 right link, 20034 left link), all pages of a level are
// leaves or all nodes with the tree's key size, and only the root may be empty (20194).
// Node check: separators are non-decreasing (20029), not greater than the first key of their
// child's subtree (20030) and not less than the last key of the previous child's subtree (20031).
// Leaf check: neighbouring entries, across pages, are in strict (key, reference) order when the
// short key holds whole values, or non-decreasing by key when parts are cut (20028).
#include "CRVBTree/CRVBTree.h"

#include "CRVExcept/CRVExcept.h"

#include <set>

namespace {

[[noreturn]] void IntegrityError(int code, TCRVPageNo pageNo, int entryNo) {
    CRVRaise(code, pageNo, entryNo);
}

} // namespace

void TCRVPageSet::Visit(TCRVPageNo pageNo, int entryNo) {
    if (!FPages.insert(pageNo).second)
        IntegrityError(20032, pageNo, entryNo);
}

int TCRVBTree::CompareStoredKeys(TCRVSessionID sessionID, const std::uint8_t* key1,
                                 const std::uint8_t* key2) const {
    return FKeyRef.CompareShortKeys(TCRVBTreeKey{key1, nullptr, nullptr}, key2, nullptr, sessionID, false);
}

void TCRVBTree::CheckLevelLinks(TCRVSessionID sessionID, const std::vector<TCRVPageNo>& level) const {
    for (std::size_t i = 0; i < level.size(); ++i) {
        const TCRVBTreePage page = GetBTreePage(sessionID, level[i]);
        const TCRVPageNo expectedLeft = i == 0 ? KCRVNoPage : level[i - 1];
        const TCRVPageNo expectedRight = i + 1 == level.size() ? KCRVNoPage : level[i + 1];
        if (page.RightPageNo() != expectedRight)
            IntegrityError(20033, level[i], static_cast<int>(i));
        if (page.LeftPageNo() != expectedLeft)
            IntegrityError(20034, level[i], static_cast<int>(i));
    }
}

void TCRVBTree::CheckLeafOrder(TCRVSessionID sessionID, const std::vector<TCRVPageNo>& leaves,
                               TCRVBTreeIntegrityInfo& info) const {
    const bool truncated = FKeyRef.HasTruncatedParts();
    std::vector<std::uint8_t> previous;
    for (const TCRVPageNo pageNo : leaves) {
        const TCRVBTreePage page = GetBTreePage(sessionID, pageNo);
        for (int e = 0; e < page.EntryCount(); ++e) {
            const std::uint8_t* key = page.EntryKey(e);
            const std::uint8_t* reference = page.EntryReference(e);
            if (!previous.empty()) {
                const std::uint8_t* prevKey = previous.data();
                const std::uint8_t* prevRef = previous.data() + page.KeyPrefixSize();
                int r = FKeyRef.CompareShortKeys(TCRVBTreeKey{prevKey, prevRef, nullptr}, key, reference,
                                                 sessionID, false);
                if (!truncated && r == 0)
                    r = FKeyRef.CompareReferences(prevRef, reference);
                if (truncated ? r > 0 : r >= 0)
                    IntegrityError(20028, pageNo, e);
            }
            previous.assign(key, key + page.EntrySize());
        }
        info.EntryCount += page.EntryCount();
    }
}

void TCRVBTree::CheckSeparators(TCRVSessionID sessionID, const TCRVBTreePage& node) const {
    std::vector<std::uint8_t> bound;
    for (int k = 1; k < node.EntryCount(); ++k) {
        const std::uint8_t* separator = node.EntryKey(k);
        if (k >= 2 && CompareStoredKeys(sessionID, node.EntryKey(k - 1), separator) > 0)
            IntegrityError(20029, node.GetPageNo(), k);
        if (SubtreeFirstEntry(sessionID, node.ChildPageNo(k), bound) &&
            CompareStoredKeys(sessionID, separator, bound.data()) > 0)
            IntegrityError(20030, node.GetPageNo(), k);
        // The last key of the previous child's subtree.
        TCRVBTreePage page = GetBTreePage(sessionID, node.ChildPageNo(k - 1));
        for (int depth = 0; !page.IsLeaf() && page.EntryCount() > 0; ++depth) {
            if (depth >= KCRVMaxKeyPathLevels)
                IntegrityError(20032, page.GetPageNo(), 0);
            const TCRVPageNo child = page.ChildPageNo(page.EntryCount() - 1);
            page = GetBTreePage(sessionID, child);
        }
        if (page.IsLeaf() && page.EntryCount() > 0 &&
            CompareStoredKeys(sessionID, separator, page.EntryKey(page.EntryCount() - 1)) < 0)
            IntegrityError(20031, node.GetPageNo(), k);
    }
}

TCRVBTreeIntegrityInfo TCRVBTree::CheckIntegrity(TCRVSessionID sessionID) const {
    TCRVBTreeIntegrityInfo info;
    std::set<TCRVPageNo> seen{FRootPageNo};
    std::vector<TCRVPageNo> level{FRootPageNo};
    GetRoot(sessionID); // 20110 without a root; every page fetched is checked for its key size
    for (;;) {
        ++info.Depth;
        info.PageCount += static_cast<std::int64_t>(level.size());
        CheckLevelLinks(sessionID, level);
        const bool leaves = GetBTreePage(sessionID, level.front()).IsLeaf();
        std::vector<TCRVPageNo> next;
        for (const TCRVPageNo pageNo : level) {
            const TCRVBTreePage page = GetBTreePage(sessionID, pageNo);
            if (page.IsLeaf() != leaves || (page.EntryCount() == 0 && pageNo != FRootPageNo) ||
                page.IsRoot() != (pageNo == FRootPageNo))
                IntegrityError(20194, pageNo, 0);
            if (leaves)
                continue;
            CheckSeparators(sessionID, page);
            for (int e = 0; e < page.EntryCount(); ++e) {
                const TCRVPageNo child = page.ChildPageNo(e);
                if (!seen.insert(child).second)
                    IntegrityError(20032, pageNo, e);
                next.push_back(child);
            }
        }
        if (leaves) {
            info.LeafPageCount = static_cast<std::int64_t>(level.size());
            CheckLeafOrder(sessionID, level, info);
            return info;
        }
        level = std::move(next);
    }
}
