#include "CRVDiskEngine/CRVDiskDatabaseData.h"

#include "CRVExcept/CRVExcept.h"

#include <algorithm>
#include <filesystem>
#include <map>

namespace {

// The process-wide list of open database objects.
struct TOpenDatabases {
    std::mutex Mutex;
    std::map<std::string, std::weak_ptr<TCRVDiskDatabaseData>> Items; // GUARDED_BY(Mutex)
};

TOpenDatabases& OpenDatabases() {
    static TOpenDatabases list;
    return list;
}

} // namespace

std::string CRVCanonicalDatabasePath(const std::string& fileName) {
    std::error_code ec;
    const auto path = std::filesystem::weakly_canonical(std::filesystem::absolute(fileName, ec), ec);
    return ec ? fileName : path.string();
}

std::shared_ptr<TCRVDiskDatabaseData> CRVAcquireDiskDatabaseData(const std::string& fileName,
                                                                 const TCRVDatabaseOptions& options) {
    const std::string key = CRVCanonicalDatabasePath(fileName);
    TOpenDatabases& list = OpenDatabases();
    std::lock_guard lock(list.Mutex);
    for (auto it = list.Items.begin(); it != list.Items.end();)
        it = it->second.expired() ? list.Items.erase(it) : std::next(it);
    if (auto found = list.Items[key].lock())
        return found;
    auto created = std::make_shared<TCRVDiskDatabaseData>(fileName, options);
    list.Items[key] = created;
    return created;
}

TCRVDiskDatabaseData::TCRVDiskDatabaseData(std::string fileName, TCRVDatabaseOptions options)
    : FFileName(std::move(fileName)), FOptions(std::move(options)) {}

TCRVDiskDatabaseData::~TCRVDiskDatabaseData() {
    FreeObjects();
}

void TCRVDiskDatabaseData::FreeObjects() noexcept {
    FTableList.reset();
    FActiveSessions.reset();
    FSystemDirectory.reset();
    if (FPageManager)
        FPageManager->CloseDatabase();
    FPageManager.reset();
    FSingleUserConnected = false;
}

void TCRVDiskDatabaseData::CheckOpened() const {
    if (!FPageManager)
        CRVRaise(30399);
}

TCRVDiskPageManager& TCRVDiskDatabaseData::PageManager() {
    CheckOpened();
    return *FPageManager;
}

void TCRVDiskDatabaseData::CreateSystemFiles() {
    TCRVDiskPageManager& pm = *FPageManager;
    FSystemDirectory = std::make_unique<TCRVSystemDirectory>(pm);
    FSystemDirectory->CreateDirectory(KCRVSystemSessionID);
    FActiveSessions = std::make_unique<TCRVActiveSessionsFile>(pm);
    const TCRVPageNo slots = FActiveSessions->CreateFile(KCRVSystemSessionID, FOptions.MaxSessionCount);
    FTableList = std::make_unique<TCRVTableListFile>(pm);
    const TCRVPageNo tables = FTableList->CreateFile(KCRVSystemSessionID);
    FSystemDirectory->CreateFile(dbftActiveSessionsList, slots);
    FSystemDirectory->CreateFile(dbftTablesList, tables);
    FSystemDirectory->SaveDirectory(KCRVSystemSessionID);
    pm.ApplyChanges(KCRVSystemSessionID);
}

void TCRVDiskDatabaseData::CreateDatabase() {
    std::lock_guard lock(FCSect);
    if (FPageManager)
        CRVRaise(10461, FFileName);
    if (FOptions.MaxSessionCount < 1)
        CRVRaiseText(20237, "Invalid database format: MaxSessionCount must be at least 1, not %d",
                     FOptions.MaxSessionCount);
    FPageManager = std::make_unique<TCRVDiskPageManager>(FOptions.FileFactory);
    FPageManager->SetLockRetry(FOptions.LockTryCount, FOptions.LockDelayMS);
    try {
        FPageManager->CreateAndOpenDatabase(FFileName, FOptions.Password, FOptions.PageSize,
                                            FOptions.PageCountInExtent);
        CreateSystemFiles();
    } catch (...) {
        FreeObjects();
        throw;
    }
    FreeObjects();
}

