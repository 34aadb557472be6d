// crvtool create / info / check, run as a user would.
#include "CrvToolRun.h"

#include "CRVDiskEngine/CRVDiskDatabaseData.h"
#include "CRVDiskEngine/CRVInternalFile.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

nlohmann::json Info(const std::filesystem::path& db, const std::string& password = "") {
    std::vector<std::string> args{"info", db.string()};
    if (!password.empty())
        args.insert(args.end(), {"--password", password});
    const auto r = RunCrvTool(args);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    return nlohmann::json::parse(r.Out);
}

TEST(CrvToolDatabase, CreateDefaultsThenInfoAndCheck) {
    TTempDir dir;
    const auto db = dir / "tessora.crv";
    auto r = RunCrvTool({"create", db.string()});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(std::filesystem::file_size(db), 24956u);
    const auto info = Info(db);
    EXPECT_EQ(info["headerOffset"], 0);
    EXPECT_EQ(info["signature"], "C0RVISTADATABASE");
    EXPECT_DOUBLE_EQ(info["version"].get<double>(), 6.09);
    EXPECT_EQ(info["pageSize"], 4096);
    EXPECT_EQ(info["pageCountInExtent"], 8);
    EXPECT_EQ(info["totalPageCount"], 6);
    EXPECT_EQ(info["lastUsedPageNo"], 4);
    EXPECT_EQ(info["state"], 1);
    EXPECT_EQ(info["writeChangesState"], 2);
    EXPECT_EQ(info["encrypted"], false);
    EXPECT_TRUE(info["cryptoAlgorithm"].is_null());
    EXPECT_EQ(info["lastObjectId"], 0);
    EXPECT_EQ(info["repairNeeded"], false);
    EXPECT_EQ(info["maxSessionCount"], 2);
    EXPECT_EQ(info["fileSize"], 24956);
    EXPECT_TRUE(info["tables"].is_array() && info["tables"].empty());
    r = RunCrvTool({"check", db.string()});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, "OK\n");
}

