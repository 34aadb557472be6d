// The engine against SQLite on rows shaped like the integrity database's "files" table:
//   fnhash STRING(32) (32 upper-case hexadecimal digits), filedt DATETIME, filesize LARGEINT,
//   filesigned BOOLEAN, hash STRING(64); index "index" on fnhash.
// Three stores, each in a file of its own in the temporary folder (or --dir): the engine without a
// password, the engine with the program's password (Rijndael_128 enciphered pages), and SQLite.
// Each gets N appends, one Post per row (every Post is applied to the file when it returns, no
// fsync; SQLite in autocommit with synchronous=OFF, the same promise), then N exact look-ups by
// fnhash through the index, first in insertion order, then in a random order. Every look-up is
// checked against the row it must find.
//
//   build/<dir>/bench/engine_vs_sqlite_bench [--rows=N] [--dir=DIR] [--only=plain|cipher|sqlite]
// N defaults to 100000. Prints rows per second of each store and the ratios engine / SQLite.
#include "CRVMain/CRVTable.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <numeric>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* KProgramPassword = "805lamprey947";

struct TFileRow {
    std::string FnHash;
    double FileDt;
    std::int64_t FileSize;
    bool FileSigned;
    std::string Hash;
};

std::string Hex(std::mt19937_64& rng, std::size_t digits) {
    std::string text(digits, '0');
    for (char& c : text)
        c = "0123456789ABCDEF"[rng() % 16];
    return text;
}

std::vector<TFileRow> MakeRows(std::size_t n) {
    std::mt19937_64 rng(20261211);
    std::vector<TFileRow> rows(n);
    for (auto& row : rows) {
        row.FnHash = Hex(rng, 32);
        row.FileDt = CRVEncodeDateTime(2000 + static_cast<int>(rng() % 26), 1 + static_cast<int>(rng() % 12),
                                       1 + static_cast<int>(rng() % 28), static_cast<int>(rng() % 24),
                                       static_cast<int>(rng() % 60), static_cast<int>(rng() % 60),
                                       static_cast<int>(rng() % 1000));
        row.FileSize = static_cast<std::int64_t>(rng() % (std::uint64_t{1} << 40));
        row.FileSigned = rng() % 4 == 0;
        row.Hash = Hex(rng, 64);
    }
    return rows;
}

struct TTimings {
    double Append = 0; // rows per second
    double LookupInOrder = 0;
    double LookupRandom = 0;
};

double RowsPerSecond(std::size_t n, const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return static_cast<double>(n) / took.count();
}

// Every row looked up once in insertion order, then once in `randomOrder`.
void TimeLookUps(const std::vector<TFileRow>& rows, const std::vector<std::size_t>& randomOrder,
                 const std::function<void(const TFileRow&)>& lookUp, TTimings& timings) {
    timings.LookupInOrder = RowsPerSecond(rows.size(), [&] {
        for (const auto& row : rows)
            lookUp(row);
    });
    timings.LookupRandom = RowsPerSecond(rows.size(), [&] {
        for (std::size_t i : randomOrder)
            lookUp(rows[i]);
    });
}

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what);
}

// A file removed when the run ends.
struct TScratchFile {
    explicit TScratchFile(std::filesystem::path path) : Path(std::move(path)) { Remove(); }
    ~TScratchFile() { Remove(); }
    void Remove() const {
        std::error_code ec;
        std::filesystem::remove(Path, ec);
        std::filesystem::remove(Path.string() + "-journal", ec);
    }
    std::filesystem::path Path;
};

