#include "CRVCompression/CRVPPMdModel.h"

#include <cstddef>

namespace {

constexpr int IntBits = 7;
constexpr int PeriodBits = 7;
constexpr int TotalBits = IntBits + PeriodBits;
constexpr unsigned Interval = 1u << IntBits;
constexpr unsigned BinScale = 1u << TotalBits;
constexpr unsigned MaxFreq = 124;

constexpr std::uint16_t InitBinEsc[16] = {0x3CDD, 0x1F3F, 0x59BF, 0x48F3, 0x5FFB, 0x5545, 0x63D1, 0x5D9D,
                                          0x64A1, 0x5ABC, 0x6632, 0x6051, 0x68F6, 0x549B, 0x6BCA, 0x3AB0};
// Escape estimates for an exponential symbol distribution, by binary probability.
constexpr std::uint8_t ExpEscape[16] = {25, 14, 9, 7, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2};

// Field access on heap records, through byte copies (the heap is raw bytes; a context's bytes
// 2..7 are read as a state as well).
constexpr std::ptrdiff_t StateSize = sizeof(TCRVPPMdStateRecord);

template <typename T> T Load(const std::uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof(T));
    return v;
}
template <typename T> void Store(std::uint8_t* p, T v) {
    std::memcpy(p, &v, sizeof(T));
}

unsigned Symbol(const std::uint8_t* s) {
    return s[offsetof(TCRVPPMdStateRecord, Symbol)];
}
unsigned Freq(const std::uint8_t* s) {
    return s[offsetof(TCRVPPMdStateRecord, Freq)];
}
void SetSymbol(std::uint8_t* s, unsigned v) {
    s[offsetof(TCRVPPMdStateRecord, Symbol)] = static_cast<std::uint8_t>(v);
}
void SetFreq(std::uint8_t* s, unsigned v) {
    s[offsetof(TCRVPPMdStateRecord, Freq)] = static_cast<std::uint8_t>(v);
}
std::uint32_t Successor(const std::uint8_t* s) {
    return Load<std::uint32_t>(s + offsetof(TCRVPPMdStateRecord, Successor));
}
void SetSuccessor(std::uint8_t* s, std::uint32_t v) {
    Store(s + offsetof(TCRVPPMdStateRecord, Successor), v);
}
TCRVPPMdStateRecord LoadState(const std::uint8_t* s) {
    return Load<TCRVPPMdStateRecord>(s);
}
void StoreState(std::uint8_t* s, const TCRVPPMdStateRecord& v) {
    Store(s, v);
}
void CopyState(std::uint8_t* to, const std::uint8_t* from) {
    std::memmove(to, from, StateSize);
}
void SwapStates(std::uint8_t* a, std::uint8_t* b) {
    TCRVPPMdStateRecord t = LoadState(a);
    CopyState(a, b);
    StoreState(b, t);
}

unsigned NumStats(const std::uint8_t* c) {
    return Load<std::uint16_t>(c + offsetof(TCRVPPMdContextRecord, NumStats));
}
void SetNumStats(std::uint8_t* c, unsigned v) {
    Store(c + offsetof(TCRVPPMdContextRecord, NumStats), static_cast<std::uint16_t>(v));
}
unsigned SummFreq(const std::uint8_t* c) {
    return Load<std::uint16_t>(c + offsetof(TCRVPPMdContextRecord, SummFreq));
}
void SetSummFreq(std::uint8_t* c, unsigned v) {
    Store(c + offsetof(TCRVPPMdContextRecord, SummFreq), static_cast<std::uint16_t>(v));
}
std::uint32_t StatsRef(const std::uint8_t* c) {
    return Load<std::uint32_t>(c + offsetof(TCRVPPMdContextRecord, Stats));
}
void SetStatsRef(std::uint8_t* c, std::uint32_t v) {
    Store(c + offsetof(TCRVPPMdContextRecord, Stats), v);
}
std::uint32_t SuffixRef(const std::uint8_t* c) {
    return Load<std::uint32_t>(c + offsetof(TCRVPPMdContextRecord, Suffix));
}
void SetSuffixRef(std::uint8_t* c, std::uint32_t v) {
    Store(c + offsetof(TCRVPPMdContextRecord, Suffix), v);
}
// The single state of a binary context, kept in place of SummFreq and Stats.
std::uint8_t* OneState(std::uint8_t* c) {
    return c + offsetof(TCRVPPMdContextRecord, SummFreq);
}

