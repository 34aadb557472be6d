#include "CRVDiskEngine/CRVDatabaseFreeSpaceManager.h"

#include "CRVDiskEngine/CRVDiskPageManager.h"
#include "CRVExcept/CRVExcept.h"

#include <algorithm>

namespace {

constexpr std::uint8_t KFullByte = 0xFF;

std::uint8_t* DataOf(std::vector<std::uint8_t>& page) {
    return page.data() + KCRVPageHeaderSize;
}

} // namespace

TCRVDatabaseFreeSpaceManager::TCRVDatabaseFreeSpaceManager(TCRVDiskPageManager& pageManager)
    : LPageManager(pageManager), FPageCountInExtent(pageManager.DBHeader().PageCountInExtent),
      FPFSPage_PagesAddressed(8 * pageManager.PageDataSize()),
      FEAMPage_ExtentsAddressed(4 * pageManager.PageDataSize()),
      FEAMPage_PagesAddressed(4 * pageManager.PageDataSize() * pageManager.DBHeader().PageCountInExtent),
      FLastUsedPageNo(pageManager.DBHeader().LastUsedPageNo),
      FTotalPageCount(pageManager.DBHeader().TotalPageCount) {}

TCRVPageNo TCRVDatabaseFreeSpaceManager::EamPageNo(std::int32_t position) const {
    const TCRVPageNo p = position * FEAMPage_PagesAddressed;
    return p % FPFSPage_PagesAddressed == 0 ? p + 1 : p;
}

std::int32_t TCRVDatabaseFreeSpaceManager::LastPfsPosition(std::int32_t totalPageCount) const {
    return std::max(totalPageCount - 1, 0) / FPFSPage_PagesAddressed;
}

std::int32_t TCRVDatabaseFreeSpaceManager::LastEamPosition(std::int32_t totalPageCount) const {
    return std::max(totalPageCount - 1, 0) / FEAMPage_PagesAddressed;
}

bool TCRVDatabaseFreeSpaceManager::IsPagePfsOrEam(TCRVPageNo p) const {
    if (p < 0)
        return false;
    if (p % FPFSPage_PagesAddressed == 0 || p % FEAMPage_PagesAddressed == 0)
        return true;
    return p >= 1 && (p - 1) % FPFSPage_PagesAddressed == 0 && (p - 1) % FEAMPage_PagesAddressed == 0;
}

void TCRVDatabaseFreeSpaceManager::CheckPageNoForSystemPages(TCRVPageNo pageNo) const {
    if (IsPagePfsOrEam(pageNo))
        CRVRaise(30434, pageNo);
}

std::int32_t TCRVDatabaseFreeSpaceManager::AddPagesStep() const {
    return FTotalPageCount > 0 ? std::max(FTotalPageCount / 10, FPageCountInExtent) : 6;
}

TCRVPageNo TCRVDatabaseFreeSpaceManager::SkipMapPages(TCRVPageNo pageNo) const {
    while (IsPagePfsOrEam(pageNo))
        ++pageNo;
    return pageNo;
}

void TCRVDatabaseFreeSpaceManager::ReadMapPage(TCRVPageNo pageNo, std::uint16_t expectedType, int errorCode,
                                               std::vector<std::uint8_t>& page) {
    page.resize(LPageManager.PageSize());
    LPageManager.ReadPageDirect(pageNo, page.data());
    const auto* header = reinterpret_cast<const TCRVDiskPageHeader*>(page.data());
    if (header->PageType != expectedType) {
        const std::uint16_t found = header->PageType;
        const std::string foundName =
            found <= KCRVLastPageType ? PageTypeToStr(found) : std::to_string(found);
        CRVRaiseText(errorCode, "Wrong page type. Found '%s', but expecting: '%s'", foundName,
                     PageTypeToStr(expectedType));
    }
}

void TCRVDatabaseFreeSpaceManager::WriteNewMapPage(TCRVPageNo pageNo, std::uint16_t pageType) {
    std::vector<std::uint8_t> page(LPageManager.PageSize(), 0);
    auto* header = reinterpret_cast<TCRVDiskPageHeader*>(page.data());
    CRVInitPageHeader(*header);
    header->PageType = pageType;
    DataOf(page)[0] = 1; // a PFS page's own bit; an EAM page's first extent: "has a free page"
    LPageManager.WritePageDirect(pageNo, page.data());
}

void TCRVDatabaseFreeSpaceManager::SetPfsBit(TCRVPageNo pageNo, bool used) {
    if (pageNo < 0 || pageNo >= FTotalPageCount)
        CRVRaise(30430, pageNo, FTotalPageCount);
    const TCRVPageNo pfs = (pageNo / FPFSPage_PagesAddressed) * FPFSPage_PagesAddressed;
    std::vector<std::uint8_t> page;
    ReadMapPage(pfs, ptPFS, 30424, page);
    const std::int32_t i = pageNo - pfs;
    std::uint8_t& byte = DataOf(page)[i / 8];
    const std::uint8_t mask = static_cast<std::uint8_t>(1u << (i % 8));
    if (used && (byte & mask))
        CRVRaise(30425, pageNo);
    if (!used && !(byte & mask))
        CRVRaise(30427, pageNo);
    byte = static_cast<std::uint8_t>(used ? byte | mask : byte & ~mask);
    LPageManager.WritePageDirect(pfs, page.data());
}

