#include "CRVTypes/CRVExtended.h"
#include "CRVTypes/CRVRecordLayout.h"
#include "CRVTypes/CRVTypesTestUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using A = TCRVAdvancedFieldType;

TCRVFieldLayout Field(A type, std::int32_t size = 0) {
    const TCRVBaseFieldType base = AdvancedFieldTypeToBaseFieldType(type);
    return {base, type, GetDataSizeInMemory(base, size), GetDataSizeOnDisk(base, size), 0, 0};
}

TCRVRecordLayout Layout(std::initializer_list<TCRVFieldLayout> fields) {
    return TCRVRecordLayout(fields);
}

TEST(CRVRecordLayout, BitmapAndRecordSizes) {
    EXPECT_EQ(GetNullBitmapSize(0), 0);
    EXPECT_EQ(GetNullBitmapSize(8), 1);
    EXPECT_EQ(GetNullBitmapSize(9), 2);
    EXPECT_EQ(TCRVRecordLayout(std::vector<TCRVFieldLayout>(8, Field(A::aftByte))).MemoryRecordSize(), 9);
    EXPECT_EQ(TCRVRecordLayout(std::vector<TCRVFieldLayout>(9, Field(A::aftByte))).MemoryRecordSize(), 11);

    const auto oneInteger = Layout({Field(A::aftInteger)});
    EXPECT_EQ(oneInteger.MemoryRecordSize(), 5);
    EXPECT_EQ(oneInteger.DiskRecordSize(), 5);

    const auto withBlob = Layout({Field(A::aftInteger), Field(A::aftBlob)});
    EXPECT_EQ(withBlob.DiskRecordSize(), 11);
    EXPECT_EQ(withBlob.MemoryRecordSize(), 15);

    const auto strings = Layout(
        {Field(A::aftString, 20), Field(A::aftWideString, 20), Field(A::aftMemo), Field(A::aftDateTime)});
    EXPECT_EQ(strings.Field(0).MemoryOffset, 1);
    EXPECT_EQ(strings.Field(1).MemoryOffset, 22);
    EXPECT_EQ(strings.Field(2).MemoryOffset, 64);
    EXPECT_EQ(strings.Field(3).MemoryOffset, 74);
    EXPECT_EQ(strings.Field(3).DiskOffset, 70);
    EXPECT_EQ(strings.MemoryRecordSize(), 82);
    EXPECT_EQ(strings.DiskRecordSize(), 78);
}

TEST(CRVRecordLayout, NewRecordIsAllNullAndSettingAFieldClearsOnlyItsBit) {
    const auto layout = Layout({Field(A::aftInteger), Field(A::aftInteger), Field(A::aftInteger)});
    auto record = layout.NewRecord();
    EXPECT_EQ(record[0], std::byte{0xFF});
    for (std::size_t i = 1; i < record.size(); ++i)
        EXPECT_EQ(record[i], std::byte{0});
    const std::int32_t v = 77;
    layout.SetFieldData(0, &v, record);
    EXPECT_EQ(record[0], std::byte{0xFE});
    std::int32_t out = 0;
    EXPECT_TRUE(layout.GetFieldData(0, &out, record));
    EXPECT_EQ(out, 77);
    EXPECT_FALSE(layout.GetFieldData(1, &out, record));
    EXPECT_EQ(out, 77) << "a NULL field leaves the destination alone";
    layout.SetFieldData(0, nullptr, record);
    EXPECT_TRUE(CheckNullFlag(0, record));
    EXPECT_EQ(std::memcmp(record.data() + 1, &v, 4), 0) << "setting NULL leaves the bytes";
}

TEST(CRVRecordLayout, NullBitsOfLaterBytes) {
    std::vector<std::byte> bitmap(2, std::byte{0});
    SetNullFlag(true, 9, bitmap);
    EXPECT_EQ(bitmap[1], std::byte{0x02});
    EXPECT_TRUE(CheckNullFlag(9, bitmap));
    EXPECT_FALSE(CheckNullFlag(8, bitmap));
    SetNullFlag(false, 9, bitmap);
    EXPECT_EQ(bitmap[1], std::byte{0});
}

TEST(CRVRecordLayout, EmptyTextIsStoredAsNull) {
    const auto layout = Layout({Field(A::aftString, 10), Field(A::aftWideString, 10)});
    auto record = layout.NewRecord();
    char text[11] = "hello";
    layout.SetFieldData(0, text, record);
    EXPECT_TRUE(layout.GetFieldData(0, nullptr, record));
    text[0] = '\0';
    layout.SetFieldData(0, text, record);
    EXPECT_FALSE(layout.GetFieldData(0, nullptr, record));

    char16_t wide[11] = u"hi";
    layout.SetFieldData(1, wide, record);
    EXPECT_TRUE(layout.GetFieldData(1, nullptr, record));
    wide[0] = 0;
    wide[1] = 0x4100; // a zero low byte alone does not make the text empty
    layout.SetFieldData(1, wide, record);
    EXPECT_FALSE(layout.GetFieldData(1, nullptr, record));
    const char16_t notEmpty[11] = {0x0100, 0};
    layout.SetFieldData(1, notEmpty, record);
    EXPECT_TRUE(layout.GetFieldData(1, nullptr, record));
}

