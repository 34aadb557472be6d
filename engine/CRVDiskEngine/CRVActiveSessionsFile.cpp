#include "CRVDiskEngine/CRVActiveSessionsFile.h"

#include "CRVExcept/CRVExcept.h"

#include <algorithm>

TCRVActiveSessionsFile::TCRVActiveSessionsFile(TCRVDiskPageManager& pageManager)
    : LPageManager(pageManager), FHandle(pageManager, ptActiveSessionList) {}

TCRVPageNo TCRVActiveSessionsFile::CreateFile(TCRVSessionID sessionID, std::int32_t maxSessionCount) {
    const TCRVPageNo start = FHandle.CreateFile(sessionID, maxSessionCount);
    FMaxSessionCount = std::min(FHandle.StoredFileSize(), FHandle.GetSize());
    return start;
}

void TCRVActiveSessionsFile::OpenFile(TCRVPageNo startPageNo) {
    FHandle.OpenFile(startPageNo);
    FMaxSessionCount = std::min(FHandle.StoredFileSize(), FHandle.GetSize());
}

void TCRVActiveSessionsFile::LockSlotsFile() {
    TryUsingTimeOut(LPageManager.LockTryCount(), LPageManager.LockDelayMS(),
                    [&] { return FHandle.LockFile(); });
}

bool TCRVActiveSessionsFile::SingleUserConnect() {
    LockSlotsFile();
    bool connected = false;
    if (FMaxSessionCount > 0 && !FHandle.IsRegionLocked(0, FMaxSessionCount)) {
        connected = true;
        for (std::int32_t s = 0; s < FMaxSessionCount; ++s) {
            if (!FHandle.LockByte(s)) {
                for (std::int32_t t = 0; t < s; ++t)
                    FHandle.UnlockByte(t);
                connected = false;
                break;
            }
        }
    }
    if (!FHandle.UnlockFile())
        CRVRaise(20240);
    return connected;
}

void TCRVActiveSessionsFile::SingleUserDisconnect() {
    LockSlotsFile();
    for (std::int32_t s = 0; s < FMaxSessionCount; ++s)
        FHandle.UnlockByte(s);
    if (!FHandle.UnlockFile())
        CRVRaise(20241);
}

TCRVSessionID TCRVActiveSessionsFile::MultiUserConnect() {
    LockSlotsFile();
    TCRVSessionID slot = KCRVInvalidSessionID;
    for (std::int32_t s = 0; s < FMaxSessionCount && slot == KCRVInvalidSessionID; ++s)
        if (FHandle.LockByte(s))
            slot = s;
    if (!FHandle.UnlockFile())
        CRVRaise(20093);
    if (slot == KCRVInvalidSessionID)
        CRVRaise(20094);
    return slot;
}

void TCRVActiveSessionsFile::MultiUserDisconnect(TCRVSessionID sessionID) {
    LockSlotsFile();
    const bool released = FHandle.UnlockByte(sessionID);
    if (!FHandle.UnlockFile())
        CRVRaise(20096);
    if (!released)
        CRVRaise(20095);
}
