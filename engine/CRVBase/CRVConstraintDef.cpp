#include "CRVBase/CRVConstraintDef.h"

#include "CRVExcept/CRVExcept.h"
#include "CRVTypes/CRVText.h"

#include <algorithm>

namespace Item = CRVMetadataItem;

namespace {

// A name as its counted form: (L+1) in a u8, then L and the characters; at most 254 characters.
void WriteCountedName8(TCRVMetadataWriter& writer, std::string_view name, TCRVStreamItem length,
                       TCRVStreamItem bytes) {
    if (name.size() > 254)
        CRVRaiseText(length.WriteCode, "Name '%s' is longer than 254 characters", name);
    writer.U8(static_cast<std::uint8_t>(name.size() + 1), length);
    writer.U8(static_cast<std::uint8_t>(name.size()), bytes);
    writer.Bytes(name.data(), static_cast<std::int64_t>(name.size()), bytes);
}

// The same with (L+1) in an i32; at most 255 characters.
void WriteCountedName32(TCRVMetadataWriter& writer, std::string_view name, TCRVStreamItem length,
                        TCRVStreamItem bytes) {
    if (name.size() > 255)
        CRVRaiseText(length.WriteCode, "Name '%s' is longer than 255 characters", name);
    writer.I32(static_cast<std::int32_t>(name.size() + 1), length);
    writer.U8(static_cast<std::uint8_t>(name.size()), bytes);
    writer.Bytes(name.data(), static_cast<std::int64_t>(name.size()), bytes);
}

// Reads the length byte and characters behind a counted form of `counted` bytes.
std::string ReadCountedBody(TCRVMetadataReader& reader, std::int64_t counted, TCRVStreamItem length,
                            TCRVStreamItem bytes) {
    if (counted < 1 || counted > 256)
        reader.Corrupt(length, "name length " + std::to_string(counted) + " out of range");
    const std::uint8_t inner = reader.U8(bytes);
    if (inner != counted - 1)
        reader.Corrupt(bytes, "name length byte " + std::to_string(inner) + " does not match " +
                                  std::to_string(counted - 1));
    return reader.Text(inner, bytes);
}

std::string ReadCountedName8(TCRVMetadataReader& reader, TCRVStreamItem length, TCRVStreamItem bytes) {
    return ReadCountedBody(reader, reader.U8(length), length, bytes);
}

std::string ReadCountedName32(TCRVMetadataReader& reader, TCRVStreamItem length, TCRVStreamItem bytes) {
    return ReadCountedBody(reader, reader.I32(length), length, bytes);
}

} // namespace

void TCRVConstraintDef::SaveToStream(TCRVMetadataWriter& writer) const {
    writer.ShortName(Name, Item::ConstraintNameLength, Item::ConstraintName);
    writer.I32(ObjectID, Item::ConstraintObjectID);
    SaveBody(writer);
}

void TCRVConstraintDef::LoadFromStream(TCRVMetadataReader& reader) {
    Name = reader.ShortName(Item::ConstraintNameLength, Item::ConstraintName);
    ObjectID = reader.I32(Item::ConstraintObjectID);
    LoadBody(reader);
}

void TCRVConstraintDefColumn::SaveBody(TCRVMetadataWriter& writer) const {
    writer.I32(TableSchemaObjectID, Item::TableSchemaObjectID);
    writer.I32(TableObjectID, Item::TableObjectID);
    writer.I32(ColumnObjectID, Item::TargetObjectID);
    WriteCountedName8(writer, TableSchemaName, Item::TableSchemaNameLength, Item::TableSchemaName);
    WriteCountedName8(writer, TableName, Item::TableNameLength, Item::TableName);
    WriteCountedName8(writer, ColumnName, Item::TargetNameLength, Item::TargetName);
}

void TCRVConstraintDefColumn::LoadBody(TCRVMetadataReader& reader) {
    TableSchemaObjectID = reader.I32(Item::TableSchemaObjectID);
    TableObjectID = reader.I32(Item::TableObjectID);
    ColumnObjectID = reader.I32(Item::TargetObjectID);
    TableSchemaName = ReadCountedName8(reader, Item::TableSchemaNameLength, Item::TableSchemaName);
    TableName = ReadCountedName8(reader, Item::TableNameLength, Item::TableName);
    ColumnName = ReadCountedName8(reader, Item::TargetNameLength, Item::TargetName);
}

void TCRVConstraintDefCheck::SaveBody(TCRVMetadataWriter& writer) const {
    TCRVConstraintDefColumn::SaveBody(writer);
    CRVWriteVariant(writer, MinValue);
    CRVWriteVariant(writer, MaxValue);
}

