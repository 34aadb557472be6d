// Test and benchmark helpers for the B-tree code: a page manager that keeps its pages in memory
// (counting the pages in use, so a test can see every freed page come back) and a row store
// that serves the full-key fallback.
#pragma once

#include "CRVBTree/CRVBTreeKeyRef.h"
#include "CRVPage/CRVPageManager.h"

#include <cstring>
#include <map>
#include <set>
#include <utility>
#include <vector>

class TCRVMemoryPageManager : public TCRVPageManager {
public:
    explicit TCRVMemoryPageManager(std::uint16_t pageSize = 4096) {
        SetPageGeometry(pageSize);
        SetCacheCapacity(1u << 30);
    }
    ~TCRVMemoryPageManager() override = default;

    // Page numbers handed out and not freed (the pages of pending sessions included).
    std::size_t PagesInUse() const { return FAllocated.size(); }
    std::size_t StoredPages() const { return FStore.size(); }
    bool IsAllocated(TCRVPageNo pageNo) const { return FAllocated.count(pageNo) != 0; }

protected:
    bool InternalReadPage(TCRVPage& page) override {
        const auto it = FStore.find(page.PageNo());
        if (it == FStore.end())
            return false;
        std::memcpy(page.Buffer(), it->second.data(), it->second.size());
        return true;
    }
    void InternalWritePage(TCRVPage& page) override {
        TCRVDiskPageHeader* header = page.GetPageHeader();
        header->State = CRVNextPageState(header->State);
        FStore[page.PageNo()].assign(page.Buffer(), page.Buffer() + page.GetPageSize());
    }
    TCRVPageNo InternalAddPage() override {
        TCRVPageNo no;
        if (!FFree.empty()) {
            no = *FFree.begin();
            FFree.erase(FFree.begin());
        } else {
            no = FNextPageNo++;
        }
        FAllocated.insert(no);
        return no;
    }
    void InternalRemovePage(TCRVPageNo pageNo) override {
        FStore.erase(pageNo);
        if (FAllocated.erase(pageNo))
            FFree.insert(pageNo);
    }

private:
    std::map<TCRVPageNo, std::vector<std::uint8_t>> FStore;
    std::set<TCRVPageNo> FAllocated;
    std::set<TCRVPageNo> FFree;
    TCRVPageNo FNextPageNo = 1;
};

// Rows by record id, for the full-key fallback.
class TCRVMemoryRecordSource : public TCRVIndexRecordSource {
public:
    bool ReadMemoryRecord(TCRVSessionID, const TCRVRecordID& recordID,
                          std::vector<std::byte>& record) override {
        ++FReads;
        const auto it = FRows.find(Key(recordID));
        if (it == FRows.end())
            return false;
        record = it->second;
        return true;
    }
    void Put(const TCRVRecordID& recordID, std::vector<std::byte> record) {
        FRows[Key(recordID)] = std::move(record);
    }
    void Remove(const TCRVRecordID& recordID) { FRows.erase(Key(recordID)); }
    std::size_t Reads() const { return FReads; }

private:
    static std::pair<std::int32_t, std::uint16_t> Key(const TCRVRecordID& id) {
        return {static_cast<std::int32_t>(id.PageNo),
                static_cast<std::uint16_t>(id.PageItemNo)}; // packed: copies
    }
    std::map<std::pair<std::int32_t, std::uint16_t>, std::vector<std::byte>> FRows;
    std::size_t FReads = 0;
};
