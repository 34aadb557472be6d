#include "CRVPage/CRVPage.h"

#include "CRVExcept/CRVExcept.h"
#include "CRVPage/CRVPageManager.h"

#include <algorithm>
#include <array>

namespace {
constexpr std::array<const char*, KCRVLastPageType + 1> CRVPageTypeNames = {
    "Unknown Page",
    "Empty Page",
    "EAM Page",
    "PFS Page",
    "FileSystemDirectory Page",
    "ActiveSessionList Page",
    "TableList Page",
    "TableLocks Page",
    "TableMetaData Page",
    "TableMostUpdated Page",
    "TableRecord Page",
    "TableBlob Page",
    "TableIndex Page",
};
} // namespace

std::string PageTypeToStr(std::uint16_t pageType) {
    if (pageType > KCRVLastPageType)
        CRVRaise(30382, static_cast<int>(pageType));
    return CRVPageTypeNames[pageType];
}

void CRVInitPageHeader(TCRVDiskPageHeader& header) {
    std::memset(&header, 0, sizeof header);
    std::memcpy(header.Signature, KCRVPageSignature, sizeof header.Signature);
    header.NextPageNo = KCRVNoPage;
    header.ObjectID = -1;
    header.RecordID.PageNo = KCRVNoPage;
    header.RecordID.PageItemNo = 0;
}

TCRVPage::TCRVPage(TCRVPageManager* pageManager, TCRVPageNo pageNo, std::size_t pageSize)
    : LPageManager(pageManager), FPageNo(pageNo), FPageSize(pageSize), FPageBuffer(pageSize, 0) {}

void TCRVPage::InitHeader() {
    std::fill(FPageBuffer.begin(), FPageBuffer.end(), 0);
    CRVInitPageHeader(*GetPageHeader());
}

void TCRVPage::EnlargeBuffer(std::size_t size) {
    if (size > FPageBuffer.size())
        FPageBuffer.resize(size, 0);
}

TCRVPinnedPage& TCRVPinnedPage::operator=(TCRVPinnedPage&& other) noexcept {
    if (this != &other) {
        Release();
        FManager = other.FManager;
        FPage = other.FPage;
        other.FPage = nullptr;
    }
    return *this;
}

void TCRVPinnedPage::Release() noexcept {
    if (!FPage)
        return;
    TCRVPage* page = FPage;
    FPage = nullptr;
    FManager->PutPage(page);
}
