// Field definitions: a table's columns, their types, sizes, places in the records, defaults,
// BLOB storage settings and auto-increment settings.
//
// Stored form of one field in the metadata stream (the list is an i32 count, then the fields):
//   SIZE    FIELD
//   1       name length N
//   N       name
//   4       ObjectID
//   1       BaseFieldType
//   1       AdvancedFieldType
//   4       FieldSize
//   1,1,4   BLOBCompressionAlgorithm, BLOBCompressionMode, BLOBBlockSize (BLOB base types only)
//   4 x 8   AutoincIncrement, AutoincInitialValue, AutoincMinValue, AutoincMaxValue
//   1       AutoincCycled (0xFF when set; any non-zero byte reads as set)
//   ...     DefaultValue as a variant
// Sizes and offsets are never stored; they are recomputed after every load and change.
#pragma once

#include "CRVBase/CRVMetaObjectDef.h"
#include "CRVBase/CRVMetadataStream.h"
#include "CRVTypes/CRVFieldTypes.h"
#include "CRVTypes/CRVRecordLayout.h"
#include "CRVTypes/CRVVariant.h"

#include <cstdint>
#include <limits>
#include <string_view>
#include <vector>

constexpr std::int32_t CRVDefaultBLOBBlockSize = 102400;

class TCRVFieldDef : public TCRVMetaObjectDef {
public:
    TCRVBaseFieldType BaseFieldType = TCRVBaseFieldType::bftUnknown;
    TCRVAdvancedFieldType AdvancedFieldType = TCRVAdvancedFieldType::aftUnknown;
    std::int32_t FieldSize = 0;
    std::int32_t DiskDataSize = 0;
    std::int32_t MemoryDataSize = 0;
    std::int32_t DiskOffset = 0;
    std::int32_t MemoryOffset = 0;
    std::int32_t FieldNoReference = -1;
    // Applied as a value: there is no expression evaluator, the stored default is the value.
    TCRVVariant DefaultValue;
    std::uint8_t BLOBCompressionAlgorithm = 0;
    std::uint8_t BLOBCompressionMode = 0;
    std::int32_t BLOBBlockSize = CRVDefaultBLOBBlockSize;
    std::int64_t AutoincIncrement = 1;
    std::int64_t AutoincInitialValue = 0;
    std::int64_t AutoincMinValue = 0;
    std::int64_t AutoincMaxValue = std::numeric_limits<std::int64_t>::max();
    bool AutoincCycled = false;

    // Stores the declared type, derives the base type (30007 when it has none), stores the size
    // and recomputes the sizes.
    void SetFieldDefDataType(TCRVAdvancedFieldType advancedType, std::int32_t size);
    // MemoryDataSize and DiskDataSize from the base type and FieldSize (30050 for a type without size).
    void RecalcInternalSizes();
    void Assign(const TCRVFieldDef& source) { *this = source; }

    void SaveToStream(TCRVMetadataWriter& writer) const;
    // Reads one field and recomputes its sizes (not its offsets: the list does that).
    void LoadFromStream(TCRVMetadataReader& reader);
};

// A table's ordered field definitions; the position is the field number.
class TCRVFieldDefs {
public:
    std::int32_t Count() const { return static_cast<std::int32_t>(FDefs.size()); }
    TCRVFieldDef& operator[](std::int32_t fieldNo) { return FDefs.at(static_cast<std::size_t>(fieldNo)); }
    const TCRVFieldDef& operator[](std::int32_t fieldNo) const {
        return FDefs.at(static_cast<std::size_t>(fieldNo));
    }
    auto begin() const { return FDefs.begin(); }
    auto end() const { return FDefs.end(); }

    // Appends a field of the given type and recomputes the offsets.
    TCRVFieldDef& Add(std::string_view name, TCRVAdvancedFieldType advancedType, std::int32_t size = 0);
    void Clear();
    // Sets every field's offsets (field 0 after the null bitmap, each next one after the previous
    // one) and rebuilds the record layout. Call after changing a definition in place.
    void RecalcFieldOffsets();
    // Record sizes; a list without fields raises 10131 (memory) / 20142 (disk).
    std::int32_t GetMemoryRecordBufferSize() const;
    std::int32_t GetDiskRecordBufferSize() const;
    // Lookups by name ignore case and answer the first match; nullptr / -1 when none.
    TCRVFieldDef* GetFieldDefByName(std::string_view name);
    const TCRVFieldDef* GetFieldDefByName(std::string_view name) const;
    std::int32_t GetDefNumberByName(std::string_view name) const;

    const TCRVRecordLayout& Layout() const { return FLayout; }

    void Assign(const TCRVFieldDefs& source) { *this = source; }
    void SaveToStream(TCRVMetadataWriter& writer) const;
    // Replaces the list with the stored one and recomputes sizes and offsets.
    void LoadFromStream(TCRVMetadataReader& reader);

private:
    std::vector<TCRVFieldDef> FDefs;
    TCRVRecordLayout FLayout;
};

// Field access on a memory record (see TCRVRecordLayout::GetFieldData / SetFieldData).
bool GetFieldData(std::int32_t FieldNo, const TCRVFieldDefs& FieldDefs, void* Dest,
                  std::span<const std::byte> Record);
void SetFieldData(std::int32_t FieldNo, const TCRVFieldDefs& FieldDefs, const void* Source,
                  std::span<std::byte> Record);
