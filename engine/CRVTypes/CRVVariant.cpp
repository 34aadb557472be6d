#include "CRVTypes/CRVVariant.h"

#include "CRVExcept/CRVExcept.h"
#include "CRVTypes/CRVDateTime.h"
#include "CRVTypes/CRVExtended.h"
#include "CRVTypes/CRVText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

using B = TCRVBaseFieldType;

std::string Describe(const TCRVValue& value) {
    struct {
        std::string operator()(std::monostate) const { return "NULL"; }
        std::string operator()(bool v) const { return v ? "True" : "False"; }
        std::string operator()(std::int64_t v) const { return std::to_string(v); }
        std::string operator()(double v) const {
            char buf[32];
            const auto r = std::to_chars(buf, buf + sizeof buf, v);
            return std::string(buf, r.ptr);
        }
        std::string operator()(const std::string& v) const { return v; }
        std::string operator()(const std::u16string& v) const { return CRVUtf16ToUtf8(v); }
        std::string operator()(const std::vector<std::byte>& v) const {
            return "(" + std::to_string(v.size()) + " bytes)";
        }
    } visitor;
    return std::visit(visitor, value);
}

[[noreturn]] void CannotConvert(const TCRVValue& value, TCRVBaseFieldType type) {
    CRVRaiseText(30054, "Cannot convert value '%s' to data type '%s'", Describe(value), BftToStr(type));
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool ToDouble(const TCRVValue& value, double& out) {
    if (const auto* v = std::get_if<bool>(&value))
        return out = *v ? 1 : 0, true;
    if (const auto* v = std::get_if<std::int64_t>(&value))
        return out = static_cast<double>(*v), true;
    if (const auto* v = std::get_if<double>(&value))
        return out = *v, true;
    if (const auto* v = std::get_if<std::string>(&value)) {
        const std::string t = Trimmed(*v);
        const auto r = std::from_chars(t.data(), t.data() + t.size(), out);
        return r.ec == std::errc() && r.ptr == t.data() + t.size() && !t.empty();
    }
    return false;
}

bool ToInt64(const TCRVValue& value, std::int64_t& out) {
    if (const auto* v = std::get_if<bool>(&value))
        return out = *v ? 1 : 0, true;
    if (const auto* v = std::get_if<std::int64_t>(&value))
        return out = *v, true;
    if (const auto* v = std::get_if<double>(&value)) {
        if (!(std::trunc(*v) == *v && std::fabs(*v) < 9.2233720368547758e18))
            return false;
        return out = static_cast<std::int64_t>(*v), true;
    }
    if (const auto* v = std::get_if<std::string>(&value)) {
        const std::string t = Trimmed(*v);
        const auto r = std::from_chars(t.data(), t.data() + t.size(), out);
        return r.ec == std::errc() && r.ptr == t.data() + t.size() && !t.empty();
    }
    return false;
}

template <typename T> std::vector<std::byte> Bytes(T v) {
    std::vector<std::byte> out(sizeof(T));
    std::memcpy(out.data(), &v, sizeof(T));
    return out;
}

template <typename T> T Load(const std::vector<std::byte>& data) {
    T v{};
    std::memcpy(&v, data.data(), std::min(sizeof(T), data.size()));
    return v;
}

std::vector<std::byte> EncodeInteger(TCRVBaseFieldType type, const TCRVValue& value) {
    std::int64_t v = 0;
    if (!ToInt64(value, v))
        CannotConvert(value, type);
    std::int64_t lo = INT64_MIN;
    std::int64_t hi = INT64_MAX;
    switch (type) {
    case B::bftSignedInt8:
        lo = INT8_MIN, hi = INT8_MAX;
        break;
    case B::bftSignedInt16:
        lo = INT16_MIN, hi = INT16_MAX;
        break;
    case B::bftSignedInt32:
        lo = INT32_MIN, hi = INT32_MAX;
        break;
    case B::bftUnsignedInt8:
        lo = 0, hi = UINT8_MAX;
        break;
    case B::bftUnsignedInt16:
        lo = 0, hi = UINT16_MAX;
        break;
    case B::bftUnsignedInt32:
        lo = 0, hi = UINT32_MAX;
        break;
    default:
        break;
    }
    if (v < lo || v > hi)
        CannotConvert(value, type);
    std::vector<std::byte> out = Bytes(v); // little-endian: the low bytes come first
    out.resize(static_cast<std::size_t>(GetDataSizeInMemory(type, 0)));
    return out;
}

std::vector<std::byte> EncodeText(TCRVBaseFieldType type, const TCRVValue& value) {
    std::string text;
    if (const auto* s = std::get_if<std::string>(&value))
        text = *s;
    else if (std::holds_alternative<std::vector<std::byte>>(value) ||
             std::holds_alternative<std::monostate>(value))
        CannotConvert(value, type);
    else
        text = Describe(value);
    if (IsWideStringFieldType(type)) {
        std::u16string wide;
        if (const auto* w = std::get_if<std::u16string>(&value))
            wide = *w;
        else
            wide = CRVUtf8ToUtf16(text);
        std::vector<std::byte> out((wide.size() + 1) * 2);
        for (std::size_t i = 0; i < wide.size(); ++i) {
            out[2 * i] = static_cast<std::byte>(wide[i] & 0xFF);
            out[2 * i + 1] = static_cast<std::byte>(wide[i] >> 8);
        }
        return out;
    }
    std::vector<std::byte> out(text.size() + 1);
    std::memcpy(out.data(), text.data(), text.size());
    return out;
}

std::vector<std::byte> EncodeFloat(TCRVBaseFieldType type, const TCRVValue& value) {
    double v = 0;
    if (!ToDouble(value, v))
        CannotConvert(value, type);
    switch (type) {
    case B::bftSingle:
        return Bytes(static_cast<float>(v));
    case B::bftExtended: {
        std::vector<std::byte> out(CRVExtendedSize);
        CRVDoubleToExtended(v, std::span<std::byte, CRVExtendedSize>(out.data(), CRVExtendedSize));
        return out;
    }
    case B::bftDate:
        return Bytes(DateToCRVDate(v));
    case B::bftTime:
        return Bytes(TimeToCRVTime(v));
    case B::bftDateTime:
        return Bytes(DateTimeToCRVDateTime(v));
    default:
        return Bytes(v);
    }
}

std::u16string DecodeWide(const std::vector<std::byte>& data) {
    std::u16string out;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        const auto unit =
            static_cast<char16_t>(static_cast<unsigned>(data[i]) | (static_cast<unsigned>(data[i + 1]) << 8));
        if (unit == 0)
            break;
        out.push_back(unit);
    }
    return out;
}

} // namespace

