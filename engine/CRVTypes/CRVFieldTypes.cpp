#include "CRVTypes/CRVFieldTypes.h"

#include "CRVExcept/CRVExcept.h"

#include <array>
#include <climits>
#include <string>

namespace {

using A = TCRVAdvancedFieldType;
using B = TCRVBaseFieldType;
using K = TCRVDataSetFieldKind;

// The type table: 62 rows, searched from the top.
//
// Rows follow the advanced type codes, with one exception: where two types share a dataset kind
// and one holds more values (SHORTINT/SMALLINT for small integer, BYTE/WORD for word,
// SINGLE/DOUBLE for float), the wider type's rows come first, so that a dataset field maps to a
// type that holds every value it can carry. No search by advanced or base type sees the swap
// (the swapped types differ in both).
constexpr std::array<TCRVTypeTableRow, 62> KTypeTable{{
    {A::aftChar, B::bftChar, K::ftFixedChar, "CHAR"},
    {A::aftChar, B::bftChar, K::ftFixedChar, "FIXEDCHAR"},
    {A::aftString, B::bftVarchar, K::ftString, "STRING"},
    {A::aftString, B::bftVarchar, K::ftString, "VARCHAR"},
    {A::aftString, B::bftVarchar, K::ftString, "VARCHAR2"},
    {A::aftWideChar, B::bftWideChar, K::ftWideString, "WIDECHAR"},
    {A::aftWideChar, B::bftWideChar, K::ftWideString, "FIXEDWIDECHAR"},
    {A::aftWideString, B::bftWideVarchar, K::ftWideString, "WIDESTRING"},
    {A::aftWideString, B::bftWideVarchar, K::ftWideString, "WIDEVARCHAR"},
    {A::aftSmallint, B::bftSignedInt16, K::ftSmallint, "SMALLINT"},
    {A::aftSmallint, B::bftSignedInt16, K::ftSmallint, "SIGNEDINT16"},
    {A::aftShortint, B::bftSignedInt8, K::ftSmallint, "SHORTINT"},
    {A::aftShortint, B::bftSignedInt8, K::ftSmallint, "SIGNEDINT8"},
    {A::aftInteger, B::bftSignedInt32, K::ftInteger, "INTEGER"},
    {A::aftInteger, B::bftSignedInt32, K::ftInteger, "SIGNEDINT32"},
    {A::aftLargeint, B::bftSignedInt64, K::ftLargeint, "LARGEINT"},
    {A::aftLargeint, B::bftSignedInt64, K::ftLargeint, "INT64"},
    {A::aftLargeint, B::bftSignedInt64, K::ftLargeint, "SIGNEDINT64"},
    {A::aftWord, B::bftUnsignedInt16, K::ftWord, "WORD"},
    {A::aftWord, B::bftUnsignedInt16, K::ftWord, "UNSIGNEDINT16"},
    {A::aftByte, B::bftUnsignedInt8, K::ftWord, "BYTE"},
    {A::aftByte, B::bftUnsignedInt8, K::ftWord, "UNSIGNEDINT8"},
    {A::aftCardinal, B::bftUnsignedInt32, K::ftLargeint, "CARDINAL"},
    {A::aftCardinal, B::bftUnsignedInt32, K::ftLargeint, "UNSIGNEDINT32"},
    {A::aftAutoInc, B::bftSignedInt32, K::ftAutoInc, "AUTOINC"},
    {A::aftAutoIncShortint, B::bftSignedInt8, K::ftAutoInc, "AUTOINCSHORTINT"},
    {A::aftAutoIncSmallint, B::bftSignedInt16, K::ftAutoInc, "AUTOINCSMALLINT"},
    {A::aftAutoIncInteger, B::bftSignedInt32, K::ftAutoInc, "AUTOINCINTEGER"},
    {A::aftAutoIncLargeint, B::bftSignedInt64, K::ftLargeint, "AUTOINCLARGEINT"},
    {A::aftAutoIncByte, B::bftUnsignedInt8, K::ftAutoInc, "AUTOINCBYTE"},
    {A::aftAutoIncWord, B::bftUnsignedInt16, K::ftAutoInc, "AUTOINCWORD"},
    {A::aftAutoIncCardinal, B::bftUnsignedInt32, K::ftAutoInc, "AUTOINCCARDINAL"},
    {A::aftDouble, B::bftDouble, K::ftFloat, "FLOAT"},
    {A::aftDouble, B::bftDouble, K::ftBCD, "FLOAT"},
    {A::aftDouble, B::bftDouble, K::ftFloat, "DOUBLE"},
    {A::aftSingle, B::bftSingle, K::ftFloat, "SINGLE"},
    {A::aftExtended, B::bftExtended, K::ftFloat, "EXTENDED"},
    {A::aftBoolean, B::bftLogical, K::ftBoolean, "LOGICAL"},
    {A::aftBoolean, B::bftLogical, K::ftBoolean, "BOOLEAN"},
    {A::aftBoolean, B::bftLogical, K::ftBoolean, "BOOL"},
    {A::aftBoolean, B::bftLogical, K::ftBoolean, "BIT"},
    {A::aftCurrency, B::bftCurrency, K::ftCurrency, "CURRENCY"},
    {A::aftCurrency, B::bftCurrency, K::ftCurrency, "MONEY"},
    {A::aftDate, B::bftDate, K::ftDate, "DATE"},
    {A::aftTime, B::bftTime, K::ftTime, "TIME"},
    {A::aftDateTime, B::bftDateTime, K::ftDateTime, "DATETIME"},
    {A::aftTimeStamp, B::bftDateTime, K::ftTimeStamp, "TIMESTAMP"},
    {A::aftBytes, B::bftBytes, K::ftBytes, "BYTES"},
    {A::aftVarBytes, B::bftVarBytes, K::ftVarBytes, "VARBYTES"},
    {A::aftBlob, B::bftBlob, K::ftBlob, "BLOB"},
    {A::aftBlob, B::bftBlob, K::ftParadoxOle, "BLOB"},
    {A::aftBlob, B::bftBlob, K::ftDBaseOle, "BLOB"},
    {A::aftBlob, B::bftBlob, K::ftTypedBinary, "BLOB"},
    {A::aftBlob, B::bftBlob, K::ftOraBlob, "BLOB"},
    {A::aftBlob, B::bftBlob, K::ftOraClob, "BLOB"},
    {A::aftGraphic, B::bftBlob, K::ftGraphic, "GRAPHIC"},
    {A::aftMemo, B::bftClob, K::ftMemo, "MEMO"},
    {A::aftMemo, B::bftClob, K::ftMemo, "CLOB"},
    {A::aftFormattedMemo, B::bftClob, K::ftFmtMemo, "FORMATTEDMEMO"},
    {A::aftWideMemo, B::bftWideClob, K::ftWideMemo, "WIDEMEMO"},
    {A::aftWideMemo, B::bftWideClob, K::ftWideMemo, "WIDECLOB"},
    {A::aftGuid, B::bftChar, K::ftGuid, "GUID"},
}};

template <typename TPred> const TCRVTypeTableRow* FindRow(TPred pred) {
    for (const TCRVTypeTableRow& row : KTypeTable)
        if (pred(row))
            return &row;
    return nullptr;
}

constexpr std::uint8_t Code(TCRVBaseFieldType bft) {
    return static_cast<std::uint8_t>(bft);
}
constexpr std::uint8_t Code(TCRVAdvancedFieldType aft) {
    return static_cast<std::uint8_t>(aft);
}
constexpr bool InRange(std::uint8_t v, std::uint8_t lo, std::uint8_t hi) {
    return v >= lo && v <= hi;
}

} // namespace

