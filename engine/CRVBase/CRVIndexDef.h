// Index definitions: a table's indexes and their key columns.
//
// Stored form (the list is an i32 count of the non-temporary definitions, then those, in list
// order; temporary indexes belong to one session and are never stored):
//   SIZE   FIELD
//   1      name length N
//   N      name
//   4      ObjectID
//   1      IndexType
//   1      Unique
//   1      Primary
//   4      column count C
//   4      RootPageNo
//   C x    column: name length L (1), field name (L), Descending (1), CaseInsensitive (1),
//          MaxIndexedSize (4)
#pragma once

#include "CRVBase/CRVMetaObjectDef.h"
#include "CRVBase/CRVMetadataStream.h"
#include "CRVTypes/CRVFieldTypes.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The size of the short key of a column whose size is not its own.
constexpr std::int32_t CRVDefaultMaxIndexedSize = 20;

// The MaxIndexedSize a column really gets: its own when above 0 and the field is a sized string or
// bytes field, otherwise CRVDefaultMaxIndexedSize.
inline std::int32_t CRVEffectiveMaxIndexedSize(TCRVAdvancedFieldType fieldType, std::int32_t maxIndexedSize) {
    return IsSizebleFieldType(fieldType) && maxIndexedSize > 0 ? maxIndexedSize : CRVDefaultMaxIndexedSize;
}

enum class TCRVIndexType : std::uint8_t { itBTree = 0, itAnotherOne = 1 };

struct TCRVIndexColumn {
    std::string FieldName{};
    bool Descending = false;
    bool CaseInsensitive = false;
    // How many bytes of the value the short key keeps.
    std::int32_t MaxIndexedSize = 0;

    friend bool operator==(const TCRVIndexColumn&, const TCRVIndexColumn&) = default;
};

class TCRVIndexDef : public TCRVMetaObjectDef {
public:
    TCRVIndexType IndexType = TCRVIndexType::itBTree;
    std::vector<TCRVIndexColumn> Columns;
    bool Unique = false;
    bool Primary = false;
    std::int32_t RootPageNo = -1;
    bool Temporary = false;
    std::int32_t SessionID = -1; // owner of a temporary index
    std::int32_t TableState = 0; // increased on every insert, update and delete
    bool NeedRebuild = false;

    TCRVIndexColumn& GetIndexColumn(std::int32_t columnNo) {
        return Columns.at(static_cast<std::size_t>(columnNo));
    }
    const TCRVIndexColumn& GetIndexColumn(std::int32_t columnNo) const {
        return Columns.at(static_cast<std::size_t>(columnNo));
    }
    std::int32_t ColumnCount() const { return static_cast<std::int32_t>(Columns.size()); }
    // Creates or frees columns at the end.
    void SetColumnCount(std::int32_t count) {
        Columns.resize(static_cast<std::size_t>(count < 0 ? 0 : count));
    }
    void Assign(const TCRVIndexDef& source) { *this = source; }

    void SaveToStream(TCRVMetadataWriter& writer) const;
    // Reads one definition; it is not temporary.
    void LoadFromStream(TCRVMetadataReader& reader);
};

class TCRVIndexDefs {
public:
    std::int32_t Count() const { return static_cast<std::int32_t>(FDefs.size()); }
    TCRVIndexDef& operator[](std::int32_t i) { return FDefs.at(static_cast<std::size_t>(i)); }
    const TCRVIndexDef& operator[](std::int32_t i) const { return FDefs.at(static_cast<std::size_t>(i)); }
    auto begin() const { return FDefs.begin(); }
    auto end() const { return FDefs.end(); }

    TCRVIndexDef& Add(std::string_view name);
    void Delete(std::int32_t i) { FDefs.erase(FDefs.begin() + i); }
    void Clear() { FDefs.clear(); }
    // Ignores case, first match; nullptr when none.
    TCRVIndexDef* GetIndexDefByName(std::string_view name);
    const TCRVIndexDef* GetIndexDefByName(std::string_view name) const;

    void Assign(const TCRVIndexDefs& source) { *this = source; }
    void SaveToStream(TCRVMetadataWriter& writer) const;
    void LoadFromStream(TCRVMetadataReader& reader);

private:
    std::vector<TCRVIndexDef> FDefs;
};
