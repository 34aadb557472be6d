// TCRVSystemDirectory: where the database-wide files start. An uncompressed transacted internal
// file of page type 4 that always starts at page 2, holding 5-byte entries (FileID, FirstPageNo):
// 1 = the table list, 2 = the session slots file.
#pragma once

#include "CRVDiskEngine/CRVInternalFile.h"

#include <vector>

class TCRVSystemDirectory {
public:
    explicit TCRVSystemDirectory(TCRVDiskPageManager& pageManager);

    // Creates the directory file; its first page must be page 2 (else 30392).
    void CreateDirectory(TCRVSessionID sessionID);
    void LoadDirectory(TCRVSessionID sessionID);
    void SaveDirectory(TCRVSessionID sessionID);
    // Appends an entry.
    void CreateFile(TCRVDBFileType fileType, TCRVPageNo firstPageNo);
    // -1 when the directory holds no such file.
    TCRVPageNo GetFileFirstPageNo(TCRVDBFileType fileType) const;
    const std::vector<TCRVSystemDirectoryListItem>& Items() const { return FItems; }

private:
    TCRVInternalDBTransactedAccessFile FFile;
    std::vector<TCRVSystemDirectoryListItem> FItems;
};
