#include "CRVTypes/CRVText.h"
#include "CRVTypes/CRVTypesTestUtil.h"
#include "CRVTypes/CRVVariant.h"

#include <gtest/gtest.h>

namespace {

using B = TCRVBaseFieldType;

TEST(CRVVariant, ValuesInTheirMemoryEncoding) {
    EXPECT_EQ(AllocMemAndSetData(B::bftVarchar, std::string("abc")), ByteVector({'a', 'b', 'c', 0}));
    EXPECT_EQ(AllocMemAndSetData(B::bftWideVarchar, std::string("h\xC3\xA9")),
              ByteVector({'h', 0, 0xE9, 0, 0, 0}));
    EXPECT_EQ(AllocMemAndSetData(B::bftSignedInt16, std::int64_t{-2}), ByteVector({0xFE, 0xFF}));
    EXPECT_EQ(AllocMemAndSetData(B::bftUnsignedInt32, std::string(" 4294967295 ")),
              ByteVector({0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(AllocMemAndSetData(B::bftLogical, true), ByteVector({1, 0}));
    EXPECT_EQ(AllocMemAndSetData(B::bftDate, 0.75), ByteVector({0x5A, 0x95, 0x0A, 0x00})); // 693594
    EXPECT_EQ(AllocMemAndSetData(B::bftExtended, 1.0), ByteVector({0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F}));
    EXPECT_EQ(AllocMemAndSetData(B::bftBytes, ByteVector({7, 8})), ByteVector({7, 8, 0}));
}

TEST(CRVVariant, ValuesThatDoNotFitTheTypeAreRefused) {
    EXPECT_EQ(RaisedMessage([] { AllocMemAndSetData(B::bftSignedInt8, std::int64_t{128}); }),
              "Cannot convert value '128' to data type 'SHORTINT' - Native error: 30054");
    EXPECT_EQ(RaisedCode([] { AllocMemAndSetData(B::bftUnsignedInt8, std::int64_t{-1}); }), 30054);
    EXPECT_EQ(RaisedCode([] { AllocMemAndSetData(B::bftSignedInt32, std::string("12x")); }), 30054);
    EXPECT_EQ(RaisedCode([] { AllocMemAndSetData(B::bftSignedInt32, 1.5); }), 30054);
    EXPECT_EQ(RaisedCode([] { AllocMemAndSetData(B::bftBlob, std::string("x")); }), 30054);
    EXPECT_EQ(RaisedCode([] { AllocMemAndSetData(B::bftBytes, std::string("x")); }), 30054);
}

TEST(CRVVariant, EmptyTextMakesANullOfTheType) {
    const TCRVVariant v = CRVMakeVariant(B::bftVarchar, std::string());
    EXPECT_TRUE(v.IsNull);
    EXPECT_EQ(v.DataType, B::bftVarchar);
    EXPECT_TRUE(CRVMakeVariant(B::bftSignedInt32, std::monostate{}).IsNull);
}

TEST(CRVVariant, CastsBetweenTypes) {
    const TCRVVariant text = CRVMakeVariant(B::bftVarchar, std::string("42"));
    const TCRVVariant number = CRVCastVariant(text, B::bftSignedInt64);
    EXPECT_EQ(std::get<std::int64_t>(CRVVariantValue(number)), 42);
    EXPECT_EQ(std::get<std::string>(CRVVariantValue(CRVCastVariant(number, B::bftChar))), "42");
    const TCRVVariant wide =
        CRVCastVariant(CRVMakeVariant(B::bftVarchar, std::string("\xE2\x82\xAC")), B::bftWideChar);
    EXPECT_EQ(std::get<std::u16string>(CRVVariantValue(wide)), u"\u20AC");
    EXPECT_TRUE(CRVCastVariant(TCRVVariant::Null(B::bftVarchar), B::bftDouble).IsNull);
}

TEST(CRVVariant, WritingIntoAFieldCutsTextAtWholeCharacters) {
    std::vector<std::byte> field(4, std::byte{0xAA});
    CRVWriteVariantToField(CRVMakeVariant(B::bftVarchar, std::string("ab")), field);
    EXPECT_EQ(field, ByteVector({'a', 'b', 0, 0}));
    CRVWriteVariantToField(CRVMakeVariant(B::bftVarchar, std::string("abcdef")), field);
    EXPECT_EQ(field, ByteVector({'a', 'b', 'c', 0}));
    CRVWriteVariantToField(CRVMakeVariant(B::bftVarchar, std::string("a\xC3\xA9z")), field); // a, e-acute, z
    EXPECT_EQ(field, ByteVector({'a', 0xC3, 0xA9, 0}));
    CRVWriteVariantToField(CRVMakeVariant(B::bftVarchar, std::string("ab\xC3\xA9")), field);
    EXPECT_EQ(field, ByteVector({'a', 'b', 0, 0})) << "half a character is not kept";

    std::vector<std::byte> wide(6, std::byte{0xAA});
    CRVWriteVariantToField(CRVMakeVariant(B::bftWideVarchar, std::u16string(u"a\U0001F600")), wide);
    EXPECT_EQ(wide, ByteVector({'a', 0, 0, 0, 0, 0})) << "no lone surrogate";
}

TEST(CRVText, Utf8AndUtf16) {
    EXPECT_EQ(CRVUtf8ToUtf16("a\xC3\xA9\xF0\x9F\x98\x80"), u"a\u00E9\U0001F600");
    EXPECT_EQ(CRVUtf16ToUtf8(u"a\u00E9\U0001F600"), "a\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(CRVUtf8ToUtf16("\xC3"), u"\uFFFD");
    EXPECT_EQ(CRVUtf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD"); // overlong
    EXPECT_EQ(CRVUtf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_TRUE(CRVSameName("Files_Hash", "fILES_hASH"));
    EXPECT_FALSE(CRVSameName("abc", "abd"));
}

} // namespace
