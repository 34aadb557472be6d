// The range coder of PPMd variant G: D. Subbotin's carry-less range coder with 32-bit low and
// range, a byte shifted out while the top byte of the interval is settled, and the range cut to
// the next 2^15 boundary of `low` when it falls below 2^15. The encoder ends with 4 bytes of `low`.
//
// The decoder never reads past its input: a missing byte reads as 0 and marks the stream as
// damaged, and so does a count outside the coded total. Callers check Damaged() once a symbol.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The interval of one coded event: [LowCount, HighCount) out of Scale.
struct TCRVPPMdSubRange {
    std::uint32_t LowCount = 0;
    std::uint32_t HighCount = 0;
    std::uint32_t Scale = 0;
};

namespace CRVPPMdCoder {
inline constexpr std::uint32_t Top = 1u << 24;
inline constexpr std::uint32_t Bottom = 1u << 15;
} // namespace CRVPPMdCoder

class TCRVPPMdRangeEncoder {
public:
    explicit TCRVPPMdRangeEncoder(std::vector<std::uint8_t>& out) : FOut(out) {}

    void Encode(const TCRVPPMdSubRange& r) {
        FRange /= r.Scale;
        FLow += r.LowCount * FRange;
        FRange *= r.HighCount - r.LowCount;
    }
    void EncodeShift(const TCRVPPMdSubRange& r, unsigned shift) {
        FRange >>= shift;
        FLow += r.LowCount * FRange;
        FRange *= r.HighCount - r.LowCount;
    }
    // False when the interval has collapsed (a total larger than the range), which the model's
    // bounds on its counts rule out; the caller stops instead of shifting forever.
    bool Normalize() {
        using namespace CRVPPMdCoder;
        if (FRange == 0)
            return false;
        for (;;) {
            if ((FLow ^ (FLow + FRange)) >= Top) {
                if (FRange >= Bottom)
                    return true;
                FRange = (0u - FLow) & (Bottom - 1);
            }
            FOut.push_back(static_cast<std::uint8_t>(FLow >> 24));
            FRange <<= 8;
            FLow <<= 8;
        }
    }
    void Flush() {
        for (int i = 0; i < 4; ++i) {
            FOut.push_back(static_cast<std::uint8_t>(FLow >> 24));
            FLow <<= 8;
        }
    }

private:
    std::vector<std::uint8_t>& FOut;
    std::uint32_t FLow = 0;
    std::uint32_t FRange = 0xFFFFFFFFu;
};

class TCRVPPMdRangeDecoder {
public:
    TCRVPPMdRangeDecoder(const std::uint8_t* in, std::size_t size) : FIn(in), FEnd(in + size) {
        for (int i = 0; i < 4; ++i)
            FCode = (FCode << 8) | NextByte();
    }

    bool Damaged() const { return FDamaged; }
    std::size_t Consumed(const std::uint8_t* start) const { return static_cast<std::size_t>(FIn - start); }

    // The count of the next event out of `scale`; sets the range step for Remove().
    std::uint32_t GetCount(std::uint32_t scale) {
        FRange /= scale;
        return Checked((FCode - FLow) / Step(), scale);
    }
    std::uint32_t GetShiftCount(unsigned shift) {
        FRange >>= shift;
        return Checked((FCode - FLow) / Step(), 1u << shift);
    }
    void Remove(const TCRVPPMdSubRange& r) {
        FLow += FRange * r.LowCount;
        FRange *= r.HighCount - r.LowCount;
    }
    // Stops at once on a damaged stream, whose interval need not be sound any more.
    void Normalize() {
        using namespace CRVPPMdCoder;
        if (FDamaged)
            return;
        for (;;) {
            if ((FLow ^ (FLow + FRange)) >= Top) {
                if (FRange >= Bottom)
                    return;
                FRange = (0u - FLow) & (Bottom - 1);
            }
            FCode = (FCode << 8) | NextByte();
            FRange <<= 8;
            FLow <<= 8;
        }
    }

private:
    std::uint32_t NextByte() {
        if (FIn == FEnd) {
            FDamaged = true;
            return 0;
        }
        return *FIn++;
    }
    // A range step of 0 (a total above the range) cannot come from the encoder.
    std::uint32_t Step() {
        if (FRange != 0)
            return FRange;
        FDamaged = true;
        return 1;
    }
    std::uint32_t Checked(std::uint32_t count, std::uint32_t scale) {
        if (count < scale)
            return count;
        FDamaged = true;
        return scale - 1;
    }

    const std::uint8_t* FIn;
    const std::uint8_t* FEnd;
    std::uint32_t FLow = 0;
    std::uint32_t FCode = 0;
    std::uint32_t FRange = 0xFFFFFFFFu;
    bool FDamaged = false;
};