unsigned BinMean(unsigned summ) {
    return (summ + (1u << (PeriodBits - 2))) >> PeriodBits;
}

} // namespace

// ---- SEE contexts ----------------------------------------------------------------------------

void TCRVPPMdModel::TSEE2Context::Init(unsigned initValue) {
    Shift = PeriodBits - 4;
    Summ = static_cast<std::uint16_t>(initValue << Shift);
    Count = 3;
}

unsigned TCRVPPMdModel::TSEE2Context::GetMean() {
    unsigned mean = Summ >> Shift;
    Summ = static_cast<std::uint16_t>(Summ - mean);
    mean &= 0x03FF;
    return mean + (mean == 0);
}

void TCRVPPMdModel::TSEE2Context::Update() {
    if (Shift < PeriodBits && --Count == 0) {
        Summ = static_cast<std::uint16_t>(Summ + Summ);
        Count = static_cast<std::uint8_t>(3u << Shift++);
    }
}

// ---- Model set-up --------------------------------------------------------------------------

TCRVPPMdModel::TCRVPPMdModel(TCRVPPMdSubAllocator& allocator, int maxOrder)
    : FAllocator(allocator), FBase(allocator.Base()), FMaxOrder(maxOrder) {}

void TCRVPPMdModel::StartModel() {
    FAllocator.Init();
    std::uint8_t* root = At(FAllocator.AllocContext());
    SetSuffixRef(root, 0);
    SetNumStats(root, 256);
    SetSummFreq(root, 257);
    const std::uint32_t stats = FAllocator.AllocUnitsRare(256 / 2);
    SetStatsRef(root, stats);
    for (unsigned i = 0; i < 256; ++i) {
        std::uint8_t* s = At(stats) + i * StateSize;
        SetSymbol(s, i);
        SetFreq(s, 1);
        SetSuccessor(s, 0);
    }
    FPrevSuccess = 0;
    // A chain of binary contexts of symbol 0 up to the maximum order, the last one unfinished.
    std::uint8_t* context = root;
    std::uint8_t* state = At(stats);
    for (int order = 1;; ++order) {
        std::uint32_t next = FAllocator.AllocContext();
        SetNumStats(At(next), 1);
        SetSuffixRef(At(next), Ref(context));
        SetSuccessor(state, next);
        context = At(next);
        if (order == FMaxOrder)
            break;
        state = OneState(context);
        SetSymbol(state, 0);
        SetFreq(state, 1);
    }
    FOrderFall = 1;
    FMaxContext = context;
    SetNumStats(FMaxContext, 0);
    FMedContext = FMinContext = At(SuffixRef(FMaxContext));
    InitTables();
    std::memset(FCharMask, 0, sizeof(FCharMask));
    FEscCount = 1;
}

void TCRVPPMdModel::InitTables() {
    for (unsigned i = 0; i < 128; ++i)
        for (unsigned k = 0; k < 16; ++k)
            FBinSumm[i][k] = static_cast<std::uint16_t>(BinScale - InitBinEsc[k] / (i + 2));
    unsigned i = 0;
    for (; i < 6; ++i)
        FNS2BSIndx[i] = static_cast<std::uint8_t>(2 * i);
    for (; i < 50; ++i)
        FNS2BSIndx[i] = 12;
    for (; i < 256; ++i)
        FNS2BSIndx[i] = 14;
    for (i = 0; i < 43; ++i)
        for (unsigned k = 0; k < 8; ++k)
            FSEE2[i][k].Init(4 * i + 10);
    FSEE2[43][0].Shift = PeriodBits;
    for (i = 0; i < 4; ++i)
        FNS2Indx[i] = static_cast<std::uint8_t>(i);
    for (; i < 4 + 8; ++i)
        FNS2Indx[i] = static_cast<std::uint8_t>(4 + ((i - 4) >> 1));
    for (; i < 4 + 8 + 32; ++i)
        FNS2Indx[i] = static_cast<std::uint8_t>(4 + 4 + ((i - 4 - 8) >> 2));
    for (; i < 256; ++i)
        FNS2Indx[i] = static_cast<std::uint8_t>(4 + 4 + 8 + ((i - 4 - 8 - 32) >> 3));
}

