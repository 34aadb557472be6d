#include "CRVBTree/CRVBTreeCompare.h"
#include "CRVExcept/CRVExcept.h"
#include "CRVTypes/CRVExtended.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using enum TCRVBaseFieldType;

template <typename T> std::vector<std::uint8_t> Bytes(T value) {
    std::vector<std::uint8_t> b(sizeof value);
    std::memcpy(b.data(), &value, sizeof value);
    return b;
}

std::vector<std::uint8_t> Text(const std::string& s, std::size_t size = 12) {
    std::vector<std::uint8_t> b(size, 0);
    std::memcpy(b.data(), s.data(), std::min(s.size(), size - 1));
    return b;
}

std::vector<std::uint8_t> Wide(const std::u16string& s) {
    std::vector<std::uint8_t> b((s.size() + 1) * 2, 0);
    std::memcpy(b.data(), s.data(), s.size() * 2);
    return b;
}

std::vector<std::uint8_t> Extended(double v) {
    std::vector<std::uint8_t> b(CRVExtendedSize);
    CRVDoubleToExtended(
        v, std::span<std::byte, CRVExtendedSize>(reinterpret_cast<std::byte*>(b.data()), CRVExtendedSize));
    return b;
}

std::vector<std::uint8_t> DateTime(std::int32_t date, std::int32_t time) {
    std::vector<std::uint8_t> b = Bytes(date);
    const auto t = Bytes(time);
    b.insert(b.end(), t.begin(), t.end());
    return b;
}

struct TCase {
    const char* Name;
    TCRVBaseFieldType Type;
    std::vector<std::uint8_t> Left, Right;
    TCRVCompareResult Expected;
    bool CaseInsensitive = false;
    std::ptrdiff_t CompareLength = -1;
};

TEST(ValueCompareTest, EachBaseTypeInItsOwnOrder) {
    const std::vector<TCase> cases = {
        {"int8 signed", bftSignedInt8, Bytes<std::int8_t>(-1), Bytes<std::int8_t>(1), cmprLower},
        {"int16 signed", bftSignedInt16, Bytes<std::int16_t>(-300), Bytes<std::int16_t>(2), cmprLower},
        {"int32 signed", bftSignedInt32, Bytes<std::int32_t>(7), Bytes<std::int32_t>(-7), cmprGreater},
        {"int64 signed", bftSignedInt64, Bytes<std::int64_t>(-(1LL << 40)), Bytes<std::int64_t>(1),
         cmprLower},
        {"uint8 unsigned", bftUnsignedInt8, Bytes<std::uint8_t>(200), Bytes<std::uint8_t>(100), cmprGreater},
        {"uint16 unsigned", bftUnsignedInt16, Bytes<std::uint16_t>(0x8000), Bytes<std::uint16_t>(1),
         cmprGreater},
        {"uint32 unsigned", bftUnsignedInt32, Bytes<std::uint32_t>(0xFFFFFFFF), Bytes<std::uint32_t>(1),
         cmprGreater},
        {"date signed", bftDate, Bytes<std::int32_t>(-5), Bytes<std::int32_t>(3), cmprLower},
        {"time", bftTime, Bytes<std::int32_t>(1000), Bytes<std::int32_t>(1000), cmprEqual},
        {"single", bftSingle, Bytes(-0.5f), Bytes(0.25f), cmprLower},
        {"double", bftDouble, Bytes(1e300), Bytes(-1e300), cmprGreater},
        {"currency as double", bftCurrency, Bytes(12.5), Bytes(12.25), cmprGreater},
        {"extended", bftExtended, Extended(1.5), Extended(2.5), cmprLower},
        {"date-time by date first", bftDateTime, DateTime(10, 0), DateTime(9, 5000), cmprGreater},
        {"date-time then time", bftDateTime, DateTime(10, -1), DateTime(10, 0), cmprLower},
        {"logical", bftLogical, Bytes<std::uint16_t>(0), Bytes<std::uint16_t>(5), cmprLower},
        {"logical non-zero is true", bftLogical, Bytes<std::uint16_t>(2), Bytes<std::uint16_t>(1), cmprEqual},
        {"lower case first", bftVarchar, Text("abc"), Text("ABC"), cmprLower},
        {"case folded", bftVarchar, Text("abc"), Text("ABC"), cmprEqual, true},
        {"punctuation counts", bftChar, Text("a-c"), Text("ab"), cmprLower},
        {"digits before letters", bftChar, Text("9"), Text("A"), cmprLower},
        {"shorter first", bftVarchar, Text("AB"), Text("ABC"), cmprLower},
        {"compare length", bftVarchar, Text("abX"), Text("abY"), cmprEqual, false, 2},
        {"wide", bftWideVarchar, Wide(u"abc"), Wide(u"abd"), cmprLower},
        {"wide case folded", bftWideChar, Wide(u"\u00c4x"), Wide(u"\u00e4X"), cmprEqual, true},
        {"bytes", bftBytes, Text("\x01\x02"), Text("\x01\x03"), cmprLower},
        {"bytes that are no text", bftBytes, Text("\x80"), Text("\x81"), cmprLower},
        {"var bytes like bytes", bftVarBytes, Text("\x81"), Text("\x80"), cmprGreater},
    };
    const TCRVCollation collation;
    for (const TCase& c : cases) {
        const TCRVValueBuffer l{c.Left.data(), c.Left.size(), false},
            r{c.Right.data(), c.Right.size(), false};
        EXPECT_EQ(CompareValueBuffers(l, r, c.Type, c.CaseInsensitive, c.CompareLength, collation),
                  c.Expected)
            << c.Name;
        // The mirror image answers the other way.
        const int order =
            CompareValueBuffersForOrder(r, l, c.Type, c.CaseInsensitive, c.CompareLength, collation);
        EXPECT_EQ(order, c.Expected == cmprEqual ? 0 : (c.Expected == cmprLower ? 1 : -1)) << c.Name;
    }
}

