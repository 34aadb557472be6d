// The database component and its session, the program's way into the engine.
//
//   TCRVSession   a named group of database components, found by DatabaseName.
//   TCRVDatabase  one database file: its name, file name, password and open mode; Open connects
//                 a TCRVLocalSession (the handle) to the process's database object of that file,
//                 Close closes every table component on it first. CreateDatabase makes a new,
//                 empty file.
//
// Questions of opening: a wrong password (native error 30445) asks OnPassword, whose Continue
// set to true retries with the Password it stored; a file that was not closed cleanly asks
// OnNeedRepair (answer false: the database opens as it is). With no handler, or in SilentMode,
// the answers are cancel / no. Repairing is not available yet: a "yes" fails with 30040.
//
// Errors without a native code ("Database file '%s' does not exist", "Database open error",
// "DatabaseName property is blank" ...) are raised as EDatabaseError.
//
// Threads: the component's own state is guarded by its mutex, so table components on several
// threads may open it at once; the engine below serialises table operations per database.
#pragma once

#include "CRVCipher/CRVCipher.h"
#include "CRVLocalEngine/CRVLocalSession.h"

#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// The dataset framework's database error (messages without a native code).
class EDatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TCRVDatabase;
class TCRVDataSet;

class TCRVSession {
public:
    explicit TCRVSession(std::string sessionName = "Default") : FSessionName(std::move(sessionName)) {}
    TCRVSession(const TCRVSession&) = delete;
    TCRVSession& operator=(const TCRVSession&) = delete;

    const std::string& SessionName() const { return FSessionName; }
    // The database component of that name (ignoring case), nullptr when none.
    TCRVDatabase* FindDatabase(std::string_view databaseName);
    // Called by database components as they are made and destroyed.
    void AddDatabase(TCRVDatabase& database);
    void RemoveDatabase(TCRVDatabase& database);
    std::recursive_mutex& Mutex() { return FMutex; }

private:
    std::string FSessionName;
    std::recursive_mutex FMutex;
    std::vector<TCRVDatabase*> FDatabases; // GUARDED_BY(FMutex)
};

class TCRVDatabase {
public:
    using TPasswordEvent = std::function<void(TCRVDatabase& sender, bool& Continue)>;
    using TNeedRepairEvent = std::function<void(TCRVDatabase& sender, bool& DoRepair)>;

    TCRVDatabase() = default;
    explicit TCRVDatabase(TCRVSession& session);
    ~TCRVDatabase();
    TCRVDatabase(const TCRVDatabase&) = delete;
    TCRVDatabase& operator=(const TCRVDatabase&) = delete;

    std::string DatabaseName;
    std::string Password;
    TCRVCryptoAlgorithm CryptoAlgorithm = craRijndael_128;
    bool Exclusive = false;
    bool ReadOnly = false;
    bool SilentMode = false;
    std::int32_t MaxConnections = 2;
    std::uint16_t PageSize = 4096;
    std::uint16_t PageCountInExtent = 8;
    TPasswordEvent OnPassword;
    TNeedRepairEvent OnNeedRepair;

    const std::string& DatabaseFileName() const { return FDatabaseFileName; }
    // A different name closes the database first; the same name changes nothing.
    void SetDatabaseFileName(const std::string& fileName);
    TCRVSession* Session() const { return LSession; }

    // Opening an open database does nothing; closing a closed one does nothing.
    void Open();
    void Close();
    bool Connected() const;
    // Creates a new, empty database file with the component's password, page size and pages
    // per extent (the component must be closed; an existing file is refused, 10461 or the
    // file layer's error).
    void CreateDatabase();

    // The handle of the open database (EDatabaseError "Database is not opened" when closed).
    TCRVLocalSession& Handle();
    std::vector<std::string> GetTableNames();
    // Table components using the database; they register as they open and close.
    std::vector<TCRVDataSet*> DataSets();
    void AttachDataSet(TCRVDataSet& dataSet);
    void DetachDataSet(TCRVDataSet& dataSet);

private:
    void OpenHandle();
    void AskForRepair();

    TCRVSession* LSession = nullptr;
    std::string FDatabaseFileName;
    mutable std::recursive_mutex FMutex;
    std::unique_ptr<TCRVLocalSession> FHandle; // GUARDED_BY(FMutex)
    std::vector<TCRVDataSet*> FDataSets;       // GUARDED_BY(FMutex)
};
