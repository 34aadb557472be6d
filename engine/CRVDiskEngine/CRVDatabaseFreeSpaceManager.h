// TCRVDatabaseFreeSpaceManager: which pages are in use (PFS and EAM map pages), allocation,
// freeing, growth of the file and truncation by whole steps.
//
// Geometry (D = PageDataSize, E = PageCountInExtent):
//   PFS page k = page k x PfsSpan, PfsSpan = 8 D pages, one bit per page (LSB first, 1 = used).
//   EAM page k = page k x EamSpan (or +1 when that is a PFS page), EamSpan = 4 D E pages; two
//   bits per extent: 3 = every page used, 1 = a free page, 0 = never recorded.
// With the defaults PfsSpan = 32448, EamSpan = 129792: page 0 is PFS, page 1 EAM.
//
// Map pages are read and written directly (no cache, no cipher) and keep State 0. Every
// allocation and free runs under the header lock and starts by re-reading TotalPageCount and
// LastUsedPageNo from the file; they are written back (when changed) and the lock released on
// every path, the failing ones included.
//
// Threads: REQUIRES the open database's lock.
#pragma once

#include "CRVPage/CRVPageTypes.h"

#include <cstdint>
#include <vector>

class TCRVDiskPageManager;

class TCRVDatabaseFreeSpaceManager {
public:
    explicit TCRVDatabaseFreeSpaceManager(TCRVDiskPageManager& pageManager);

    // Allocates a page (the argument is not used).
    TCRVPageNo GetPage(TCRVPageNo desiredStartPageNo = KCRVNoPage);
    // Gives a page back and shrinks the file when enough free pages end it.
    void FreePage(TCRVPageNo pageNo);
    // 30434 for a PFS or EAM page number.
    void CheckPageNoForSystemPages(TCRVPageNo pageNo) const;
    bool IsPagePfsOrEam(TCRVPageNo pageNo) const;
    void SetPageUsage(TCRVPageNo pageNo, bool used);
    bool GetPageUsageFromPFS(TCRVPageNo pageNo);
    void TruncateFile();

    std::int32_t AddPagesStep() const;
    std::int32_t DelPagesStep() const { return AddPagesStep(); }
    bool SuppressDBHeaderErrors() const { return FSuppressDBHeaderErrors; }
    void SetSuppressDBHeaderErrors(bool value) { FSuppressDBHeaderErrors = value; }

    std::int32_t PfsSpan() const { return FPFSPage_PagesAddressed; }
    std::int32_t EamSpan() const { return FEAMPage_PagesAddressed; }
    std::int32_t ExtentsPerEam() const { return FEAMPage_ExtentsAddressed; }
    std::int32_t PageCountInExtent() const { return FPageCountInExtent; }
    TCRVPageNo PfsPageNo(std::int32_t position) const { return position * FPFSPage_PagesAddressed; }
    TCRVPageNo EamPageNo(std::int32_t position) const;
    std::int32_t LastPfsPosition(std::int32_t totalPageCount) const;
    std::int32_t LastEamPosition(std::int32_t totalPageCount) const;
    std::int32_t TotalPageCount() const { return FTotalPageCount; }
    std::int32_t LastUsedPageNo() const { return FLastUsedPageNo; }

    // The highest page in use that is no map page, from the PFS pages (-1 when none).
    TCRVPageNo FindLastUsedPageNo();

private:
    struct TCountsGuard; // writes the counts back and unlocks on every path

    TCRVPageNo FindAndReusePage();
    TCRVPageNo FindExtentWithFreePages(std::int32_t eamPosition);
    TCRVPageNo AddNewPageAndExtentFile();
    TCRVPageNo SkipMapPages(TCRVPageNo pageNo) const;
    void ReadMapPage(TCRVPageNo pageNo, std::uint16_t expectedType, int errorCode,
                     std::vector<std::uint8_t>& page);
    void WriteNewMapPage(TCRVPageNo pageNo, std::uint16_t pageType);
    void SetPfsBit(TCRVPageNo pageNo, bool used);
    void RecomputeExtentState(std::int32_t extent);
    bool PageCountsAsUsed(TCRVPageNo pageNo);

    TCRVDiskPageManager& LPageManager;
    std::int32_t FPageCountInExtent;
    std::int32_t FPFSPage_PagesAddressed;
    std::int32_t FEAMPage_ExtentsAddressed;
    std::int32_t FEAMPage_PagesAddressed;
    std::int32_t FLastUsedPageNo;
    std::int32_t FTotalPageCount;
    bool FSuppressDBHeaderErrors = false;
};
