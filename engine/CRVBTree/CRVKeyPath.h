// TCRVKeyPath: a position in a B-tree, from the root down, one item (page, entry, entry count)
// per level. A key path pins nothing: it names pages by number, and whoever follows it fetches
// the pages again. 32 levels bound the depth of a tree.
#pragma once

#include "CRVPage/CRVPageTypes.h"

#include <array>
#include <cstdint>

enum TCRVKeyPathPosition : std::uint8_t {
    kppUnknown = 0,
    kppOnKey = 1,
    kppBeforeKey = 2,
    kppAfterKey = 3,
    kppBOF = 4,
    kppEOF = 5,
};

struct TCRVKeyPathItem {
    TCRVPageNo PageNo = KCRVNoPage;
    std::int32_t EntryNo = 0;
    std::int32_t EntryCount = 0;
};

constexpr int KCRVMaxKeyPathLevels = 32;

struct TCRVKeyPath {
    std::array<TCRVKeyPathItem, KCRVMaxKeyPathLevels> Items{};
    int Count = 0;
    int ItemNo = 0;
    TCRVKeyPathPosition PositionType = kppUnknown;
    std::int32_t IndexState = 0;

    void Clear() {
        Count = 0;
        ItemNo = 0;
        PositionType = kppUnknown;
    }
    // Appends a level (a tree deeper than 32 levels raises 20024).
    void Push(TCRVPageNo pageNo, int entryNo, int entryCount);
    bool Empty() const { return Count == 0; }
    TCRVKeyPathItem& Leaf() { return Items[static_cast<std::size_t>(Count - 1)]; }
    const TCRVKeyPathItem& Leaf() const { return Items[static_cast<std::size_t>(Count - 1)]; }
    TCRVKeyPathItem& operator[](int level) { return Items[static_cast<std::size_t>(level)]; }
    const TCRVKeyPathItem& operator[](int level) const { return Items[static_cast<std::size_t>(level)]; }
};

// -1, 0 or 1: level by level, the first level with a smaller entry number decides. Paths of
// different depth raise 20051, a level on different pages 20052.
int CompareKeyPaths(const TCRVKeyPath& a, const TCRVKeyPath& b);
