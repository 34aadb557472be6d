// TCRVBTree: the B+tree operations shared by row indexes and page indexes.
//
// Invariants of a tree (CheckIntegrity verifies them):
//   1. All leaves are on one level; every level is chained left to right by LeftPageNo /
//      RightPageNo across parent boundaries, the outer pages pointing to -1.
//   2. Leaf entries are ordered by (key, reference); every pair occurs once.
//   3. On a node, the key of entry k >= 1 is not greater than any key in child k's subtree and
//      not less than any key in child k-1's subtree; the key of entry 0 is not used in searches.
//   4. The root never moves. A page other than the root is never empty once an operation is over.
//
// Pages are fetched from the page cache for one operation and put back on every path (they are
// guard objects); a key path names pages by number only. All changes belong to the calling
// session's pending changes, so a failed operation is undone by cancelling them.
//
// Threads: REQUIRES the table's data lock (one thread at a time works on a table's trees).
#pragma once

#include "CRVBTree/CRVBTreeKeyRef.h"
#include "CRVBTree/CRVBTreePage.h"
#include "CRVBTree/CRVKeyPath.h"
#include "CRVPage/CRVPageManager.h"

#include <cstdint>
#include <unordered_set>
#include <utility>
#include <vector>

enum TCRVSearchCondition : std::uint8_t {
    scNone = 0,
    scEqual = 1,
    scLower = 2,
    scGreater = 3,
    scLowerEqual = 4,
    scGreaterEqual = 5,
};

// How GetKeyPosition treats equal entries: the first, the last, or the one the search met.
enum TCRVKeyPositionMode : int { kpmFirstEqual = 0, kpmLastEqual = 1, kpmAny = 2 };

struct TCRVKeyPosition {
    int EntryNo = 0;
    TCRVKeyPathPosition PositionType = kppUnknown;
};

// What CheckIntegrity counted.
struct TCRVBTreeIntegrityInfo {
    int Depth = 0;
    std::int64_t PageCount = 0;
    std::int64_t LeafPageCount = 0;
    std::int64_t EntryCount = 0;
};

// The pages a walk has met: meeting one again means the links of a damaged tree go round
// (20032 "Circular links"), which would otherwise never end.
class TCRVPageSet {
public:
    void Visit(TCRVPageNo pageNo, int entryNo);

private:
    std::unordered_set<TCRVPageNo> FPages;
};

class TCRVBTree {
public:
    TCRVBTree(TCRVPageManager& pageManager, const TCRVBTreeKeyRef& keyRef, TCRVPageNo rootPageNo = KCRVNoPage)
        : FPageManager(pageManager), FKeyRef(keyRef), FRootPageNo(rootPageNo) {}

    TCRVPageNo RootPageNo() const { return FRootPageNo; }
    void SetRootPageNo(TCRVPageNo rootPageNo) { FRootPageNo = rootPageNo; }
    TCRVPageManager& PageManager() const { return FPageManager; }
    const TCRVBTreeKeyRef& KeyRef() const { return FKeyRef; }

    // --- Life of the tree ---
    // Allocates the root page and makes it an empty leaf root; answers its number.
    TCRVPageNo CreateRoot(TCRVSessionID sessionID);
    // Frees every page, the root included (the tree then has no root).
    void Drop(TCRVSessionID sessionID);
    // Frees every page but the root and makes the root an empty leaf root again.
    void Empty(TCRVSessionID sessionID);

    // --- Search ---
    // Binary search over entries startEntry .. EntryCount-1 of one page (an empty page answers
    // entry 0, kppEOF). With key.Reference set, equal keys are told apart by the references (leaf)
    // or by the first leaf entry of the child's subtree (node).
    TCRVKeyPosition GetKeyPosition(TCRVSessionID sessionID, const TCRVBTreePage& page,
                                   const TCRVBTreeKey& key, TCRVKeyPositionMode mode, int startEntry) const;
    // The first or last entry that meets the condition; the key path leads to it.
    bool FindByCondition(TCRVSessionID sessionID, bool first, TCRVKeyPath& keyPath,
                         TCRVSearchCondition condition, const TCRVBTreeKey& key) const;
    // The path to the exact (key, reference) entry; false when it is not in the tree.
    bool FindEntry(TCRVSessionID sessionID, const TCRVBTreeKey& key, TCRVKeyPath& keyPath) const;

    // --- Changes ---
    // Inserts (key.Key, key.Reference), splitting pages that overflow.
    void InsertLeafEntry(TCRVSessionID sessionID, const TCRVBTreeKey& key);
    // Deletes the (key.Key, key.Reference) entry, merging pages that underflow; false when absent.
    bool DeleteLeafEntry(TCRVSessionID sessionID, const TCRVBTreeKey& key);

    // --- Navigation along sibling links ---
    bool GetFirstPosition(TCRVSessionID sessionID, TCRVKeyPath& keyPath) const;
    bool GetLastPosition(TCRVSessionID sessionID, TCRVKeyPath& keyPath) const;
    bool GetNextPosition(TCRVSessionID sessionID, TCRVKeyPath& keyPath) const;
    bool GetPriorPosition(TCRVSessionID sessionID, TCRVKeyPath& keyPath) const;

    // The leaf entry a key path points at: its key (KeyPrefixSize bytes) and reference.
    std::vector<std::uint8_t> EntryKeyAt(TCRVSessionID sessionID, const TCRVKeyPath& keyPath) const;
    std::vector<std::uint8_t> EntryReferenceAt(TCRVSessionID sessionID, const TCRVKeyPath& keyPath) const;
    // Overwrites the reference of the leaf entry at the key path (the key stays).
    void SetEntryReferenceAt(TCRVSessionID sessionID, const TCRVKeyPath& keyPath,
                             const std::uint8_t* reference);

