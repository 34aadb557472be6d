#include "CRVTypes/CRVFieldTypes.h"
#include "CRVTypes/CRVTypesTestUtil.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using A = TCRVAdvancedFieldType;
using B = TCRVBaseFieldType;
using K = TCRVDataSetFieldKind;

TEST(CRVFieldTypes, TableHasSixtyTwoRowsAndEveryDeclaredType) {
    EXPECT_EQ(CRVTypeTable().size(), 62u);
    std::set<int> advanced;
    for (const auto& row : CRVTypeTable())
        advanced.insert(static_cast<int>(row.AdvancedType));
    EXPECT_EQ(advanced.size(), 36u);
    EXPECT_EQ(*advanced.begin(), 1);
    EXPECT_EQ(*advanced.rbegin(), 36);
}

TEST(CRVFieldTypes, SearchesTakeTheFirstMatchingRow) {
    // Advanced -> base.
    EXPECT_EQ(AdvancedFieldTypeToBaseFieldType(A::aftGuid), B::bftChar);
    EXPECT_EQ(AdvancedFieldTypeToBaseFieldType(A::aftTimeStamp), B::bftDateTime);
    EXPECT_EQ(AdvancedFieldTypeToBaseFieldType(A::aftAutoIncCardinal), B::bftUnsignedInt32);
    EXPECT_EQ(AdvancedFieldTypeToBaseFieldType(A::aftFormattedMemo), B::bftClob);
    EXPECT_EQ(AdvancedFieldTypeToBaseFieldType(A::aftUnknown), B::bftUnknown);
    EXPECT_EQ(AdvancedFieldTypeToBaseFieldType(static_cast<A>(37)), B::bftUnknown);

    // Base -> advanced: several declared types share a storage class; the first row wins.
    const std::pair<B, A> baseCases[] = {
        {B::bftChar, A::aftChar},           {B::bftSignedInt32, A::aftInteger},
        {B::bftSignedInt8, A::aftShortint}, {B::bftUnsignedInt32, A::aftCardinal},
        {B::bftDateTime, A::aftDateTime},   {B::bftBlob, A::aftBlob},
        {B::bftClob, A::aftMemo},           {B::bftDouble, A::aftDouble},
        {B::bftBFile, A::aftUnknown},       {B::bftUnknown, A::aftUnknown},
    };
    for (const auto& [base, advanced] : baseCases)
        EXPECT_EQ(BaseFieldTypeToAdvancedFieldType(base), advanced) << static_cast<int>(base);

    // Dataset kind -> advanced: the wider type of a shared kind comes first.
    const std::pair<K, A> kindCases[] = {
        {K::ftFloat, A::aftDouble},    {K::ftBCD, A::aftDouble},          {K::ftSmallint, A::aftSmallint},
        {K::ftWord, A::aftWord},       {K::ftLargeint, A::aftLargeint},   {K::ftWideString, A::aftWideChar},
        {K::ftAutoInc, A::aftAutoInc}, {K::ftParadoxOle, A::aftBlob},     {K::ftOraClob, A::aftBlob},
        {K::ftGuid, A::aftGuid},       {K::ftTimeStamp, A::aftTimeStamp}, {K::ftFixedChar, A::aftChar},
        {K::ftMemo, A::aftMemo},       {K::ftWideMemo, A::aftWideMemo},
    };
    for (const auto& [kind, advanced] : kindCases)
        EXPECT_EQ(FieldTypeToCRVAdvFieldType(kind), advanced) << static_cast<int>(kind);

    // Advanced -> dataset kind.
    EXPECT_EQ(CRVAdvFieldTypeToFieldType(A::aftSingle), K::ftFloat);
    EXPECT_EQ(CRVAdvFieldTypeToFieldType(A::aftCardinal), K::ftLargeint);
    EXPECT_EQ(CRVAdvFieldTypeToFieldType(A::aftAutoIncLargeint), K::ftLargeint);
    EXPECT_EQ(CRVAdvFieldTypeToFieldType(A::aftShortint), K::ftSmallint);
    EXPECT_EQ(CRVAdvFieldTypeToFieldType(A::aftBlob), K::ftBlob);
    EXPECT_EQ(CRVAdvFieldTypeToFieldType(A::aftUnknown), K::ftUnknown);
}

TEST(CRVFieldTypes, KindWithoutRowRaises30289WithItsNumber) {
    EXPECT_EQ(RaisedMessage([] { FieldTypeToCRVAdvFieldType(static_cast<K>(22)); }),
              "Unknown DataType: '22' - Native error: 30289");
    EXPECT_EQ(RaisedCode([] { FieldTypeToCRVAdvFieldType(K::ftUnknown); }), 30289);
}