TEST(CRVRecordLayout, TextIsReadUpToItsTerminatorAndAlwaysTerminated) {
    const auto layout = Layout({Field(A::aftString, 4), Field(A::aftWideString, 2)});
    auto record = layout.NewRecord();
    const char full[5] = {'a', 'b', 'c', 'd', 'e'};
    layout.SetFieldData(0, full, record);
    char out[5] = {};
    ASSERT_TRUE(layout.GetFieldData(0, out, record));
    EXPECT_STREQ(out, "abcd");
    // A short text in a buffer that ends at its terminator: nothing past it is read.
    const std::string shortText = "x";
    layout.SetFieldData(0, shortText.c_str(), record);
    EXPECT_EQ(std::vector<std::byte>(record.begin() + 1, record.begin() + 6), ByteVector({'x', 0, 0, 0, 0}));
    const char16_t wide[] = {u'p', u'q', u'r'};
    layout.SetFieldData(1, wide, record);
    EXPECT_EQ(std::vector<std::byte>(record.begin() + 6, record.end()), ByteVector({'p', 0, 'q', 0, 0, 0}));
}

TEST(CRVRecordLayout, NativeFormsAtTheDatasetBoundary) {
    const auto layout = Layout({Field(A::aftShortint), Field(A::aftCardinal), Field(A::aftSingle),
                                Field(A::aftExtended), Field(A::aftBoolean), Field(A::aftBlob)});
    auto record = layout.NewRecord();
    EXPECT_EQ(layout.NativeDataSize(0), 2);
    EXPECT_EQ(layout.NativeDataSize(1), 8);

    const std::int16_t shortIn = -5;
    layout.SetFieldData(0, &shortIn, record);
    EXPECT_EQ(record[layout.Field(0).MemoryOffset], std::byte{0xFB});
    std::int16_t shortOut = 0;
    layout.GetFieldData(0, &shortOut, record);
    EXPECT_EQ(shortOut, -5);

    const std::int64_t cardinalIn = 0x1FFFFFFFF; // the low 32 bits are kept
    layout.SetFieldData(1, &cardinalIn, record);
    std::int64_t cardinalOut = 0;
    layout.GetFieldData(1, &cardinalOut, record);
    EXPECT_EQ(cardinalOut, 0xFFFFFFFF);

    const double singleIn = 0.1;
    layout.SetFieldData(2, &singleIn, record);
    double singleOut = 0;
    layout.GetFieldData(2, &singleOut, record);
    EXPECT_EQ(singleOut, static_cast<double>(0.1f));

    const double extendedIn = 1.0 / 3.0;
    layout.SetFieldData(3, &extendedIn, record);
    EXPECT_EQ(record[layout.Field(3).MemoryOffset + 9], std::byte{0x3F});
    double extendedOut = 0;
    layout.GetFieldData(3, &extendedOut, record);
    EXPECT_EQ(extendedOut, extendedIn);

    const std::uint16_t wordBoolTrue = 0xFFFF;
    layout.SetFieldData(4, &wordBoolTrue, record);
    EXPECT_EQ(record[layout.Field(4).MemoryOffset], std::byte{1}) << "true is written as 1";
    record[layout.Field(4).MemoryOffset] = std::byte{0xFF};
    record[layout.Field(4).MemoryOffset + 1] = std::byte{0xFF};
    std::uint16_t boolOut = 0;
    layout.GetFieldData(4, &boolOut, record);
    EXPECT_NE(boolOut, 0) << "any non-zero reads as true";

    SetNullFlag(false, 5, record);
    std::byte untouched[10] = {};
    untouched[0] = std::byte{0x55};
    EXPECT_TRUE(layout.GetFieldData(5, untouched, record));
    EXPECT_EQ(untouched[0], std::byte{0x55}) << "BLOB data goes through streams, not here";
}

// Narrow stored integers are widened to their dataset kind's width, whatever the buffer held.
TEST(CRVRecordLayout, NarrowIntegersAreWidened) {
    const auto layout = Layout({Field(A::aftByte), Field(A::aftAutoIncShortint), Field(A::aftAutoIncWord),
                                Field(A::aftAutoIncByte), Field(A::aftAutoIncSmallint)});
    auto record = layout.NewRecord();
    const std::uint16_t byteIn = 0x01C8; // only the low byte is stored
    layout.SetFieldData(0, &byteIn, record);
    std::uint16_t byteOut = 0xFFFF;
    layout.GetFieldData(0, &byteOut, record);
    EXPECT_EQ(byteOut, 0xC8);
    EXPECT_EQ(layout.NativeDataSize(0), 2);

    const std::int32_t ins[] = {-3, 65535, 255, -300};
    const std::int32_t expected[] = {-3, 65535, 255, -300};
    for (std::int32_t i = 0; i < 4; ++i) {
        layout.SetFieldData(i + 1, &ins[i], record);
        EXPECT_EQ(layout.NativeDataSize(i + 1), 4);
        std::int32_t out = 0x5A5A5A5A;
        layout.GetFieldData(i + 1, &out, record);
        EXPECT_EQ(out, expected[i]) << "field " << i + 1;
    }
}