// The heap is exhausted: start over with a fresh model; the masks are cleared by the caller.
void TCRVPPMdModel::RestartModel() {
    StartModel();
    FEscCount = 0;
}

void TCRVPPMdModel::ClearMask() {
    FEscCount = 1;
    std::memset(FCharMask, 0, sizeof(FCharMask));
}

// ---- Model update --------------------------------------------------------------------------

// Halves the frequencies of a context whose found symbol grew too frequent, drops the symbols
// that fall to 0 and moves the found symbol to the front.
void TCRVPPMdModel::Rescale(std::uint8_t* context) {
    const int oldNumStats = static_cast<int>(NumStats(context));
    std::uint8_t* const stats = At(StatsRef(context));
    std::uint8_t* p = FFoundState;
    for (; p != stats; p -= StateSize)
        SwapStates(p, p - StateSize);
    SetFreq(stats, Freq(stats) + 4);
    SetSummFreq(context, SummFreq(context) + 4);
    int escFreq = static_cast<int>(SummFreq(context)) - static_cast<int>(Freq(p));
    const unsigned adder = (FOrderFall != 0);
    SetFreq(p, (Freq(p) + adder) >> 1);
    unsigned summ = Freq(p);
    int i = oldNumStats - 1;
    do {
        p += StateSize;
        escFreq -= static_cast<int>(Freq(p));
        SetFreq(p, (Freq(p) + adder) >> 1);
        summ += Freq(p);
        if (Freq(p) > Freq(p - StateSize)) {
            const TCRVPPMdStateRecord moving = LoadState(p);
            std::uint8_t* q = p;
            do {
                CopyState(q, q - StateSize);
                q -= StateSize;
            } while (q != stats && moving.Freq > Freq(q - StateSize));
            StoreState(q, moving);
        }
    } while (--i);
    if (Freq(p) == 0) {
        do {
            ++i;
            p -= StateSize;
        } while (Freq(p) == 0);
        escFreq += i;
        SetNumStats(context, NumStats(context) - static_cast<unsigned>(i));
        if (NumStats(context) == 1) {
            TCRVPPMdStateRecord only = LoadState(stats);
            do {
                only.Freq = static_cast<std::uint8_t>(only.Freq - (only.Freq >> 1));
                escFreq >>= 1;
            } while (escFreq > 1);
            FAllocator.FreeUnits(StatsRef(context), static_cast<unsigned>(oldNumStats + 1) >> 1);
            FFoundState = OneState(context);
            StoreState(FFoundState, only);
            return;
        }
    }
    escFreq -= escFreq >> 1;
    SetSummFreq(context, summ + static_cast<unsigned>(escFreq));
    const unsigned n0 = static_cast<unsigned>(oldNumStats + 1) >> 1, n1 = (NumStats(context) + 1) >> 1;
    if (n0 != n1)
        SetStatsRef(context, FAllocator.ShrinkUnits(StatsRef(context), n0, n1));
    FFoundState = At(StatsRef(context));
}

// The state of `symbol` in a context that holds it.
std::uint8_t* TCRVPPMdModel::FindState(std::uint8_t* context, unsigned symbol) {
    if (NumStats(context) == 1)
        return OneState(context);
    std::uint8_t* p = At(StatsRef(context));
    while (Symbol(p) != symbol)
        p += StateSize;
    return p;
}

