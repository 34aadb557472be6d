// TCRVBTreePageIndex: a B+tree keyed by page number whose leaf entries are (page number i32,
// value u16). The value's meaning is the owner's: rows on a record page, or bytes taken on a
// small-BLOB page. A page is in the index exactly while its value is not 0.
//
// The owner keeps the root page number (-1 = no index yet) and says through CanAddNewItem
// whether a page with a given value can take an item of a given amount. Finding a page for a
// new item looks only at the last leaf (highest page number first) and then the first leaf
// (lowest first), so it costs at most two leaf reads however large the index grows.
//
// Threads: REQUIRES the owning table's data lock.
#pragma once

#include "CRVBTree/CRVBTree.h"
#include "CRVBTree/CRVBTreeKeyRef.h"

#include <cstdint>

class TCRVBTreePageIndex {
public:
    explicit TCRVBTreePageIndex(TCRVPageManager& pageManager, TCRVPageNo rootPageNo = KCRVNoPage);
    virtual ~TCRVBTreePageIndex() = default;
    TCRVBTreePageIndex(const TCRVBTreePageIndex&) = delete;
    TCRVBTreePageIndex& operator=(const TCRVBTreePageIndex&) = delete;

    TCRVPageNo RootPageNo() const { return FTree.RootPageNo(); }
    // Makes a new empty root page; answers its number.
    TCRVPageNo CreateIndex(TCRVSessionID sessionID);
    // Frees every page of the index; the root becomes -1.
    void DropIndex(TCRVSessionID sessionID);
    // Frees every page but the root and re-initialises the root.
    void EmptyIndex(TCRVSessionID sessionID);
    // Uses the tree whose root is rootPageNo (-1: none).
    void OpenIndex(TCRVPageNo rootPageNo) { FTree.SetRootPageNo(rootPageNo); }

    // Positions on the entries in ascending page-number order; false at either end or when empty.
    bool GetFirstPosition(TCRVSessionID sessionID, TCRVKeyPath& keyPath) const;
    bool GetLastPosition(TCRVSessionID sessionID, TCRVKeyPath& keyPath) const;
    bool GetNextPosition(TCRVSessionID sessionID, TCRVKeyPath& keyPath) const;
    bool GetPriorPosition(TCRVSessionID sessionID, TCRVKeyPath& keyPath) const;
    // The entry of pageNo; false when the page is not in the index.
    bool GetPosition(TCRVSessionID sessionID, TCRVPageNo pageNo, TCRVKeyPath& keyPath) const;

    // The entry at a key path (an empty path raises 20103 / 20107 / 20108).
    TCRVPageNo GetPageNo(TCRVSessionID sessionID, const TCRVKeyPath& keyPath) const;
    std::uint16_t GetPageValue(TCRVSessionID sessionID, const TCRVKeyPath& keyPath) const;
    void SetPageValue(TCRVSessionID sessionID, const TCRVKeyPath& keyPath, std::uint16_t value);

    // A page that can take `amount` (CanAddNewItem), searched in the last and the first leaf;
    // false when neither has one (the owner then adds a page).
    bool FindPageForNewItem(TCRVSessionID sessionID, std::uint32_t amount, TCRVPageNo& pageNo) const;
    // Adds amount to the page's value, entering the page with value `amount` when absent; a page
    // that cannot take it raises 20106.
    void AddPageItem(TCRVSessionID sessionID, std::uint32_t amount, TCRVPageNo pageNo);
    // newValue < 0: the value decreases by amount (20112 when it is 0 already); else it becomes
    // newValue. A value of 0 removes the entry. An absent page raises 20111.
    void DeletePageItem(TCRVSessionID sessionID, std::uint32_t amount, std::int32_t newValue,
                        TCRVPageNo pageNo);

    // Whether a page holding `value` can take `amount` more; the owner's rule. This default
    // accepts what the u16 value can hold.
    virtual bool CanAddNewItem(std::uint16_t value, std::uint32_t amount) const;

    const TCRVBTree& Tree() const { return FTree; }
    TCRVBTreeIntegrityInfo CheckIntegrity(TCRVSessionID sessionID) const {
        return FTree.CheckIntegrity(sessionID);
    }

private:
    void CheckRoot(int code) const;
    bool ScanLeaf(TCRVSessionID sessionID, TCRVPageNo leafPageNo, bool backwards, std::uint32_t amount,
                  TCRVPageNo& pageNo) const;

    TCRVPageKeyRef FKeyRef;
    TCRVBTree FTree;
};
