// TCRVDiskDatabaseData: one open database file, shared by every session of this process that
// uses it; it owns the page manager, the system directory, the session slots file and the table
// list.
//
// It exists from the first session's connect to the last session's disconnect. Every
// database-level operation (create, open, close, connect, disconnect, table-list changes,
// commit, rollback, new object ids) holds the database's critical section (FCSect) for its whole
// duration; the table layer takes the same section, so the page cache, the free-space manager
// and the header copies are used by one thread at a time.
//
// The process-wide list of open database objects (CRVAcquireDiskDatabaseData) finds them by
// canonical file name; it is guarded by its own process-wide lock.
#pragma once

#include "CRVDiskEngine/CRVActiveSessionsFile.h"
#include "CRVDiskEngine/CRVDiskPageManager.h"
#include "CRVDiskEngine/CRVSystemDirectory.h"
#include "CRVDiskEngine/CRVTableListFile.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct TCRVDatabaseOptions {
    TCRVPassword Password;
    std::uint16_t PageSize = 4096;
    std::uint16_t PageCountInExtent = 8;
    std::int32_t MaxSessionCount = 2; // the database component's MaxConnections
    bool ReadOnly = false;
    TCRVOSFileFactory FileFactory = CRVPosixFileFactory();
    int LockTryCount = KCRVLockTryCount;
    int LockDelayMS = KCRVLockDelayMS;
};

// What the database object needs of a session.
struct TCRVDiskSession {
    bool MultiUser = false;
    bool Exclusive = false;
    TCRVSessionID SessionID = KCRVInvalidSessionID;
    bool RepairNeeded = false;
};

class TCRVTableDataList;

class TCRVDatabaseData {
public:
    virtual ~TCRVDatabaseData() = default;
    void Lock() { FCSect.lock(); }
    void Unlock() { FCSect.unlock(); }

    // The open table objects of this database, kept by the table layer. GUARDED_BY(FCSect).
    std::shared_ptr<TCRVTableDataList> TableDataList;

protected:
    std::recursive_mutex FCSect;
};

class TCRVDiskDatabaseData : public TCRVDatabaseData {
public:
    TCRVDiskDatabaseData(std::string fileName, TCRVDatabaseOptions options);
    ~TCRVDiskDatabaseData() override;

    // Creates the file: header blocks, system directory (page 2), session slots file, empty
    // table list; applies the system session's changes and closes the file again.
    void CreateDatabase();
    void OpenDatabase(const TCRVDiskSession& session, bool exclusive, bool& repairNeeded);
    void CloseDatabase();
    bool IsOpened() const { return FPageManager != nullptr; }

    void ConnectSession(TCRVDiskSession& session, bool& repairNeeded);
    void DisconnectSession(TCRVDiskSession& session);
    std::size_t SessionCount() const { return FSessions.size(); }
    // Closes the database when no session is connected; answers whether it is closed.
    bool FreeIfNoSessionsConnected();

    // Table-list changes (the list is saved for the session; Commit makes them durable).
    void AddTable(TCRVSessionID sessionID, std::int32_t tableID, const std::string& tableName,
                  TCRVPageNo metadataFilePageNo, TCRVPageNo mostUpdatedFilePageNo,
                  TCRVPageNo locksFilePageNo);
    TCRVTableListEntry OpenTable(const std::string& tableName);
    void RemoveTable(TCRVSessionID sessionID, const std::string& tableName);
    void RenameTable(TCRVSessionID sessionID, const std::string& tableName, const std::string& newTableName);
    std::vector<std::string> GetTablesList();
    std::vector<TCRVTableListEntry> TableEntries();
    bool TableExists(const std::string& tableName);
    void LockTables();
    void UnlockTables();

    void Commit(TCRVSessionID sessionID, bool doFlushBuffers);
    // Cancels the session's changes and reloads the table list, so the list in memory is the
    // one in the file again.
    void Rollback(TCRVSessionID sessionID);
    void FlushBuffers();
    std::int32_t GetNewObjectId();
    void TruncateDatabase();

    const std::string& FileName() const { return FFileName; }
    const TCRVPassword& Password() const { return FOptions.Password; }
    bool Encrypted();
    std::uint16_t PageSize();
    std::uint16_t PageCountInExtent();
    std::int32_t MaxSessionCount() const { return FMaxSessionCount; }
    bool ReadOnly() const { return FReadOnly; }
    bool MultiUser() const { return FMultiUser; }
    bool SingleUserConnected() const { return FSingleUserConnected; }
    TCRVDiskPageManager& PageManager();
    TCRVSystemDirectory& SystemDirectory() { return *FSystemDirectory; }

private:
    void CheckOpened() const;
    void CreateSystemFiles();
    void FreeObjects() noexcept;

    std::string FFileName;
    TCRVDatabaseOptions FOptions;
    // All GUARDED_BY(FCSect):
    std::unique_ptr<TCRVDiskPageManager> FPageManager;
    std::unique_ptr<TCRVSystemDirectory> FSystemDirectory;
    std::unique_ptr<TCRVActiveSessionsFile> FActiveSessions;
    std::unique_ptr<TCRVTableListFile> FTableList;
    std::vector<TCRVDiskSession*> FSessions;
    std::int32_t FMaxSessionCount = 0;
    bool FReadOnly = false;
    bool FMultiUser = false;
    bool FExclusive = false;
    bool FSingleUserConnected = false;
};

// The database object of `fileName` for this process: the one already open (found by canonical
// path; `options` are then not used) or a new one.
std::shared_ptr<TCRVDiskDatabaseData> CRVAcquireDiskDatabaseData(const std::string& fileName,
                                                                 const TCRVDatabaseOptions& options);
// The canonical form of a database file name (the file need not exist).
std::string CRVCanonicalDatabasePath(const std::string& fileName);
