// The engine's field type system.
//
// Every field carries two one-byte type codes: the advanced field type (the declared type) and
// the base field type (the storage class that decides size, encoding and comparison). One type
// table relates them to each other and to the kinds of field the dataset layer knows; every
// mapping below is a first-match search of that table from its top.
//
// Sizes and encodings of a value in a memory record (GetDataSizeInMemory):
//   bftChar, bftVarchar           FieldSize + 1     single-byte text (UTF-8), zero-terminated
//   bftWideChar, bftWideVarchar   (FieldSize+1)*2   UTF-16LE code units, zero-terminated
//   bftSignedInt8..64             1 / 2 / 4 / 8     two's complement
//   bftUnsignedInt8..32           1 / 2 / 4         unsigned
//   bftSingle / bftDouble         4 / 8             IEEE 754 binary32 / binary64
//   bftExtended                   10                x87 80-bit extended (see CRVExtended.h)
//   bftCurrency                   8                 IEEE 754 binary64
//   bftDate / bftTime             4 / 4             day number / milliseconds (see CRVDateTime.h)
//   bftDateTime                   8                 date, then time
//   bftLogical                    2                 0 false, 1 true written, non-zero read as true
//   bftBytes, bftVarBytes         FieldSize + 1     raw bytes
//   bftBlob, bftClob, bftWideClob 10 in memory      BLOB reference (6 bytes) + 4 cache bytes;
//                                 6 on disk
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

enum class TCRVBaseFieldType : std::uint8_t {
    bftUnknown = 0,
    bftChar = 1,
    bftWideChar = 2,
    bftVarchar = 3,
    bftWideVarchar = 4,
    bftSignedInt8 = 5,
    bftSignedInt16 = 6,
    bftSignedInt32 = 7,
    bftSignedInt64 = 8,
    bftUnsignedInt8 = 9,
    bftUnsignedInt16 = 10,
    bftUnsignedInt32 = 11,
    bftSingle = 12,
    bftDouble = 13,
    bftExtended = 14,
    bftDate = 15,
    bftTime = 16,
    bftDateTime = 17,
    bftBlob = 18,
    bftClob = 19,
    bftWideClob = 20,
    bftLogical = 21,
    bftCurrency = 22,
    bftBytes = 23,
    bftVarBytes = 24,
    bftBFile = 25, // never used: no table row, no size
};

enum class TCRVAdvancedFieldType : std::uint8_t {
    aftUnknown = 0,
    aftChar = 1,
    aftString = 2,
    aftWideChar = 3,
    aftWideString = 4,
    aftShortint = 5,
    aftSmallint = 6,
    aftInteger = 7,
    aftLargeint = 8,
    aftByte = 9,
    aftWord = 10,
    aftCardinal = 11,
    aftAutoInc = 12,
    aftAutoIncShortint = 13,
    aftAutoIncSmallint = 14,
    aftAutoIncInteger = 15,
    aftAutoIncLargeint = 16,
    aftAutoIncByte = 17,
    aftAutoIncWord = 18,
    aftAutoIncCardinal = 19,
    aftSingle = 20,
    aftDouble = 21,
    aftExtended = 22,
    aftBoolean = 23,
    aftCurrency = 24,
    aftDate = 25,
    aftTime = 26,
    aftDateTime = 27,
    aftTimeStamp = 28,
    aftBytes = 29,
    aftVarBytes = 30,
    aftBlob = 31,
    aftGraphic = 32,
    aftMemo = 33,
    aftFormattedMemo = 34,
    aftWideMemo = 35,
    aftGuid = 36,
};

// The kinds of field the dataset layer knows. The numbers are the dataset framework's own (they
// appear in error 30289); only the kinds the type table names, plus ftUnknown, are listed.
enum class TCRVDataSetFieldKind : std::uint8_t {
    ftUnknown = 0,
    ftString = 1,
    ftSmallint = 2,
    ftInteger = 3,
    ftWord = 4,
    ftBoolean = 5,
    ftFloat = 6,
    ftCurrency = 7,
    ftBCD = 8,
    ftDate = 9,
    ftTime = 10,
    ftDateTime = 11,
    ftBytes = 12,
    ftVarBytes = 13,
    ftAutoInc = 14,
    ftBlob = 15,
    ftMemo = 16,
    ftGraphic = 17,
    ftFmtMemo = 18,
    ftParadoxOle = 19,
    ftDBaseOle = 20,
    ftTypedBinary = 21,
    ftFixedChar = 23,
    ftWideString = 24,
    ftLargeint = 25,
    ftOraBlob = 30,
    ftOraClob = 31,
    ftGuid = 35,
    ftTimeStamp = 36,
    ftWideMemo = 39,
};

// One row of the type table.
struct TCRVTypeTableRow {
    TCRVAdvancedFieldType AdvancedType;
    TCRVBaseFieldType BaseType;
    TCRVDataSetFieldKind FieldKind;
    std::string_view TypeName;
};

// The whole type table, in search order.
std::span<const TCRVTypeTableRow> CRVTypeTable();

// --- Mappings (first table row that matches) ---

// Advanced type -> base type; bftUnknown when no row has it.
TCRVBaseFieldType AdvancedFieldTypeToBaseFieldType(TCRVAdvancedFieldType aft);
// Base type -> advanced type; aftUnknown when no row has it.
TCRVAdvancedFieldType BaseFieldTypeToAdvancedFieldType(TCRVBaseFieldType bft);
// Dataset field kind -> advanced type; a kind with no row raises 30289.
TCRVAdvancedFieldType FieldTypeToCRVAdvFieldType(TCRVDataSetFieldKind kind);
// Advanced type -> dataset field kind; ftUnknown when no row has it.
TCRVDataSetFieldKind CRVAdvFieldTypeToFieldType(TCRVAdvancedFieldType aft);
// The first type name of a type, or "Unknown".
std::string_view AftToStr(TCRVAdvancedFieldType aft);
std::string_view BftToStr(TCRVBaseFieldType bft);

// --- Classification predicates ---

// On the base type.
bool IsBLOBFieldType(TCRVBaseFieldType bft);
bool IsStringFieldType(TCRVBaseFieldType bft);
bool IsWideStringFieldType(TCRVBaseFieldType bft);
bool IsNumericFieldType(TCRVBaseFieldType bft);
bool IsDateTimeFieldType(TCRVBaseFieldType bft);
// On the advanced type.
bool IsBLOBFieldType(TCRVAdvancedFieldType aft);
bool IsStringFieldType(TCRVAdvancedFieldType aft);
bool IsWideStringFieldType(TCRVAdvancedFieldType aft);
bool IsBytesFieldType(TCRVAdvancedFieldType aft);
bool IsAutoincFieldType(TCRVAdvancedFieldType aft);
bool IsSizebleFieldType(TCRVAdvancedFieldType aft);
bool IsConvertableFieldType(TCRVAdvancedFieldType aft);
// True for the signed integer base types (a value read from them is sign-extended).
bool IsSignedIntegerFieldType(TCRVBaseFieldType bft);

// --- Sizes ---

// Bytes of a value in the memory record; a base type without a size raises 30050.
std::int32_t GetDataSizeInMemory(TCRVBaseFieldType bft, std::int32_t fieldSize);
// Bytes of a value in the disk record: 6 for the BLOB types, else the memory size.
std::int32_t GetDataSizeOnDisk(TCRVBaseFieldType bft, std::int32_t fieldSize);

constexpr std::int32_t CRVBlobReferenceDiskSize = 6;
constexpr std::int32_t CRVBlobReferenceMemorySize = 10;