std::span<const TCRVTypeTableRow> CRVTypeTable() {
    return KTypeTable;
}

TCRVBaseFieldType AdvancedFieldTypeToBaseFieldType(TCRVAdvancedFieldType aft) {
    const auto* row = FindRow([aft](const TCRVTypeTableRow& r) { return r.AdvancedType == aft; });
    return row ? row->BaseType : B::bftUnknown;
}

TCRVAdvancedFieldType BaseFieldTypeToAdvancedFieldType(TCRVBaseFieldType bft) {
    const auto* row = FindRow([bft](const TCRVTypeTableRow& r) { return r.BaseType == bft; });
    return row ? row->AdvancedType : A::aftUnknown;
}

TCRVAdvancedFieldType FieldTypeToCRVAdvFieldType(TCRVDataSetFieldKind kind) {
    const auto* row = FindRow([kind](const TCRVTypeTableRow& r) { return r.FieldKind == kind; });
    if (!row)
        CRVRaise(30289, std::to_string(static_cast<int>(kind)));
    return row->AdvancedType;
}

TCRVDataSetFieldKind CRVAdvFieldTypeToFieldType(TCRVAdvancedFieldType aft) {
    const auto* row = FindRow([aft](const TCRVTypeTableRow& r) { return r.AdvancedType == aft; });
    return row ? row->FieldKind : K::ftUnknown;
}

