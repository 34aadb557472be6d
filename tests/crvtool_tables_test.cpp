// crvtool create-table / apply / dump / find and the table parts of info and check, run as a user
// would; and the integrity database template the build makes.
#include "CrvToolRun.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

namespace {

using nlohmann::json;

const char* const KSchema = R"([{"name":"files","fields":[
  {"name":"fnhash","type":"STRING","size":32,"required":false,"default":null,"min":null,"max":null},
  {"name":"n","type":"AUTOINC","autoinc":{"increment":1,"initial":0,"min":0,"max":0,"cycled":false}},
  {"name":"filedt","type":"DATETIME"},
  {"name":"filesize","type":"LARGEINT"},
  {"name":"filesigned","type":"BOOLEAN"},
  {"name":"body","type":"MEMO","blob":{"compression":"ZLIB","mode":1,"blockSize":102400}},
  {"name":"wide","type":"WIDEMEMO"},
  {"name":"raw","type":"BLOB"}],
 "indexes":[{"name":"index","columns":[{"field":"fnhash","descending":false,"caseInsensitive":false,
             "maxIndexedSize":0}],"unique":false,"primary":false}]}])";

std::string Base64(const std::vector<std::byte>& bytes) {
    static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const auto at = [&](std::size_t k) {
            return k < bytes.size() ? std::to_integer<unsigned>(bytes[k]) : 0u;
        };
        const unsigned n = at(i) << 16 | at(i + 1) << 8 | at(i + 2);
        out += digits[n >> 18 & 63];
        out += digits[n >> 12 & 63];
        out += i + 1 < bytes.size() ? digits[n >> 6 & 63] : '=';
        out += i + 2 < bytes.size() ? digits[n & 63] : '=';
    }
    return out;
}

std::vector<json> Lines(const std::string& out) {
    std::vector<json> rows;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        rows.push_back(json::parse(line));
    return rows;
}

// A database with the files table and three rows, one of every kind of value.
class CrvToolTables : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RunCrvTool({"create", Db(), "--password", "pw"}).ExitCode, 0);
        WriteBytes(Dir / "schema.json", KSchema);
        const auto r = RunCrvTool(
            {"create-table", Db(), "--password", "pw", "--schema", (Dir / "schema.json").string()});
        ASSERT_EQ(r.ExitCode, 0) << r.Err;
        const auto a = Apply({
            R"({"op":"insert","table":"files","values":{"fnhash":"CCC","filedt":"2024-02-29T23:59:58.123","filesize":5000000000,"filesigned":true,"body":"Grüße \u00e9 \ud83d\ude00","wide":"\u043f\u0440\u0438\u0432\u0435\u0442","raw":"AAH/"}})",
            R"({"op":"insert","table":"files","values":{"fnhash":"AAA","filesize":-1}})",
            R"({"op":"insert","table":"files","values":{"fnhash":"BBB","filesigned":false,"body":""}})",
        });
        ASSERT_EQ(a.ExitCode, 0) << a.Err;
    }
    std::string Db() const { return (Dir / "t.crv").string(); }
    TCrvToolResult Apply(const std::vector<std::string>& lines) {
        std::string text;
        for (const auto& l : lines)
            text += l + "\n";
        WriteBytes(Dir / "ops.jsonl", text);
        return RunCrvTool({"apply", Db(), "--password", "pw", (Dir / "ops.jsonl").string()});
    }
    std::vector<json> Dump(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args{"dump", Db(), "--password", "pw", "files"};
        args.insert(args.end(), extra.begin(), extra.end());
        const auto r = RunCrvTool(args);
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
        return Lines(r.Out);
    }
    TTempDir Dir;
};

