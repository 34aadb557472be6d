// What the table commands lend to info and check.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Per table of the database at `path`: its fields (name, type name, size), indexes (name,
// columns, unique, primary, root page) and row count, in table-list order.
nlohmann::ordered_json TableDetails(const std::string& path, const std::string& password);

struct TTablesCheck {
    // One line per problem.
    std::vector<std::string> Problems;
    // The pages the tables reach (index nodes, record pages and their index, BLOB pages and
    // theirs) with the owner's name, for the page layer's "exactly one owner" check.
    std::vector<std::pair<std::int32_t, std::string>> Owners;
};

// The table-level checks of every table: each index's B-tree integrity, the record page index
// against the row count, and every row present exactly once in every index; with the pages found
// on the way.
TTablesCheck CheckTables(const std::string& path, const std::string& password);
