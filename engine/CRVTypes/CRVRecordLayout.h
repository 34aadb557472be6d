// Memory and disk records: a row as the engine handles it.
//
// Both forms are a null bitmap followed by the fields, back to back in definition order with
// no alignment and no padding:
//   OFFSET                SIZE                 CONTENT
//   0                     ceil(FieldCount/8)   null bitmap: field i owns bit (i mod 8) of byte
//                                              (i div 8), least significant bit first; set = NULL
//   bitmap size           size of field 0      field 0 (MemoryDataSize / DiskDataSize bytes)
//   offset 0 + size 0     size of field 1      field 1 ...
// Only BLOB fields differ between the forms: 10 bytes in memory (the 6-byte reference and 4
// cache bytes that are never stored), 6 on disk.
//
// The bytes of a NULL field, and those after a string's terminator, carry no meaning.
#pragma once

#include "CRVTypes/CRVFieldTypes.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// Where one field lives in the two record forms.
struct TCRVFieldLayout {
    TCRVBaseFieldType BaseFieldType = TCRVBaseFieldType::bftUnknown;
    TCRVAdvancedFieldType AdvancedFieldType = TCRVAdvancedFieldType::aftUnknown;
    std::int32_t MemoryDataSize = 0;
    std::int32_t DiskDataSize = 0;
    std::int32_t MemoryOffset = 0;
    std::int32_t DiskOffset = 0;
};

std::int32_t GetNullBitmapSize(std::int32_t fieldCount);
// True when the field's bit in the record's null bitmap is set (the field is NULL).
bool CheckNullFlag(std::int32_t FieldNo, std::span<const std::byte> Buffer);
void SetNullFlag(bool IsNull, std::int32_t FieldNo, std::span<std::byte> Buffer);

// Compares the first Length bytes; a null pointer raises 10122 (A) or 10123 (B).
bool CompareRecordBuffers(const void* A, const void* B, std::size_t Length);

// The layout of a table's records, computed from its fields' types and sizes.
class TCRVRecordLayout {
public:
    TCRVRecordLayout() = default;
    // Takes each field's types and sizes and computes the offsets of both forms.
    explicit TCRVRecordLayout(std::vector<TCRVFieldLayout> fields);

    std::int32_t FieldCount() const { return static_cast<std::int32_t>(FFields.size()); }
    const TCRVFieldLayout& Field(std::int32_t fieldNo) const {
        return FFields[static_cast<std::size_t>(fieldNo)];
    }
    std::span<const TCRVFieldLayout> Fields() const { return FFields; }
    std::int32_t NullBitmapSize() const { return FBitmapSize; }
    std::int32_t MemoryRecordSize() const { return FMemorySize; }
    std::int32_t DiskRecordSize() const { return FDiskSize; }

    // A fresh memory record: every bitmap bit set (all fields NULL), all field bytes zero.
    void InitNewRecord(std::span<std::byte> memoryRecord) const;
    std::vector<std::byte> NewRecord() const;

    void DiskToMemory(std::span<const std::byte> disk, std::span<std::byte> memory) const;
    void MemoryToDisk(std::span<const std::byte> memory, std::span<std::byte> disk) const;
    // Equal bitmaps and, per field, equal DiskDataSize bytes at its memory offset (BLOB cache
    // bytes are not compared).
    bool Equal(std::span<const std::byte> a, std::span<const std::byte> b) const;
    // Zeroes the meaningless bytes of string fields: all of a NULL one, those after the terminator.
    void ClearStringFieldsGarbage(std::span<std::byte> memoryRecord) const;

    // Bytes GetFieldData writes for the field: its value in the native form of the field's dataset
    // kind. Narrower stored values are widened (SHORTINT and BYTE to 16 bits, the 8- and 16-bit
    // auto-increment types to 32, CARDINAL to 64; SINGLE and EXTENDED become doubles); all other
    // values are their stored bytes. SetFieldData takes the same form and keeps the low bytes.
    std::int32_t NativeDataSize(std::int32_t fieldNo) const;
    // False when the field is NULL. Otherwise copies the value, in the dataset layer's native
    // form, to dest (when given); BLOB fields answer true without copying. 10000 for a bad field.
    bool GetFieldData(std::int32_t fieldNo, void* dest, std::span<const std::byte> memoryRecord) const;
    // Sets the field from source in native form; a null source, or a string whose first character
    // is zero, makes it NULL (its bytes left as they were). Text is read up to its terminator,
    // cut to the field and always terminated, the rest of the field zeroed. 10004 for a bad field.
    void SetFieldData(std::int32_t fieldNo, const void* source, std::span<std::byte> memoryRecord) const;

private:
    // The field's memory bytes, checked against the record (10002 when they do not fit).
    std::span<std::byte> FieldBytes(std::int32_t fieldNo, std::span<std::byte> record) const;
    std::span<const std::byte> FieldBytes(std::int32_t fieldNo, std::span<const std::byte> record) const;
    void CheckSizes(std::span<const std::byte> memory, std::size_t otherSize, std::size_t otherWanted) const;

    std::vector<TCRVFieldLayout> FFields;
    std::int32_t FBitmapSize = 0;
    std::int32_t FMemorySize = 0;
    std::int32_t FDiskSize = 0;
};