TEST(CrvToolDatabase, CreateWithEveryOption) {
    TTempDir dir;
    const auto db = dir / "big.crv";
    auto r = RunCrvTool({"create", db.string(), "--password", "s3cret", "--cipher", "blowfish", "--page-size",
                         "8192", "--extent-pages", "16", "--max-connections", "5"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(std::filesystem::file_size(db), 380u + 6 * 8192);
    const auto info = Info(db, "s3cret");
    EXPECT_EQ(info["encrypted"], true);
    EXPECT_EQ(info["cryptoAlgorithm"], "Blowfish");
    EXPECT_EQ(info["pageSize"], 8192);
    EXPECT_EQ(info["pageCountInExtent"], 16);
    EXPECT_EQ(info["maxSessionCount"], 5);
    EXPECT_EQ(RunCrvTool({"check", db.string(), "--password", "s3cret"}).Out, "OK\n");
    // A password alone means Rijndael_128.
    const auto plainCipher = dir / "default-cipher.crv";
    ASSERT_EQ(RunCrvTool({"create", plainCipher.string(), "--password", "x"}).ExitCode, 0);
    EXPECT_EQ(Info(plainCipher, "x")["cryptoAlgorithm"], "Rijndael_128");
}

TEST(CrvToolDatabase, InfoListsTheTables) {
    TTempDir dir;
    const auto db = dir / "t.crv";
    ASSERT_EQ(RunCrvTool({"create", db.string(), "--password", "pw"}).ExitCode, 0);
    {
        TCRVDatabaseOptions options;
        options.Password.Password = "pw";
        TCRVDiskDatabaseData data(db.string(), options);
        TCRVDiskSession session;
        bool repair = false;
        data.ConnectSession(session, repair);
        auto& pm = data.PageManager();
        TCRVInternalDBDirectAccessFile locks(pm, ptTableLocks);
        const TCRVPageNo lockStart = locks.CreateFile(KCRVSystemSessionID, 24);
        TCRVInternalDBTransactedAccessFile meta(pm, ptTableMetaData);
        meta.CreateFile(KCRVSystemSessionID);
        TCRVInternalDBTransactedAccessFile counters(pm, ptTableMostUpdated);
        counters.CreateFile(KCRVSystemSessionID);
        data.AddTable(KCRVSystemSessionID, data.GetNewObjectId(), "files", meta.StartPageNo(),
                      counters.StartPageNo(), lockStart);
        data.Commit(KCRVSystemSessionID, false);
        data.DisconnectSession(session);
    }
    const auto info = Info(db, "pw");
    ASSERT_EQ(info["tables"].size(), 1u);
    const auto& t = info["tables"][0];
    EXPECT_EQ(t["name"], "files");
    EXPECT_EQ(t["id"], 1);
    EXPECT_EQ(t["locksFilePageNo"], 5);
    EXPECT_EQ(t["metadataFilePageNo"], 6);
    EXPECT_EQ(t["mostUpdatedFilePageNo"], 7);
    EXPECT_EQ(info["lastObjectId"], 1);
    EXPECT_EQ(info["totalPageCount"], 14);
    // The table's files are sound pages, but its metadata file is empty: info shows why it
    // cannot be opened, and check reports that table (and nothing at the page layer).
    EXPECT_NE(t["error"].get<std::string>().find("Native error: 10159"), std::string::npos) << t;
    const auto check = RunCrvTool({"check", db.string(), "--password", "pw"});
    EXPECT_EQ(check.ExitCode, 1);
    EXPECT_EQ(check.Out.rfind("table 'files': ", 0), 0u) << check.Out;
    EXPECT_EQ(check.Out.find("page "), std::string::npos) << check.Out;
}

TEST(CrvToolDatabase, BadInputGetsTheEngineMessageAndExitOne) {
    TTempDir dir;
    const auto db = dir / "db.crv";
    ASSERT_EQ(RunCrvTool({"create", db.string(), "--password", "pw"}).ExitCode, 0);
    WriteBytes(dir / "text.txt", std::string(500, 'q'));
    struct TCase {
        std::vector<std::string> Args;
        const char* Expected;
    } cases[] = {
        {{"info", db.string(), "--password", "wrong"}, "incorrect password - Native error: 30445"},
        {{"check", db.string()}, "Native error: 30445"},
        {{"info", (dir / "text.txt").string()}, "Native error: 10470"},
        {{"check", (dir / "text.txt").string()}, "Found signature: 'qqqqqqqqqqqqqqqq'"},
        {{"info", (dir / "missing.crv").string()}, "missing.crv"},
        {{"create", db.string()}, "already exists"},
    };
    for (const auto& c : cases) {
        const auto r = RunCrvTool(c.Args);
        EXPECT_EQ(r.ExitCode, 1) << c.Args[0] << " " << r.Err;
        EXPECT_NE(r.Err.find(c.Expected), std::string::npos) << r.Err;
    }
    // --force replaces the file.
    ASSERT_EQ(RunCrvTool({"create", db.string(), "--force"}).ExitCode, 0);
    EXPECT_EQ(Info(db)["encrypted"], false);
}

TEST(CrvToolDatabase, CheckReportsDamageOneLineEach) {
    TTempDir dir;
    const auto db = dir / "db.crv";
    ASSERT_EQ(RunCrvTool({"create", db.string(), "--password", "pw"}).ExitCode, 0);
    std::string bytes = ReadText(db);
    bytes[380 + 4 * 4096 + 1000] ^= 0x40;                        // the table list's data area
    bytes[380 + 40] = static_cast<char>(bytes[380 + 40] | 0x20); // page 5 marked in use
    WriteBytes(db, bytes);
    const auto r = RunCrvTool({"check", db.string(), "--password", "pw"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Out.find("the table list, page 4: the CRC of its data area does not match\n"),
              std::string::npos)
        << r.Out;
    EXPECT_NE(r.Out.find("page 5 is marked in use but nothing reachable owns it\n"), std::string::npos)
        << r.Out;
    EXPECT_NE(r.Out.find("LastUsedPageNo is 4, the highest page in use is 5\n"), std::string::npos) << r.Out;
    // The damaged table list stops info, with the engine's message.
    const auto info = RunCrvTool({"info", db.string(), "--password", "pw"});
    EXPECT_EQ(info.ExitCode, 1);
    EXPECT_NE(info.Err.find("Native error: 30446"), std::string::npos) << info.Err;
}

TEST(CrvToolDatabase, UsageErrorsExitWithTwo) {
    TTempDir dir;
    const auto db = (dir / "u.crv").string();
    const std::vector<std::vector<std::string>> cases = {
        {"create"},
        {"create", db, "--cipher", "Enigma", "--password", "p"},
        {"create", db, "--page-size", "100"},
        {"create", db, "--page-size", "70000"},
        {"create", db, "--extent-pages", "0"},
        {"create", db, "--max-connections", "0"},
        {"info"},
        {"check", db, "--bogus", "1"},
    };
    for (const auto& args : cases) {
        const auto r = RunCrvTool(args);
        EXPECT_EQ(r.ExitCode, 2) << args[0] << ": " << r.Err;
    }
    EXPECT_FALSE(std::filesystem::exists(db));
}

} // namespace
