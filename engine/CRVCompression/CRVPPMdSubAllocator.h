// The PPMd variant G sub-allocator: one heap of 12-byte units handed out in 38 block sizes of 1 to
// 128 units, with a free list per size. The model's contexts take one unit from the top of the
// heap, its state arrays (6 bytes a state, two states a unit) come from the bottom or the free
// lists. The accounting is the published variant's, which was built for 32-bit pointers: a unit is
// 12 bytes and the heap keeps a reserve of 128 blocks of 128 units ("the last breath") that is
// released into the free lists the first time the bottom meets the top.
//
// Blocks are named by 32-bit offsets into the heap; offset 0 is a spare unit that is never handed
// out, so 0 means "none".
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

class TCRVPPMdSubAllocator {
public:
    static constexpr std::uint32_t UnitSize = 12;
    static constexpr unsigned IndexCount = 38;
    static constexpr unsigned MaxBlockUnits = 128;
    // The reserve at the bottom of the heap: 128 blocks of 128 units.
    static constexpr std::uint32_t ReserveBytes = 128 * MaxBlockUnits * UnitSize;
    // The smallest heap that holds the reserve, the root's 256 states and a chain of contexts.
    static constexpr std::size_t MinimumSize = ReserveBytes + MaxBlockUnits * UnitSize + 64 * UnitSize;
    static constexpr std::size_t MaximumSize = 0xFFFF0000u;

    // Allocates the heap, not zero-filled: the model writes every byte before it reads it.
    // Valid() is false when the size is out of range or the memory is not available.
    explicit TCRVPPMdSubAllocator(std::size_t heapBytes);

    bool Valid() const { return FHeap != nullptr; }
    std::uint8_t* Base() const { return FHeap.get(); }

    // Empties the heap: all lists empty, the reserve back in place.
    void Init();

    // One unit for a context, from the top of the heap while the top has not met the bottom.
    std::uint32_t AllocContext() {
        if (FHiUnit != FLoUnit)
            return FHiUnit -= UnitSize;
        return AllocUnitsRare(1);
    }
    // A block of at least `units` units (1..128), or 0 when the heap is exhausted.
    std::uint32_t AllocUnitsRare(unsigned units);
    // Grows a block of `oldUnits` by one unit, moving it when its size class changes; 0 when full.
    std::uint32_t ExpandUnits(std::uint32_t block, unsigned oldUnits);
    // Shrinks a block from `oldUnits` to `newUnits`, moving it to a free block of the new size
    // when there is one, else giving back its tail.
    std::uint32_t ShrinkUnits(std::uint32_t block, unsigned oldUnits, unsigned newUnits);
    void FreeUnits(std::uint32_t block, unsigned oldUnits) { InsertNode(block, UnitsToIndex(oldUnits)); }

    static unsigned IndexToUnits(unsigned index) { return Tables().Indx2Units[index]; }
    static unsigned UnitsToIndex(unsigned units) { return Tables().Units2Indx[units - 1]; }

private:
    struct TSizeTables {
        std::uint8_t Indx2Units[IndexCount];
        std::uint8_t Units2Indx[MaxBlockUnits];
    };
    struct TFreeDeleter {
        void operator()(std::uint8_t* p) const { std::free(p); }
    };

    static const TSizeTables& Tables();
    static std::uint32_t IndexToBytes(unsigned index) { return UnitSize * IndexToUnits(index); }

    // The first 4 bytes of a free block link it to the next free block of its size.
    void InsertNode(std::uint32_t block, unsigned index) {
        std::memcpy(FHeap.get() + block, &FFreeList[index], 4);
        FFreeList[index] = block;
    }
    std::uint32_t RemoveNode(unsigned index) {
        std::uint32_t block = FFreeList[index];
        std::memcpy(&FFreeList[index], FHeap.get() + block, 4);
        return block;
    }
    void SplitBlock(std::uint32_t block, unsigned oldIndex, unsigned newIndex);

    std::unique_ptr<std::uint8_t[], TFreeDeleter> FHeap;
    std::uint32_t FHeapStart = UnitSize; // the first unit of the heap proper
    std::uint32_t FHeapEnd = 0;          // one past the last whole unit
    std::uint32_t FLoUnit = 0, FHiUnit = 0;
    std::uint32_t FLastBreath = 0; // the reserve, 0 once released
    std::uint32_t FFreeList[IndexCount] = {};
};