// Walks down from the current context and collects the states of the found symbol that still
// lead to `upBranch`, the context being built; stops at the first state that leads elsewhere and
// returns the context it leads to (or the root). skipCount 0 includes the found state itself, 1
// starts in the current context's suffix, 2 one order lower; `suffixState` is the symbol's state
// in the first suffix when the caller already has it.
std::uint8_t* TCRVPPMdModel::CollectStates(unsigned skipCount, std::uint8_t* suffixState,
                                           std::uint32_t upBranch, TStateChain& chain) {
    std::uint8_t* pc = FMinContext;
    if (skipCount == 0) {
        chain.States[chain.Count++] = FFoundState;
        if (SuffixRef(pc) == 0)
            return pc;
    } else if (skipCount == 2) {
        pc = At(SuffixRef(pc));
    }
    const unsigned symbol = Symbol(FFoundState);
    for (std::uint8_t* p = suffixState;; p = nullptr) {
        pc = At(SuffixRef(pc));
        if (p == nullptr)
            p = FindState(pc, symbol);
        if (Successor(p) != upBranch)
            return At(Successor(p));
        chain.States[chain.Count++] = p;
        if (SuffixRef(pc) == 0)
            return pc;
    }
}

// The frequency of the symbol that followed in the new binary contexts, estimated from its
// frequency in `context`, the longest context that already holds it.
unsigned TCRVPPMdModel::InitialFreq(std::uint8_t* context, unsigned symbol) {
    if (NumStats(context) == 1)
        return Freq(OneState(context));
    const std::uint32_t cf = Freq(FindState(context, symbol)) - 1;
    const std::uint32_t s0 = SummFreq(context) - NumStats(context) - cf;
    // s0 is at least the escape estimate, never 0.
    const std::uint32_t divisor = 2 * s0 != 0 ? 2 * s0 : 1;
    return 1 + ((2 * cf <= s0) ? (5 * cf > s0) : ((2 * cf + 3 * s0 - 1) / divisor));
}

// Builds the chain of binary contexts that the found symbol leads to (see CollectStates); false
// when the heap is exhausted.
bool TCRVPPMdModel::MakeRoot(unsigned skipCount, std::uint8_t* suffixState) {
    const std::uint32_t upBranch = Successor(FFoundState);
    TStateChain chain;
    std::uint8_t* pc = CollectStates(skipCount, suffixState, upBranch, chain);
    // The unfinished context's own state becomes the new contexts' state.
    std::uint8_t* upState = OneState(At(upBranch));
    SetFreq(upState, InitialFreq(pc, Symbol(upState)));
    while (chain.Count > 0) {
        const std::uint32_t created = FAllocator.AllocContext();
        if (created == 0)
            return false;
        std::uint8_t* c = At(created);
        SetNumStats(c, 1);
        SetSuffixRef(c, Ref(pc));
        SetSuccessor(chain.States[--chain.Count], created);
        CopyState(OneState(c), upState);
        pc = c;
    }
    if (FOrderFall == 0) {
        SetNumStats(At(upBranch), 1);
        SetSuffixRef(At(upBranch), Ref(pc));
    }
    return true;
}

// Counts the found symbol once more in the suffix of the current context (when it is still
// rare); returns its state there, or nullptr when that was not looked at.
std::uint8_t* TCRVPPMdModel::UpdateSuffixFreq(const TCRVPPMdStateRecord& fs) {
    if (fs.Freq >= MaxFreq / 4 || SuffixRef(FMinContext) == 0)
        return nullptr;
    std::uint8_t* pc = At(SuffixRef(FMinContext));
    if (NumStats(pc) == 1) {
        std::uint8_t* p = OneState(pc);
        SetFreq(p, Freq(p) + (Freq(p) < 32));
        return p;
    }
    std::uint8_t* p = At(StatsRef(pc));
    if (Symbol(p) != fs.Symbol) {
        do {
            p += StateSize;
        } while (Symbol(p) != fs.Symbol);
        if (Freq(p) >= Freq(p - StateSize)) {
            SwapStates(p, p - StateSize);
            p -= StateSize;
        }
    }
    if (Freq(p) < 7 * MaxFreq / 8) {
        SetFreq(p, Freq(p) + 2);
        SetSummFreq(pc, SummFreq(pc) + 2);
    }
    return p;
}