void TCRVDiskDatabaseData::OpenDatabase(const TCRVDiskSession& session, bool exclusive, bool& repairNeeded) {
    std::lock_guard lock(FCSect);
    if (FPageManager)
        CRVRaise(10462, FFileName);
    FPageManager = std::make_unique<TCRVDiskPageManager>(FOptions.FileFactory);
    FPageManager->SetLockRetry(FOptions.LockTryCount, FOptions.LockDelayMS);
    bool readOnly = FOptions.ReadOnly;
    bool multiUser = session.MultiUser;
    try {
        FPageManager->OpenDatabase(FFileName, FOptions.Password, readOnly, repairNeeded, exclusive,
                                   multiUser);
        FSystemDirectory = std::make_unique<TCRVSystemDirectory>(*FPageManager);
        FSystemDirectory->LoadDirectory(KCRVSystemSessionID);
        const TCRVPageNo slots = FSystemDirectory->GetFileFirstPageNo(dbftActiveSessionsList);
        const TCRVPageNo tables = FSystemDirectory->GetFileFirstPageNo(dbftTablesList);
        if (slots == KCRVNoPage || tables == KCRVNoPage)
            CRVRaise(20237);
        FActiveSessions = std::make_unique<TCRVActiveSessionsFile>(*FPageManager);
        FActiveSessions->OpenFile(slots);
        FMaxSessionCount = FActiveSessions->MaxSessionCount();
        FTableList = std::make_unique<TCRVTableListFile>(*FPageManager);
        FTableList->OpenFile(tables);
        FTableList->Load(KCRVSystemSessionID);
    } catch (...) {
        FreeObjects();
        throw;
    }
    FReadOnly = readOnly;
    FMultiUser = multiUser;
    FExclusive = exclusive;
}

void TCRVDiskDatabaseData::CloseDatabase() {
    std::lock_guard lock(FCSect);
    FreeObjects();
    FSessions.clear();
}

void TCRVDiskDatabaseData::ConnectSession(TCRVDiskSession& session, bool& repairNeeded) {
    std::lock_guard lock(FCSect);
    repairNeeded = false;
    if (!FPageManager) {
        OpenDatabase(session, session.Exclusive, repairNeeded);
        session.RepairNeeded = repairNeeded;
        session.MultiUser = FMultiUser;
    }
    if (session.MultiUser != FMultiUser)
        CRVRaise(20235);
    if (FMultiUser) {
        session.SessionID = FActiveSessions->MultiUserConnect();
    } else {
        session.SessionID = 0;
        if (!FSingleUserConnected) {
            FSingleUserConnected = FActiveSessions->SingleUserConnect();
            if (!FSingleUserConnected)
                FReadOnly = true;
        }
    }
    FSessions.push_back(&session);
}

void TCRVDiskDatabaseData::DisconnectSession(TCRVDiskSession& session) {
    std::lock_guard lock(FCSect);
    auto it = std::find(FSessions.begin(), FSessions.end(), &session);
    if (it == FSessions.end())
        return;
    if (FMultiUser)
        FActiveSessions->MultiUserDisconnect(session.SessionID);
    FSessions.erase(it);
    if (!FSessions.empty())
        return;
    try {
        if (!FMultiUser && FSingleUserConnected)
            FActiveSessions->SingleUserDisconnect();
        // A session that leaves with changes pending gives them up.
        FPageManager->CancelChanges(session.SessionID);
        FPageManager->CancelChanges(KCRVSystemSessionID);
    } catch (...) {
        FreeObjects();
        throw;
    }
    FreeObjects();
    session.SessionID = KCRVInvalidSessionID;
}

