// The x87 80-bit extended-precision value (base type bftExtended), encoded and decoded without
// relying on the platform having that format. The dataset layer exchanges these values as
// doubles, so the codec converts between a double and the 10 stored bytes.
//
// TCRVExtended, 10 bytes, little-endian:
//   OFFSET  SIZE  FIELD
//   0       8     Mantissa      64-bit significand; bit 63 is the explicit integer bit
//   8       2     SignExponent  bit 15 sign, bits 0..14 the exponent biased by 16383
//
// Exponent 0 holds zero and the denormals (value = Mantissa * 2^(1 - 16383 - 63)); exponent
// 0x7FFF holds the infinities (fraction bits 0) and the NaNs (fraction bits not 0).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#pragma pack(push, 1)
struct TCRVExtended {
    std::uint64_t Mantissa;
    std::uint16_t SignExponent;
};
#pragma pack(pop)
static_assert(sizeof(TCRVExtended) == 10, "an extended value is 10 bytes");

constexpr std::size_t CRVExtendedSize = 10;

// Exact: every double has an extended value (denormal doubles become normal extended ones,
// NaN payloads are kept in the upper fraction bits).
void CRVDoubleToExtended(double value, std::span<std::byte, CRVExtendedSize> dest);
// Rounded to nearest, ties to even; too large gives an infinity, too small a denormal or zero.
// A NaN stays a NaN (quiet), the sign of zeros and infinities is kept.
double CRVExtendedToDouble(std::span<const std::byte, CRVExtendedSize> source);
