// Test and benchmark helpers for the B-tree code: the in-memory page cache and a row store that
// serves the full-key fallback.
#pragma once

#include "CRVBTree/CRVBTreeKeyRef.h"
#include "CRVPage/CRVMemoryPageManager.h"

#include <map>
#include <utility>
#include <vector>

// Rows by record id, for the full-key fallback.
class TCRVMemoryRecordSource : public TCRVIndexRecordSource {
public:
    bool ReadMemoryRecord(TCRVSessionID, const TCRVRecordID& recordID,
                          std::vector<std::byte>& record) override {
        ++FReads;
        const auto it = FRows.find(Key(recordID));
        if (it == FRows.end())
            return false;
        record = it->second;
        return true;
    }
    void Put(const TCRVRecordID& recordID, std::vector<std::byte> record) {
        FRows[Key(recordID)] = std::move(record);
    }
    void Remove(const TCRVRecordID& recordID) { FRows.erase(Key(recordID)); }
    std::size_t Reads() const { return FReads; }

private:
    static std::pair<std::int32_t, std::uint16_t> Key(const TCRVRecordID& id) {
        return {static_cast<std::int32_t>(id.PageNo),
                static_cast<std::uint16_t>(id.PageItemNo)}; // packed: copies
    }
    std::map<std::pair<std::int32_t, std::uint16_t>, std::vector<std::byte>> FRows;
    std::size_t FReads = 0;
};
