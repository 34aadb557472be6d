// Insertion with splits and deletion with merges.
//
// Insertion descends to the leaf that takes the (key, reference) entry and inserts it; a page
// that then passes the end of its data area is split in halves by entry count. A root split
// moves the entries into two new pages and turns the root into a node with two entries, so the
// root keeps its page number; any other split moves the upper half into a new right neighbour
// and gives the parent an entry for it, which may split the parent in turn.
//
// Deletion removes the entry; a page below half full that is not the root is merged into its
// left neighbour if that one has room, else into its right one, its entry leaves the parent,
// and the parent is checked the same way. A root node left with a single child takes over the
// child's content (the tree shrinks, the root again keeps its number).
#include "CRVBTree/CRVBTree.h"

#include "CRVExcept/CRVExcept.h"

#include <cstring>

namespace {

// The header of `source` on a page that takes part of its entries.
void CopyHeaderForSplit(TCRVBTreePage& target, const TCRVBTreePage& source) {
    target.Header() = source.Header();
    target.Header().IsRoot = 0;
    target.Header().EntryCount = 0;
}

void ZeroEntriesFrom(TCRVBTreePage& page, int entryNo, int count) {
    std::memset(page.EntryKey(entryNo), 0, (count - entryNo) * page.EntrySize());
}

} // namespace

// --- Insertion ---

void TCRVBTree::InsertLeafEntry(TCRVSessionID sessionID, const TCRVBTreeKey& key) {
    if (!key.Key || !key.Reference)
        CRVRaise(20044);
    TCRVKeyPath path;
    DescendForChange(sessionID, key, path);
    TCRVBTreePage leaf = GetBTreePage(sessionID, path.Leaf().PageNo);
    leaf.InsertEntry(path.Leaf().EntryNo, key.Key, key.Reference);
    path.Leaf().EntryCount = leaf.EntryCount();
    leaf.MarkDirty();
    if (leaf.Overflows())
        SplitPage(sessionID, path, path.Count - 1, leaf);
}

void TCRVBTree::SplitRoot(TCRVSessionID sessionID, TCRVBTreePage& root) {
    const int count = root.EntryCount();
    const int half = count / 2;
    TCRVBTreePage left = AddBTreePage(sessionID);
    TCRVBTreePage right = AddBTreePage(sessionID);
    CopyHeaderForSplit(left, root);
    CopyHeaderForSplit(right, root);
    left.AppendEntries(root, 0, half);
    right.AppendEntries(root, half, count - half);
    const TCRVPageNo leftNo = left.GetPageNo(), rightNo = right.GetPageNo();
    left.Header().LeftPageNo = KCRVNoPage;
    left.Header().RightPageNo = rightNo;
    right.Header().LeftPageNo = leftNo;
    right.Header().RightPageNo = KCRVNoPage;
    left.MarkDirty();
    right.MarkDirty();

    ZeroEntriesFrom(root, 0, count);
    root.Header().IsLeaf = 0;
    root.SetEntryCount(0);
    root.InsertEntry(0, nullptr, reinterpret_cast<const std::uint8_t*>(&leftNo));
    root.InsertEntry(1, right.EntryKey(0), reinterpret_cast<const std::uint8_t*>(&rightNo));
    root.MarkDirty();
}

