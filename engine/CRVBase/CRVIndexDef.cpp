#include "CRVBase/CRVIndexDef.h"

#include "CRVTypes/CRVText.h"

#include <algorithm>

namespace Item = CRVMetadataItem;

void TCRVIndexDef::SaveToStream(TCRVMetadataWriter& writer) const {
    writer.ShortName(Name, Item::IndexNameLength, Item::IndexName);
    writer.I32(ObjectID, Item::IndexObjectID);
    writer.U8(static_cast<std::uint8_t>(IndexType), Item::IndexType);
    writer.Bool(Unique, Item::IndexUnique);
    writer.Bool(Primary, Item::IndexPrimary);
    writer.I32(ColumnCount(), Item::IndexColumnCount);
    writer.I32(RootPageNo, Item::IndexRootPageNo);
    for (const TCRVIndexColumn& column : Columns) {
        writer.ShortName(column.FieldName, Item::ColumnNameLength, Item::ColumnName);
        writer.Bool(column.Descending, Item::ColumnDescending);
        writer.Bool(column.CaseInsensitive, Item::ColumnCaseInsensitive);
        writer.I32(column.MaxIndexedSize, Item::ColumnMaxIndexedSize);
    }
}

void TCRVIndexDef::LoadFromStream(TCRVMetadataReader& reader) {
    Name = reader.ShortName(Item::IndexNameLength, Item::IndexName);
    ObjectID = reader.I32(Item::IndexObjectID);
    IndexType = static_cast<TCRVIndexType>(reader.U8(Item::IndexType));
    Unique = reader.Bool(Item::IndexUnique);
    Primary = reader.Bool(Item::IndexPrimary);
    const std::int32_t columnCount = reader.Count(Item::IndexColumnCount);
    RootPageNo = reader.I32(Item::IndexRootPageNo);
    Columns.clear();
    for (std::int32_t i = 0; i < columnCount; ++i) {
        TCRVIndexColumn column;
        column.FieldName = reader.ShortName(Item::ColumnNameLength, Item::ColumnName);
        column.Descending = reader.Bool(Item::ColumnDescending);
        column.CaseInsensitive = reader.Bool(Item::ColumnCaseInsensitive);
        column.MaxIndexedSize = reader.I32(Item::ColumnMaxIndexedSize);
        Columns.push_back(std::move(column));
    }
    Temporary = false;
}

TCRVIndexDef& TCRVIndexDefs::Add(std::string_view name) {
    TCRVIndexDef def;
    def.Name = std::string(name);
    FDefs.push_back(std::move(def));
    return FDefs.back();
}

TCRVIndexDef* TCRVIndexDefs::GetIndexDefByName(std::string_view name) {
    const auto it = std::find_if(FDefs.begin(), FDefs.end(),
                                 [name](const TCRVIndexDef& d) { return CRVSameName(d.Name, name); });
    return it == FDefs.end() ? nullptr : &*it;
}

const TCRVIndexDef* TCRVIndexDefs::GetIndexDefByName(std::string_view name) const {
    return const_cast<TCRVIndexDefs*>(this)->GetIndexDefByName(name);
}

void TCRVIndexDefs::SaveToStream(TCRVMetadataWriter& writer) const {
    const auto stored =
        std::count_if(FDefs.begin(), FDefs.end(), [](const TCRVIndexDef& d) { return !d.Temporary; });
    writer.I32(static_cast<std::int32_t>(stored), Item::IndexCount);
    for (const TCRVIndexDef& def : FDefs)
        if (!def.Temporary)
            def.SaveToStream(writer);
}

void TCRVIndexDefs::LoadFromStream(TCRVMetadataReader& reader) {
    const std::int32_t count = reader.Count(Item::IndexCount);
    std::vector<TCRVIndexDef> defs;
    for (std::int32_t i = 0; i < count; ++i) {
        TCRVIndexDef def;
        def.LoadFromStream(reader);
        defs.push_back(std::move(def));
    }
    FDefs = std::move(defs);
}
