// Test doubles for the record and BLOB tests: a page cache over pages held in memory, which
// counts the pages in use so that a test can check that every page freed comes back; and walks
// over a page index.
#pragma once

#include "CRVBaseEngine/CRVBTreePageIndexAccess.h"
#include "CRVBaseEngine/CRVDiskRecordManager.h"
#include "CRVBaseEngine/CRVPageIndexAccess.h"
#include "CRVExcept/CRVExcept.h"
#include "CRVPage/CRVPageManager.h"

#include <cstring>
#include <map>
#include <set>
#include <vector>

// Record ids compare equal when page and slot are; for the tests' expectations.
inline bool operator==(const TCRVPageItemID& a, const TCRVPageItemID& b) {
    return CompareRecordID(a, b) == 0;
}

class TCRVMemoryPageManager : public TCRVPageManager {
public:
    explicit TCRVMemoryPageManager(std::uint16_t pageSize = 4096) { SetPageGeometry(pageSize); }

    // Pages allocated and not freed (map pages do not exist here).
    std::size_t LivePageCount() const { return FLive.size(); }
    const std::set<TCRVPageNo>& LivePages() const { return FLive; }
    // Page count of the "file": the highest number handed out + 1.
    std::int32_t PageCount() const { return FNextPageNo; }
    bool IsPageInUse(TCRVPageNo pageNo) const { return FLive.contains(pageNo); }
    // The stored image of a page (what the last write-back left), for corrupting tests.
    std::vector<std::uint8_t>& Stored(TCRVPageNo pageNo) { return FDisk.at(pageNo); }

protected:
    bool InternalReadPage(TCRVPage& page) override {
        const auto it = FDisk.find(page.PageNo());
        if (it == FDisk.end()) {
            page.GetPageHeader()->State = KCRVPageStateRemoved;
            return false;
        }
        std::memcpy(page.Buffer(), it->second.data(), page.GetPageSize());
        return true;
    }
    void InternalWritePage(TCRVPage& page) override {
        auto& image = FDisk[page.PageNo()];
        page.GetPageHeader()->State = CRVNextPageState(page.GetPageHeader()->State);
        image.assign(page.Buffer(), page.Buffer() + page.GetPageSize());
    }
    TCRVPageNo InternalAddPage() override {
        TCRVPageNo no = FNextPageNo;
        if (!FFree.empty()) {
            no = *FFree.begin();
            FFree.erase(FFree.begin());
        } else {
            ++FNextPageNo;
        }
        FLive.insert(no);
        return no;
    }
    void InternalRemovePage(TCRVPageNo pageNo) override {
        if (auto it = FDisk.find(pageNo); it != FDisk.end()) {
            TCRVDiskPageHeader header;
            std::memcpy(&header, it->second.data(), sizeof(header));
            header.State = KCRVPageStateRemoved;
            std::memcpy(it->second.data(), &header, sizeof(header));
        }
        if (FLive.erase(pageNo))
            FFree.insert(pageNo);
    }

private:
    std::map<TCRVPageNo, std::vector<std::uint8_t>> FDisk;
    std::set<TCRVPageNo> FLive;
    std::set<TCRVPageNo> FFree;
    TCRVPageNo FNextPageNo = 1; // page 0 is the file's first map page
};

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