void TCRVBTree::SplitPage(TCRVSessionID sessionID, TCRVKeyPath& keyPath, int level, TCRVBTreePage& page) {
    if (page.IsRoot()) {
        SplitRoot(sessionID, page);
        return;
    }
    if (level < 1)
        CRVRaise(20024);
    const int count = page.EntryCount();
    const int half = count / 2;
    TCRVBTreePage fresh = AddBTreePage(sessionID);
    CopyHeaderForSplit(fresh, page);
    fresh.AppendEntries(page, half, count - half);
    ZeroEntriesFrom(page, half, count);
    page.SetEntryCount(half);
    const TCRVPageNo freshNo = fresh.GetPageNo();
    const TCRVPageNo oldRight = page.RightPageNo();
    fresh.Header().LeftPageNo = page.GetPageNo();
    fresh.Header().RightPageNo = oldRight;
    page.Header().RightPageNo = freshNo;
    if (oldRight >= 0) {
        TCRVBTreePage right = GetBTreePage(sessionID, oldRight);
        right.Header().LeftPageNo = freshNo;
        right.MarkDirty();
    }
    page.MarkDirty();
    fresh.MarkDirty();
    const std::vector<std::uint8_t> separator(fresh.EntryKey(0), fresh.EntryKey(0) + fresh.KeyPrefixSize());
    fresh.Release();
    page.Release();

    TCRVKeyPathItem& up = keyPath[level - 1];
    TCRVBTreePage parent = GetBTreePage(sessionID, up.PageNo);
    const int at = up.EntryNo + 1;
    parent.InsertEntry(at, separator.data(), reinterpret_cast<const std::uint8_t*>(&freshNo));
    up.EntryCount = parent.EntryCount();
    parent.MarkDirty();
    if (parent.Overflows())
        SplitPage(sessionID, keyPath, level - 1, parent);
}

// --- Deletion ---

bool TCRVBTree::DeleteLeafEntry(TCRVSessionID sessionID, const TCRVBTreeKey& key) {
    if (!key.Key || !key.Reference)
        CRVRaise(20044);
    TCRVKeyPath path;
    DescendForChange(sessionID, key, path);
    if (path.PositionType != kppOnKey)
        return false;
    {
        TCRVBTreePage leaf = GetBTreePage(sessionID, path.Leaf().PageNo);
        leaf.DeleteEntry(path.Leaf().EntryNo);
        path.Leaf().EntryCount = leaf.EntryCount();
        leaf.MarkDirty();
    }
    Rebalance(sessionID, path, path.Count - 1);
    return true;
}

void TCRVBTree::Rebalance(TCRVSessionID sessionID, TCRVKeyPath& keyPath, int level) {
    TCRVBTreePage page = GetBTreePage(sessionID, keyPath[level].PageNo);
    if (page.IsRoot()) {
        if (!page.IsLeaf() && page.EntryCount() == 1)
            ShrinkRoot(sessionID, page);
        return;
    }
    if (!page.Underflows())
        return;
    if (MergeIntoLeft(sessionID, keyPath, level, page) || MergeIntoRight(sessionID, keyPath, level, page))
        Rebalance(sessionID, keyPath, level - 1);
}

void TCRVBTree::WriteSeparator(TCRVSessionID sessionID, TCRVPageNo pageNo, int entryNo,
                               const std::uint8_t* key) {
    TCRVBTreePage page = GetBTreePage(sessionID, pageNo);
    std::memcpy(page.EntryKey(entryNo), key, page.KeyPrefixSize());
    page.MarkDirty();
}

void TCRVBTree::WriteSubtreeFirstKeyToEntry0(TCRVSessionID sessionID, TCRVBTreePage& node) {
    std::vector<std::uint8_t> entry;
    if (node.EntryCount() == 0 || !SubtreeFirstEntry(sessionID, node.ChildPageNo(0), entry))
        return;
    std::memcpy(node.EntryKey(0), entry.data(), node.KeyPrefixSize());
    node.MarkDirty();
}

void TCRVBTree::RemoveFromLevel(TCRVSessionID sessionID, TCRVBTreePage& page) {
    const TCRVPageNo pageNo = page.GetPageNo();
    const TCRVPageNo leftNo = page.LeftPageNo();
    const TCRVPageNo rightNo = page.RightPageNo();
    page.Release();
    if (leftNo >= 0) {
        TCRVBTreePage left = GetBTreePage(sessionID, leftNo);
        left.Header().RightPageNo = rightNo;
        left.MarkDirty();
    }
    if (rightNo >= 0) {
        TCRVBTreePage right = GetBTreePage(sessionID, rightNo);
        right.Header().LeftPageNo = leftNo;
        right.MarkDirty();
    }
    FPageManager.RemovePage(sessionID, pageNo);
}