bool TCRVDatabaseFreeSpaceManager::GetPageUsageFromPFS(TCRVPageNo pageNo) {
    if (pageNo < 0 || pageNo >= FTotalPageCount)
        CRVRaise(30430, pageNo, FTotalPageCount);
    const TCRVPageNo pfs = (pageNo / FPFSPage_PagesAddressed) * FPFSPage_PagesAddressed;
    std::vector<std::uint8_t> page;
    ReadMapPage(pfs, ptPFS, 30430, page);
    const std::int32_t i = pageNo - pfs;
    return (DataOf(page)[i / 8] >> (i % 8)) & 1;
}

bool TCRVDatabaseFreeSpaceManager::PageCountsAsUsed(TCRVPageNo pageNo) {
    const TCRVPageNo pfs = (pageNo / FPFSPage_PagesAddressed) * FPFSPage_PagesAddressed;
    // Pages beyond the file, or whose PFS page lies beyond the last used page, count as free.
    if (pageNo >= FTotalPageCount || pfs >= FTotalPageCount || pfs > FLastUsedPageNo)
        return false;
    return GetPageUsageFromPFS(pageNo);
}

void TCRVDatabaseFreeSpaceManager::RecomputeExtentState(std::int32_t extent) {
    const TCRVPageNo first = extent * FPageCountInExtent;
    if (first < 0 || first >= FTotalPageCount)
        CRVRaise(30431, first, FTotalPageCount);
    bool anyUsed = false;
    bool anyFree = false;
    for (TCRVPageNo p = first; p < first + FPageCountInExtent && !(anyUsed && anyFree); ++p)
        (PageCountsAsUsed(p) ? anyUsed : anyFree) = true;
    const std::uint8_t state = anyUsed && !anyFree ? 3 : 1;

    const std::int32_t position = extent / FEAMPage_ExtentsAddressed;
    const TCRVPageNo eam = EamPageNo(position);
    if (eam >= FTotalPageCount)
        CRVRaise(30431, eam, FTotalPageCount);
    std::vector<std::uint8_t> page;
    ReadMapPage(eam, ptEAM, 30428, page);
    const std::int32_t i = extent % FEAMPage_ExtentsAddressed;
    const int shift = 2 * (i % 4);
    std::uint8_t& byte = DataOf(page)[i / 4];
    const std::uint8_t updated = static_cast<std::uint8_t>((byte & ~(3u << shift)) | (state << shift));
    if (updated == byte)
        return;
    byte = updated;
    LPageManager.WritePageDirect(eam, page.data());
}

void TCRVDatabaseFreeSpaceManager::SetPageUsage(TCRVPageNo pageNo, bool used) {
    SetPfsBit(pageNo, used);
    RecomputeExtentState(pageNo / FPageCountInExtent);
}

TCRVPageNo TCRVDatabaseFreeSpaceManager::FindExtentWithFreePages(std::int32_t eamPosition) {
    std::vector<std::uint8_t> page;
    ReadMapPage(EamPageNo(eamPosition), ptEAM, 30423, page);
    const std::uint8_t* data = DataOf(page);
    const std::int32_t d = LPageManager.PageDataSize();
    std::int32_t extent = -1;
    for (std::int32_t b = 0; b < d && extent < 0; ++b) {
        if (data[b] == KFullByte)
            continue;
        for (int j = 0; j < 4 && extent < 0; ++j)
            if (!(data[b] & (1u << (2 * j + 1))))
                extent = eamPosition * FEAMPage_ExtentsAddressed + 4 * b + j;
        break;
    }
    if (extent < 0)
        return KCRVNoPage;
    const std::int64_t firstPage = static_cast<std::int64_t>(extent) * FPageCountInExtent;
    const std::int64_t lastPage = firstPage + FPageCountInExtent - 1;
    TCRVPageNo candidate = KCRVNoPage;
    for (std::int64_t k = firstPage / FPFSPage_PagesAddressed; k <= lastPage / FPFSPage_PagesAddressed; ++k) {
        const std::int64_t pfs = k * FPFSPage_PagesAddressed;
        if (pfs >= FTotalPageCount)
            break;
        ReadMapPage(static_cast<TCRVPageNo>(pfs), ptPFS, 30423, page);
        const std::uint8_t* bits = DataOf(page);
        for (std::int32_t b = 0; b < d; ++b) {
            if (bits[b] == KFullByte)
                continue;
            int j = 0;
            while (bits[b] & (1u << j))
                ++j;
            candidate = static_cast<TCRVPageNo>(pfs + 8 * b + j);
            break;
        }
    }
    return candidate >= 0 && candidate < FTotalPageCount ? candidate : KCRVNoPage;
}