TEST(CRVRecordLayout, BadFieldNumbersAndShortBuffers) {
    const auto layout = Layout({Field(A::aftInteger)});
    auto record = layout.NewRecord();
    EXPECT_EQ(RaisedMessage([&] { layout.GetFieldData(1, nullptr, record); }),
              "Invalid field number - FieldNo = 1, FieldCount = 1 - Native error: 10000");
    EXPECT_EQ(RaisedCode([&] { layout.GetFieldData(-1, nullptr, record); }), 10000);
    EXPECT_EQ(RaisedCode([&] { layout.SetFieldData(1, nullptr, record); }), 10004);
    std::vector<std::byte> tooShort(3);
    EXPECT_EQ(
        RaisedMessage([&] { layout.GetFieldData(0, nullptr, tooShort); }),
        "Error getting field data - FieldNo = 0, MemoryOffset = 1, MemoryDataSize = 4 - Native error: 10002");
    EXPECT_EQ(RaisedCode([&] { layout.MemoryToDisk(record, tooShort); }), 10002);
    EXPECT_EQ(RaisedCode([] { CompareRecordBuffers(nullptr, "", 0); }), 10122);
    EXPECT_EQ(RaisedCode([] { CompareRecordBuffers("", nullptr, 0); }), 10123);
    EXPECT_TRUE(CompareRecordBuffers("abc", "abd", 2));
    EXPECT_FALSE(CompareRecordBuffers("abc", "abd", 3));
}

TEST(CRVRecordLayout, DiskAndMemoryFormsDifferOnlyInBlobCacheBytes) {
    const auto layout = Layout({Field(A::aftInteger), Field(A::aftBlob), Field(A::aftString, 3)});
    std::vector<std::byte> memory(static_cast<std::size_t>(layout.MemoryRecordSize()));
    for (std::size_t i = 0; i < memory.size(); ++i)
        memory[i] = static_cast<std::byte>(i + 1);
    std::vector<std::byte> disk(static_cast<std::size_t>(layout.DiskRecordSize()), std::byte{0xEE});
    layout.MemoryToDisk(memory, disk);
    // bitmap(1) int(2..5) reference(6..11) [cache 12..15 dropped] string(16..19)
    EXPECT_EQ(disk, ByteVector({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 16, 17, 18, 19}));

    std::vector<std::byte> back(memory.size(), std::byte{0xEE});
    layout.DiskToMemory(disk, back);
    auto expected = memory;
    std::fill(expected.begin() + 11, expected.begin() + 15, std::byte{0});
    EXPECT_EQ(back, expected) << "cache bytes are zero after a read";
    EXPECT_TRUE(layout.Equal(back, memory)) << "cache bytes are not compared";
    back[0] ^= std::byte{0x10};
    EXPECT_FALSE(layout.Equal(back, memory));
    back[0] ^= std::byte{0x10};
    back[18] ^= std::byte{0x01};
    EXPECT_FALSE(layout.Equal(back, memory));
}

TEST(CRVRecordLayout, ClearingStringGarbage) {
    const auto layout = Layout(
        {Field(A::aftString, 5), Field(A::aftWideString, 3), Field(A::aftString, 2), Field(A::aftInteger)});
    std::vector<std::byte> record(static_cast<std::size_t>(layout.MemoryRecordSize()), std::byte{0xAB});
    record[0] = std::byte{0x04 | 0x08}; // field 2 and field 3 NULL
    const char text[] = {'a', 'b', 0, 'x', 'y', 'z'};
    std::memcpy(record.data() + layout.Field(0).MemoryOffset, text, sizeof text);
    const char16_t wide[] = {u'q', 0, u'w', u'e'};
    std::memcpy(record.data() + layout.Field(1).MemoryOffset, wide, sizeof wide);
    layout.ClearStringFieldsGarbage(record);

    const auto at = [&](std::int32_t field) { return record.begin() + layout.Field(field).MemoryOffset; };
    EXPECT_EQ(std::vector<std::byte>(at(0), at(1)), ByteVector({'a', 'b', 0, 0, 0, 0}));
    EXPECT_EQ(std::vector<std::byte>(at(1), at(2)), ByteVector({'q', 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(std::vector<std::byte>(at(2), at(3)), ByteVector({0, 0, 0})) << "a NULL string is zeroed";
    EXPECT_EQ(std::vector<std::byte>(at(3), record.end()), ByteVector({0xAB, 0xAB, 0xAB, 0xAB}))
        << "other types are left alone";
}

} // namespace
