// TCRVPageController: a thin wrapper around one pinned page, the base of the index page classes.
#pragma once

#include "CRVPage/CRVPageManager.h"

class TCRVPageController {
public:
    TCRVPageController() = default;
    explicit TCRVPageController(TCRVPinnedPage page) : FPage(std::move(page)) {}

    // Pins `pageNo` for the session (releasing the page held before).
    void SetPageNo(TCRVPageManager& manager, TCRVSessionID sessionID, TCRVPageNo pageNo,
                   std::uint16_t pageType);
    void SetPage(TCRVPinnedPage page) { FPage = std::move(page); }
    void Release() { FPage.Release(); }
    bool HasPage() const { return static_cast<bool>(FPage); }

    TCRVPageNo GetPageNo() const { return FPage ? FPage->PageNo() : KCRVNoPage; }
    std::size_t GetPageSize() const { return FPage->GetPageSize(); }
    void SetIsDirty(bool dirty) { FPage->SetIsDirty(dirty); }
    std::uint8_t* GetPageData() { return FPage->GetPageData(); }
    std::size_t GetPageDataSize() const { return FPage->GetPageDataSize(); }
    TCRVDiskPageHeader* GetPageHeader() { return FPage->GetPageHeader(); }
    void EnlargePageBuffer(std::size_t size) { FPage->EnlargeBuffer(size); }
    TCRVPage* Page() const { return FPage.Get(); }

private:
    TCRVPinnedPage FPage;
};