TEST_F(CrvToolTables, DumpInPhysicalAndIndexOrderWithEveryKindOfValue) {
    const auto physical = Dump();
    ASSERT_EQ(physical.size(), 3u);
    EXPECT_EQ(physical[0]["fnhash"], "CCC");
    EXPECT_EQ(physical[1]["fnhash"], "AAA");
    EXPECT_EQ(physical[2]["fnhash"], "BBB");
    const json& c = physical[0];
    EXPECT_EQ(c["filedt"], "2024-02-29T23:59:58.123");
    EXPECT_EQ(c["filesize"], 5000000000LL);
    EXPECT_EQ(c["filesigned"], true);
    EXPECT_EQ(c["body"], "Grüße é 😀");
    EXPECT_EQ(c["wide"], "привет");
    EXPECT_EQ(c["raw"], "AAH/");
    // The auto-increment numbers rows from its initial value on.
    EXPECT_EQ(physical[1]["n"].get<int>(), c["n"].get<int>() + 1);
    // Unset fields and the empty text read as null.
    EXPECT_TRUE(physical[1]["filedt"].is_null());
    EXPECT_TRUE(physical[1]["filesigned"].is_null());
    EXPECT_TRUE(physical[2]["filesize"].is_null());
    EXPECT_TRUE(physical[2]["body"].is_null() || physical[2]["body"] == "");
    EXPECT_EQ(physical[2]["filesigned"], false);

    const auto indexed = Dump({"--index", "index"});
    ASSERT_EQ(indexed.size(), 3u);
    EXPECT_EQ(indexed[0]["fnhash"], "AAA");
    EXPECT_EQ(indexed[1]["fnhash"], "BBB");
    EXPECT_EQ(indexed[2], physical[0]);
}

TEST_F(CrvToolTables, DumpedRowsApplyBackUnchanged) {
    // What dump writes, apply takes: a row dumped and re-inserted reads back the same.
    json row = Dump()[0];
    row.erase("n");
    row["fnhash"] = "DDD";
    ASSERT_EQ(Apply({json{{"op", "insert"}, {"table", "files"}, {"values", row}}.dump()}).ExitCode, 0);
    json back = Dump({"--index", "index"})[3];
    back.erase("n");
    EXPECT_EQ(back, row);
}

TEST_F(CrvToolTables, FindHitMissAndUpdateDeleteEmpty) {
    auto r = RunCrvTool({"find", Db(), "--password", "pw", "files", "--index", "index", "--key", "BBB"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(json::parse(r.Out), Dump()[2]);
    r = RunCrvTool({"find", Db(), "--password", "pw", "files", "--index", "index", "--key", "bbb"});
    EXPECT_EQ(r.ExitCode, 3) << r.Err;
    EXPECT_EQ(r.Out, "");

    ASSERT_EQ(
        Apply(
            {R"({"op":"update","table":"files","index":"index","key":["AAA"],"values":{"fnhash":"ZZZ","filesize":7}})",
             R"({"op":"delete","table":"files","index":"index","key":["CCC"]})"})
            .ExitCode,
        0);
    auto rows = Dump({"--index", "index"});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0]["fnhash"], "BBB");
    EXPECT_EQ(rows[1]["fnhash"], "ZZZ");
    EXPECT_EQ(rows[1]["filesize"], 7);
    EXPECT_EQ(
        RunCrvTool({"find", Db(), "--password", "pw", "files", "--index", "index", "--key", "AAA"}).ExitCode,
        3);

    ASSERT_EQ(Apply({R"({"op":"empty","table":"files"})"}).ExitCode, 0);
    EXPECT_TRUE(Dump().empty());
    EXPECT_EQ(RunCrvTool({"check", Db(), "--password", "pw"}).Out, "OK\n");
}

