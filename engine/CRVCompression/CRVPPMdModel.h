// The PPMd variant G model (PPMII by D. Shkarin): contexts of order 0..MaxOrder over one heap,
// binary contexts coded with adaptive binary probabilities, escapes from contexts with masked
// symbols estimated by SEE contexts, a full restart of the model when the heap runs out.
//
// Heap records (in the sub-allocator's 12-byte units; offsets are heap offsets, 0 = none):
//
// State (6 bytes, two to a unit):
//   OFFSET SIZE FIELD
//   0      1    Symbol
//   1      1    Freq        frequency of the symbol in its context
//   2      4    Successor   the context that follows the symbol
//
// Context (12 bytes, one unit):
//   OFFSET SIZE FIELD
//   0      2    NumStats    number of states; 0 for a context still being built
//   2      2    SummFreq    sum of the frequencies plus the escape estimate
//   4      4    Stats       the state array
//   8      4    Suffix      the context one order shorter, 0 for the root
// A context with a single state keeps that state in bytes 2..7 (SummFreq and Stats) instead.
#pragma once

#include "CRVCompression/CRVPPMdRangeCoder.h"
#include "CRVCompression/CRVPPMdSubAllocator.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#pragma pack(push, 1)
struct TCRVPPMdStateRecord {
    std::uint8_t Symbol;
    std::uint8_t Freq;
    std::uint32_t Successor;
};
struct TCRVPPMdContextRecord {
    std::uint16_t NumStats;
    std::uint16_t SummFreq;
    std::uint32_t Stats;
    std::uint32_t Suffix;
};
#pragma pack(pop)
static_assert(sizeof(TCRVPPMdStateRecord) == 6);
static_assert(sizeof(TCRVPPMdContextRecord) == TCRVPPMdSubAllocator::UnitSize);

class TCRVPPMdModel {
public:
    static constexpr int MinOrder = 2;
    static constexpr int MaxOrder = 16;

    // The allocator must be valid and at least TCRVPPMdSubAllocator::MinimumSize; maxOrder 2..16.
    TCRVPPMdModel(TCRVPPMdSubAllocator& allocator, int maxOrder);

    // Codes the bytes and the end-of-stream escape, then flushes the coder. False only if the
    // coder's interval collapses, which the model's bounds on its counts rule out.
    bool Encode(const std::uint8_t* in, std::size_t size, TCRVPPMdRangeEncoder& coder);
    // Decodes until the end-of-stream escape; false on a damaged stream or when more than
    // `maxSize` bytes would come out.
    bool Decode(TCRVPPMdRangeDecoder& coder, std::size_t maxSize, std::vector<std::uint8_t>& out);

private:
    struct TSEE2Context {
        std::uint16_t Summ;
        std::uint8_t Shift;
        std::uint8_t Count;
        void Init(unsigned initValue);
        unsigned GetMean();
        void Update();
    };

    // The states on the way down that are to lead to new contexts: at most one per order.
    struct TStateChain {
        std::uint8_t* States[MaxOrder + 2];
        int Count = 0;
    };

    void StartModel();
    void InitTables();
    void RestartModel();
    void ClearMask();
    void UpdateModel();
    std::uint8_t* UpdateSuffixFreq(const TCRVPPMdStateRecord& fs);
    bool AddSymbol(std::uint8_t* context, const TCRVPPMdStateRecord& fs, std::uint32_t successor, unsigned ns,
                   unsigned s0);
    std::uint8_t* FindState(std::uint8_t* context, unsigned symbol);
    std::uint8_t* CollectStates(unsigned skipCount, std::uint8_t* suffixState, std::uint32_t upBranch,
                                TStateChain& chain);
    unsigned InitialFreq(std::uint8_t* context, unsigned symbol);
    bool MakeRoot(unsigned skipCount, std::uint8_t* suffixState);
    void Rescale(std::uint8_t* context);

    void EncodeBinSymbol(int symbol);
    void EncodeSymbol1(int symbol);
    void EncodeSymbol2(int symbol);
    void DecodeBinSymbol(TCRVPPMdRangeDecoder& coder);
    void DecodeSymbol1(TCRVPPMdRangeDecoder& coder);
    void DecodeSymbol2(TCRVPPMdRangeDecoder& coder);
    std::uint16_t& BinSumm();
    void BinSymbolFound(std::uint16_t& bs);
    void BinSymbolEscaped(std::uint16_t& bs);
    void MaskAllFrom(std::uint8_t* lastState, int count);
    void Update1(std::uint8_t* state);
    void Update2(std::uint8_t* state);
    TSEE2Context* MakeEscFreq2(int diff);
    // After a symbol: follow to the successor or grow the model.
    void NextContext();

    std::uint8_t* At(std::uint32_t offset) const { return FBase + offset; }
    std::uint32_t Ref(const std::uint8_t* p) const { return static_cast<std::uint32_t>(p - FBase); }

    TCRVPPMdSubAllocator& FAllocator;
    std::uint8_t* FBase;
    int FMaxOrder;

    std::uint8_t* FMinContext = nullptr;
    std::uint8_t* FMedContext = nullptr;
    std::uint8_t* FMaxContext = nullptr;
    std::uint8_t* FFoundState = nullptr;
    int FNumMasked = 0;
    int FInitEsc = 0;
    int FOrderFall = 0;
    std::uint8_t FEscCount = 0;
    std::uint8_t FPrevSuccess = 0;
    TCRVPPMdSubRange FSubRange;

    TSEE2Context FSEE2[44][8] = {};
    std::uint16_t FBinSumm[128][16] = {};
    std::uint8_t FCharMask[256] = {};
    std::uint8_t FNS2Indx[256] = {};
    std::uint8_t FNS2BSIndx[256] = {};
};
