// What the record and BLOB managers need from a page-number index: a B-tree keyed by page number
// whose value (u16) the owner gives its meaning (rows on a record page, bytes taken on a small-BLOB
// page).
//
// The owner decides when a page can take more: it hands its CanAddNewItem test to the factory
// that makes its index. Placing a new item looks at the last leaf of the index from the highest
// page number down, then at the first leaf from the lowest up, and nowhere else.
//
// Threads: REQUIRES the open database's lock (as every page access).
#pragma once

#include "CRVPage/CRVPageManager.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

// One entry of a page index.
struct TCRVTablePFSPageMapItem {
    TCRVPageNo PageNo = KCRVNoPage;
    std::uint16_t PageRecordCount = 0;
};

// The owner's test: can a page whose value is `value` take `amount` more?
using TCRVCanAddNewItem = std::function<bool(std::uint16_t value, std::uint16_t amount)>;

class TCRVPageIndexAccess {
public:
    virtual ~TCRVPageIndexAccess() = default;

    // The root page; -1 while the index is not created.
    virtual TCRVPageNo RootPageNo() const = 0;
    // A new empty root page.
    virtual void CreateIndex(TCRVSessionID sessionID) = 0;
    // Takes an existing index by its root page (-1: none).
    virtual void OpenIndex(TCRVPageNo rootPageNo) = 0;
    // Frees every page but the root and makes the root an empty leaf again.
    virtual void EmptyIndex(TCRVSessionID sessionID) = 0;
    // Frees every page, the root included; the root becomes -1.
    virtual void DropIndex(TCRVSessionID sessionID) = 0;

    // The two-leaf search: a page whose value passes CanAddNewItem(value, amount); false when none.
    virtual bool FindPageForNewItem(TCRVSessionID sessionID, std::uint16_t amount, TCRVPageNo& pageNo) = 0;
    // A page not in the index gets (pageNo, amount); a present one value + amount (20106 when the
    // owner's test refuses).
    virtual void AddPageItem(TCRVSessionID sessionID, std::uint16_t amount, TCRVPageNo pageNo) = 0;
    // The page must be present (20111). newValue < 0: the value decreases by amount (20112 when it
    // is 0); otherwise it becomes newValue. A value of 0 removes the entry.
    virtual void DeletePageItem(TCRVSessionID sessionID, std::uint16_t amount, std::int32_t newValue,
                                TCRVPageNo pageNo) = 0;
    // The page's value; empty when the page is not in the index.
    virtual std::optional<std::uint16_t> GetPageValue(TCRVSessionID sessionID, TCRVPageNo pageNo) = 0;

    // The entries in page order: the first, the last, and the neighbours of a page's entry. The
    // page given to GetNext / GetPrior must be in the index, else `missingCode` is raised.
    virtual std::optional<TCRVTablePFSPageMapItem> GetFirst(TCRVSessionID sessionID) = 0;
    virtual std::optional<TCRVTablePFSPageMapItem> GetLast(TCRVSessionID sessionID) = 0;
    virtual std::optional<TCRVTablePFSPageMapItem> GetNext(TCRVSessionID sessionID, TCRVPageNo pageNo,
                                                           int missingCode) = 0;
    virtual std::optional<TCRVTablePFSPageMapItem> GetPrior(TCRVSessionID sessionID, TCRVPageNo pageNo,
                                                            int missingCode) = 0;
};

// Makes a page index over the page cache with the owner's test.
using TCRVPageIndexFactory = std::function<std::unique_ptr<TCRVPageIndexAccess>(TCRVPageManager& pageManager,
                                                                                TCRVCanAddNewItem canAdd)>;
