#include "CRVDiskEngine/CRVSystemDirectory.h"

#include "CRVExcept/CRVExcept.h"

#include <cstring>

TCRVSystemDirectory::TCRVSystemDirectory(TCRVDiskPageManager& pageManager)
    : FFile(pageManager, ptFileSystemDirectory) {}

void TCRVSystemDirectory::CreateDirectory(TCRVSessionID sessionID) {
    FFile.CreateFile(sessionID);
    if (FFile.StartPageNo() != CRVFirstPageNoSystemDirectory)
        CRVRaise(30392, FFile.StartPageNo(), CRVFirstPageNoSystemDirectory);
    FItems.clear();
}

void TCRVSystemDirectory::LoadDirectory(TCRVSessionID sessionID) {
    FFile.OpenFile(CRVFirstPageNoSystemDirectory);
    const std::vector<std::uint8_t> bytes = FFile.ReadAll(sessionID);
    FItems.resize(bytes.size() / sizeof(TCRVSystemDirectoryListItem));
    if (!FItems.empty())
        std::memcpy(FItems.data(), bytes.data(), FItems.size() * sizeof(TCRVSystemDirectoryListItem));
}

void TCRVSystemDirectory::SaveDirectory(TCRVSessionID sessionID) {
    FFile.WriteFile(sessionID, FItems.data(),
                    static_cast<std::int32_t>(FItems.size() * sizeof(TCRVSystemDirectoryListItem)));
}

void TCRVSystemDirectory::CreateFile(TCRVDBFileType fileType, TCRVPageNo firstPageNo) {
    FItems.push_back(TCRVSystemDirectoryListItem{fileType, firstPageNo});
}

TCRVPageNo TCRVSystemDirectory::GetFileFirstPageNo(TCRVDBFileType fileType) const {
    for (const auto& item : FItems)
        if (item.FileID == fileType)
            return item.FirstPageNo;
    return KCRVNoPage;
}
