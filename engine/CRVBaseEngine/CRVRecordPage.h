// TCRVSmallRecordPage: the slots of one record page (page type 10).
//
// Data area of a record page (D = PageDataSize, R = disk record size, M = rows per page):
//   OFFSET             SIZE          CONTENT
//   0                  ceil(M / 8)   used-slot bitmap: slot i is bit (i mod 8) of byte (i div 8),
//                                    least significant bit first; 1 = the slot holds a row
//   ceil(M / 8)        M x R         M slots of R bytes, slot i at ceil(M / 8) + i x R
// M = trunc((D - 1) / (R + 0.125)): each row costs its R bytes and one bit. Free slots are kept in
// no list; a new row takes the lowest clear bit. A deleted row's bytes stay in its slot.
#pragma once

#include "CRVPage/CRVPage.h"

#include <cstdint>
#include <optional>
#include <span>

// Rows of `diskRecordSize` bytes that fit in a data area of `pageDataSize` bytes (0 when none).
std::int32_t CRVMaxRecordsOnPage(std::int32_t pageDataSize, std::int32_t diskRecordSize);
// Bytes of the used-slot bitmap for `maxRecords` slots.
constexpr std::int32_t CRVSlotBitmapSize(std::int32_t maxRecords) {
    return (maxRecords + 7) / 8;
}

// A view of a pinned record page; it does not mark the page dirty (callers do, after a change).
class TCRVSmallRecordPage {
public:
    // 20140 when the page's data area cannot hold the bitmap and the slots.
    TCRVSmallRecordPage(TCRVPage& page, std::int32_t maxRecords, std::int32_t diskRecordSize);

    std::int32_t MaxRecords() const { return FMaxRecords; }
    bool IsSlotUsed(std::int32_t slot) const;
    void SetSlotUsed(std::int32_t slot, bool used);
    // The lowest clear slot, if any.
    std::optional<std::int32_t> LowestFreeSlot() const;
    // The first used slot after / before `slot` (slot -1 / MaxRecords to start at an end).
    std::optional<std::int32_t> NextUsedSlot(std::int32_t slot) const;
    std::optional<std::int32_t> PriorUsedSlot(std::int32_t slot) const;
    std::optional<std::int32_t> FirstUsedSlot() const { return NextUsedSlot(-1); }
    std::optional<std::int32_t> LastUsedSlot() const { return PriorUsedSlot(FMaxRecords); }
    // Set bits in all / before `slot`.
    std::int32_t UsedSlotCount() const { return UsedSlotsBefore(FMaxRecords); }
    std::int32_t UsedSlotsBefore(std::int32_t slot) const;
    // The used slot of the given 0-based rank among the used slots; empty when there are fewer.
    std::optional<std::int32_t> UsedSlotByRank(std::int32_t rank) const;

    std::span<std::byte> Slot(std::int32_t slot);
    std::span<const std::byte> Slot(std::int32_t slot) const;

private:
    std::uint8_t* FData;
    std::int32_t FMaxRecords;
    std::int32_t FRecordSize;
};