std::vector<std::byte> AllocMemAndSetData(TCRVBaseFieldType type, const TCRVValue& value) {
    switch (type) {
    case B::bftChar:
    case B::bftVarchar:
    case B::bftWideChar:
    case B::bftWideVarchar:
        return EncodeText(type, value);
    case B::bftSignedInt8:
    case B::bftSignedInt16:
    case B::bftSignedInt32:
    case B::bftSignedInt64:
    case B::bftUnsignedInt8:
    case B::bftUnsignedInt16:
    case B::bftUnsignedInt32:
        return EncodeInteger(type, value);
    case B::bftSingle:
    case B::bftDouble:
    case B::bftExtended:
    case B::bftCurrency:
    case B::bftDate:
    case B::bftTime:
    case B::bftDateTime:
        return EncodeFloat(type, value);
    case B::bftLogical: {
        std::int64_t v = 0;
        if (!ToInt64(value, v))
            CannotConvert(value, type);
        return Bytes(static_cast<std::uint16_t>(v != 0 ? 1 : 0));
    }
    case B::bftBytes:
    case B::bftVarBytes:
        if (const auto* bytes = std::get_if<std::vector<std::byte>>(&value)) {
            std::vector<std::byte> out(*bytes);
            out.push_back(std::byte{0});
            return out;
        }
        break;
    default:
        break;
    }
    CannotConvert(value, type);
}

TCRVVariant CRVMakeVariant(TCRVBaseFieldType type, const TCRVValue& value) {
    if (std::holds_alternative<std::monostate>(value))
        return TCRVVariant::Null(type);
    const auto* text = std::get_if<std::string>(&value);
    const auto* wide = std::get_if<std::u16string>(&value);
    if ((text && text->empty()) || (wide && wide->empty()))
        return TCRVVariant::Null(type);
    return {type, false, AllocMemAndSetData(type, value)};
}