TEST_F(CrvToolTables, ApplyStopsAtTheFirstFailingLine) {
    struct TCase {
        std::string Line;
        const char* Expected;
    } cases[] = {
        {R"({"op":"insert","table":"nosuch","values":{}})", "nosuch"},
        {R"({"op":"insert","table":"files","values":{"nosuch":1}})", "no field 'nosuch'"},
        {R"({"op":"insert","table":"files","values":{"filedt":"yesterday"}})", "YYYY-MM-DDTHH:MM:SS.mmm"},
        {R"({"op":"insert","table":"files","values":{"raw":"!!"}})", "base64"},
        {R"({"op":"update","table":"files","index":"index","key":["NONE"],"values":{}})", "no row"},
        {R"({"op":"frobnicate","table":"files"})", "unknown op"},
        {R"(not json)", "parse"},
    };
    for (const auto& c : cases) {
        const auto r = Apply({R"({"op":"insert","table":"files","values":{"fnhash":"EEE"}})", c.Line,
                              R"({"op":"insert","table":"files","values":{"fnhash":"FFF"}})"});
        EXPECT_EQ(r.ExitCode, 1) << c.Line;
        EXPECT_NE(r.Err.find("line 2: "), std::string::npos) << r.Err;
        EXPECT_NE(r.Err.find(c.Expected), std::string::npos) << r.Err;
    }
    // Each run kept its first line and never reached its third.
    const auto rows = Dump();
    EXPECT_EQ(std::count_if(rows.begin(), rows.end(), [](const json& j) { return j["fnhash"] == "EEE"; }), 7);
    EXPECT_EQ(std::count_if(rows.begin(), rows.end(), [](const json& j) { return j["fnhash"] == "FFF"; }), 0);
}

