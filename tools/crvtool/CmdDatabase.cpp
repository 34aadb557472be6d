// crvtool commands over a database file: create, info, check.
#include "CmdTables.h"
#include "CrvToolCommands.h"

#include "CRVDiskEngine/CRVDatabaseChecker.h"
#include "CRVDiskEngine/CRVDiskDatabaseData.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>

namespace {

TCRVPassword PasswordOption(const TArgs& args) {
    TCRVPassword pw;
    pw.Password = args.Get("password", "");
    if (args.Has("cipher"))
        pw.CryptoAlgorithm = CipherOption(args);
    return pw;
}

// The database opened read-only for one session, closed again on scope exit.
struct TReadOnlyDatabase {
    TReadOnlyDatabase(const std::string& path, const TCRVPassword& password) : Data(path, Options(password)) {
        Data.ConnectSession(Session, RepairNeeded);
    }
    ~TReadOnlyDatabase() {
        try {
            Data.DisconnectSession(Session);
        } catch (...) {
        }
    }
    static TCRVDatabaseOptions Options(const TCRVPassword& password) {
        TCRVDatabaseOptions o;
        o.Password = password;
        o.ReadOnly = true;
        return o;
    }
    TCRVDiskDatabaseData Data;
    TCRVDiskSession Session;
    bool RepairNeeded = false;
};

} // namespace

int CmdCreate(TArgs& args) {
    args.Accept({"password", "cipher", "page-size", "extent-pages", "max-connections"}, {"force"});
    const std::string path = args.Positional(1)[0];
    TCRVDatabaseOptions options;
    options.Password = PasswordOption(args);
    options.PageSize = static_cast<std::uint16_t>(RangedOption(args, "page-size", 512, 65535, 4096));
    options.PageCountInExtent = static_cast<std::uint16_t>(RangedOption(args, "extent-pages", 1, 4096, 8));
    options.MaxSessionCount = static_cast<std::int32_t>(RangedOption(args, "max-connections", 1, 100000, 2));
    std::error_code ec;
    if (std::filesystem::exists(path, ec) && !args.Has("force"))
        throw std::runtime_error("'" + path + "' already exists (--force replaces it)");
    TCRVDiskDatabaseData(path, options).CreateDatabase();
    return KExitOk;
}

namespace {

// The header, geometry and table list, read through a read-only view of the file.
nlohmann::ordered_json FileInfo(const std::string& path, const TCRVPassword& password) {
    TReadOnlyDatabase db(path, password);
    TCRVDiskPageManager& pm = db.Data.PageManager();
    const TCRVDBHeader& h = pm.DBHeader();
    nlohmann::ordered_json out;
    out["headerOffset"] = pm.OffsetToDBHeader();
    out["signature"] = std::string(h.Signature, sizeof h.Signature);
    out["version"] = h.GetVersion();
    out["pageSize"] = +h.PageSize;
    out["pageCountInExtent"] = +h.PageCountInExtent;
    out["totalPageCount"] = +h.TotalPageCount;
    out["lastUsedPageNo"] = +h.LastUsedPageNo;
    out["state"] = +h.State;
    out["writeChangesState"] = +h.WriteChangesState;
    out["encrypted"] = pm.Encrypted();
    const std::uint8_t alg = pm.CryptoHeader().CryptoAlgorithm;
    if (pm.Encrypted() && alg < CryptoAlgorithmNames.size())
        out["cryptoAlgorithm"] = std::string(CryptoAlgorithmNames[alg]);
    else
        out["cryptoAlgorithm"] = nullptr;
    out["lastObjectId"] = pm.ReadLastObjectID();
    out["repairNeeded"] = db.RepairNeeded;
    out["maxSessionCount"] = db.Data.MaxSessionCount();
    out["fileSize"] = pm.FileSize();
    nlohmann::ordered_json tables = nlohmann::json::array();
    for (const TCRVTableListEntry& t : db.Data.TableEntries()) {
        nlohmann::ordered_json e;
        e["name"] = t.TableName;
        e["id"] = t.TableID;
        e["metadataFilePageNo"] = t.MetaDataFilePageNo;
        e["mostUpdatedFilePageNo"] = t.MostUpdatedFilePageNo;
        e["locksFilePageNo"] = t.LocksFilePageNo;
        tables.push_back(e);
    }
    out["tables"] = tables;
    return out;
}

} // namespace

int CmdInfo(TArgs& args) {
    args.Accept({"password", "cipher"});
    const std::string path = args.Positional(1)[0];
    RequireFile(path);
    nlohmann::ordered_json out = FileInfo(path, PasswordOption(args));
    // The table details come through a database component, once the read-only view is closed.
    nlohmann::ordered_json details = nlohmann::ordered_json::array();
    try {
        details = TableDetails(path, args.Get("password", ""));
    } catch (const std::exception& e) {
        // The file reads at the page layer but the database component cannot open it: the
        // header and table list are still shown, with the reason.
        out["tablesError"] = e.what();
    }
    for (std::size_t i = 0; i < out["tables"].size() && i < details.size(); ++i)
        for (const auto& [key, value] : details[i].items())
            if (key != "name")
                out["tables"][i][key] = value;
    std::printf("%s\n", out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    return KExitOk;
}

int CmdCheck(TArgs& args) {
    args.Accept({"password", "cipher"});
    const std::string path = args.Positional(1)[0];
    RequireFile(path);
    // The tables first, through a database component: their checks and the pages they reach.
    // A file the engine cannot open at all is left to the page layer's open below, which names
    // the fault.
    TTablesCheck tables;
    std::string tablesError;
    try {
        tables = CheckTables(path, args.Get("password", ""));
    } catch (const std::exception& e) {
        tablesError = e.what();
    }
    TCRVDiskPageManager pm;
    bool readOnly = true, repairNeeded = false, multiUser = false;
    pm.OpenDatabase(path, PasswordOption(args), readOnly, repairNeeded, false, multiUser);
    TCRVDatabaseChecker checker(pm);
    for (const auto& [pageNo, owner] : tables.Owners)
        checker.AddOwner(pageNo, owner);
    std::vector<std::string> problems = checker.Run();
    pm.CloseDatabase();
    if (!tablesError.empty())
        problems.push_back("the tables could not be read: " + tablesError);
    problems.insert(problems.end(), tables.Problems.begin(), tables.Problems.end());
    if (problems.empty()) {
        std::printf("OK\n");
        return KExitOk;
    }
    for (const std::string& p : problems)
        std::printf("%s\n", p.c_str());
    return KExitError;
}
