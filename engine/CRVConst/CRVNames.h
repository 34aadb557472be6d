// Names compared ignoring ASCII case (table, field, index, cipher and compression names), and the
// look-up of a name in a table of names.
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

inline bool CRVSameName(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

// The index of `name` in `names`, or nothing.
inline std::optional<std::size_t> CRVFindName(std::span<const std::string_view> names,
                                              std::string_view name) {
    for (std::size_t i = 0; i < names.size(); ++i)
        if (CRVSameName(names[i], name))
            return i;
    return std::nullopt;
}