// JSON integers past the 64-bit range are refused, not wrapped; the largest one is stored as it is.
TEST_F(CrvToolTables, IntegersPastSixtyFourBitsAreRefused) {
    auto r = Apply(
        {R"({"op":"insert","table":"files","values":{"fnhash":"BIG","filesize":18446744073709551615}})"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("field 'filesize': 18446744073709551615 is out of the range"), std::string::npos)
        << r.Err;
    r = Apply(
        {R"({"op":"insert","table":"files","values":{"fnhash":"MAX","filesize":9223372036854775807}})"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    const auto rows = Dump();
    ASSERT_EQ(rows.size(), 4u); // the three rows of the fixture and MAX
    EXPECT_EQ(rows[3]["fnhash"], "MAX");
    EXPECT_EQ(rows[3]["filesize"].get<std::int64_t>(), INT64_MAX);
}

TEST_F(CrvToolTables, BadSchemasAndUsageAreRefused) {
    const struct {
        const char* Schema;
        const char* Expected;
    } cases[] = {
        {R"({"name":"x","fields":[{"name":"a","type":"NOSUCHTYPE"}]})", "unknown field type 'NOSUCHTYPE'"},
        {R"({"name":"x","fields":[{"name":"a","type":"STRING"}]})", "30453"},
        {R"({"name":"x","fields":[{"type":"INTEGER"}]})", "name"},
        {R"({"name":"x","fields":[{"name":"a","type":"INTEGER"}],"indexes":[{"name":"i","columns":[{"field":"b"}]}]})",
         ""},
        {R"([{"name":"x",)", "parse"},
    };
    for (const auto& c : cases) {
        WriteBytes(Dir / "bad.json", c.Schema);
        const auto r =
            RunCrvTool({"create-table", Db(), "--password", "pw", "--schema", (Dir / "bad.json").string()});
        EXPECT_EQ(r.ExitCode, 1) << c.Schema;
        EXPECT_NE(r.Err.find(c.Expected), std::string::npos) << r.Err;
    }
    EXPECT_EQ(RunCrvTool({"dump", Db(), "--password", "wrong", "files"}).ExitCode, 1);
    EXPECT_EQ(RunCrvTool({"dump", Db(), "--password", "pw", "nosuch"}).ExitCode, 1);
    EXPECT_EQ(RunCrvTool({"dump", Db(), "--password", "pw", "files", "--index", "nosuch"}).ExitCode, 1);
    EXPECT_EQ(RunCrvTool({"dump", Db(), "--password", "pw"}).ExitCode, 2);
    EXPECT_EQ(RunCrvTool({"find", Db(), "--password", "pw", "files", "--key", "A"}).ExitCode, 2);
    EXPECT_EQ(RunCrvTool({"create-table", Db(), "--password", "pw"}).ExitCode, 2);
}

TEST_F(CrvToolTables, InfoShowsTheTablesAndCheckPassesWithRows) {
    // Large values take pages of their own (a BLOB over several pages, a compressed memo); they
    // count as the table's pages, so the file still checks OK.
    std::string big(30000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>((i * 7919) >> 3);
    std::vector<std::byte> bytes(reinterpret_cast<const std::byte*>(big.data()),
                                 reinterpret_cast<const std::byte*>(big.data()) + big.size());
    ASSERT_EQ(Apply({json{{"op", "insert"},
                          {"table", "files"},
                          {"values",
                           {{"fnhash", "BIG"}, {"raw", Base64(bytes)}, {"body", std::string(20000, 'x')}}}}
                         .dump()})
                  .ExitCode,
              0);
    auto r = RunCrvTool({"info", Db(), "--password", "pw"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    const json t = json::parse(r.Out)["tables"][0];
    EXPECT_EQ(t["name"], "files");
    EXPECT_EQ(t["rowCount"], 4);
    ASSERT_EQ(t["fields"].size(), 8u);
    EXPECT_EQ(t["fields"][0], (json{{"name", "fnhash"}, {"type", "STRING"}, {"size", 32}}));
    EXPECT_EQ(t["fields"][5]["type"], "MEMO");
    ASSERT_EQ(t["indexes"].size(), 1u);
    EXPECT_EQ(t["indexes"][0]["name"], "index");
    EXPECT_EQ(t["indexes"][0]["columns"], json::array({"fnhash"}));
    EXPECT_EQ(t["indexes"][0]["unique"], false);
    EXPECT_GT(t["indexes"][0]["rootPageNo"].get<int>(), 0);
    r = RunCrvTool({"check", Db(), "--password", "pw"});
    EXPECT_EQ(r.ExitCode, 0) << r.Out;
    EXPECT_EQ(r.Out, "OK\n");
    r = RunCrvTool({"find", Db(), "--password", "pw", "files", "--index", "index", "--key", "BIG"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(json::parse(r.Out)["raw"], Base64(bytes));
}

TEST(CrvToolTablesCheck, FindsARowMissingFromItsIndex) {
    // A plain file (no page CRCs to catch it): the index entry of BBB is made to point at AAA's
    // row, so the index holds AAA's row twice and BBB's not at all.
    TTempDir dir;
    const std::string db = (dir / "p.crv").string();
    ASSERT_EQ(RunCrvTool({"create", db}).ExitCode, 0);
    WriteBytes(dir / "s.json", R"({"name":"files","fields":[{"name":"fnhash","type":"STRING","size":32},
        {"name":"n","type":"INTEGER"}],"indexes":[{"name":"index","columns":[{"field":"fnhash"}]}]})");
    ASSERT_EQ(RunCrvTool({"create-table", db, "--schema", (dir / "s.json").string()}).ExitCode, 0);
    WriteBytes(dir / "o.jsonl",
               "{\"op\":\"insert\",\"table\":\"files\",\"values\":{\"fnhash\":\"AAA\",\"n\":1}}\n"
               "{\"op\":\"insert\",\"table\":\"files\",\"values\":{\"fnhash\":\"BBB\",\"n\":2}}\n");
    ASSERT_EQ(RunCrvTool({"apply", db, (dir / "o.jsonl").string()}).ExitCode, 0);
    ASSERT_EQ(RunCrvTool({"check", db}).Out, "OK\n");
    const auto info = json::parse(RunCrvTool({"info", db}).Out);
    const int root = info["tables"][0]["indexes"][0]["rootPageNo"];
    std::string bytes = ReadText(db);
    const std::size_t page = 380 + static_cast<std::size_t>(root) * 4096;
    const std::size_t key = bytes.find("BBB", page);
    ASSERT_LT(key, page + 4096);
    // The leaf entry: the 22-byte short key, then the record id (page i32, slot u16).
    ASSERT_EQ(bytes[key + 26], 1);
    bytes[key + 26] = 0;
    WriteBytes(db, bytes);
    const auto r = RunCrvTool({"check", db});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Out,
              "table 'files': index 'index' holds 2 entries that do not match the 2 rows one to one\n");
}

TEST_F(CrvToolTables, CheckFindsADamagedIndexPage) {
    auto r = RunCrvTool({"info", Db(), "--password", "pw"});
    const int root = json::parse(r.Out)["tables"][0]["indexes"][0]["rootPageNo"];
    std::string bytes = ReadText(Db());
    const std::size_t page = 380 + static_cast<std::size_t>(root) * 4096;
    for (std::size_t i = 100; i < 200; ++i)
        bytes[page + i] = static_cast<char>(bytes[page + i] ^ 0x5A);
    WriteBytes(Db(), bytes);
    r = RunCrvTool({"check", Db(), "--password", "pw"});
    EXPECT_EQ(r.ExitCode, 1);
    const std::string pageName = "page " + std::to_string(root);
    EXPECT_NE(r.Out.find(pageName + ": the CRC of its data area does not match\n"), std::string::npos)
        << r.Out;
    EXPECT_NE(r.Out.find("table 'files', index 'index': "), std::string::npos) << r.Out;
}

TEST(CrvToolTemplate, HoldsTheFiveTablesAndTheSchemaRow) {
    const auto dir = std::filesystem::path(CRVTOOL_PATH).parent_path();
    const std::string db = (dir / "tessora1.crv").string();
    ASSERT_TRUE(std::filesystem::exists(db)) << db;
    EXPECT_TRUE(std::filesystem::exists(dir / "tessora.crv"));
    const std::string pw = "805lamprey947";
    auto r = RunCrvTool({"info", db, "--password", pw});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    const json info = json::parse(r.Out);
    EXPECT_EQ(info["encrypted"], true);
    EXPECT_EQ(info["cryptoAlgorithm"], "Rijndael_128");
    const std::map<std::string, std::pair<std::vector<std::string>, std::string>> expected = {
        {"files", {{"fnhash", "filedt", "filesize", "filesigned", "hash"}, "index"}},
        {"regkeys", {{"hkey", "keyhash"}, "1key"}},
        {"regvalues", {{"hkey", "keyhash", "value", "valuehash", "data", "datahash"}, "index"}},
        {"info", {{"created", "verify"}, "index"}},
        {"schema", {{"major", "minor"}, "index"}},
    };
    ASSERT_EQ(info["tables"].size(), expected.size());
    for (const json& t : info["tables"]) {
        const auto it = expected.find(t["name"].get<std::string>());
        ASSERT_NE(it, expected.end()) << t["name"];
        std::vector<std::string> fields;
        for (const json& f : t["fields"])
            fields.push_back(f["name"]);
        EXPECT_EQ(fields, it->second.first) << t["name"];
        ASSERT_EQ(t["indexes"].size(), 1u);
        EXPECT_EQ(t["indexes"][0]["name"], it->second.second);
        EXPECT_EQ(t["rowCount"], t["name"] == "schema" ? 1 : 0);
    }
    r = RunCrvTool({"dump", db, "--password", pw, "schema"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(json::parse(r.Out), (json{{"major", 3}, {"minor", 2}}));
    r = RunCrvTool({"find", db, "--password", pw, "files", "--index", "index", "--key",
                    "0123456789ABCDEF0123456789ABCDEF"});
    EXPECT_EQ(r.ExitCode, 3);
    EXPECT_EQ(RunCrvTool({"check", db, "--password", pw}).Out, "OK\n");
}

} // namespace
