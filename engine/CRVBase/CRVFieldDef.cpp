#include "CRVBase/CRVFieldDef.h"

#include "CRVExcept/CRVExcept.h"
#include "CRVTypes/CRVText.h"

namespace Item = CRVMetadataItem;

void TCRVFieldDef::SetFieldDefDataType(TCRVAdvancedFieldType advancedType, std::int32_t size) {
    const TCRVBaseFieldType base = AdvancedFieldTypeToBaseFieldType(advancedType);
    if (base == TCRVBaseFieldType::bftUnknown)
        CRVRaise(30007, AftToStr(advancedType));
    AdvancedFieldType = advancedType;
    BaseFieldType = base;
    FieldSize = size;
    RecalcInternalSizes();
}

void TCRVFieldDef::RecalcInternalSizes() {
    MemoryDataSize = GetDataSizeInMemory(BaseFieldType, FieldSize);
    DiskDataSize = GetDataSizeOnDisk(BaseFieldType, FieldSize);
}

void TCRVFieldDef::SaveToStream(TCRVMetadataWriter& writer) const {
    writer.ShortName(Name, Item::FieldNameLength, Item::FieldName);
    writer.I32(ObjectID, Item::FieldObjectID);
    writer.U8(static_cast<std::uint8_t>(BaseFieldType), Item::BaseFieldType);
    writer.U8(static_cast<std::uint8_t>(AdvancedFieldType), Item::AdvancedFieldType);
    writer.I32(FieldSize, Item::FieldSize);
    if (IsBLOBFieldType(BaseFieldType)) {
        writer.U8(BLOBCompressionAlgorithm, Item::BLOBCompressionAlgorithm);
        writer.U8(BLOBCompressionMode, Item::BLOBCompressionMode);
        writer.I32(BLOBBlockSize, Item::BLOBBlockSize);
    }
    writer.I64(AutoincIncrement, Item::AutoincIncrement);
    writer.I64(AutoincInitialValue, Item::AutoincInitialValue);
    writer.I64(AutoincMinValue, Item::AutoincMinValue);
    writer.I64(AutoincMaxValue, Item::AutoincMaxValue);
    writer.U8(AutoincCycled ? 0xFF : 0, Item::AutoincCycled);
    CRVWriteVariant(writer, DefaultValue);
}

void TCRVFieldDef::LoadFromStream(TCRVMetadataReader& reader) {
    Name = reader.ShortName(Item::FieldNameLength, Item::FieldName);
    ObjectID = reader.I32(Item::FieldObjectID);
    BaseFieldType = static_cast<TCRVBaseFieldType>(reader.U8(Item::BaseFieldType));
    AdvancedFieldType = static_cast<TCRVAdvancedFieldType>(reader.U8(Item::AdvancedFieldType));
    FieldSize = reader.I32(Item::FieldSize);
    if (IsBLOBFieldType(BaseFieldType)) {
        BLOBCompressionAlgorithm = reader.U8(Item::BLOBCompressionAlgorithm);
        BLOBCompressionMode = reader.U8(Item::BLOBCompressionMode);
        BLOBBlockSize = reader.I32(Item::BLOBBlockSize);
    }
    AutoincIncrement = reader.I64(Item::AutoincIncrement);
    AutoincInitialValue = reader.I64(Item::AutoincInitialValue);
    AutoincMinValue = reader.I64(Item::AutoincMinValue);
    AutoincMaxValue = reader.I64(Item::AutoincMaxValue);
    AutoincCycled = reader.Bool(Item::AutoincCycled);
    DefaultValue = CRVReadVariant(reader);
    RecalcInternalSizes();
}

TCRVFieldDef& TCRVFieldDefs::Add(std::string_view name, TCRVAdvancedFieldType advancedType,
                                 std::int32_t size) {
    TCRVFieldDef def;
    def.Name = std::string(name);
    def.SetFieldDefDataType(advancedType, size);
    def.DefaultValue = TCRVVariant::Null(def.BaseFieldType);
    def.FieldNoReference = Count();
    FDefs.push_back(std::move(def));
    RecalcFieldOffsets();
    return FDefs.back();
}

void TCRVFieldDefs::Clear() {
    FDefs.clear();
    RecalcFieldOffsets();
}

void TCRVFieldDefs::RecalcFieldOffsets() {
    std::vector<TCRVFieldLayout> fields;
    fields.reserve(FDefs.size());
    for (const TCRVFieldDef& def : FDefs)
        fields.push_back(
            {def.BaseFieldType, def.AdvancedFieldType, def.MemoryDataSize, def.DiskDataSize, 0, 0});
    FLayout = TCRVRecordLayout(std::move(fields));
    for (std::int32_t i = 0; i < Count(); ++i) {
        FDefs[static_cast<std::size_t>(i)].MemoryOffset = FLayout.Field(i).MemoryOffset;
        FDefs[static_cast<std::size_t>(i)].DiskOffset = FLayout.Field(i).DiskOffset;
    }
}

std::int32_t TCRVFieldDefs::GetMemoryRecordBufferSize() const {
    if (FDefs.empty())
        CRVRaise(10131);
    return FLayout.MemoryRecordSize();
}

std::int32_t TCRVFieldDefs::GetDiskRecordBufferSize() const {
    if (FDefs.empty())
        CRVRaise(20142);
    return FLayout.DiskRecordSize();
}

std::int32_t TCRVFieldDefs::GetDefNumberByName(std::string_view name) const {
    for (std::int32_t i = 0; i < Count(); ++i)
        if (CRVSameName(FDefs[static_cast<std::size_t>(i)].Name, name))
            return i;
    return -1;
}

TCRVFieldDef* TCRVFieldDefs::GetFieldDefByName(std::string_view name) {
    const std::int32_t i = GetDefNumberByName(name);
    return i < 0 ? nullptr : &FDefs[static_cast<std::size_t>(i)];
}

const TCRVFieldDef* TCRVFieldDefs::GetFieldDefByName(std::string_view name) const {
    const std::int32_t i = GetDefNumberByName(name);
    return i < 0 ? nullptr : &FDefs[static_cast<std::size_t>(i)];
}

void TCRVFieldDefs::SaveToStream(TCRVMetadataWriter& writer) const {
    writer.I32(Count(), Item::FieldCount);
    for (const TCRVFieldDef& def : FDefs)
        def.SaveToStream(writer);
}

void TCRVFieldDefs::LoadFromStream(TCRVMetadataReader& reader) {
    const std::int32_t count = reader.Count(Item::FieldCount);
    TCRVFieldDefs loaded; // replaces this list only once all of it is read
    for (std::int32_t i = 0; i < count; ++i) {
        TCRVFieldDef def;
        def.LoadFromStream(reader);
        def.FieldNoReference = i;
        loaded.FDefs.push_back(std::move(def));
    }
    loaded.RecalcFieldOffsets();
    *this = std::move(loaded);
}

bool GetFieldData(std::int32_t FieldNo, const TCRVFieldDefs& FieldDefs, void* Dest,
                  std::span<const std::byte> Record) {
    return FieldDefs.Layout().GetFieldData(FieldNo, Dest, Record);
}

void SetFieldData(std::int32_t FieldNo, const TCRVFieldDefs& FieldDefs, const void* Source,
                  std::span<std::byte> Record) {
    FieldDefs.Layout().SetFieldData(FieldNo, Source, Record);
}
