#include "CRVBaseEngine/CRVBTreePageIndexAccess.h"

#include "CRVExcept/CRVExcept.h"

TCRVBTreePageIndexAccess::TCRVBTreePageIndexAccess(TCRVPageManager& pageManager, TCRVCanAddNewItem canAdd)
    : FIndex(pageManager, std::move(canAdd)) {}

TCRVTablePFSPageMapItem TCRVBTreePageIndexAccess::ItemAt(TCRVSessionID sessionID,
                                                         const TCRVKeyPath& path) const {
    return {FIndex.GetPageNo(sessionID, path), FIndex.GetPageValue(sessionID, path)};
}

std::optional<std::uint16_t> TCRVBTreePageIndexAccess::GetPageValue(TCRVSessionID sessionID,
                                                                    TCRVPageNo pageNo) {
    TCRVKeyPath path;
    if (!FIndex.GetPosition(sessionID, pageNo, path))
        return std::nullopt;
    return FIndex.GetPageValue(sessionID, path);
}

std::optional<TCRVTablePFSPageMapItem> TCRVBTreePageIndexAccess::GetFirst(TCRVSessionID sessionID) {
    TCRVKeyPath path;
    if (!FIndex.GetFirstPosition(sessionID, path))
        return std::nullopt;
    return ItemAt(sessionID, path);
}

std::optional<TCRVTablePFSPageMapItem> TCRVBTreePageIndexAccess::GetLast(TCRVSessionID sessionID) {
    TCRVKeyPath path;
    if (!FIndex.GetLastPosition(sessionID, path))
        return std::nullopt;
    return ItemAt(sessionID, path);
}

std::optional<TCRVTablePFSPageMapItem> TCRVBTreePageIndexAccess::GetNext(TCRVSessionID sessionID,
                                                                         TCRVPageNo pageNo, int missingCode) {
    TCRVKeyPath path;
    if (!FIndex.GetPosition(sessionID, pageNo, path))
        CRVRaise(missingCode);
    if (!FIndex.GetNextPosition(sessionID, path))
        return std::nullopt;
    return ItemAt(sessionID, path);
}

std::optional<TCRVTablePFSPageMapItem>
TCRVBTreePageIndexAccess::GetPrior(TCRVSessionID sessionID, TCRVPageNo pageNo, int missingCode) {
    TCRVKeyPath path;
    if (!FIndex.GetPosition(sessionID, pageNo, path))
        CRVRaise(missingCode);
    if (!FIndex.GetPriorPosition(sessionID, path))
        return std::nullopt;
    return ItemAt(sessionID, path);
}

TCRVPageIndexFactory CRVBTreePageIndexFactory() {
    return
        [](TCRVPageManager& pageManager, TCRVCanAddNewItem canAdd) -> std::unique_ptr<TCRVPageIndexAccess> {
            return std::make_unique<TCRVBTreePageIndexAccess>(pageManager, std::move(canAdd));
        };
}
