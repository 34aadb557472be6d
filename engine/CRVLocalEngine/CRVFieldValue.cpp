#include "CRVLocalEngine/CRVFieldValue.h"

#include "CRVExcept/CRVExcept.h"
#include "CRVTypes/CRVRecordLayout.h"
#include "CRVTypes/CRVText.h"

#include <cstring>
#include <sstream>

namespace {

std::span<std::byte> FieldBytes(const TCRVFieldDef& field, std::span<std::byte> record) {
    return record.subspan(static_cast<std::size_t>(field.MemoryOffset),
                          static_cast<std::size_t>(field.MemoryDataSize));
}

bool AsNumber(const TCRVValue& v, double& out) {
    if (const auto* i = std::get_if<std::int64_t>(&v))
        out = static_cast<double>(*i);
    else if (const auto* d = std::get_if<double>(&v))
        out = *d;
    else if (const auto* b = std::get_if<bool>(&v))
        out = *b ? 1 : 0;
    else
        return false;
    return true;
}

template <typename T> int Sign(const T& a, const T& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

} // namespace

TCRVValue CRVGetFieldValue(const TCRVFieldDef& field, std::span<const std::byte> record) {
    if (IsBLOBFieldType(field.BaseFieldType) || CheckNullFlag(field.FieldNoReference, record))
        return std::monostate{};
    const auto bytes = record.subspan(static_cast<std::size_t>(field.MemoryOffset),
                                      static_cast<std::size_t>(field.MemoryDataSize));
    TCRVVariant variant{field.BaseFieldType, false, {bytes.begin(), bytes.end()}};
    return CRVVariantValue(variant);
}

void CRVSetFieldValue(const TCRVFieldDef& field, std::span<std::byte> record, const TCRVValue& value) {
    const TCRVVariant variant = CRVMakeVariant(field.BaseFieldType, value);
    if (variant.IsNull) {
        SetNullFlag(true, field.FieldNoReference, record);
        return;
    }
    CRVWriteVariantToField(variant, FieldBytes(field, record));
    SetNullFlag(false, field.FieldNoReference, record);
}

int CRVCompareValues(const TCRVValue& a, const TCRVValue& b) {
    double x = 0, y = 0;
    if (std::holds_alternative<std::int64_t>(a) && std::holds_alternative<std::int64_t>(b))
        return Sign(std::get<std::int64_t>(a), std::get<std::int64_t>(b));
    if (AsNumber(a, x) && AsNumber(b, y))
        return Sign(x, y);
    if (std::holds_alternative<std::string>(a) && std::holds_alternative<std::string>(b))
        return Sign(std::get<std::string>(a), std::get<std::string>(b));
    if (std::holds_alternative<std::u16string>(a) && std::holds_alternative<std::u16string>(b))
        return Sign(std::get<std::u16string>(a), std::get<std::u16string>(b));
    if (std::holds_alternative<std::vector<std::byte>>(a) &&
        std::holds_alternative<std::vector<std::byte>>(b))
        return Sign(std::get<std::vector<std::byte>>(a), std::get<std::vector<std::byte>>(b));
    CRVRaise(30054);
}

std::string CRVValueToText(const TCRVValue& value) {
    if (const auto* s = std::get_if<std::string>(&value))
        return *s;
    if (const auto* w = std::get_if<std::u16string>(&value))
        return CRVUtf16ToUtf8(*w);
    if (const auto* i = std::get_if<std::int64_t>(&value))
        return std::to_string(*i);
    if (const auto* b = std::get_if<bool>(&value))
        return *b ? "True" : "False";
    if (const auto* d = std::get_if<double>(&value)) {
        std::ostringstream out;
        out.precision(15);
        out << *d;
        return out.str();
    }
    if (std::holds_alternative<std::vector<std::byte>>(value))
        return "(bytes)";
    return "";
}
