// TCRVLocalSession: the database handle a database component holds while it is open. It
// connects one session to the process's database object of its file (created on demand
// through the process-wide list) and opens and closes the shared table objects for its cursors.
//
// TCRVTableDataList: the open table objects of one database object, by table name (ignoring
// case), each with the number of cursors that use it. A table object is created when the first
// cursor opens the table and freed when the last one closes it.
//
// Threads: a handle serves one database component; the table-object list and every table
// operation run under the database object's lock.
#pragma once

#include "CRVBase/CRVBaseFieldManager.h"
#include "CRVDiskEngine/CRVDiskDatabaseData.h"
#include "CRVLocalEngine/CRVTableData.h"

#include <map>
#include <memory>
#include <string>

class TCRVTableDataList {
public:
    // The table object of that table with one more cursor; 20242 when exclusive use is asked
    // for (or held) while other cursors have it open, 30396 when the table list lacks the name.
    TCRVTableData& Acquire(TCRVDiskDatabaseData& database, const std::string& tableName, bool exclusive);
    // One cursor fewer; the last one frees the table object.
    void Release(const std::string& tableName) noexcept;
    // The table object when it is open, else nullptr.
    TCRVTableData* Find(const std::string& tableName);

private:
    std::map<std::string, std::unique_ptr<TCRVTableData>> FTables; // by upper-cased name
};

struct TCRVLocalSessionOptions {
    std::string DatabaseName{};
    std::string DatabaseFileName{};
    TCRVPassword Password{};
    bool ReadOnly = false;
    bool Exclusive = false;
    std::int32_t MaxSessionCount = 2;
    TCRVOSFileFactory FileFactory = CRVPosixFileFactory();
};

class TCRVLocalSession : public TCRVAutoincSession {
public:
    explicit TCRVLocalSession(TCRVLocalSessionOptions options);
    ~TCRVLocalSession() override;
    TCRVLocalSession(const TCRVLocalSession&) = delete;
    TCRVLocalSession& operator=(const TCRVLocalSession&) = delete;

    // Connects to the database object of the file (Part of the database component's open):
    // 30445 for a wrong password, 20298 when the file is already open with another password.
    void Connect();
    void Disconnect() noexcept;
    bool Connected() const { return FDatabaseData != nullptr; }

    const TCRVLocalSessionOptions& Options() const { return FOptions; }
    TCRVSessionID SessionID() const { return FSession.SessionID; }
    bool RepairNeeded() const { return FSession.RepairNeeded; }
    bool ReadOnly() const;
    bool InTransaction() const { return false; }
    TCRVDiskDatabaseData& DatabaseData();

    TCRVTableData& OpenTable(const std::string& tableName, bool exclusive);
    void CloseTable(const std::string& tableName) noexcept;
    // The table object when some cursor has it open.
    TCRVTableData* FindOpenTable(const std::string& tableName);

    // TCRVAutoincSession
    bool IsMultiUser() const override { return FSession.MultiUser; }
    void SetLastAutoinc(std::int32_t tableID, std::int32_t fieldNo, std::int64_t value) override {
        FAutoinc.SetLastAutoinc(tableID, fieldNo, value);
    }
    std::optional<std::int64_t> FindLastAutoinc(std::int32_t tableID, std::int32_t fieldNo) const override {
        return FAutoinc.FindLastAutoinc(tableID, fieldNo);
    }

private:
    TCRVTableDataList& Tables();

    TCRVLocalSessionOptions FOptions;
    TCRVDiskSession FSession;
    std::shared_ptr<TCRVDiskDatabaseData> FDatabaseData;
    TCRVSessionAutoincValues FAutoinc;
};
