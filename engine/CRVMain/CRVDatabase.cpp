#include "CRVMain/CRVDatabase.h"

#include "CRVExcept/CRVExcept.h"
#include "CRVMain/CRVDataSet.h"
#include "CRVTypes/CRVText.h"

#include <algorithm>
#include <filesystem>

namespace {
constexpr int KWrongPassword = 30445;
}

// --- TCRVSession ---

TCRVDatabase* TCRVSession::FindDatabase(std::string_view databaseName) {
    std::lock_guard lock(FMutex);
    for (TCRVDatabase* database : FDatabases)
        if (CRVSameName(database->DatabaseName, databaseName))
            return database;
    return nullptr;
}

void TCRVSession::AddDatabase(TCRVDatabase& database) {
    std::lock_guard lock(FMutex);
    FDatabases.push_back(&database);
}

void TCRVSession::RemoveDatabase(TCRVDatabase& database) {
    std::lock_guard lock(FMutex);
    std::erase(FDatabases, &database);
}

// --- TCRVDatabase ---

TCRVDatabase::TCRVDatabase(TCRVSession& session) : LSession(&session) {
    session.AddDatabase(*this);
}

TCRVDatabase::~TCRVDatabase() {
    try {
        Close();
    } catch (...) {
        // Closing never leaves the handle connected (see Close).
    }
    if (LSession)
        LSession->RemoveDatabase(*this);
}

void TCRVDatabase::SetDatabaseFileName(const std::string& fileName) {
    std::lock_guard lock(FMutex);
    if (fileName == FDatabaseFileName)
        return;
    Close();
    FDatabaseFileName = fileName;
}

bool TCRVDatabase::Connected() const {
    std::lock_guard lock(FMutex);
    return FHandle != nullptr;
}

void TCRVDatabase::Open() {
    std::lock_guard lock(FMutex);
    if (FHandle)
        return;
    std::unique_lock<std::recursive_mutex> sessionLock;
    if (LSession)
        sessionLock = std::unique_lock(LSession->Mutex());
    if (!std::filesystem::exists(FDatabaseFileName))
        throw EDatabaseError("Database file '" + FDatabaseFileName + "' does not exist");
    for (;;) {
        try {
            OpenHandle();
            AskForRepair();
            return;
        } catch (const ECRVException& e) {
            FHandle.reset();
            if (e.NativeErrorCode() != KWrongPassword || SilentMode || !OnPassword)
                throw;
            bool retry = false;
            OnPassword(*this, retry);
            if (!retry)
                throw;
        } catch (...) {
            FHandle.reset();
            throw;
        }
    }
}

void TCRVDatabase::OpenHandle() {
    TCRVLocalSessionOptions options;
    options.DatabaseName = DatabaseName;
    options.DatabaseFileName = FDatabaseFileName;
    options.Password = TCRVPassword{Password, CryptoAlgorithm};
    options.ReadOnly = ReadOnly;
    options.Exclusive = Exclusive;
    options.MaxSessionCount = MaxConnections;
    auto handle = std::make_unique<TCRVLocalSession>(std::move(options));
    handle->Connect();
    FHandle = std::move(handle);
}

void TCRVDatabase::AskForRepair() {
    if (!FHandle->RepairNeeded() || SilentMode)
        return;
    bool doRepair = false;
    if (OnNeedRepair)
        OnNeedRepair(*this, doRepair);
    if (doRepair)
        CRVRaiseText(30040, "Repairing a database is not implemented yet; the database '%s' was not opened",
                     FDatabaseFileName);
}

void TCRVDatabase::Close() {
    std::lock_guard lock(FMutex);
    if (!FHandle)
        return;
    const std::vector<TCRVDataSet*> dataSets = FDataSets;
    for (TCRVDataSet* dataSet : dataSets)
        dataSet->Close();
    FDataSets.clear();
    FHandle.reset();
}

void TCRVDatabase::CreateDatabase() {
    std::lock_guard lock(FMutex);
    if (FHandle)
        throw EDatabaseError("Cannot perform this operation on an open database");
    TCRVDatabaseOptions options;
    options.Password = TCRVPassword{Password, CryptoAlgorithm};
    options.PageSize = PageSize;
    options.PageCountInExtent = PageCountInExtent;
    options.MaxSessionCount = MaxConnections;
    TCRVDiskDatabaseData(FDatabaseFileName, options).CreateDatabase();
}

TCRVLocalSession& TCRVDatabase::Handle() {
    std::lock_guard lock(FMutex);
    if (!FHandle)
        throw EDatabaseError("Database is not opened");
    return *FHandle;
}

std::vector<std::string> TCRVDatabase::GetTableNames() {
    TCRVLocalSession& handle = Handle();
    return handle.DatabaseData().GetTablesList();
}

std::vector<TCRVDataSet*> TCRVDatabase::DataSets() {
    std::lock_guard lock(FMutex);
    return FDataSets;
}

void TCRVDatabase::AttachDataSet(TCRVDataSet& dataSet) {
    std::lock_guard lock(FMutex);
    if (std::find(FDataSets.begin(), FDataSets.end(), &dataSet) == FDataSets.end())
        FDataSets.push_back(&dataSet);
}

void TCRVDatabase::DetachDataSet(TCRVDataSet& dataSet) {
    std::lock_guard lock(FMutex);
    std::erase(FDataSets, &dataSet);
}
