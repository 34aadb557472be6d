// TCRVActiveSessionsFile: the session slots file, a direct-access internal file of page type 5
// with MaxSessionCount bytes; byte s is the slot of session s, taken while it is locked. The
// file's own lock (the first byte of its first page) serialises connects and disconnects.
//
// Single-user: the first process to connect locks every slot; a later process finds them locked
// and works read-only. Multi-user: a session takes the first slot byte it can lock.
#pragma once

#include "CRVDiskEngine/CRVInternalFile.h"

class TCRVActiveSessionsFile {
public:
    explicit TCRVActiveSessionsFile(TCRVDiskPageManager& pageManager);

    TCRVPageNo CreateFile(TCRVSessionID sessionID, std::int32_t maxSessionCount);
    void OpenFile(TCRVPageNo startPageNo);
    void CloseFile() { FHandle.CloseFile(); }
    // True when no slot was taken and this process now holds them all.
    bool SingleUserConnect();
    void SingleUserDisconnect();
    // The slot number taken (20094 when none is free).
    TCRVSessionID MultiUserConnect();
    void MultiUserDisconnect(TCRVSessionID sessionID);

    // min(stored size, capacity).
    std::int32_t MaxSessionCount() const { return FMaxSessionCount; }
    TCRVInternalDBDirectAccessFile& Handle() { return FHandle; }

private:
    // The slots file's own lock, retried; the connect goes on without it when it cannot be had.
    void LockSlotsFile();

    TCRVDiskPageManager& LPageManager;
    TCRVInternalDBDirectAccessFile FHandle;
    std::int32_t FMaxSessionCount = 0;
};