// Appends the found symbol to a context it escaped from, growing a binary context into a state
// array; `ns` and `s0` describe the context where the symbol was found. False when the heap is
// exhausted.
bool TCRVPPMdModel::AddSymbol(std::uint8_t* pc, const TCRVPPMdStateRecord& fs, std::uint32_t successor,
                              unsigned ns, unsigned s0) {
    const unsigned ns1 = NumStats(pc);
    if (ns1 != 1) {
        if ((ns1 & 1) == 0) {
            const std::uint32_t grown = FAllocator.ExpandUnits(StatsRef(pc), ns1 >> 1);
            if (grown == 0)
                return false;
            SetStatsRef(pc, grown);
        }
        SetSummFreq(pc, SummFreq(pc) + (2 * ns1 < ns) + 2 * ((4 * ns1 <= ns) & (SummFreq(pc) <= 8 * ns1)));
    } else {
        const std::uint32_t block = FAllocator.AllocUnitsRare(1);
        if (block == 0)
            return false;
        std::uint8_t* p = At(block);
        CopyState(p, OneState(pc));
        SetStatsRef(pc, block);
        SetFreq(p, Freq(p) < MaxFreq / 4 - 1 ? Freq(p) * 2 : MaxFreq - 4);
        SetSummFreq(pc, Freq(p) + static_cast<unsigned>(FInitEsc) + (ns > 3));
    }
    unsigned cf = 2 * fs.Freq * (SummFreq(pc) + 6);
    const unsigned sf = s0 + SummFreq(pc);
    if (cf < 6 * sf) {
        cf = 1 + (cf > sf) + (cf >= 4 * sf);
        SetSummFreq(pc, SummFreq(pc) + 3);
    } else {
        cf = 4 + (cf >= 9 * sf) + (cf >= 12 * sf) + (cf >= 15 * sf);
        SetSummFreq(pc, SummFreq(pc) + cf);
    }
    std::uint8_t* p = At(StatsRef(pc)) + ns1 * StateSize;
    SetSuccessor(p, successor);
    SetSymbol(p, fs.Symbol);
    SetFreq(p, cf);
    SetNumStats(pc, ns1 + 1);
    return true;
}

// Adds the found symbol to every context from the highest one escaped down to the one where it
// was found, updates its frequency in the suffix and moves to the next context. Restarts the
// model when the heap runs out.
void TCRVPPMdModel::UpdateModel() {
    const TCRVPPMdStateRecord fs = LoadState(FFoundState);
    std::uint8_t* const p1 = UpdateSuffixFreq(fs);
    if (FOrderFall == 0) {
        if (!MakeRoot(2, nullptr))
            return RestartModel();
        FMinContext = FMedContext = At(fs.Successor);
        return;
    }
    unsigned skipCount = 0;
    std::uint32_t successor = 0;
    if (--FOrderFall == 0) {
        successor = fs.Successor;
        skipCount = 1;
    } else {
        successor = FAllocator.AllocContext();
        if (successor == 0)
            return RestartModel();
        SetNumStats(At(successor), 0);
    }
    if (NumStats(FMaxContext) == 0) {
        SetSymbol(OneState(FMaxContext), fs.Symbol);
        SetSuccessor(OneState(FMaxContext), successor);
    }
    const unsigned ns = NumStats(FMinContext);
    const unsigned s0 = SummFreq(FMinContext) - ns - (fs.Freq - 1u);
    for (std::uint8_t* pc = FMedContext; pc != FMinContext; pc = At(SuffixRef(pc)))
        if (!AddSymbol(pc, fs, successor, ns, s0))
            return RestartModel();
    if (fs.Successor != 0) {
        if (NumStats(At(fs.Successor)) == 0 && !MakeRoot(skipCount, p1))
            return RestartModel();
        FMinContext = At(Successor(FFoundState));
    } else {
        SetSuccessor(FFoundState, successor);
        ++FOrderFall;
    }
    FMedContext = FMinContext;
    FMaxContext = At(successor);
}