    // --- Positions in index order ---
    // 1-based position of the entry at the key path: its entry number plus 1, plus the entries
    // of every leaf to its left.
    std::int64_t GetRecNo(TCRVSessionID sessionID, const TCRVKeyPath& keyPath) const;
    // The reference of the entry at 1-based position recNo; false when there is none.
    bool GetReferenceByRecNo(TCRVSessionID sessionID, std::int64_t recNo,
                             std::vector<std::uint8_t>& reference) const;
    // Entries in the tree (walks the leaves).
    std::int64_t GetEntryCount(TCRVSessionID sessionID) const;

    // Raises the integrity errors 20028 .. 20034 and 20194 on the first fault found.
    TCRVBTreeIntegrityInfo CheckIntegrity(TCRVSessionID sessionID) const;

    // The page pinned as an index page of this tree.
    TCRVBTreePage GetBTreePage(TCRVSessionID sessionID, TCRVPageNo pageNo) const;
    // Every page of the tree, the root first (20032 when links go round).
    std::vector<TCRVPageNo> CollectPages(TCRVSessionID sessionID) const;

private:
    TCRVBTreePage AddBTreePage(TCRVSessionID sessionID) const;
    TCRVBTreePage GetRoot(TCRVSessionID sessionID) const;
    // The path to the first (or last) entry; false for an empty tree.
    bool DescendToEdge(TCRVSessionID sessionID, TCRVKeyPath& keyPath, bool last) const;
    // The path one entry forward (or back), following the sibling links; false at the end.
    bool StepPosition(TCRVSessionID sessionID, TCRVKeyPath& keyPath, bool forward) const;
    // The leaf page the path ends on, pinned; 20068 when the path names no leaf entry.
    TCRVBTreePage LeafAt(TCRVSessionID sessionID, const TCRVKeyPath& keyPath) const;
    int CompareEntry(TCRVSessionID sessionID, const TCRVBTreePage& page, int entryNo, const TCRVBTreeKey& key,
                     bool withReference) const;
    int CompareWithSubtreeFirst(TCRVSessionID sessionID, TCRVPageNo childPageNo,
                                const TCRVBTreeKey& key) const;
    // The first leaf entry under pageNo (key then reference); false for an empty subtree.
    bool SubtreeFirstEntry(TCRVSessionID sessionID, TCRVPageNo pageNo,
                           std::vector<std::uint8_t>& entry) const;
    bool FindInPage(TCRVSessionID sessionID, TCRVPageNo pageNo, bool first, TCRVSearchCondition condition,
                    const TCRVBTreeKey& key, TCRVKeyPath& keyPath) const;
    bool FindEqualInChildren(TCRVSessionID sessionID, const TCRVBTreePage& page, bool first,
                             const TCRVBTreeKey& key, TCRVKeyPath& keyPath) const;
    int LeafMatch(TCRVSessionID sessionID, const TCRVBTreePage& page, bool first,
                  TCRVSearchCondition condition, const TCRVBTreeKey& key) const;
    std::pair<int, int> ChildRange(TCRVSessionID sessionID, const TCRVBTreePage& page, bool first,
                                   TCRVSearchCondition condition, const TCRVBTreeKey& key) const;
    int FirstSeparatorNotLower(TCRVSessionID sessionID, const TCRVBTreePage& page, const TCRVBTreeKey& key,
                               bool orEqual) const;
    void DescendForChange(TCRVSessionID sessionID, const TCRVBTreeKey& key, TCRVKeyPath& keyPath) const;

    // Insertion (CRVBTreeModify.cpp).
    void SplitPage(TCRVSessionID sessionID, TCRVKeyPath& keyPath, int level, TCRVBTreePage& page);
    void SplitRoot(TCRVSessionID sessionID, TCRVBTreePage& root);
    // Deletion.
    void Rebalance(TCRVSessionID sessionID, TCRVKeyPath& keyPath, int level);
    // Takes the page out of its level: its neighbours are linked to each other and the page is
    // removed (its pin is released first).
    void RemoveFromLevel(TCRVSessionID sessionID, TCRVBTreePage& page);
    bool MergeIntoLeft(TCRVSessionID sessionID, TCRVKeyPath& keyPath, int level, TCRVBTreePage& page);
    bool MergeIntoRight(TCRVSessionID sessionID, TCRVKeyPath& keyPath, int level, TCRVBTreePage& page);
    void ShrinkRoot(TCRVSessionID sessionID, TCRVBTreePage& root);
    void WriteSubtreeFirstKeyToEntry0(TCRVSessionID sessionID, TCRVBTreePage& node);
    void WriteSeparator(TCRVSessionID sessionID, TCRVPageNo pageNo, int entryNo, const std::uint8_t* key);

    // Integrity (CRVBTreeCheck.cpp).
    void CheckLevelLinks(TCRVSessionID sessionID, const std::vector<TCRVPageNo>& level) const;
    void CheckLeafOrder(TCRVSessionID sessionID, const std::vector<TCRVPageNo>& leaves,
                        TCRVBTreeIntegrityInfo& info) const;
    void CheckSeparators(TCRVSessionID sessionID, const TCRVBTreePage& node) const;
    int CompareStoredKeys(TCRVSessionID sessionID, const std::uint8_t* key1, const std::uint8_t* key2) const;

    TCRVPageManager& FPageManager;
    const TCRVBTreeKeyRef& FKeyRef;
    TCRVPageNo FRootPageNo;
};
