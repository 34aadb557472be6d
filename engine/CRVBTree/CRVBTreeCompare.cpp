#include "CRVBTree/CRVBTreeCompare.h"

#include "CRVExcept/CRVExcept.h"
#include "CRVTypes/CRVExtended.h"

#include <cstring>
#include <span>
#include <string>
#include <string_view>

namespace {

template <typename T> T Read(const std::uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename T> int Order(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

std::string_view Text(const TCRVValueBuffer& v) {
    const std::string_view s(reinterpret_cast<const char*>(v.Data), v.Size);
    const auto z = s.find('\0');
    return z == std::string_view::npos ? s : s.substr(0, z);
}

std::u16string WideText(const TCRVValueBuffer& v) {
    std::u16string s(v.Size / 2, u'\0');
    std::memcpy(s.data(), v.Data, s.size() * 2);
    const auto z = s.find(u'\0');
    if (z != std::u16string::npos)
        s.resize(z);
    return s;
}

double ReadExtended(const std::uint8_t* p) {
    return CRVExtendedToDouble(
        std::span<const std::byte, CRVExtendedSize>(reinterpret_cast<const std::byte*>(p), CRVExtendedSize));
}

int CompareBytesValues(const TCRVValueBuffer& a, const TCRVValueBuffer& b, bool caseInsensitive,
                       std::ptrdiff_t compareLength, const TCRVCollation& collation) {
    const std::string_view sa = Text(a), sb = Text(b);
    const int r = collation.Compare(sa, sb, caseInsensitive, compareLength);
    if (r != 0 || caseInsensitive || compareLength >= 0)
        return r;
    return Order(sa, sb);
}

int CompareNonNull(const TCRVValueBuffer& a, const TCRVValueBuffer& b, TCRVBaseFieldType type, bool ci,
                   std::ptrdiff_t compareLength, const TCRVCollation& collation) {
    using enum TCRVBaseFieldType;
    const std::uint8_t* x = a.Data;
    const std::uint8_t* y = b.Data;
    switch (type) {
    case bftChar:
    case bftVarchar: // the text order stops at the terminating zero itself
        return collation.Compare(std::string_view(reinterpret_cast<const char*>(x), a.Size),
                                 std::string_view(reinterpret_cast<const char*>(y), b.Size), ci,
                                 compareLength);
    case bftBytes:
    case bftVarBytes:
        return CompareBytesValues(a, b, ci, compareLength, collation);
    case bftWideChar:
    case bftWideVarchar:
        return collation.CompareWide(WideText(a), WideText(b), ci, compareLength);
    case bftSignedInt8:
        return Order(Read<std::int8_t>(x), Read<std::int8_t>(y));
    case bftSignedInt16:
        return Order(Read<std::int16_t>(x), Read<std::int16_t>(y));
    case bftSignedInt32:
    case bftDate:
    case bftTime:
        return Order(Read<std::int32_t>(x), Read<std::int32_t>(y));
    case bftSignedInt64:
        return Order(Read<std::int64_t>(x), Read<std::int64_t>(y));
    case bftUnsignedInt8:
        return Order(Read<std::uint8_t>(x), Read<std::uint8_t>(y));
    case bftUnsignedInt16:
        return Order(Read<std::uint16_t>(x), Read<std::uint16_t>(y));
    case bftUnsignedInt32:
        return Order(Read<std::uint32_t>(x), Read<std::uint32_t>(y));
    case bftSingle:
        return Order(Read<float>(x), Read<float>(y));
    case bftDouble:
    case bftCurrency:
        return Order(Read<double>(x), Read<double>(y));
    case bftExtended:
        return Order(ReadExtended(x), ReadExtended(y));
    case bftDateTime:
        if (const int d = Order(Read<std::int32_t>(x), Read<std::int32_t>(y)); d != 0)
            return d;
        return Order(Read<std::int32_t>(x + 4), Read<std::int32_t>(y + 4));
    case bftLogical:
        return Order(Read<std::uint16_t>(x) != 0, Read<std::uint16_t>(y) != 0);
    default:
        CRVRaise(30047, std::string(BftToStr(type)));
    }
}

} // namespace

bool CRVIsIndexableBaseType(TCRVBaseFieldType dataType) {
    using enum TCRVBaseFieldType;
    return dataType != bftUnknown && dataType != bftBFile && !IsBLOBFieldType(dataType) &&
           static_cast<int>(dataType) <= static_cast<int>(bftVarBytes);
}

TCRVCompareResult CompareValueBuffers(const TCRVValueBuffer& left, const TCRVValueBuffer& right,
                                      TCRVBaseFieldType dataType, bool caseInsensitive,
                                      std::ptrdiff_t compareLength, const TCRVCollation& collation) {
    if (left.IsNull && right.IsNull)
        return cmprBothNull;
    if (left.IsNull)
        return cmprLeftNull;
    if (right.IsNull)
        return cmprRightNull;
    const int r = CompareNonNull(left, right, dataType, caseInsensitive, compareLength, collation);
    return r < 0 ? cmprLower : (r > 0 ? cmprGreater : cmprEqual);
}

int CompareValueBuffersForOrder(const TCRVValueBuffer& left, const TCRVValueBuffer& right,
                                TCRVBaseFieldType dataType, bool caseInsensitive,
                                std::ptrdiff_t compareLength, const TCRVCollation& collation) {
    switch (CompareValueBuffers(left, right, dataType, caseInsensitive, compareLength, collation)) {
    case cmprLower:
    case cmprLeftNull:
        return -1;
    case cmprGreater:
    case cmprRightNull:
        return 1;
    default:
        return 0;
    }
}
