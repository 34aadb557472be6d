// Test and benchmark double: a page cache over pages held in memory instead of a file. It counts
// the page numbers in use, so a test can check that every page freed comes back, and exposes the
// stored images, so a test can damage one. A removed page keeps its image with State marked
// removed, as on disk; reading it through the cache fails like reading a removed page of a file.
#pragma once

#include "CRVPage/CRVPageManager.h"

#include <cstring>
#include <map>
#include <set>
#include <vector>

class TCRVMemoryPageManager : public TCRVPageManager {
public:
    // Nothing is gained by evicting pages that live in memory anyway, so by default the cache
    // holds every page; a test of eviction passes a small capacity.
    explicit TCRVMemoryPageManager(std::uint16_t pageSize = 4096, std::size_t cacheCapacity = 1u << 30) {
        SetPageGeometry(pageSize);
        SetCacheCapacity(cacheCapacity);
    }

    // Page numbers handed out and not freed (the pages of pending sessions included; map pages
    // do not exist here).
    std::size_t LivePageCount() const { return FLive.size(); }
    const std::set<TCRVPageNo>& LivePages() const { return FLive; }
    bool IsPageInUse(TCRVPageNo pageNo) const { return FLive.contains(pageNo); }
    // Page count of the "file": the highest number handed out + 1.
    std::int32_t PageCount() const { return FNextPageNo; }
    // The stored image of a page (what the last write-back left).
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
        page.GetPageHeader()->State = CRVNextPageState(page.GetPageHeader()->State);
        FDisk[page.PageNo()].assign(page.Buffer(), page.Buffer() + page.GetPageSize());
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
    TCRVPageNo FNextPageNo = 1; // page 0 stands for the file's first map page
};
