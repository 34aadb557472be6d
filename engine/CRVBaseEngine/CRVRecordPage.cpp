#include "CRVBaseEngine/CRVRecordPage.h"

#include "CRVExcept/CRVExcept.h"

#include <algorithm>
#include <bit>
#include <cassert>

std::int32_t CRVMaxRecordsOnPage(std::int32_t pageDataSize, std::int32_t diskRecordSize) {
    if (pageDataSize <= 1 || diskRecordSize <= 0)
        return 0;
    // trunc((D - 1) / (R + 1/8)) in integers: 8 (D - 1) / (8 R + 1).
    return static_cast<std::int32_t>((8LL * (pageDataSize - 1)) / (8LL * diskRecordSize + 1));
}

TCRVSmallRecordPage::TCRVSmallRecordPage(TCRVPage& page, std::int32_t maxRecords, std::int32_t diskRecordSize)
    : FData(page.GetPageData()), FMaxRecords(maxRecords), FRecordSize(diskRecordSize) {
    const std::int64_t needed =
        CRVSlotBitmapSize(maxRecords) + static_cast<std::int64_t>(maxRecords) * diskRecordSize;
    if (maxRecords <= 0 || needed > static_cast<std::int64_t>(page.GetPageDataSize()))
        CRVRaise(20140);
}

bool TCRVSmallRecordPage::IsSlotUsed(std::int32_t slot) const {
    assert(slot >= 0 && slot < FMaxRecords);
    return (FData[slot / 8] >> (slot % 8)) & 1U;
}

void TCRVSmallRecordPage::SetSlotUsed(std::int32_t slot, bool used) {
    assert(slot >= 0 && slot < FMaxRecords);
    const auto bit = static_cast<std::uint8_t>(1U << (slot % 8));
    if (used)
        FData[slot / 8] |= bit;
    else
        FData[slot / 8] &= static_cast<std::uint8_t>(~bit);
}

std::optional<std::int32_t> TCRVSmallRecordPage::LowestFreeSlot() const {
    for (std::int32_t byte = 0; byte < CRVSlotBitmapSize(FMaxRecords); ++byte) {
        if (FData[byte] == 0xFF)
            continue;
        const std::int32_t slot = byte * 8 + std::countr_one(FData[byte]);
        if (slot < FMaxRecords)
            return slot;
    }
    return std::nullopt;
}

std::optional<std::int32_t> TCRVSmallRecordPage::NextUsedSlot(std::int32_t slot) const {
    for (std::int32_t s = slot + 1; s < FMaxRecords; ++s) {
        if (s % 8 == 0 && FData[s / 8] == 0 && s + 8 <= FMaxRecords) {
            s += 7;
            continue;
        }
        if (IsSlotUsed(s))
            return s;
    }
    return std::nullopt;
}

std::optional<std::int32_t> TCRVSmallRecordPage::PriorUsedSlot(std::int32_t slot) const {
    for (std::int32_t s = std::min(slot, FMaxRecords) - 1; s >= 0; --s)
        if (IsSlotUsed(s))
            return s;
    return std::nullopt;
}

std::int32_t TCRVSmallRecordPage::UsedSlotsBefore(std::int32_t slot) const {
    std::int32_t count = 0;
    const std::int32_t whole = slot / 8;
    for (std::int32_t byte = 0; byte < whole; ++byte)
        count += std::popcount(FData[byte]);
    if (slot % 8 != 0)
        count += std::popcount(static_cast<std::uint8_t>(FData[whole] & ((1U << (slot % 8)) - 1)));
    return count;
}

std::optional<std::int32_t> TCRVSmallRecordPage::UsedSlotByRank(std::int32_t rank) const {
    if (rank < 0)
        return std::nullopt;
    for (std::int32_t s = 0; s < FMaxRecords; ++s)
        if (IsSlotUsed(s) && rank-- == 0)
            return s;
    return std::nullopt;
}

std::span<std::byte> TCRVSmallRecordPage::Slot(std::int32_t slot) {
    assert(slot >= 0 && slot < FMaxRecords);
    return {reinterpret_cast<std::byte*>(FData) + CRVSlotBitmapSize(FMaxRecords) +
                static_cast<std::size_t>(slot) * static_cast<std::size_t>(FRecordSize),
            static_cast<std::size_t>(FRecordSize)};
}

std::span<const std::byte> TCRVSmallRecordPage::Slot(std::int32_t slot) const {
    return const_cast<TCRVSmallRecordPage*>(this)->Slot(slot);
}