void TCRVConstraintDefCheck::LoadBody(TCRVMetadataReader& reader) {
    TCRVConstraintDefColumn::LoadBody(reader);
    MinValue = CRVReadVariant(reader);
    MaxValue = CRVReadVariant(reader);
}

void TCRVConstraintDefIndex::SaveBody(TCRVMetadataWriter& writer) const {
    writer.I32(TableSchemaObjectID, Item::TableSchemaObjectID);
    writer.I32(TableObjectID, Item::TableObjectID);
    writer.I32(IndexObjectID, Item::TargetObjectID);
    WriteCountedName32(writer, TableSchemaName, Item::TableSchemaNameLength, Item::TableSchemaName);
    WriteCountedName32(writer, TableName, Item::TableNameLength, Item::TableName);
    WriteCountedName32(writer, IndexName, Item::TargetNameLength, Item::TargetName);
    writer.I32(static_cast<std::int32_t>(Columns.size()), Item::ConstraintColumnCount);
    for (const TCRVConstraintColumn& column : Columns) {
        writer.I32(column.ColumnObjectID, Item::ConstraintColumnObjectID);
        WriteCountedName32(writer, column.ColumnName, Item::ConstraintColumnNameLength,
                           Item::ConstraintColumnName);
    }
}

void TCRVConstraintDefIndex::LoadBody(TCRVMetadataReader& reader) {
    TableSchemaObjectID = reader.I32(Item::TableSchemaObjectID);
    TableObjectID = reader.I32(Item::TableObjectID);
    IndexObjectID = reader.I32(Item::TargetObjectID);
    TableSchemaName = ReadCountedName32(reader, Item::TableSchemaNameLength, Item::TableSchemaName);
    TableName = ReadCountedName32(reader, Item::TableNameLength, Item::TableName);
    IndexName = ReadCountedName32(reader, Item::TargetNameLength, Item::TargetName);
    const std::int32_t count = reader.Count(Item::ConstraintColumnCount);
    Columns.clear();
    for (std::int32_t i = 0; i < count; ++i) {
        TCRVConstraintColumn column;
        column.ColumnObjectID = reader.I32(Item::ConstraintColumnObjectID);
        column.ColumnName =
            ReadCountedName32(reader, Item::ConstraintColumnNameLength, Item::ConstraintColumnName);
        Columns.push_back(std::move(column));
    }
}

std::unique_ptr<TCRVConstraintDef> CRVCreateConstraintDef(std::uint8_t constraintType) {
    switch (static_cast<TCRVConstraintType>(constraintType)) {
    case TCRVConstraintType::ctPK:
        return std::make_unique<TCRVConstraintDefPrimary>();
    case TCRVConstraintType::ctUnique:
        return std::make_unique<TCRVConstraintDefUnique>();
    case TCRVConstraintType::ctNotNull:
        return std::make_unique<TCRVConstraintDefNotNull>();
    case TCRVConstraintType::ctCheck:
        return std::make_unique<TCRVConstraintDefCheck>();
    default:
        CRVRaise(30316, static_cast<int>(constraintType));
    }
}

TCRVConstraintDef* TCRVConstraintDefs::GetConstraintDefByName(std::string_view name) {
    const auto it = std::find_if(FDefs.begin(), FDefs.end(),
                                 [name](const auto& d) { return CRVSameName(d->Name, name); });
    return it == FDefs.end() ? nullptr : it->get();
}

void TCRVConstraintDefs::Assign(const TCRVConstraintDefs& source) {
    if (&source == this)
        return;
    std::vector<std::unique_ptr<TCRVConstraintDef>> defs;
    for (const auto& def : source.FDefs)
        defs.push_back(def->Clone());
    FDefs = std::move(defs);
}

void TCRVConstraintDefs::SaveToStream(TCRVMetadataWriter& writer) const {
    writer.I32(Count(), Item::ConstraintCount);
    for (const auto& def : FDefs) {
        writer.U8(static_cast<std::uint8_t>(def->ConstraintType()), Item::ConstraintType);
        def->SaveToStream(writer);
    }
}

void TCRVConstraintDefs::LoadFromStream(TCRVMetadataReader& reader) {
    const std::int32_t count = reader.Count(Item::ConstraintCount);
    std::vector<std::unique_ptr<TCRVConstraintDef>> defs;
    for (std::int32_t i = 0; i < count; ++i) {
        auto def = CRVCreateConstraintDef(reader.U8(Item::ConstraintType));
        def->LoadFromStream(reader);
        defs.push_back(std::move(def));
    }
    FDefs = std::move(defs);
}
