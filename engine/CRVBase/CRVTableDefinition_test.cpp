#include "CRVBase/CRVTableDefinition.h"
#include "CRVExcept/CRVExcept.h"

#include <gtest/gtest.h>

namespace {

using A = TCRVAdvancedFieldType;
using B = TCRVBaseFieldType;

std::string Raised(std::span<const TCRVFieldDeclaration> fields) {
    try {
        CRVBuildTableDefinition("files", fields, {});
    } catch (const ECRVException& e) {
        return e.what();
    }
    return "";
}

TEST(CRVTableDefinition, FieldsAreCorrected) {
    std::vector<TCRVFieldDeclaration> fields(5);
    fields[0] = {.Name = "id", .Type = A::aftInteger, .Size = 12, .DefaultValue = std::string("15")};
    fields[1] = {.Name = "fnhash", .Type = A::aftString, .Size = 32, .DefaultValue = std::string()};
    fields[2] = {.Name = "guid", .Type = A::aftGuid, .Size = 5};
    fields[3] = {.Name = "data", .Type = A::aftBlob, .BLOBBlockSize = -1};
    fields[4] = {.Name = std::string(300, 'n'), .Type = A::aftBytes, .Size = 8};
    const TCRVTableDefinition t = CRVBuildTableDefinition("files", fields, {});
    ASSERT_EQ(t.Fields.Count(), 5);
    EXPECT_EQ(t.Fields[0].FieldSize, 0) << "no size for a fixed-size type";
    EXPECT_EQ(t.Fields[0].DefaultValue, CRVMakeVariant(B::bftSignedInt32, std::int64_t{15}));
    EXPECT_TRUE(t.Fields[1].DefaultValue.IsNull) << "an empty text default is NULL";
    EXPECT_EQ(t.Fields[1].DefaultValue.DataType, B::bftVarchar);
    EXPECT_EQ(t.Fields[2].FieldSize, 38);
    EXPECT_EQ(t.Fields[2].MemoryDataSize, 39);
    EXPECT_EQ(t.Fields[3].BLOBBlockSize, 102400);
    EXPECT_EQ(t.Fields[4].Name.size(), 255u);
    EXPECT_EQ(t.Constraints.Count(), 0);
}

TEST(CRVTableDefinition, DeclarationsThatCannotBeBuiltAreRefused) {
    const TCRVFieldDeclaration noName[] = {{.Name = "a", .Type = A::aftInteger},
                                           {.Name = "", .Type = A::aftInteger}};
    EXPECT_EQ(Raised(noName), "Missing field name. FieldNo=1, table 'files' - Native error: 30499");
    const TCRVFieldDeclaration noSize[] = {{.Name = "hash", .Type = A::aftString, .Size = 0}};
    EXPECT_EQ(Raised(noSize), "Cannot create table 'files' with field: hash STRING(0) - Native error: 30453");
    const TCRVFieldDeclaration noBytes[] = {{.Name = "b", .Type = A::aftVarBytes, .Size = -3}};
    EXPECT_EQ(Raised(noBytes),
              "Cannot create table 'files' with field: b VARBYTES(-3) - Native error: 30453");
    for (std::uint8_t mode : {0, 10}) {
        const TCRVFieldDeclaration badMode[] = {
            {.Name = "doc", .Type = A::aftMemo, .BLOBCompressionAlgorithm = 1, .BLOBCompressionMode = mode}};
        EXPECT_EQ(Raised(badMode),
                  "Invalid BlobCompressionMode (must be in 1..9 range) for blob field 'doc'. "
                  "Cannot create table 'files' - Native error: 20257");
    }
    const TCRVFieldDeclaration uncompressed[] = {{.Name = "doc", .Type = A::aftMemo}};
    EXPECT_EQ(Raised(uncompressed), "") << "no mode is needed without compression";
    const TCRVFieldDeclaration badDefault[] = {
        {.Name = "n", .Type = A::aftByte, .DefaultValue = std::int64_t{256}}};
    EXPECT_NE(Raised(badDefault).find("30054"), std::string::npos);
}

TEST(CRVTableDefinition, ConstraintsFromFieldsAndIndexes) {
    const TCRVFieldDeclaration fields[] = {
        {.Name = "fnhash", .Type = A::aftString, .Size = 32, .Required = true},
        {.Name = "size", .Type = A::aftLargeint, .MinValue = std::int64_t{0}},
        {.Name = "guid", .Type = A::aftGuid},
        {.Name = "tag", .Type = A::aftString, .Size = 10},
    };
    std::vector<TCRVIndexDeclaration> indexes(3);
    indexes[0] = {.Name = "pk", .Columns = {{"fnhash", false, false, 0}}, .Unique = true, .Primary = true};
    indexes[1] = {
        .Name = "bysize", .Columns = {{"size", true, false, 8}, {"guid", false, false, 16}}, .Unique = true};
    indexes[2] = {.Name = "bytag", .Columns = {{"tag", false, true, 6}, {"missing", false, false, 4}}};
    const TCRVTableDefinition t = CRVBuildTableDefinition("files", fields, indexes);

    ASSERT_EQ(t.Constraints.Count(), 4);
    const auto& notNull = dynamic_cast<const TCRVConstraintDefNotNull&>(t.Constraints[0]);
    EXPECT_EQ(notNull.ColumnName, "fnhash");
    const auto& check = dynamic_cast<const TCRVConstraintDefCheck&>(t.Constraints[1]);
    EXPECT_EQ(check.ColumnName, "size");
    EXPECT_EQ(check.MinValue, CRVMakeVariant(B::bftSignedInt64, std::int64_t{0}));
    EXPECT_TRUE(check.MaxValue.IsNull);
    EXPECT_EQ(check.MaxValue.DataType, B::bftSignedInt64);
    // A primary index that is also unique gets the primary-key constraint only.
    const auto& pk = dynamic_cast<const TCRVConstraintDefPrimary&>(t.Constraints[2]);
    EXPECT_EQ(pk.Name, "C_PK$fnhash");
    EXPECT_EQ(pk.IndexName, "pk");
    ASSERT_EQ(pk.Columns.size(), 1u);
    EXPECT_EQ(pk.Columns[0].ColumnName, "fnhash");
    const auto& unique = dynamic_cast<const TCRVConstraintDefUnique&>(t.Constraints[3]);
    EXPECT_EQ(unique.Name, "C_Unique$size$guid");

    // Short-key sizes: a text or bytes column keeps its own size above 0, every other gets 20.
    EXPECT_EQ(t.Indexes[0].Columns[0].MaxIndexedSize, 20) << "a 32-character hash without a size";
    EXPECT_EQ(t.Indexes[1].Columns[0].MaxIndexedSize, 20);
    EXPECT_EQ(t.Indexes[1].Columns[1].MaxIndexedSize, 20) << "a GUID is not a sized text here";
    EXPECT_EQ(t.Indexes[2].Columns[0].MaxIndexedSize, 6);
    EXPECT_TRUE(t.Indexes[2].Columns[0].CaseInsensitive);
    EXPECT_EQ(t.Indexes[2].Columns[1].MaxIndexedSize, 20);

    const TCRVTableDefinition temporary = CRVBuildTableDefinition("tmp", fields, {}, true);
    EXPECT_EQ(temporary.Constraints.Count(), 0) << "a temporary table has no field constraints";
}

TEST(CRVTableDefinition, LongConstraintNamesAreCutAtACharacter) {
    EXPECT_EQ(CRVCutName("abc", 2), "ab");
    EXPECT_EQ(CRVCutName("a\xC3\xA9", 2), "a");
    EXPECT_EQ(CRVCutName("a\xC3\xA9", 3), "a\xC3\xA9");
    const std::string column(200, 'c');
    const TCRVFieldDeclaration fields[] = {{.Name = column, .Type = A::aftInteger},
                                           {.Name = "d", .Type = A::aftInteger}};
    const TCRVIndexDeclaration indexes[] = {
        {.Name = "u", .Columns = {{column}, {"d"}, {column}}, .Unique = true}};
    const TCRVTableDefinition t = CRVBuildTableDefinition("t", fields, indexes);
    EXPECT_EQ(t.Constraints[0].Name.size(), 255u);
    EXPECT_EQ(t.Constraints[0].Name.substr(0, 10), "C_Unique$c");
}

} // namespace