TEST(ValueCompareTest, BytesTheTextOrderCannotTellApartAreOrderedByTheirBytes) {
    const TCRVCollation collation;
    ASSERT_EQ(collation.Compare("\x80", "\x81", false), 0); // neither is text: both weigh the same
    const auto a = Text("\x80"), b = Text("\x81");
    const TCRVValueBuffer l{a.data(), a.size(), false}, r{b.data(), b.size(), false};
    EXPECT_EQ(CompareValueBuffers(l, r, bftBytes, false, -1, collation), cmprLower);
    EXPECT_EQ(CompareValueBuffers(l, r, bftVarchar, false, -1, collation), cmprEqual);
}

TEST(ValueCompareTest, NullSortsFirstAndEqualsNull) {
    const TCRVCollation collation;
    const auto v = Bytes<std::int32_t>(INT32_MIN);
    const TCRVValueBuffer value{v.data(), v.size(), false}, null{v.data(), v.size(), true};
    const auto t = bftSignedInt32;
    EXPECT_EQ(CompareValueBuffers(null, value, t, false, -1, collation), cmprLeftNull);
    EXPECT_EQ(CompareValueBuffers(value, null, t, false, -1, collation), cmprRightNull);
    EXPECT_EQ(CompareValueBuffers(null, null, t, false, -1, collation), cmprBothNull);
    EXPECT_EQ(CompareValueBuffersForOrder(null, value, t, false, -1, collation), -1);
    EXPECT_EQ(CompareValueBuffersForOrder(value, null, t, false, -1, collation), 1);
    EXPECT_EQ(CompareValueBuffersForOrder(null, null, t, false, -1, collation), 0);
}

TEST(ValueCompareTest, TypesWithoutAnOrderAreRefused) {
    const TCRVCollation collation;
    const auto v = Bytes<std::int32_t>(1);
    const TCRVValueBuffer b{v.data(), v.size(), false};
    try {
        CompareValueBuffers(b, b, bftBlob, false, -1, collation);
        FAIL() << "no error";
    } catch (const ECRVException& e) {
        EXPECT_EQ(e.NativeErrorCode(), 30047);
        EXPECT_NE(std::string(e.what()).find("Unknown DataType"), std::string::npos);
    }
    EXPECT_FALSE(CRVIsIndexableBaseType(bftClob));
    EXPECT_TRUE(CRVIsIndexableBaseType(bftVarBytes));
}

} // namespace
