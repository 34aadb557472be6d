// Test doubles for the record and BLOB tests: a page cache over pages held in memory, which
// counts the pages in use so that a test can check that every page freed comes back, and a
// page-number index kept in a std::map with leaves of a chosen size for the two-leaf search.
#pragma once

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

// A page index in memory. Its root is a real page (so page counts include it); its entries are
// not in pages, so it does not follow a session's cancel.
class TCRVMapPageIndex : public TCRVPageIndexAccess {
public:
    TCRVMapPageIndex(TCRVPageManager& pageManager, TCRVCanAddNewItem canAdd, std::size_t leafSize)
        : LPageManager(pageManager), FCanAdd(std::move(canAdd)), FLeafSize(leafSize) {}

    TCRVPageNo RootPageNo() const override { return FRoot; }
    void CreateIndex(TCRVSessionID sessionID) override {
        FRoot = LPageManager.AddPage(sessionID, ptTableIndex)->PageNo();
        FEntries.clear();
    }
    void OpenIndex(TCRVPageNo rootPageNo) override { FRoot = rootPageNo; }
    void EmptyIndex(TCRVSessionID) override { FEntries.clear(); }
    void DropIndex(TCRVSessionID sessionID) override {
        if (FRoot != KCRVNoPage)
            LPageManager.RemovePage(sessionID, FRoot);
        FRoot = KCRVNoPage;
        FEntries.clear();
    }
    bool FindPageForNewItem(TCRVSessionID, std::uint16_t amount, TCRVPageNo& pageNo) override {
        const std::vector<TCRVTablePFSPageMapItem> all = Items();
        const std::size_t n = all.size();
        const std::size_t lastLeafStart = n == 0 ? 0 : ((n - 1) / FLeafSize) * FLeafSize;
        for (std::size_t i = n; i > lastLeafStart; --i)
            if (FCanAdd(all[i - 1].PageRecordCount, amount)) {
                pageNo = all[i - 1].PageNo;
                return true;
            }
        for (std::size_t i = 0; i < std::min(n, FLeafSize); ++i)
            if (FCanAdd(all[i].PageRecordCount, amount)) {
                pageNo = all[i].PageNo;
                return true;
            }
        return false;
    }
    void AddPageItem(TCRVSessionID, std::uint16_t amount, TCRVPageNo pageNo) override {
        auto it = FEntries.find(pageNo);
        if (it == FEntries.end()) {
            FEntries[pageNo] = amount;
            return;
        }
        if (!FCanAdd(it->second, amount))
            CRVRaise(20106);
        it->second = static_cast<std::uint16_t>(it->second + amount);
    }
    void DeletePageItem(TCRVSessionID, std::uint16_t amount, std::int32_t newValue,
                        TCRVPageNo pageNo) override {
        auto it = FEntries.find(pageNo);
        if (it == FEntries.end())
            CRVRaise(20111);
        if (newValue < 0) {
            if (it->second == 0)
                CRVRaise(20112);
            newValue = it->second - amount;
        }
        if (newValue <= 0)
            FEntries.erase(it);
        else
            it->second = static_cast<std::uint16_t>(newValue);
    }
    std::optional<std::uint16_t> GetPageValue(TCRVSessionID, TCRVPageNo pageNo) override {
        const auto it = FEntries.find(pageNo);
        return it == FEntries.end() ? std::nullopt : std::optional<std::uint16_t>(it->second);
    }
    std::optional<TCRVTablePFSPageMapItem> GetFirst(TCRVSessionID) override {
        return FEntries.empty() ? std::nullopt : Item(FEntries.begin());
    }
    std::optional<TCRVTablePFSPageMapItem> GetLast(TCRVSessionID) override {
        return FEntries.empty() ? std::nullopt : Item(std::prev(FEntries.end()));
    }
    std::optional<TCRVTablePFSPageMapItem> GetNext(TCRVSessionID, TCRVPageNo pageNo,
                                                   int missingCode) override {
        auto it = FEntries.find(pageNo);
        if (it == FEntries.end())
            CRVRaise(missingCode);
        ++it;
        return it == FEntries.end() ? std::nullopt : Item(it);
    }
    std::optional<TCRVTablePFSPageMapItem> GetPrior(TCRVSessionID, TCRVPageNo pageNo,
                                                    int missingCode) override {
        auto it = FEntries.find(pageNo);
        if (it == FEntries.end())
            CRVRaise(missingCode);
        if (it == FEntries.begin())
            return std::nullopt;
        return Item(std::prev(it));
    }

    std::vector<TCRVTablePFSPageMapItem> Items() const {
        std::vector<TCRVTablePFSPageMapItem> all;
        for (auto it = FEntries.begin(); it != FEntries.end(); ++it)
            all.push_back(*Item(it));
        return all;
    }

private:
    static std::optional<TCRVTablePFSPageMapItem>
    Item(std::map<TCRVPageNo, std::uint16_t>::const_iterator it) {
        return TCRVTablePFSPageMapItem{it->first, it->second};
    }

    TCRVPageManager& LPageManager;
    TCRVCanAddNewItem FCanAdd;
    std::size_t FLeafSize;
    TCRVPageNo FRoot = KCRVNoPage;
    std::map<TCRVPageNo, std::uint16_t> FEntries;
};

inline TCRVPageIndexFactory CRVMapPageIndexFactory(std::size_t leafSize = 1000000) {
    return [leafSize](TCRVPageManager& pm, TCRVCanAddNewItem canAdd) -> std::unique_ptr<TCRVPageIndexAccess> {
        return std::make_unique<TCRVMapPageIndex>(pm, std::move(canAdd), leafSize);
    };
}
