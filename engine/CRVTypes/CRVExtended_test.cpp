#include "CRVTypes/CRVExtended.h"
#include "CRVTypes/CRVTypesTestUtil.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace {

using TBytes = std::array<std::byte, CRVExtendedSize>;

TBytes Encode(double v) {
    TBytes out{};
    CRVDoubleToExtended(v, out);
    return out;
}

TBytes Pattern(std::uint64_t mantissa, std::uint16_t signExponent) {
    TBytes out{};
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<std::byte>(mantissa >> (8 * i));
    out[8] = static_cast<std::byte>(signExponent & 0xFF);
    out[9] = static_cast<std::byte>(signExponent >> 8);
    return out;
}

double Decode(const TBytes& b) {
    return CRVExtendedToDouble(b);
}
std::uint64_t Bits(double v) {
    return std::bit_cast<std::uint64_t>(v);
}

// Values with their exact extended bytes, both ways.
TEST(CRVExtended, KnownBytePatternsBothWays) {
    struct TCase {
        double Value;
        std::uint64_t Mantissa;
        std::uint16_t SignExponent;
    };
    const double denormMin = std::numeric_limits<double>::denorm_min();
    const TCase cases[] = {
        {1.0, 0x8000000000000000, 0x3FFF},
        {-2.0, 0x8000000000000000, 0xC000},
        {0.5, 0x8000000000000000, 0x3FFE},
        {3.0, 0xC000000000000000, 0x4000},
        {0.1, 0xCCCCCCCCCCCCD000, 0x3FFB},
        {0.0, 0, 0},
        {-0.0, 0, 0x8000},
        {std::numeric_limits<double>::infinity(), 0x8000000000000000, 0x7FFF},
        {-std::numeric_limits<double>::infinity(), 0x8000000000000000, 0xFFFF},
        {std::numeric_limits<double>::max(), 0xFFFFFFFFFFFFF800, 0x43FE},
        {std::numeric_limits<double>::min(), 0x8000000000000000, 0x3C01},
        {denormMin, 0x8000000000000000, 0x3BCD},     // 2^-1074
        {denormMin * 3, 0xC000000000000000, 0x3BCE}, // denormal double, normal extended
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(Encode(c.Value), Pattern(c.Mantissa, c.SignExponent)) << c.Value;
        EXPECT_EQ(Bits(Decode(Pattern(c.Mantissa, c.SignExponent))), Bits(c.Value)) << c.Value;
    }
}

TEST(CRVExtended, NaNStaysNaNAndKeepsItsPayload) {
    const double quiet = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(Encode(quiet), Pattern(0xC000000000000000, 0x7FFF));
    EXPECT_TRUE(std::isnan(Decode(Pattern(0xC000000000000000, 0x7FFF))));
    const double payload = std::bit_cast<double>(std::uint64_t{0xFFF8000000000123});
    EXPECT_EQ(Bits(Decode(Encode(payload))), Bits(payload));
    // A signalling extended NaN whose payload lies below the double's fraction is still a NaN.
    EXPECT_TRUE(std::isnan(Decode(Pattern(0x8000000000000001, 0x7FFF))));
}

TEST(CRVExtended, DecodingRoundsToNearestEven) {
    // 1 + 2^-53 is a tie: down to 1. 1 + 3*2^-53 is a tie: up to 1 + 2^-51.
    EXPECT_EQ(Decode(Pattern(0x8000000000000400, 0x3FFF)), 1.0);
    EXPECT_EQ(Decode(Pattern(0x8000000000000C00, 0x3FFF)), 1.0 + std::ldexp(1.0, -51));
    // Just above the tie rounds up.
    EXPECT_EQ(Decode(Pattern(0x8000000000000401, 0x3FFF)), 1.0 + std::ldexp(1.0, -52));
    // All ones rounds up into the next power of two.
    EXPECT_EQ(Decode(Pattern(0xFFFFFFFFFFFFFFFF, 0x3FFF)), 2.0);
    // Past the double range: infinity; the largest double's tie up also overflows.
    EXPECT_EQ(Decode(Pattern(0x8000000000000000, 0x4400)), std::numeric_limits<double>::infinity());
    EXPECT_EQ(Decode(Pattern(0xFFFFFFFFFFFFFC00, 0xC3FE)), -std::numeric_limits<double>::infinity());
}

TEST(CRVExtended, TinyValuesBecomeDenormalsOrZero) {
    const double denormMin = std::numeric_limits<double>::denorm_min();
    EXPECT_EQ(Decode(Pattern(0x8000000000000000, 0x3BCD)), denormMin);
    EXPECT_EQ(Decode(Pattern(0x8000000000000000, 0x3BCC)), 0.0);       // 2^-1075: tie to even zero
    EXPECT_EQ(Decode(Pattern(0xC000000000000000, 0x3BCC)), denormMin); // 1.5 * 2^-1075
    EXPECT_EQ(Bits(Decode(Pattern(0x8000000000000000, 0xBB00))), Bits(-0.0));
    // Extended denormals (exponent 0) are far below every double.
    EXPECT_EQ(Bits(Decode(Pattern(0x0000000000000001, 0x8000))), Bits(-0.0));
    // Rounding a denormal up into the smallest normal.
    EXPECT_EQ(Decode(Pattern(0xFFFFFFFFFFFFFFFF, 0x3C00)), std::numeric_limits<double>::min());
}

TEST(CRVExtended, EveryDoubleRoundTrips) {
    std::mt19937_64 random(42);
    for (int i = 0; i < 100000; ++i) {
        const double v = std::bit_cast<double>(random());
        if (std::isnan(v))
            continue;
        ASSERT_EQ(Bits(Decode(Encode(v))), Bits(v)) << v;
    }
}

// Where the platform has the x87 format, the codec agrees with the hardware for canonical values.
TEST(CRVExtended, AgreesWithThePlatformExtendedType) {
    if constexpr (std::numeric_limits<long double>::digits != 64) {
        GTEST_SKIP() << "long double is not the 80-bit format here";
    } else {
        std::mt19937_64 random(7);
        for (int i = 0; i < 200000; ++i) {
            auto exponent = static_cast<std::uint16_t>(random() & 0xFFFF);
            if ((random() & 3) == 0) // keep a good share near the double range
                exponent = static_cast<std::uint16_t>((exponent & 0x8000) | (0x3C00 + (random() % 0x800)));
            std::uint64_t mantissa = random();
            const bool denormal = (exponent & 0x7FFF) == 0;
            mantissa =
                denormal ? (mantissa & ~(std::uint64_t{1} << 63)) : (mantissa | (std::uint64_t{1} << 63));
            const TBytes bytes = Pattern(mantissa, exponent);
            long double platform = 0;
            std::memcpy(&platform, bytes.data(), CRVExtendedSize);
            const double expected = static_cast<double>(platform);
            const double actual = Decode(bytes);
            if (std::isnan(expected)) {
                ASSERT_TRUE(std::isnan(actual));
                continue;
            }
            ASSERT_EQ(Bits(actual), Bits(expected)) << std::hex << mantissa << " " << exponent;
            const TBytes encoded = Encode(expected);
            long double back = 0;
            std::memcpy(&back, encoded.data(), CRVExtendedSize);
            ASSERT_EQ(back, static_cast<long double>(expected));
        }
    }
}

} // namespace
