#include "CRVLocalEngine/CRVLocalSession.h"

#include "CRVExcept/CRVExcept.h"
#include "CRVTypes/CRVText.h"

// --- TCRVTableDataList ---

TCRVTableData& TCRVTableDataList::Acquire(TCRVDiskDatabaseData& database, const std::string& tableName,
                                          bool exclusive) {
    const std::string key = CRVUpperCaseName(tableName);
    auto it = FTables.find(key);
    if (it != FTables.end()) {
        TCRVTableData& table = *it->second;
        if (exclusive || table.OpenedExclusive)
            CRVRaise(20242, tableName);
        ++table.CursorCount;
        return table;
    }
    auto table = std::make_unique<TCRVTableData>(database, database.OpenTable(tableName));
    table->CursorCount = 1;
    table->OpenedExclusive = exclusive;
    TCRVTableData& ref = *table;
    FTables.emplace(key, std::move(table));
    return ref;
}

void TCRVTableDataList::Release(const std::string& tableName) noexcept {
    auto it = FTables.find(CRVUpperCaseName(tableName));
    if (it == FTables.end())
        return;
    // An exclusive table has one cursor, so only the last release can end exclusive use.
    if (--it->second->CursorCount <= 0)
        FTables.erase(it);
}

TCRVTableData* TCRVTableDataList::Find(const std::string& tableName) {
    auto it = FTables.find(CRVUpperCaseName(tableName));
    return it == FTables.end() ? nullptr : it->second.get();
}

// --- TCRVLocalSession ---

TCRVLocalSession::TCRVLocalSession(TCRVLocalSessionOptions options) : FOptions(std::move(options)) {}

TCRVLocalSession::~TCRVLocalSession() {
    Disconnect();
}

void TCRVLocalSession::Connect() {
    if (FDatabaseData)
        return;
    TCRVDatabaseOptions options;
    options.Password = FOptions.Password;
    options.ReadOnly = FOptions.ReadOnly;
    options.MaxSessionCount = FOptions.MaxSessionCount;
    options.FileFactory = FOptions.FileFactory;
    auto data = CRVAcquireDiskDatabaseData(FOptions.DatabaseFileName, options);
    TCRVDatabaseLock lock(*data);
    if (data->IsOpened() && data->Encrypted() && data->Password().Password != FOptions.Password.Password)
        CRVRaise(20298);
    FSession = TCRVDiskSession{};
    FSession.Exclusive = FOptions.Exclusive;
    bool repairNeeded = false;
    data->ConnectSession(FSession, repairNeeded);
    FSession.RepairNeeded = repairNeeded;
    FDatabaseData = std::move(data);
}

void TCRVLocalSession::Disconnect() noexcept {
    if (!FDatabaseData)
        return;
    auto data = std::move(FDatabaseData);
    TCRVDatabaseLock lock(*data);
    try {
        if (data->SessionCount() <= 1 && data->TableDataList)
            data->TableDataList.reset();
        data->DisconnectSession(FSession);
    } catch (...) {
        // The file is closed by the database object whatever the outcome.
    }
}

bool TCRVLocalSession::ReadOnly() const {
    return FOptions.ReadOnly || (FDatabaseData && FDatabaseData->ReadOnly());
}

TCRVDiskDatabaseData& TCRVLocalSession::DatabaseData() {
    if (!FDatabaseData)
        CRVRaise(30399);
    return *FDatabaseData;
}

TCRVTableDataList& TCRVLocalSession::Tables() {
    TCRVDiskDatabaseData& data = DatabaseData();
    if (!data.TableDataList)
        data.TableDataList = std::make_shared<TCRVTableDataList>();
    return *data.TableDataList;
}

TCRVTableData& TCRVLocalSession::OpenTable(const std::string& tableName, bool exclusive) {
    TCRVDatabaseLock lock(DatabaseData());
    return Tables().Acquire(*FDatabaseData, tableName, exclusive);
}

void TCRVLocalSession::CloseTable(const std::string& tableName) noexcept {
    if (!FDatabaseData)
        return;
    TCRVDatabaseLock lock(*FDatabaseData);
    if (FDatabaseData->TableDataList)
        FDatabaseData->TableDataList->Release(tableName);
}

TCRVTableData* TCRVLocalSession::FindOpenTable(const std::string& tableName) {
    TCRVDatabaseLock lock(DatabaseData());
    return Tables().Find(tableName);
}