std::string_view AftToStr(TCRVAdvancedFieldType aft) {
    const auto* row = FindRow([aft](const TCRVTypeTableRow& r) { return r.AdvancedType == aft; });
    return row ? row->TypeName : std::string_view("Unknown");
}

std::string_view BftToStr(TCRVBaseFieldType bft) {
    const auto* row = FindRow([bft](const TCRVTypeTableRow& r) { return r.BaseType == bft; });
    return row ? row->TypeName : std::string_view("Unknown");
}

bool IsBLOBFieldType(TCRVBaseFieldType bft) {
    return InRange(Code(bft), 18, 20);
}
bool IsStringFieldType(TCRVBaseFieldType bft) {
    return InRange(Code(bft), 1, 4);
}
bool IsWideStringFieldType(TCRVBaseFieldType bft) {
    return bft == B::bftWideChar || bft == B::bftWideVarchar;
}
bool IsNumericFieldType(TCRVBaseFieldType bft) {
    return InRange(Code(bft), 5, 14) || Code(bft) == 22;
}
bool IsDateTimeFieldType(TCRVBaseFieldType bft) {
    return InRange(Code(bft), 15, 17);
}

bool IsBLOBFieldType(TCRVAdvancedFieldType aft) {
    return InRange(Code(aft), 31, 35);
}
bool IsStringFieldType(TCRVAdvancedFieldType aft) {
    return InRange(Code(aft), 1, 4) || Code(aft) == 36;
}
bool IsWideStringFieldType(TCRVAdvancedFieldType aft) {
    return InRange(Code(aft), 3, 4);
}
bool IsBytesFieldType(TCRVAdvancedFieldType aft) {
    return InRange(Code(aft), 29, 30);
}
bool IsAutoincFieldType(TCRVAdvancedFieldType aft) {
    return InRange(Code(aft), 12, 19);
}
bool IsSizebleFieldType(TCRVAdvancedFieldType aft) {
    return (IsStringFieldType(aft) || IsBytesFieldType(aft)) && aft != A::aftGuid;
}
bool IsConvertableFieldType(TCRVAdvancedFieldType aft) {
    return InRange(Code(aft), 1, 28) || InRange(Code(aft), 33, 35);
}
bool IsSignedIntegerFieldType(TCRVBaseFieldType bft) {
    return InRange(Code(bft), 5, 8);
}

namespace {

// The size of a sized type; a negative size, or one whose bytes do not fit an i32, is refused.
std::int32_t SizedDataSize(TCRVBaseFieldType bft, std::int32_t fieldSize, std::int64_t unit) {
    const std::int64_t bytes = (static_cast<std::int64_t>(fieldSize) + 1) * unit;
    if (fieldSize < 0 || bytes > INT32_MAX)
        CRVRaiseText(30050, "Invalid field size %d for data type '%s'", fieldSize, BftToStr(bft));
    return static_cast<std::int32_t>(bytes);
}

} // namespace

std::int32_t GetDataSizeInMemory(TCRVBaseFieldType bft, std::int32_t fieldSize) {
    switch (bft) {
    case B::bftChar:
    case B::bftVarchar:
    case B::bftBytes:
    case B::bftVarBytes:
        return SizedDataSize(bft, fieldSize, 1);
    case B::bftWideChar:
    case B::bftWideVarchar:
        return SizedDataSize(bft, fieldSize, 2);
    case B::bftSignedInt8:
    case B::bftUnsignedInt8:
        return 1;
    case B::bftSignedInt16:
    case B::bftUnsignedInt16:
    case B::bftLogical:
        return 2;
    case B::bftSignedInt32:
    case B::bftUnsignedInt32:
    case B::bftSingle:
    case B::bftDate:
    case B::bftTime:
        return 4;
    case B::bftSignedInt64:
    case B::bftDouble:
    case B::bftCurrency:
    case B::bftDateTime:
        return 8;
    case B::bftExtended:
        return 10;
    case B::bftBlob:
    case B::bftClob:
    case B::bftWideClob:
        return CRVBlobReferenceMemorySize;
    case B::bftUnknown:
    case B::bftBFile:
        break;
    }
    CRVRaise(30050, BftToStr(bft));
}

std::int32_t GetDataSizeOnDisk(TCRVBaseFieldType bft, std::int32_t fieldSize) {
    return IsBLOBFieldType(bft) ? CRVBlobReferenceDiskSize : GetDataSizeInMemory(bft, fieldSize);
}