bool TCRVBTree::MergeIntoLeft(TCRVSessionID sessionID, TCRVKeyPath& keyPath, int level, TCRVBTreePage& page) {
    const TCRVPageNo leftNo = page.LeftPageNo();
    if (leftNo < 0)
        return false;
    TCRVBTreePage left = GetBTreePage(sessionID, leftNo);
    if (!left.CanTakeEntriesOf(page))
        return false;
    if (!page.IsLeaf())
        WriteSubtreeFirstKeyToEntry0(sessionID, page);
    left.AppendEntries(page, 0, page.EntryCount());
    left.MarkDirty();
    left.Release();
    RemoveFromLevel(sessionID, page);

    TCRVKeyPathItem& up = keyPath[level - 1];
    TCRVBTreePage parent = GetBTreePage(sessionID, up.PageNo);
    parent.DeleteEntry(up.EntryNo);
    up.EntryCount = parent.EntryCount();
    parent.MarkDirty();
    if (up.EntryNo == 0 && parent.EntryCount() > 0) {
        // The parent's subtree now starts at its former second child: its separator moves up.
        const std::vector<std::uint8_t> first(parent.EntryKey(0),
                                              parent.EntryKey(0) + parent.KeyPrefixSize());
        parent.Release();
        for (int j = level - 2; j >= 0; --j)
            if (keyPath[j].EntryNo >= 1) {
                WriteSeparator(sessionID, keyPath[j].PageNo, keyPath[j].EntryNo, first.data());
                break;
            }
    }
    return true;
}

bool TCRVBTree::MergeIntoRight(TCRVSessionID sessionID, TCRVKeyPath& keyPath, int level,
                               TCRVBTreePage& page) {
    const TCRVPageNo rightNo = page.RightPageNo();
    if (rightNo < 0)
        return false;
    TCRVBTreePage right = GetBTreePage(sessionID, rightNo);
    if (!right.CanTakeEntriesOf(page))
        return false;
    // The first key of the moved entries becomes the lower bound of the right page's subtree.
    std::vector<std::uint8_t> first;
    const bool hasFirst = SubtreeFirstEntry(sessionID, page.GetPageNo(), first);
    if (!right.IsLeaf())
        WriteSubtreeFirstKeyToEntry0(sessionID, right);
    right.PrependEntries(page);
    right.MarkDirty();
    right.Release();
    RemoveFromLevel(sessionID, page);

    TCRVKeyPathItem& up = keyPath[level - 1];
    if (hasFirst) {
        const int parentCount = GetBTreePage(sessionID, up.PageNo).EntryCount();
        if (up.EntryNo < parentCount - 1) {
            WriteSeparator(sessionID, up.PageNo, up.EntryNo + 1, first.data());
        } else {
            for (int j = level - 2; j >= 0; --j)
                if (keyPath[j].EntryNo < GetBTreePage(sessionID, keyPath[j].PageNo).EntryCount() - 1) {
                    WriteSeparator(sessionID, keyPath[j].PageNo, keyPath[j].EntryNo + 1, first.data());
                    break;
                }
        }
    }
    TCRVBTreePage parent = GetBTreePage(sessionID, up.PageNo);
    parent.DeleteEntry(up.EntryNo);
    up.EntryCount = parent.EntryCount();
    parent.MarkDirty();
    return true;
}

void TCRVBTree::ShrinkRoot(TCRVSessionID sessionID, TCRVBTreePage& root) {
    while (!root.IsLeaf() && root.EntryCount() == 1) {
        const TCRVPageNo childNo = root.ChildPageNo(0);
        {
            const TCRVBTreePage child = GetBTreePage(sessionID, childNo);
            std::memcpy(root.GetPageData(), child.Page()->GetPageData(), root.GetPageDataSize());
        }
        root.Header().IsRoot = 1;
        root.Header().LeftPageNo = KCRVNoPage;
        root.Header().RightPageNo = KCRVNoPage;
        root.MarkDirty();
        FPageManager.RemovePage(sessionID, childNo);
    }
}
