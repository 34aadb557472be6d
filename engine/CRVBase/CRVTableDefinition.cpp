#include "CRVBase/CRVTableDefinition.h"

#include "CRVExcept/CRVExcept.h"
#include "CRVTypes/CRVText.h"

namespace {

using A = TCRVAdvancedFieldType;

bool NeedsSize(A type) {
    return IsStringFieldType(type) || IsBytesFieldType(type);
}

bool HasValue(const TCRVValue& value) {
    return !std::holds_alternative<std::monostate>(value);
}

void CheckDeclaration(const TCRVFieldDeclaration& d, std::int32_t fieldNo, std::int32_t size,
                      std::string_view table) {
    if (d.Name.empty())
        CRVRaise(30499, fieldNo, table);
    if (NeedsSize(d.Type) && size <= 0)
        CRVRaise(30453, table, d.Name, BftToStr(AdvancedFieldTypeToBaseFieldType(d.Type)), size);
    if (IsBLOBFieldType(d.Type) && d.BLOBCompressionAlgorithm != 0 &&
        (d.BLOBCompressionMode == 0 || d.BLOBCompressionMode > 9))
        CRVRaise(20257, d.Name, table);
}

void AddField(TCRVFieldDefs& defs, const TCRVFieldDeclaration& d, std::string_view table) {
    const std::int32_t fieldNo = defs.Count();
    if (AdvancedFieldTypeToBaseFieldType(d.Type) == TCRVBaseFieldType::bftUnknown)
        CRVRaise(30007, AftToStr(d.Type));
    const TCRVBaseFieldType base = AdvancedFieldTypeToBaseFieldType(d.Type);
    std::int32_t size = IsStringFieldType(base) || base == TCRVBaseFieldType::bftBytes ||
                                base == TCRVBaseFieldType::bftVarBytes
                            ? d.Size
                            : 0;
    if (d.Type == A::aftGuid)
        size = CRVGuidFieldSize;
    CheckDeclaration(d, fieldNo, size, table);

    TCRVFieldDef& def = defs.Add(CRVCutName(d.Name), d.Type, size);
    def.DefaultValue = CRVMakeVariant(base, d.DefaultValue);
    def.BLOBCompressionAlgorithm = d.BLOBCompressionAlgorithm;
    def.BLOBCompressionMode = d.BLOBCompressionMode;
    def.BLOBBlockSize = d.BLOBBlockSize > 0 ? d.BLOBBlockSize : CRVDefaultBLOBBlockSize;
    def.AutoincIncrement = d.AutoincIncrement;
    def.AutoincInitialValue = d.AutoincInitialValue;
    def.AutoincMinValue = d.AutoincMinValue;
    def.AutoincMaxValue = d.AutoincMaxValue;
    def.AutoincCycled = d.AutoincCycled;
}

void AddFieldConstraints(TCRVConstraintDefs& constraints, const TCRVFieldDeclaration& d,
                         const TCRVFieldDef& def) {
    if (d.Required)
        constraints.Add<TCRVConstraintDefNotNull>("").ColumnName = def.Name;
    if (HasValue(d.MinValue) || HasValue(d.MaxValue)) {
        auto& check = constraints.Add<TCRVConstraintDefCheck>("");
        check.ColumnName = def.Name;
        check.MinValue = CRVMakeVariant(def.BaseFieldType, d.MinValue);
        check.MaxValue = CRVMakeVariant(def.BaseFieldType, d.MaxValue);
    }
}

void AddIndexConstraint(TCRVConstraintDefs& constraints, const TCRVIndexDef& index) {
    if (!index.Primary && !index.Unique)
        return;
    std::string name = index.Primary ? "C_PK" : "C_Unique";
    for (const TCRVIndexColumn& column : index.Columns)
        name += "$" + column.FieldName;
    TCRVConstraintDefIndex& constraint =
        index.Primary ? static_cast<TCRVConstraintDefIndex&>(
                            constraints.Add<TCRVConstraintDefPrimary>(CRVCutName(name)))
                      : constraints.Add<TCRVConstraintDefUnique>(CRVCutName(name));
    constraint.IndexName = index.Name;
    for (const TCRVIndexColumn& column : index.Columns)
        constraint.Columns.push_back({column.FieldName, -1});
}

} // namespace

std::string CRVCutName(std::string_view name, std::size_t maxBytes) {
    if (name.size() <= maxBytes)
        return std::string(name);
    std::size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80)
        --end; // name[end] is the first byte left out: step back to a character start
    return std::string(name.substr(0, end));
}

TCRVTableDefinition CRVBuildTableDefinition(std::string_view tableName,
                                            std::span<const TCRVFieldDeclaration> fields,
                                            std::span<const TCRVIndexDeclaration> indexes, bool temporary) {
    TCRVTableDefinition table;
    for (const TCRVFieldDeclaration& d : fields) {
        AddField(table.Fields, d, tableName);
        if (!temporary)
            AddFieldConstraints(table.Constraints, d, table.Fields[table.Fields.Count() - 1]);
    }
    for (const TCRVIndexDeclaration& d : indexes) {
        TCRVIndexDef& index = table.Indexes.Add(CRVCutName(d.Name));
        index.Columns = d.Columns;
        index.Unique = d.Unique;
        index.Primary = d.Primary;
        for (TCRVIndexColumn& column : index.Columns) {
            const TCRVFieldDef* field = table.Fields.GetFieldDefByName(column.FieldName);
            column.MaxIndexedSize =
                field ? CRVEffectiveMaxIndexedSize(field->AdvancedFieldType, column.MaxIndexedSize)
                      : CRVDefaultMaxIndexedSize;
        }
        AddIndexConstraint(table.Constraints, index);
    }
    return table;
}
