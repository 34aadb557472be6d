// Constraint definitions: primary key, unique, not-null and check constraints of a table.
//
// Stored form (the list is an i32 count, then per definition a u8 ConstraintType and the
// definition): name length (1), name, ObjectID (4), then
//   not-null (3), check (4):  TableSchemaObjectID (4), TableObjectID (4), ColumnObjectID (4);
//                             TableSchemaName, TableName, ColumnName, each as a u8 L+1 followed
//                             by the length byte L and the L characters; a check constraint then
//                             adds MinValue and MaxValue as variants.
//   unique (2), primary (0):  TableSchemaObjectID (4), TableObjectID (4), IndexObjectID (4);
//                             TableSchemaName, TableName, IndexName, each as an i32 L+1 followed
//                             by the length byte L and the L characters; an i32 column count and
//                             per column ColumnObjectID (4), i32 L+1, length byte, characters.
// A name stored behind a u8 L+1 can have at most 254 characters; longer ones are refused.
#pragma once

#include "CRVBase/CRVMetaObjectDef.h"
#include "CRVBase/CRVMetadataStream.h"
#include "CRVTypes/CRVVariant.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

enum class TCRVConstraintType : std::uint8_t { ctPK = 0, ctFK = 1, ctUnique = 2, ctNotNull = 3, ctCheck = 4 };

class TCRVConstraintDef : public TCRVMetaObjectDef {
public:
    virtual ~TCRVConstraintDef() = default;

    std::string TableSchemaName;
    std::int32_t TableSchemaObjectID = -1;
    std::string TableName;
    std::int32_t TableObjectID = -1;

    virtual TCRVConstraintType ConstraintType() const = 0;
    virtual std::unique_ptr<TCRVConstraintDef> Clone() const = 0;
    // The definition after its type byte.
    void SaveToStream(TCRVMetadataWriter& writer) const;
    void LoadFromStream(TCRVMetadataReader& reader);

protected:
    TCRVConstraintDef() = default;
    TCRVConstraintDef(const TCRVConstraintDef&) = default;
    TCRVConstraintDef& operator=(const TCRVConstraintDef&) = default;

    virtual void SaveBody(TCRVMetadataWriter& writer) const = 0;
    virtual void LoadBody(TCRVMetadataReader& reader) = 0;
};

// Not-null and check constraints: one column.
class TCRVConstraintDefColumn : public TCRVConstraintDef {
public:
    std::string ColumnName;
    std::int32_t ColumnObjectID = -1;

protected:
    void SaveBody(TCRVMetadataWriter& writer) const override;
    void LoadBody(TCRVMetadataReader& reader) override;
};

class TCRVConstraintDefNotNull : public TCRVConstraintDefColumn {
public:
    TCRVConstraintType ConstraintType() const override { return TCRVConstraintType::ctNotNull; }
    std::unique_ptr<TCRVConstraintDef> Clone() const override {
        return std::make_unique<TCRVConstraintDefNotNull>(*this);
    }
};

class TCRVConstraintDefCheck : public TCRVConstraintDefColumn {
public:
    TCRVVariant MinValue; // either may be null
    TCRVVariant MaxValue;

    TCRVConstraintType ConstraintType() const override { return TCRVConstraintType::ctCheck; }
    std::unique_ptr<TCRVConstraintDef> Clone() const override {
        return std::make_unique<TCRVConstraintDefCheck>(*this);
    }

protected:
    void SaveBody(TCRVMetadataWriter& writer) const override;
    void LoadBody(TCRVMetadataReader& reader) override;
};

struct TCRVConstraintColumn {
    std::string ColumnName;
    std::int32_t ColumnObjectID = -1;
    friend bool operator==(const TCRVConstraintColumn&, const TCRVConstraintColumn&) = default;
};

// Unique and primary-key constraints: an index and its columns.
class TCRVConstraintDefIndex : public TCRVConstraintDef {
public:
    std::string IndexName;
    std::int32_t IndexObjectID = -1;
    std::vector<TCRVConstraintColumn> Columns;

protected:
    void SaveBody(TCRVMetadataWriter& writer) const override;
    void LoadBody(TCRVMetadataReader& reader) override;
};

class TCRVConstraintDefPrimary : public TCRVConstraintDefIndex {
public:
    TCRVConstraintType ConstraintType() const override { return TCRVConstraintType::ctPK; }
    std::unique_ptr<TCRVConstraintDef> Clone() const override {
        return std::make_unique<TCRVConstraintDefPrimary>(*this);
    }
};

class TCRVConstraintDefUnique : public TCRVConstraintDefIndex {
public:
    TCRVConstraintType ConstraintType() const override { return TCRVConstraintType::ctUnique; }
    std::unique_ptr<TCRVConstraintDef> Clone() const override {
        return std::make_unique<TCRVConstraintDefUnique>(*this);
    }
};

// A new, empty definition of a type; 30316 for a type without a class (foreign key, unknown).
std::unique_ptr<TCRVConstraintDef> CRVCreateConstraintDef(std::uint8_t constraintType);

class TCRVConstraintDefs {
public:
    TCRVConstraintDefs() = default;
    TCRVConstraintDefs(const TCRVConstraintDefs& source) { Assign(source); }
    TCRVConstraintDefs& operator=(const TCRVConstraintDefs& source) {
        Assign(source);
        return *this;
    }
    TCRVConstraintDefs(TCRVConstraintDefs&&) = default;
    TCRVConstraintDefs& operator=(TCRVConstraintDefs&&) = default;

    std::int32_t Count() const { return static_cast<std::int32_t>(FDefs.size()); }
    TCRVConstraintDef& operator[](std::int32_t i) { return *FDefs.at(static_cast<std::size_t>(i)); }
    const TCRVConstraintDef& operator[](std::int32_t i) const {
        return *FDefs.at(static_cast<std::size_t>(i));
    }

    template <typename T> T& Add(std::string_view name) {
        auto def = std::make_unique<T>();
        def->Name = std::string(name);
        T& ref = *def;
        FDefs.push_back(std::move(def));
        return ref;
    }
    void Clear() { FDefs.clear(); }
    // Ignores case, first match; nullptr when none.
    TCRVConstraintDef* GetConstraintDefByName(std::string_view name);

    void Assign(const TCRVConstraintDefs& source);
    void SaveToStream(TCRVMetadataWriter& writer) const;
    void LoadFromStream(TCRVMetadataReader& reader);

private:
    std::vector<std::unique_ptr<TCRVConstraintDef>> FDefs;
};