void TCRVPPMdModel::NextContext() {
    const std::uint32_t successor = Successor(FFoundState);
    if (FOrderFall == 0 && NumStats(At(successor)) != 0) {
        FMinContext = FMedContext = At(successor);
        return;
    }
    UpdateModel();
    if (FEscCount == 0)
        ClearMask();
}

// ---- Symbol coding -------------------------------------------------------------------------

std::uint16_t& TCRVPPMdModel::BinSumm() {
    const unsigned suffixStats = NumStats(At(SuffixRef(FMinContext)));
    return FBinSumm[(Freq(OneState(FMinContext)) - 1) & 127]
                   [FPrevSuccess + FNS2BSIndx[(suffixStats - 1) & 0xFF]];
}

void TCRVPPMdModel::BinSymbolFound(std::uint16_t& bs) {
    std::uint8_t* rs = OneState(FMinContext);
    FFoundState = rs;
    SetFreq(rs, Freq(rs) + (Freq(rs) < 128));
    FSubRange.LowCount = 0;
    FSubRange.HighCount = bs;
    bs = static_cast<std::uint16_t>(bs + Interval - BinMean(bs));
    FPrevSuccess = 1;
}

void TCRVPPMdModel::BinSymbolEscaped(std::uint16_t& bs) {
    FSubRange.LowCount = bs;
    bs = static_cast<std::uint16_t>(bs - BinMean(bs));
    FSubRange.HighCount = BinScale;
    FInitEsc = ExpEscape[bs >> 10];
    FNumMasked = 1;
    FCharMask[Symbol(OneState(FMinContext))] = FEscCount;
    FPrevSuccess = 0;
    FFoundState = nullptr;
}

void TCRVPPMdModel::EncodeBinSymbol(int symbol) {
    std::uint16_t& bs = BinSumm();
    if (static_cast<int>(Symbol(OneState(FMinContext))) == symbol)
        BinSymbolFound(bs);
    else
        BinSymbolEscaped(bs);
}

void TCRVPPMdModel::DecodeBinSymbol(TCRVPPMdRangeDecoder& coder) {
    std::uint16_t& bs = BinSumm();
    if (coder.GetShiftCount(TotalBits) < bs)
        BinSymbolFound(bs);
    else
        BinSymbolEscaped(bs);
}

// An escape from the whole context: masks its `count` symbols, the last of which is `lastState`.
void TCRVPPMdModel::MaskAllFrom(std::uint8_t* lastState, int count) {
    FNumMasked = count;
    FFoundState = nullptr;
    for (int i = 0; i < count; ++i, lastState -= StateSize)
        FCharMask[Symbol(lastState)] = FEscCount;
    FSubRange.HighCount = FSubRange.Scale;
}

void TCRVPPMdModel::Update1(std::uint8_t* p) {
    FFoundState = p;
    SetFreq(p, Freq(p) + 4);
    SetSummFreq(FMinContext, SummFreq(FMinContext) + 4);
    if (Freq(p) > Freq(p - StateSize)) {
        SwapStates(p, p - StateSize);
        FFoundState = p -= StateSize;
        if (Freq(p) > MaxFreq)
            Rescale(FMinContext);
    }
}