bool TCRVDiskDatabaseData::FreeIfNoSessionsConnected() {
    std::lock_guard lock(FCSect);
    if (!FSessions.empty())
        return false;
    FreeObjects();
    return true;
}

void TCRVDiskDatabaseData::AddTable(TCRVSessionID sessionID, std::int32_t tableID,
                                    const std::string& tableName, TCRVPageNo metadataFilePageNo,
                                    TCRVPageNo mostUpdatedFilePageNo, TCRVPageNo locksFilePageNo) {
    std::lock_guard lock(FCSect);
    CheckOpened();
    FTableList->AddTable(tableID, tableName, metadataFilePageNo, mostUpdatedFilePageNo, locksFilePageNo);
    FTableList->Save(sessionID);
}

TCRVTableListEntry TCRVDiskDatabaseData::OpenTable(const std::string& tableName) {
    std::lock_guard lock(FCSect);
    CheckOpened();
    return FTableList->OpenTable(tableName);
}

void TCRVDiskDatabaseData::RemoveTable(TCRVSessionID sessionID, const std::string& tableName) {
    std::lock_guard lock(FCSect);
    CheckOpened();
    FTableList->RemoveTable(tableName);
    FTableList->Save(sessionID);
}

void TCRVDiskDatabaseData::RenameTable(TCRVSessionID sessionID, const std::string& tableName,
                                       const std::string& newTableName) {
    std::lock_guard lock(FCSect);
    CheckOpened();
    FTableList->RenameTable(tableName, newTableName);
    FTableList->Save(sessionID);
}

std::vector<std::string> TCRVDiskDatabaseData::GetTablesList() {
    std::lock_guard lock(FCSect);
    CheckOpened();
    return FTableList->GetTablesList();
}

std::vector<TCRVTableListEntry> TCRVDiskDatabaseData::TableEntries() {
    std::lock_guard lock(FCSect);
    CheckOpened();
    return FTableList->Entries();
}

bool TCRVDiskDatabaseData::TableExists(const std::string& tableName) {
    std::lock_guard lock(FCSect);
    CheckOpened();
    return FTableList->TableExists(tableName);
}

void TCRVDiskDatabaseData::LockTables() {
    std::lock_guard lock(FCSect);
    PageManager().LockTables();
}

void TCRVDiskDatabaseData::UnlockTables() {
    std::lock_guard lock(FCSect);
    PageManager().UnlockTables();
}

void TCRVDiskDatabaseData::Commit(TCRVSessionID sessionID, bool doFlushBuffers) {
    std::lock_guard lock(FCSect);
    PageManager().ApplyChanges(sessionID);
    if (doFlushBuffers)
        FPageManager->FlushBuffers();
}

void TCRVDiskDatabaseData::Rollback(TCRVSessionID sessionID) {
    std::lock_guard lock(FCSect);
    PageManager().CancelChanges(sessionID);
    // A table added, removed or renamed in the cancelled changes is still in the list in memory.
    if (FTableList)
        FTableList->Load(sessionID);
}

void TCRVDiskDatabaseData::FlushBuffers() {
    std::lock_guard lock(FCSect);
    PageManager().FlushBuffers();
}

std::int32_t TCRVDiskDatabaseData::GetNewObjectId() {
    std::lock_guard lock(FCSect);
    return PageManager().GetNextObjectID(FOptions.LockTryCount, FOptions.LockDelayMS, FReadOnly);
}

void TCRVDiskDatabaseData::TruncateDatabase() {
    std::lock_guard lock(FCSect);
    PageManager().TruncateDatabase();
}

bool TCRVDiskDatabaseData::Encrypted() {
    return PageManager().Encrypted();
}
std::uint16_t TCRVDiskDatabaseData::PageSize() {
    return PageManager().PageSize();
}
std::uint16_t TCRVDiskDatabaseData::PageCountInExtent() {
    return PageManager().DBHeader().PageCountInExtent;
}
