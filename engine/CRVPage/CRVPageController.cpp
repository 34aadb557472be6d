#include "CRVPage/CRVPageController.h"

void TCRVPageController::SetPageNo(TCRVPageManager& manager, TCRVSessionID sessionID, TCRVPageNo pageNo,
                                   std::uint16_t pageType) {
    FPage.Release();
    FPage = manager.GetPage(sessionID, pageNo, true, pageType);
}