void TCRVPPMdModel::EncodeSymbol1(int symbol) {
    FSubRange.Scale = SummFreq(FMinContext);
    std::uint8_t* p = At(StatsRef(FMinContext));
    if (static_cast<int>(Symbol(p)) == symbol) {
        FSubRange.HighCount = Freq(p);
        FPrevSuccess = (2 * FSubRange.HighCount > FSubRange.Scale);
        FFoundState = p;
        SetFreq(p, Freq(p) + 4);
        SetSummFreq(FMinContext, SummFreq(FMinContext) + 4);
        if (Freq(p) > MaxFreq)
            Rescale(FMinContext);
        FSubRange.LowCount = 0;
        return;
    }
    FPrevSuccess = 0;
    const int numStats = static_cast<int>(NumStats(FMinContext));
    unsigned lowCount = Freq(p);
    for (int i = numStats - 1; i > 0; --i) {
        p += StateSize;
        if (static_cast<int>(Symbol(p)) == symbol) {
            FSubRange.LowCount = lowCount;
            FSubRange.HighCount = lowCount + Freq(p);
            Update1(p);
            return;
        }
        lowCount += Freq(p);
    }
    FSubRange.LowCount = lowCount;
    MaskAllFrom(p, numStats);
}

void TCRVPPMdModel::DecodeSymbol1(TCRVPPMdRangeDecoder& coder) {
    FSubRange.Scale = SummFreq(FMinContext);
    std::uint8_t* p = At(StatsRef(FMinContext));
    const unsigned count = coder.GetCount(FSubRange.Scale);
    unsigned highCount = Freq(p);
    if (count < highCount) {
        FSubRange.HighCount = highCount;
        FPrevSuccess = (2 * highCount > FSubRange.Scale);
        FFoundState = p;
        highCount += 4;
        SetFreq(p, highCount);
        SetSummFreq(FMinContext, SummFreq(FMinContext) + 4);
        if (highCount > MaxFreq)
            Rescale(FMinContext);
        FSubRange.LowCount = 0;
        return;
    }
    FPrevSuccess = 0;
    const int numStats = static_cast<int>(NumStats(FMinContext));
    for (int i = numStats - 1; i > 0; --i) {
        p += StateSize;
        highCount += Freq(p);
        if (highCount > count) {
            FSubRange.HighCount = highCount;
            FSubRange.LowCount = highCount - Freq(p);
            Update1(p);
            return;
        }
    }
    FSubRange.LowCount = highCount;
    MaskAllFrom(p, numStats);
}

void TCRVPPMdModel::Update2(std::uint8_t* p) {
    FFoundState = p;
    SetFreq(p, Freq(p) + 4);
    SetSummFreq(FMinContext, SummFreq(FMinContext) + 4);
    if (Freq(p) > MaxFreq)
        Rescale(FMinContext);
    ++FEscCount;
}

TCRVPPMdModel::TSEE2Context* TCRVPPMdModel::MakeEscFreq2(int diff) {
    const int numStats = static_cast<int>(NumStats(FMinContext));
    if (numStats == 256) {
        FSubRange.Scale = 1;
        return &FSEE2[43][0];
    }
    const int suffixStats = static_cast<int>(NumStats(At(SuffixRef(FMinContext))));
    const int column = (diff < suffixStats - numStats) +
                       2 * (static_cast<int>(SummFreq(FMinContext)) < 11 * numStats) +
                       4 * (FNumMasked > diff);
    TSEE2Context* see = &FSEE2[FNS2Indx[(diff - 1) & 0xFF]][column];
    FSubRange.Scale = see->GetMean();
    return see;
}

void TCRVPPMdModel::EncodeSymbol2(int symbol) {
    int left = static_cast<int>(NumStats(FMinContext)) - FNumMasked;
    TSEE2Context* see = MakeEscFreq2(left);
    std::uint8_t* p = At(StatsRef(FMinContext)) - StateSize;
    unsigned highCount = 0;
    do {
        do {
            p += StateSize;
        } while (FCharMask[Symbol(p)] == FEscCount);
        highCount += Freq(p);
        if (static_cast<int>(Symbol(p)) == symbol) {
            FSubRange.HighCount = highCount;
            FSubRange.LowCount = highCount - Freq(p);
            for (std::uint8_t* q = p; --left > 0;) {
                do {
                    q += StateSize;
                } while (FCharMask[Symbol(q)] == FEscCount);
                highCount += Freq(q);
            }
            FSubRange.Scale += highCount;
            see->Update();
            Update2(p);
            return;
        }
        FCharMask[Symbol(p)] = FEscCount;
    } while (--left);
    FSubRange.LowCount = highCount;
    FSubRange.Scale += highCount;
    FSubRange.HighCount = FSubRange.Scale;
    see->Summ = static_cast<std::uint16_t>(see->Summ + FSubRange.Scale);
    FNumMasked = static_cast<int>(NumStats(FMinContext));
}

