// Test helpers for the record and BLOB tests: the in-memory page cache, record-id equality and
// walks over a page index.
#pragma once

#include "CRVBaseEngine/CRVBTreePageIndexAccess.h"
#include "CRVBaseEngine/CRVDiskRecordManager.h"
#include "CRVBaseEngine/CRVPageIndexAccess.h"
#include "CRVExcept/CRVExcept.h"
#include "CRVPage/CRVMemoryPageManager.h"

#include <vector>

// Record ids compare equal when page and slot are; for the tests' expectations.
inline bool operator==(const TCRVPageItemID& a, const TCRVPageItemID& b) {
    return CompareRecordID(a, b) == 0;
}

// The entries of a page index in page order.
inline std::vector<TCRVTablePFSPageMapItem> IndexItems(TCRVPageIndexAccess& index,
                                                       TCRVSessionID sessionID = 0) {
    std::vector<TCRVTablePFSPageMapItem> items;
    for (auto item = index.GetFirst(sessionID); item; item = index.GetNext(sessionID, item->PageNo, 20104))
        items.push_back(*item);
    return items;
}

// Checks the page index's tree and answers the pages it takes.
inline std::int64_t IndexPageCount(TCRVPageIndexAccess& index, TCRVSessionID sessionID = 0) {
    return dynamic_cast<TCRVBTreePageIndexAccess&>(index).Index().CheckIntegrity(sessionID).PageCount;
}
