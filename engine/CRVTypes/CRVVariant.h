// Values outside a record: the self-describing variant stored for defaults and check limits,
// and the conversion of a plain value into a type's memory encoding.
#pragma once

#include "CRVTypes/CRVFieldTypes.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

// A plain value as the dataset layer hands it: nothing, a Boolean, an integer, a floating-point
// number (also a day count for the date and time types), single-byte (UTF-8) text, UTF-16 text
// or bytes.
using TCRVValue = std::variant<std::monostate, bool, std::int64_t, double, std::string, std::u16string,
                               std::vector<std::byte>>;

// A value in the memory encoding of its base type. Stored as: u8 DataType, u8 IsNull, and when
// not null an i32 DataSize and DataSize bytes.
struct TCRVVariant {
    TCRVBaseFieldType DataType = TCRVBaseFieldType::bftUnknown;
    bool IsNull = true;
    std::vector<std::byte> Data;

    std::int32_t DataSize() const { return static_cast<std::int32_t>(Data.size()); }
    static TCRVVariant Null(TCRVBaseFieldType type) { return {type, true, {}}; }
    friend bool operator==(const TCRVVariant&, const TCRVVariant&) = default;
};

// The value in the memory encoding of `type`; for the string and bytes types the size follows the
// value's length (plus the terminator). A value that cannot be given that type, or a type without
// a value encoding (BLOBs), raises 30054.
std::vector<std::byte> AllocMemAndSetData(TCRVBaseFieldType type, const TCRVValue& value);
// A variant of `type` holding `value`; an absent value, or an empty text, gives a null variant.
TCRVVariant CRVMakeVariant(TCRVBaseFieldType type, const TCRVValue& value);
// The plain value a variant holds (std::monostate for a null one).
TCRVValue CRVVariantValue(const TCRVVariant& variant);
// The variant converted to `type`.
TCRVVariant CRVCastVariant(const TCRVVariant& variant, TCRVBaseFieldType type);
// Writes a non-null variant of the field's base type into a field's `dest` bytes: fixed-size
// values whole, text and bytes cut to the field (text keeps its terminator and whole characters),
// the rest of the field zeroed.
void CRVWriteVariantToField(const TCRVVariant& variant, std::span<std::byte> dest);
