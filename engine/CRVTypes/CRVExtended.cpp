#include "CRVTypes/CRVExtended.h"

#include <bit>
#include <cstring>

namespace {

constexpr int KExtBias = 16383;
constexpr int KDoubleBias = 1023;
constexpr std::uint64_t KDoubleFracMask = (std::uint64_t{1} << 52) - 1;
constexpr std::uint64_t KIntegerBit = std::uint64_t{1} << 63;

void Store(std::uint64_t mantissa, std::uint16_t signExponent, std::span<std::byte, CRVExtendedSize> dest) {
    for (int i = 0; i < 8; ++i)
        dest[i] = static_cast<std::byte>(mantissa >> (8 * i));
    dest[8] = static_cast<std::byte>(signExponent);
    dest[9] = static_cast<std::byte>(signExponent >> 8);
}

// Shifts `value` right by `count` bits (1..64), rounding to nearest with ties to even.
std::uint64_t ShiftRightRounded(std::uint64_t value, int count) {
    if (count >= 65)
        return 0;
    if (count == 64)
        return value > KIntegerBit ? 1 : 0;
    const std::uint64_t kept = value >> count;
    const std::uint64_t rest = value & ((std::uint64_t{1} << count) - 1);
    const std::uint64_t half = std::uint64_t{1} << (count - 1);
    return kept + ((rest > half || (rest == half && (kept & 1))) ? 1 : 0);
}

double FromBits(std::uint64_t bits) {
    return std::bit_cast<double>(bits);
}

} // namespace

void CRVDoubleToExtended(double value, std::span<std::byte, CRVExtendedSize> dest) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const std::uint16_t sign = (bits >> 63) ? 0x8000 : 0;
    const int exponent = static_cast<int>((bits >> 52) & 0x7FF);
    const std::uint64_t fraction = bits & KDoubleFracMask;

    if (exponent == 0x7FF) { // infinity or NaN: the fraction moves to the top of the significand
        Store(KIntegerBit | (fraction << 11), sign | 0x7FFF, dest);
    } else if (exponent == 0 && fraction == 0) {
        Store(0, sign, dest);
    } else if (exponent == 0) { // denormal double: normalise
        const int top = 63 - std::countl_zero(fraction);
        const int extExponent = top - 1074 + KExtBias;
        Store(fraction << (63 - top), sign | static_cast<std::uint16_t>(extExponent), dest);
    } else {
        const int extExponent = exponent - KDoubleBias + KExtBias;
        Store(KIntegerBit | (fraction << 11), sign | static_cast<std::uint16_t>(extExponent), dest);
    }
}

double CRVExtendedToDouble(std::span<const std::byte, CRVExtendedSize> source) {
    std::uint64_t mantissa = 0;
    for (int i = 7; i >= 0; --i)
        mantissa = (mantissa << 8) | static_cast<std::uint64_t>(source[i]);
    const auto signExponent = static_cast<std::uint16_t>(static_cast<unsigned>(source[8]) |
                                                         (static_cast<unsigned>(source[9]) << 8));
    const std::uint64_t sign = static_cast<std::uint64_t>(signExponent >> 15) << 63;
    const int exponent = signExponent & 0x7FFF;

    if (exponent == 0x7FFF) {
        const std::uint64_t fraction = mantissa & ~KIntegerBit;
        if (fraction == 0)
            return FromBits(sign | (std::uint64_t{0x7FF} << 52));
        std::uint64_t payload = (fraction >> 11) & KDoubleFracMask;
        payload |= std::uint64_t{1} << 51; // quiet
        return FromBits(sign | (std::uint64_t{0x7FF} << 52) | payload);
    }
    if (mantissa == 0)
        return FromBits(sign);

    // value = mantissa * 2^(max(exponent, 1) - 16383 - 63); normalise the significand.
    const int top = 63 - std::countl_zero(mantissa);
    const std::uint64_t normal = mantissa << (63 - top);
    int unbiased = (exponent == 0 ? 1 : exponent) - KExtBias - 63 + top;
    if (unbiased > KDoubleBias)
        return FromBits(sign | (std::uint64_t{0x7FF} << 52));
    if (unbiased >= 1 - KDoubleBias) {
        std::uint64_t significand = ShiftRightRounded(normal, 11);
        if (significand >> 53) { // rounding carried into a new bit
            significand >>= 1;
            ++unbiased;
            if (unbiased > KDoubleBias)
                return FromBits(sign | (std::uint64_t{0x7FF} << 52));
        }
        const auto biased = static_cast<std::uint64_t>(unbiased + KDoubleBias);
        return FromBits(sign | (biased << 52) | (significand & KDoubleFracMask));
    }
    // Denormal result, in units of 2^-1074; a carry into bit 52 gives the smallest normal.
    const std::uint64_t units = ShiftRightRounded(normal, -(unbiased + 1011));
    return FromBits(sign | units);
}