void TCRVPPMdModel::DecodeSymbol2(TCRVPPMdRangeDecoder& coder) {
    const int left = static_cast<int>(NumStats(FMinContext)) - FNumMasked;
    TSEE2Context* see = MakeEscFreq2(left);
    std::uint8_t* candidates[256];
    std::uint8_t* p = At(StatsRef(FMinContext)) - StateSize;
    unsigned highCount = 0;
    for (int i = 0; i < left; ++i) {
        do {
            p += StateSize;
        } while (FCharMask[Symbol(p)] == FEscCount);
        highCount += Freq(p);
        candidates[i] = p;
    }
    FSubRange.Scale += highCount;
    const unsigned count = coder.GetCount(FSubRange.Scale);
    if (count < highCount) {
        highCount = 0;
        int k = 0;
        p = candidates[0];
        while ((highCount += Freq(p)) <= count)
            p = candidates[++k];
        FSubRange.HighCount = highCount;
        FSubRange.LowCount = highCount - Freq(p);
        see->Update();
        Update2(p);
        return;
    }
    FSubRange.LowCount = highCount;
    FSubRange.HighCount = FSubRange.Scale;
    for (int i = 0; i < left; ++i)
        FCharMask[Symbol(candidates[i])] = FEscCount;
    see->Summ = static_cast<std::uint16_t>(see->Summ + FSubRange.Scale);
    FNumMasked = static_cast<int>(NumStats(FMinContext));
}

// ---- Streams -------------------------------------------------------------------------------

bool TCRVPPMdModel::Encode(const std::uint8_t* in, std::size_t size, TCRVPPMdRangeEncoder& coder) {
    StartModel();
    for (std::size_t pos = 0;;) {
        // Past the end the symbol is -1, which matches no state: the end-of-stream escape.
        const int symbol = pos < size ? in[pos++] : -1;
        if (NumStats(FMinContext) != 1) {
            EncodeSymbol1(symbol);
            coder.Encode(FSubRange);
        } else {
            EncodeBinSymbol(symbol);
            coder.EncodeShift(FSubRange, TotalBits);
        }
        while (FFoundState == nullptr) {
            if (!coder.Normalize())
                return false;
            do {
                ++FOrderFall;
                const std::uint32_t suffix = SuffixRef(FMinContext);
                if (suffix == 0) {
                    coder.Flush();
                    return true;
                }
                FMinContext = At(suffix);
            } while (static_cast<int>(NumStats(FMinContext)) == FNumMasked);
            EncodeSymbol2(symbol);
            coder.Encode(FSubRange);
        }
        NextContext();
        if (!coder.Normalize())
            return false;
    }
}

bool TCRVPPMdModel::Decode(TCRVPPMdRangeDecoder& coder, std::size_t maxSize, std::vector<std::uint8_t>& out) {
    StartModel();
    for (;;) {
        if (NumStats(FMinContext) != 1)
            DecodeSymbol1(coder);
        else
            DecodeBinSymbol(coder);
        coder.Remove(FSubRange);
        while (FFoundState == nullptr) {
            coder.Normalize();
            do {
                ++FOrderFall;
                const std::uint32_t suffix = SuffixRef(FMinContext);
                if (suffix == 0)
                    return !coder.Damaged();
                FMinContext = At(suffix);
            } while (static_cast<int>(NumStats(FMinContext)) == FNumMasked);
            DecodeSymbol2(coder);
            coder.Remove(FSubRange);
        }
        if (coder.Damaged() || out.size() >= maxSize)
            return false;
        out.push_back(static_cast<std::uint8_t>(Symbol(FFoundState)));
        NextContext();
        coder.Normalize();
    }
}