TCRVValue CRVVariantValue(const TCRVVariant& variant) {
    if (variant.IsNull)
        return std::monostate{};
    const auto& d = variant.Data;
    switch (variant.DataType) {
    case B::bftChar:
    case B::bftVarchar: {
        const auto end = std::find(d.begin(), d.end(), std::byte{0});
        return std::string(reinterpret_cast<const char*>(d.data()),
                           static_cast<std::size_t>(end - d.begin()));
    }
    case B::bftWideChar:
    case B::bftWideVarchar:
        return DecodeWide(d);
    case B::bftSignedInt8:
        return std::int64_t{Load<std::int8_t>(d)};
    case B::bftSignedInt16:
        return std::int64_t{Load<std::int16_t>(d)};
    case B::bftSignedInt32:
        return std::int64_t{Load<std::int32_t>(d)};
    case B::bftSignedInt64:
        return Load<std::int64_t>(d);
    case B::bftUnsignedInt8:
        return std::int64_t{Load<std::uint8_t>(d)};
    case B::bftUnsignedInt16:
        return std::int64_t{Load<std::uint16_t>(d)};
    case B::bftUnsignedInt32:
        return std::int64_t{Load<std::uint32_t>(d)};
    case B::bftSingle:
        return double{Load<float>(d)};
    case B::bftDouble:
    case B::bftCurrency:
        return Load<double>(d);
    case B::bftExtended: {
        std::byte raw[CRVExtendedSize] = {};
        std::memcpy(raw, d.data(), std::min(d.size(), CRVExtendedSize));
        return CRVExtendedToDouble(raw);
    }
    case B::bftDate:
        return CRVDateToDate(Load<std::int32_t>(d));
    case B::bftTime:
        return CRVTimeToTime(Load<std::int32_t>(d));
    case B::bftDateTime:
        return CRVDateTimeToDateTime(Load<TCRVDateTime>(d));
    case B::bftLogical:
        return Load<std::uint16_t>(d) != 0;
    case B::bftBytes:
    case B::bftVarBytes:
        return std::vector<std::byte>(d.begin(), d.empty() ? d.end() : d.end() - 1);
    default:
        break;
    }
    CRVRaiseText(30054, "Cannot read a value of data type '%s'", BftToStr(variant.DataType));
}

TCRVVariant CRVCastVariant(const TCRVVariant& variant, TCRVBaseFieldType type) {
    if (variant.DataType == type)
        return variant;
    return CRVMakeVariant(type, CRVVariantValue(variant));
}

void CRVWriteVariantToField(const TCRVVariant& variant, std::span<std::byte> dest) {
    const std::size_t count = std::min(dest.size(), variant.Data.size());
    std::copy_n(variant.Data.begin(), count, dest.begin());
    std::fill(dest.begin() + static_cast<std::ptrdiff_t>(count), dest.end(), std::byte{0});
    if (variant.Data.size() <= dest.size() || !IsStringFieldType(variant.DataType))
        return;
    if (IsWideStringFieldType(variant.DataType)) {
        std::size_t end = (dest.size() / 2 - 1) * 2; // room for the zero unit
        const auto unitAt = [&](std::size_t i) {
            return static_cast<unsigned>(dest[i]) | (static_cast<unsigned>(dest[i + 1]) << 8);
        };
        if (end >= 2 && unitAt(end - 2) >= 0xD800 && unitAt(end - 2) <= 0xDBFF) // no lone high surrogate
            end -= 2;
        std::fill(dest.begin() + static_cast<std::ptrdiff_t>(end), dest.end(), std::byte{0});
    } else {
        std::size_t end = dest.size() - 1; // room for the zero byte
        if (end > 0) {
            std::size_t start = end - 1; // back to the start of the last kept character
            while (start > 0 && (static_cast<unsigned>(dest[start]) & 0xC0) == 0x80)
                --start;
            if (start + CRVUtf8SequenceLength(static_cast<unsigned char>(dest[start])) > end)
                end = start;
        }
        std::fill(dest.begin() + static_cast<std::ptrdiff_t>(end), dest.end(), std::byte{0});
    }
}