TTimings RunEngine(const std::vector<TFileRow>& rows, const std::vector<std::size_t>& randomOrder,
                   const std::filesystem::path& path, const std::string& password) {
    TScratchFile file(path);
    TCRVDatabase database;
    database.SetDatabaseFileName(path.string());
    database.Password = password;
    database.CreateDatabase();

    TCRVTable table(database, "files");
    using A = TCRVAdvancedFieldType;
    table.FieldDefs = {{.Name = "fnhash", .Type = A::aftString, .Size = 32},
                       {.Name = "filedt", .Type = A::aftDateTime},
                       {.Name = "filesize", .Type = A::aftLargeint},
                       {.Name = "filesigned", .Type = A::aftBoolean},
                       {.Name = "hash", .Type = A::aftString, .Size = 64}};
    table.IndexDefs = {{.Name = "index", .Columns = {{.FieldName = "fnhash"}}}};
    table.CreateTable();
    table.SetIndexName("index");
    table.Open();
    TCRVField& fnhash = table.FieldByName("fnhash");
    TCRVField& filedt = table.FieldByName("filedt");
    TCRVField& filesize = table.FieldByName("filesize");
    TCRVField& filesigned = table.FieldByName("filesigned");
    TCRVField& hash = table.FieldByName("hash");

    TTimings timings;
    timings.Append = RowsPerSecond(rows.size(), [&] {
        for (const auto& row : rows) {
            table.Append();
            fnhash.SetAsString(row.FnHash);
            filedt.SetAsDateTime(row.FileDt);
            filesize.SetAsLargeInt(row.FileSize);
            filesigned.SetAsBoolean(row.FileSigned);
            hash.SetAsString(row.Hash);
            table.Post();
        }
    });
    if (table.RecordCount() != static_cast<std::int64_t>(rows.size()))
        Fail("engine: row count after the appends is wrong");

    auto lookUp = [&](const TFileRow& row) {
        table.SetKey();
        fnhash.SetAsString(row.FnHash);
        if (!table.GotoKey() || filesize.AsLargeInt() != row.FileSize || filedt.AsDateTime() != row.FileDt)
            Fail("engine: look-up of " + row.FnHash + " did not find its row");
    };
    TimeLookUps(rows, randomOrder, lookUp, timings);
    table.Close();
    database.Close();
    return timings;
}

// RAII over the few SQLite handles the run needs.
struct TSqliteDb {
    explicit TSqliteDb(const std::string& path) {
        if (sqlite3_open(path.c_str(), &Db) != SQLITE_OK)
            Fail("sqlite: cannot open " + path);
    }
    ~TSqliteDb() { sqlite3_close(Db); }
    void Exec(const char* sql) const {
        if (sqlite3_exec(Db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            Fail(std::string("sqlite: ") + sqlite3_errmsg(Db));
    }
    sqlite3* Db = nullptr;
};

struct TSqliteStatement {
    TSqliteStatement(const TSqliteDb& db, const char* sql) {
        if (sqlite3_prepare_v2(db.Db, sql, -1, &Stmt, nullptr) != SQLITE_OK)
            Fail(std::string("sqlite: ") + sqlite3_errmsg(db.Db));
    }
    ~TSqliteStatement() { sqlite3_finalize(Stmt); }
    sqlite3_stmt* Stmt = nullptr;
};

TTimings RunSqlite(const std::vector<TFileRow>& rows, const std::vector<std::size_t>& randomOrder,
                   const std::filesystem::path& path) {
    TScratchFile file(path);
    TTimings timings;
    TSqliteDb db(path.string());
    db.Exec("PRAGMA synchronous=OFF");
    db.Exec("CREATE TABLE files (fnhash VARCHAR(32), filedt REAL, filesize INTEGER, filesigned INTEGER, "
            "hash VARCHAR(64))");
    db.Exec("CREATE INDEX \"index\" ON files (fnhash)");
    {
        TSqliteStatement insert(db, "INSERT INTO files VALUES (?, ?, ?, ?, ?)");
        timings.Append = RowsPerSecond(rows.size(), [&] {
            for (const auto& row : rows) {
                sqlite3_bind_text(insert.Stmt, 1, row.FnHash.data(), static_cast<int>(row.FnHash.size()),
                                  SQLITE_STATIC);
                sqlite3_bind_double(insert.Stmt, 2, row.FileDt);
                sqlite3_bind_int64(insert.Stmt, 3, row.FileSize);
                sqlite3_bind_int(insert.Stmt, 4, row.FileSigned ? 1 : 0);
                sqlite3_bind_text(insert.Stmt, 5, row.Hash.data(), static_cast<int>(row.Hash.size()),
                                  SQLITE_STATIC);
                if (sqlite3_step(insert.Stmt) != SQLITE_DONE)
                    Fail(std::string("sqlite: ") + sqlite3_errmsg(db.Db));
                sqlite3_reset(insert.Stmt);
            }
        });
    }
    TSqliteStatement select(db, "SELECT filedt, filesize, filesigned, hash FROM files WHERE fnhash = ? "
                                "ORDER BY rowid LIMIT 1");
    auto lookUp = [&](const TFileRow& row) {
        sqlite3_bind_text(select.Stmt, 1, row.FnHash.data(), static_cast<int>(row.FnHash.size()),
                          SQLITE_STATIC);
        if (sqlite3_step(select.Stmt) != SQLITE_ROW || sqlite3_column_int64(select.Stmt, 1) != row.FileSize ||
            sqlite3_column_double(select.Stmt, 0) != row.FileDt)
            Fail("sqlite: look-up of " + row.FnHash + " did not find its row");
        sqlite3_reset(select.Stmt);
    };
    TimeLookUps(rows, randomOrder, lookUp, timings);
    return timings;
}

struct TOptions {
    std::size_t Rows = 100000;
    std::filesystem::path Dir = std::filesystem::temp_directory_path();
    std::string Only;
};

std::optional<TOptions> ParseOptions(int argc, char** argv) {
    TOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.starts_with("--rows="))
            options.Rows = std::strtoull(argv[i] + 7, nullptr, 10);
        else if (arg.starts_with("--dir="))
            options.Dir = std::string(arg.substr(6));
        else if (arg.starts_with("--only="))
            options.Only = std::string(arg.substr(7));
        else
            return std::nullopt;
    }
    if (options.Rows == 0)
        return std::nullopt;
    return options;
}

