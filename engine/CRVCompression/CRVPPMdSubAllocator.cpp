#include "CRVCompression/CRVPPMdSubAllocator.h"

namespace {

// Four groups of block sizes: 4 sizes in steps of 1 unit, 4 in steps of 2, 4 in steps of 3 and
// 26 in steps of 4, up to 128 units.
constexpr unsigned GroupCounts[4] = {4, 4, 4, 26};

} // namespace

const TCRVPPMdSubAllocator::TSizeTables& TCRVPPMdSubAllocator::Tables() {
    static const TSizeTables tables = [] {
        TSizeTables t{};
        unsigned index = 0, units = 1;
        for (unsigned group = 0; group < 4; ++group) {
            if (group > 0)
                ++units;
            for (unsigned n = 0; n < GroupCounts[group]; ++n, ++index, units += group + 1)
                t.Indx2Units[index] = static_cast<std::uint8_t>(units);
        }
        index = 0;
        for (unsigned k = 0; k < MaxBlockUnits; ++k) {
            index += (t.Indx2Units[index] < k + 1);
            t.Units2Indx[k] = static_cast<std::uint8_t>(index);
        }
        return t;
    }();
    return tables;
}

TCRVPPMdSubAllocator::TCRVPPMdSubAllocator(std::size_t heapBytes) {
    if (heapBytes < MinimumSize || heapBytes > MaximumSize)
        return;
    // The spare unit at offset 0 in front, slack of two units behind the last whole unit.
    std::size_t total = UnitSize + heapBytes + 2 * UnitSize;
    FHeap.reset(static_cast<std::uint8_t*>(std::malloc(total)));
    FHeapEnd = FHeapStart + UnitSize * static_cast<std::uint32_t>(heapBytes / UnitSize);
}

void TCRVPPMdSubAllocator::Init() {
    std::memset(FFreeList, 0, sizeof(FFreeList));
    FHiUnit = FHeapEnd;
    FLastBreath = FHeapStart;
    FLoUnit = FHeapStart + ReserveBytes;
}

void TCRVPPMdSubAllocator::SplitBlock(std::uint32_t block, unsigned oldIndex, unsigned newIndex) {
    unsigned diff = IndexToUnits(oldIndex) - IndexToUnits(newIndex);
    std::uint32_t rest = block + IndexToBytes(newIndex);
    unsigned index = UnitsToIndex(diff);
    if (IndexToUnits(index) != diff) {
        --index;
        InsertNode(rest, index);
        rest += IndexToBytes(index);
        diff -= IndexToUnits(index);
    }
    InsertNode(rest, UnitsToIndex(diff));
}

std::uint32_t TCRVPPMdSubAllocator::AllocUnitsRare(unsigned units) {
    const unsigned index = UnitsToIndex(units);
    if (FFreeList[index] != 0)
        return RemoveNode(index);
    const std::uint32_t bytes = IndexToBytes(index);
    if (FLoUnit <= FHiUnit && FHiUnit - FLoUnit >= bytes) {
        std::uint32_t block = FLoUnit;
        FLoUnit += bytes;
        return block;
    }
    if (FLastBreath != 0) {
        for (unsigned i = 0; i < 128; ++i) {
            InsertNode(FLastBreath, IndexCount - 1);
            FLastBreath += MaxBlockUnits * UnitSize;
        }
        FLastBreath = 0;
    }
    unsigned larger = index;
    do {
        if (++larger == IndexCount)
            return 0;
    } while (FFreeList[larger] == 0);
    std::uint32_t block = RemoveNode(larger);
    SplitBlock(block, larger, index);
    return block;
}

std::uint32_t TCRVPPMdSubAllocator::ExpandUnits(std::uint32_t block, unsigned oldUnits) {
    const unsigned i0 = UnitsToIndex(oldUnits), i1 = UnitsToIndex(oldUnits + 1);
    if (i0 == i1)
        return block;
    std::uint32_t moved = AllocUnitsRare(oldUnits + 1);
    if (moved != 0) {
        std::memcpy(FHeap.get() + moved, FHeap.get() + block, IndexToBytes(i0));
        InsertNode(block, i0);
    }
    return moved;
}

std::uint32_t TCRVPPMdSubAllocator::ShrinkUnits(std::uint32_t block, unsigned oldUnits, unsigned newUnits) {
    const unsigned i0 = UnitsToIndex(oldUnits), i1 = UnitsToIndex(newUnits);
    if (i0 == i1)
        return block;
    if (FFreeList[i1] != 0) {
        std::uint32_t moved = RemoveNode(i1);
        std::memcpy(FHeap.get() + moved, FHeap.get() + block, IndexToBytes(i1));
        InsertNode(block, i0);
        return moved;
    }
    SplitBlock(block, i0, i1);
    return block;
}