TCRVPageNo TCRVDatabaseFreeSpaceManager::FindAndReusePage() {
    if (FLastUsedPageNo == KCRVNoPage)
        return KCRVNoPage;
    const std::int32_t last = LastEamPosition(FTotalPageCount);
    TCRVPageNo p = FindExtentWithFreePages(last);
    for (std::int32_t pos = 0; p == KCRVNoPage && pos < last; ++pos)
        p = FindExtentWithFreePages(pos);
    if (p != KCRVNoPage)
        SetPageUsage(p, true);
    return p;
}

TCRVPageNo TCRVDatabaseFreeSpaceManager::AddNewPageAndExtentFile() {
    const bool noneUsed = FLastUsedPageNo == KCRVNoPage;
    const std::int32_t oldPfs = noneUsed ? -1 : LastPfsPosition(FTotalPageCount);
    const std::int32_t oldEam = noneUsed ? -1 : LastEamPosition(FTotalPageCount);
    const TCRVPageNo newPage = SkipMapPages(FLastUsedPageNo + 1);
    std::int32_t step = AddPagesStep();
    if (newPage >= FTotalPageCount + step)
        step = newPage - FTotalPageCount + 1;
    while (IsPagePfsOrEam(FTotalPageCount + step - 1))
        ++step; // the file never ends with a map page
    LPageManager.ResizeForPages(FTotalPageCount + step);
    FTotalPageCount += step;

    const std::int32_t newPfs = LastPfsPosition(FTotalPageCount);
    const std::int32_t newEam = LastEamPosition(FTotalPageCount);
    for (std::int32_t k = oldPfs + 1; k <= newPfs; ++k)
        WriteNewMapPage(PfsPageNo(k), ptPFS);
    for (std::int32_t k = oldEam + 1; k <= newEam; ++k)
        WriteNewMapPage(EamPageNo(k), ptEAM);
    FLastUsedPageNo = newPage;
    for (std::int32_t k = oldEam + 1; k <= newEam; ++k)
        SetPageUsage(EamPageNo(k), true);
    for (std::int32_t k = oldPfs + 1; k <= newPfs; ++k)
        RecomputeExtentState(PfsPageNo(k) / FPageCountInExtent);
    SetPageUsage(newPage, true);
    return newPage;
}

TCRVPageNo TCRVDatabaseFreeSpaceManager::GetPage(TCRVPageNo desiredStartPageNo) {
    (void)desiredStartPageNo;
    TCRVDBHeaderLock lock(LPageManager, 20231);
    LPageManager.ReReadPageCountVariables(FTotalPageCount, FLastUsedPageNo);
    try {
        TCRVPageNo p = FindAndReusePage();
        if (p == KCRVNoPage)
            p = AddNewPageAndExtentFile();
        FLastUsedPageNo = std::max(FLastUsedPageNo, p);
        LPageManager.ReWritePageCountVariables(FTotalPageCount, FLastUsedPageNo);
        return p;
    } catch (...) {
        try {
            LPageManager.ReWritePageCountVariables(FTotalPageCount, FLastUsedPageNo);
        } catch (...) {
        }
        throw;
    }
}

TCRVPageNo TCRVDatabaseFreeSpaceManager::FindLastUsedPageNo() {
    const std::int32_t d = LPageManager.PageDataSize();
    std::vector<std::uint8_t> page;
    for (std::int32_t pos = LastPfsPosition(FTotalPageCount); pos >= 0; --pos) {
        const TCRVPageNo pfs = PfsPageNo(pos);
        if (pfs >= FTotalPageCount)
            continue;
        ReadMapPage(pfs, ptPFS, 30432, page);
        const std::uint8_t* bits = DataOf(page);
        for (std::int32_t b = d - 1; b >= 0; --b) {
            if (bits[b] == 0)
                continue;
            for (int j = 7; j >= 0; --j) {
                const TCRVPageNo p = pfs + 8 * b + j;
                if ((bits[b] >> j) & 1 && p < FTotalPageCount && !IsPagePfsOrEam(p))
                    return p;
            }
        }
    }
    return KCRVNoPage;
}

void TCRVDatabaseFreeSpaceManager::TruncateFile() {
    const std::int32_t step = DelPagesStep();
    const std::int32_t trailing = FTotalPageCount - FLastUsedPageNo - 1;
    if (trailing < step)
        return;
    const std::int32_t removed = (trailing / step) * step;
    LPageManager.ResizeForPages(FTotalPageCount - removed);
    FTotalPageCount -= removed;
}

void TCRVDatabaseFreeSpaceManager::FreePage(TCRVPageNo pageNo) {
    TCRVDBHeaderLock lock(LPageManager, 20232);
    LPageManager.ReReadPageCountVariables(FTotalPageCount, FLastUsedPageNo);
    try {
        SetPageUsage(pageNo, false);
        FLastUsedPageNo = FindLastUsedPageNo();
        TruncateFile();
        LPageManager.ReWritePageCountVariables(FTotalPageCount, FLastUsedPageNo);
    } catch (...) {
        try {
            LPageManager.ReWritePageCountVariables(FTotalPageCount, FLastUsedPageNo);
        } catch (...) {
        }
        throw;
    }
}