void PrintLine(const char* what, const std::optional<TTimings>& plain, const std::optional<TTimings>& cipher,
               const std::optional<TTimings>& sqlite, double TTimings::*field) {
    auto cell = [&](const std::optional<TTimings>& t) {
        if (t)
            std::printf(" %14.0f", (*t).*field);
        else
            std::printf(" %14s", "-");
    };
    auto ratio = [&](const std::optional<TTimings>& t) {
        if (t && sqlite)
            std::printf(" %12.3f", (*t).*field / (*sqlite).*field);
        else
            std::printf(" %12s", "-");
    };
    std::printf("%-22s", what);
    cell(plain);
    cell(cipher);
    cell(sqlite);
    ratio(plain);
    ratio(cipher);
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv) {
    const auto options = ParseOptions(argc, argv);
    if (!options) {
        std::fprintf(stderr, "usage: %s [--rows=N] [--dir=DIR] [--only=plain|cipher|sqlite]\n", argv[0]);
        return 2;
    }
    const auto rows = MakeRows(options->Rows);
    std::vector<std::size_t> randomOrder(rows.size());
    std::iota(randomOrder.begin(), randomOrder.end(), std::size_t{0});
    std::shuffle(randomOrder.begin(), randomOrder.end(), std::mt19937_64(42));

    const std::string tag = "engine_vs_sqlite_" + std::to_string(getpid());
    auto wanted = [&](std::string_view name) { return options->Only.empty() || options->Only == name; };
    std::optional<TTimings> plain, cipher, sqlite;
    try {
        if (wanted("plain"))
            plain = RunEngine(rows, randomOrder, options->Dir / (tag + "_plain.crv"), "");
        if (wanted("cipher"))
            cipher = RunEngine(rows, randomOrder, options->Dir / (tag + "_cipher.crv"), KProgramPassword);
        if (wanted("sqlite"))
            sqlite = RunSqlite(rows, randomOrder, options->Dir / (tag + ".sqlite"));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }

    std::printf("rows: %zu (rows per second; ratio = engine / SQLite)\n", rows.size());
    std::printf("%-22s %14s %14s %14s %12s %12s\n", "operation", "engine", "engine+cipher", "sqlite",
                "engine/sql", "cipher/sql");
    PrintLine("append + post", plain, cipher, sqlite, &TTimings::Append);
    PrintLine("lookup insertion order", plain, cipher, sqlite, &TTimings::LookupInOrder);
    PrintLine("lookup random order", plain, cipher, sqlite, &TTimings::LookupRandom);
    return 0;
}