TEST(CRVFieldTypes, NamesAreTheFirstNameOfTheType) {
    EXPECT_EQ(AftToStr(A::aftString), "STRING");
    EXPECT_EQ(AftToStr(A::aftDouble), "FLOAT");
    EXPECT_EQ(AftToStr(A::aftBoolean), "LOGICAL");
    EXPECT_EQ(AftToStr(A::aftLargeint), "LARGEINT");
    EXPECT_EQ(AftToStr(A::aftUnknown), "Unknown");
    EXPECT_EQ(BftToStr(B::bftSignedInt32), "INTEGER");
    EXPECT_EQ(BftToStr(B::bftVarBytes), "VARBYTES");
    EXPECT_EQ(BftToStr(B::bftClob), "MEMO");
    EXPECT_EQ(BftToStr(B::bftBFile), "Unknown");
}

// Each predicate against the code list it stands for, over every code.
TEST(CRVFieldTypes, PredicatesCoverExactlyTheirCodes) {
    const auto check = [](auto pred, std::set<int> expected, int maxCode, auto tag) {
        using T = decltype(tag);
        for (int code = 0; code <= maxCode + 2; ++code)
            EXPECT_EQ(pred(static_cast<T>(code)), expected.count(code) == 1) << "code " << code;
    };
    const B b{};
    const A a{};
    check([](B t) { return IsBLOBFieldType(t); }, {18, 19, 20}, 25, b);
    check([](B t) { return IsStringFieldType(t); }, {1, 2, 3, 4}, 25, b);
    check([](B t) { return IsWideStringFieldType(t); }, {2, 4}, 25, b);
    check([](B t) { return IsNumericFieldType(t); }, {5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 22}, 25, b);
    check([](B t) { return IsDateTimeFieldType(t); }, {15, 16, 17}, 25, b);
    check([](A t) { return IsBLOBFieldType(t); }, {31, 32, 33, 34, 35}, 36, a);
    check([](A t) { return IsStringFieldType(t); }, {1, 2, 3, 4, 36}, 36, a);
    check([](A t) { return IsWideStringFieldType(t); }, {3, 4}, 36, a);
    check([](A t) { return IsBytesFieldType(t); }, {29, 30}, 36, a);
    check([](A t) { return IsAutoincFieldType(t); }, {12, 13, 14, 15, 16, 17, 18, 19}, 36, a);
    check([](A t) { return IsSizebleFieldType(t); }, {1, 2, 3, 4, 29, 30}, 36, a);
    std::set<int> convertible;
    for (int c = 1; c <= 28; ++c)
        convertible.insert(c);
    convertible.insert({33, 34, 35});
    check([](A t) { return IsConvertableFieldType(t); }, convertible, 36, a);
}

TEST(CRVFieldTypes, DataSizes) {
    struct TCase {
        B Type;
        std::int32_t FieldSize, Memory, Disk;
    };
    const TCase cases[] = {
        {B::bftVarchar, 20, 21, 21},  {B::bftChar, 38, 39, 39},     {B::bftWideVarchar, 20, 42, 42},
        {B::bftWideChar, 0, 2, 2},    {B::bftSignedInt8, 0, 1, 1},  {B::bftUnsignedInt16, 0, 2, 2},
        {B::bftSignedInt32, 0, 4, 4}, {B::bftSignedInt64, 0, 8, 8}, {B::bftSingle, 0, 4, 4},
        {B::bftDouble, 0, 8, 8},      {B::bftExtended, 0, 10, 10},  {B::bftCurrency, 0, 8, 8},
        {B::bftDate, 0, 4, 4},        {B::bftTime, 0, 4, 4},        {B::bftDateTime, 0, 8, 8},
        {B::bftLogical, 0, 2, 2},     {B::bftBytes, 16, 17, 17},    {B::bftVarBytes, 16, 17, 17},
        {B::bftBlob, 0, 10, 6},       {B::bftClob, 0, 10, 6},       {B::bftWideClob, 0, 10, 6},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(GetDataSizeInMemory(c.Type, c.FieldSize), c.Memory) << BftToStr(c.Type);
        EXPECT_EQ(GetDataSizeOnDisk(c.Type, c.FieldSize), c.Disk) << BftToStr(c.Type);
    }
}

TEST(CRVFieldTypes, TypesWithoutSizeAndImpossibleSizesAreRefused) {
    EXPECT_EQ(RaisedMessage([] { GetDataSizeInMemory(B::bftBFile, 0); }),
              "Unknown DataType: 'Unknown' - Native error: 30050");
    EXPECT_EQ(RaisedCode([] { GetDataSizeInMemory(B::bftUnknown, 0); }), 30050);
    EXPECT_EQ(RaisedCode([] { GetDataSizeInMemory(static_cast<B>(200), 0); }), 30050);
    EXPECT_EQ(RaisedCode([] { GetDataSizeInMemory(B::bftVarchar, -1); }), 30050);
    EXPECT_EQ(RaisedCode([] { GetDataSizeInMemory(B::bftWideVarchar, INT32_MAX / 2); }), 30050);
}

} // namespace
