// The table metadata stream: field, index and constraint definition lists, byte for byte.
#include "CRVBase/CRVConstraintDef.h"
#include "CRVBase/CRVFieldDef.h"
#include "CRVBase/CRVIndexDef.h"
#include "CRVCompression/CRVStream.h"
#include "CRVExcept/CRVExceptTestUtil.h"

#include <gtest/gtest.h>

#include <limits>
#include <set>

namespace {

using A = TCRVAdvancedFieldType;
using B = TCRVBaseFieldType;

// A memory stream that accepts only `limit` bytes in all.
class TShortStream : public TCRVMemoryStream {
public:
    explicit TShortStream(std::int64_t limit) : FLimit(limit) {}
    std::int64_t Write(const void* buffer, std::int64_t count) override {
        const std::int64_t room = std::max<std::int64_t>(0, FLimit - GetPosition());
        return TCRVMemoryStream::Write(buffer, std::min(count, room));
    }

private:
    std::int64_t FLimit;
};

// Little-endian bytes written out by hand.
struct TExpected {
    std::vector<std::uint8_t> Bytes;
    TExpected& U8(int v) {
        Bytes.push_back(static_cast<std::uint8_t>(v));
        return *this;
    }
    TExpected& I32(std::int32_t v) {
        for (int i = 0; i < 4; ++i)
            U8(static_cast<int>((static_cast<std::uint32_t>(v) >> (8 * i)) & 0xFF));
        return *this;
    }
    TExpected& I64(std::int64_t v) {
        for (int i = 0; i < 8; ++i)
            U8(static_cast<int>((static_cast<std::uint64_t>(v) >> (8 * i)) & 0xFF));
        return *this;
    }
    TExpected& Chars(std::string_view s) {
        for (char c : s)
            U8(static_cast<unsigned char>(c));
        return *this;
    }
};

struct TMetadata {
    TCRVFieldDefs Fields;
    TCRVIndexDefs Indexes;
    TCRVConstraintDefs Constraints;

    void Save(TCRVStream& stream) const {
        TCRVMetadataWriter writer(stream);
        Fields.SaveToStream(writer);
        Indexes.SaveToStream(writer);
        Constraints.SaveToStream(writer);
    }
    void Load(TCRVStream& stream) {
        TCRVMetadataReader reader(stream);
        Fields.LoadFromStream(reader);
        Indexes.LoadFromStream(reader);
        Constraints.LoadFromStream(reader);
    }
};

TMetadata SampleMetadata() {
    TMetadata m;
    TCRVFieldDef& id = m.Fields.Add("ID", A::aftAutoInc);
    id.ObjectID = 11;
    id.AutoincMinValue = 1;
    id.AutoincMaxValue = 1000;
    id.AutoincCycled = true;
    TCRVFieldDef& name = m.Fields.Add("Name", A::aftString, 20);
    name.ObjectID = 12;
    name.DefaultValue = CRVMakeVariant(B::bftVarchar, std::string("abc"));
    TCRVFieldDef& data = m.Fields.Add("Data", A::aftBlob);
    data.ObjectID = 13;
    data.BLOBCompressionAlgorithm = 1;
    data.BLOBCompressionMode = 6;
    data.BLOBBlockSize = 65536;

    TCRVIndexDef& pk = m.Indexes.Add("PK_ID");
    pk.ObjectID = 21;
    pk.Unique = pk.Primary = true;
    pk.RootPageNo = 7;
    pk.Columns = {{"ID", false, false, 20}};
    TCRVIndexDef& temporary = m.Indexes.Add("TMP");
    temporary.Temporary = true;
    temporary.Columns = {{"Name", false, false, 20}};
    TCRVIndexDef& byName = m.Indexes.Add("ByName");
    byName.ObjectID = 22;
    byName.RootPageNo = 9;
    byName.Columns = {{"Name", true, true, 20}};

    auto& primary = m.Constraints.Add<TCRVConstraintDefPrimary>("C_PK$ID");
    primary.ObjectID = 31;
    primary.TableName = "T";
    primary.TableObjectID = 5;
    primary.IndexName = "PK_ID";
    primary.IndexObjectID = 21;
    primary.Columns = {{"ID", 11}};
    auto& notNull = m.Constraints.Add<TCRVConstraintDefNotNull>("$C_NotNull$T$Name");
    notNull.ObjectID = 32;
    notNull.TableName = "T";
    notNull.TableObjectID = 5;
    notNull.ColumnName = "Name";
    notNull.ColumnObjectID = 12;
    auto& check = m.Constraints.Add<TCRVConstraintDefCheck>("$C_Check$T$ID");
    check.ObjectID = 33;
    check.TableName = "T";
    check.TableObjectID = 5;
    check.ColumnName = "ID";
    check.ColumnObjectID = 11;
    check.MinValue = CRVMakeVariant(B::bftSignedInt32, std::int64_t{1});
    check.MaxValue = TCRVVariant::Null(B::bftSignedInt32);
    return m;
}

std::vector<std::uint8_t> SampleBytes() {
    const std::int64_t max = std::numeric_limits<std::int64_t>::max();
    TExpected e;
    // Field definitions.
    e.I32(3);
    e.U8(2).Chars("ID").I32(11).U8(7).U8(12).I32(0);
    e.I64(1).I64(0).I64(1).I64(1000).U8(0xFF);
    e.U8(7).U8(1); // NULL default of the field's base type
    e.U8(4).Chars("Name").I32(12).U8(3).U8(2).I32(20);
    e.I64(1).I64(0).I64(0).I64(max).U8(0);
    e.U8(3).U8(0).I32(4).Chars("abc").U8(0);
    e.U8(4).Chars("Data").I32(13).U8(18).U8(31).I32(0);
    e.U8(1).U8(6).I32(65536); // BLOB fields only
    e.I64(1).I64(0).I64(0).I64(max).U8(0);
    e.U8(18).U8(1);
    // Index definitions: the temporary one is left out.
    e.I32(2);
    e.U8(5).Chars("PK_ID").I32(21).U8(0).U8(1).U8(1).I32(1).I32(7);
    e.U8(2).Chars("ID").U8(0).U8(0).I32(20);
    e.U8(6).Chars("ByName").I32(22).U8(0).U8(0).U8(0).I32(1).I32(9);
    e.U8(4).Chars("Name").U8(1).U8(1).I32(20);
    // Constraint definitions.
    e.I32(3);
    e.U8(0).U8(7).Chars("C_PK$ID").I32(31).I32(-1).I32(5).I32(21);
    e.I32(1).U8(0);                // schema name ""
    e.I32(2).U8(1).Chars("T");     // table name
    e.I32(6).U8(5).Chars("PK_ID"); // index name
    e.I32(1).I32(11).I32(3).U8(2).Chars("ID");
    e.U8(3).U8(17).Chars("$C_NotNull$T$Name").I32(32).I32(-1).I32(5).I32(12);
    e.U8(1).U8(0).U8(2).U8(1).Chars("T").U8(5).U8(4).Chars("Name");
    e.U8(4).U8(13).Chars("$C_Check$T$ID").I32(33).I32(-1).I32(5).I32(11);
    e.U8(1).U8(0).U8(2).U8(1).Chars("T").U8(3).U8(2).Chars("ID");
    e.U8(7).U8(0).I32(4).I32(1); // MinValue 1
    e.U8(7).U8(1);               // MaxValue NULL
    return e.Bytes;
}

std::vector<std::uint8_t> Saved(const TMetadata& m) {
    TCRVMemoryStream stream;
    m.Save(stream);
    const auto bytes = stream.Bytes();
    return {bytes.begin(), bytes.end()};
}

int LoadCode(const std::vector<std::uint8_t>& bytes) {
    TCRVMemoryStream stream(bytes);
    TMetadata m;
    return CodeOf([&] { m.Load(stream); });
}

TEST(CRVMetadata, WrittenByteForByte) {
    EXPECT_EQ(Saved(SampleMetadata()), SampleBytes());
}

TEST(CRVMetadata, ReadBackAndWrittenAgainUnchanged) {
    const auto bytes = SampleBytes();
    TCRVMemoryStream stream(bytes);
    TMetadata m;
    m.Load(stream);
    EXPECT_EQ(stream.GetPosition(), stream.GetSize());
    EXPECT_EQ(Saved(m), bytes);

    // Sizes and offsets are recomputed, not stored.
    EXPECT_EQ(m.Fields[1].MemoryOffset, 5);
    EXPECT_EQ(m.Fields[2].MemoryDataSize, 10);
    EXPECT_EQ(m.Fields[2].DiskDataSize, 6);
    EXPECT_EQ(m.Fields.GetMemoryRecordBufferSize(), 1 + 4 + 21 + 10);
    EXPECT_EQ(m.Fields.GetDiskRecordBufferSize(), 1 + 4 + 21 + 6);
    EXPECT_TRUE(m.Fields[0].AutoincCycled);
    EXPECT_EQ(m.Indexes.Count(), 2);
    EXPECT_FALSE(m.Indexes[0].Temporary);
    EXPECT_EQ(m.Indexes[1].GetIndexColumn(0), (TCRVIndexColumn{"Name", true, true, 20}));
    ASSERT_EQ(m.Constraints.Count(), 3);
    const auto& check = dynamic_cast<const TCRVConstraintDefCheck&>(m.Constraints[2]);
    EXPECT_EQ(check.MinValue, CRVMakeVariant(B::bftSignedInt32, std::int64_t{1}));
    EXPECT_TRUE(check.MaxValue.IsNull);
}

TEST(CRVMetadata, AnyNonZeroCycledByteReadsAsSet) {
    auto bytes = SampleBytes();
    const std::size_t cycledAt = 4 + 1 + 2 + 4 + 1 + 1 + 4 + 32;
    ASSERT_EQ(bytes[cycledAt], 0xFF);
    bytes[cycledAt] = 0x01;
    TCRVMemoryStream stream(bytes);
    TMetadata m;
    m.Load(stream);
    EXPECT_TRUE(m.Fields[0].AutoincCycled);
}

// Every cut of the stream fails with the read code of the item it cut, and never otherwise.
TEST(CRVMetadata, TruncatedStreamNamesTheItem) {
    const auto bytes = SampleBytes();
    std::set<int> readCodes;
    for (int c = 10159; c <= 10251; c += 2)
        readCodes.insert(c);
    readCodes.insert({30408, 30410, 30412, 30414});
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        const int code = LoadCode({bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length)});
        ASSERT_TRUE(readCodes.count(code)) << "cut at " << length << " gave " << code;
    }
    const auto cut = [&](std::size_t length) {
        return LoadCode({bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length)});
    };
    EXPECT_EQ(cut(0), 10159);                 // field count
    EXPECT_EQ(cut(4 + 1 + 2 + 4 + 1), 10169); // first field's AdvancedFieldType
    EXPECT_EQ(cut(4 + 1 + 1), 10163);         // inside the first field's name

    TCRVMemoryStream stream(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 14));
    TMetadata m;
    try {
        m.Load(stream);
        FAIL();
    } catch (const ECRVException& e) {
        EXPECT_STREQ(e.what(), "Cannot read from stream. Position = 13, Stream size = 14, Block size = 4, "
                               "Bytes Read = 1 - Native error: 10171");
    }
}

TEST(CRVMetadata, ShortWriteNamesTheItem) {
    const TMetadata m = SampleMetadata();
    TShortStream stream(4 + 1 + 1);
    try {
        m.Save(stream);
        FAIL();
    } catch (const ECRVException& e) {
        EXPECT_STREQ(e.what(), "Cannot write to stream. Position = 5, Stream size = 6, Block size = 2, "
                               "Bytes Write = 1 - Native error: 10162");
    }
    const std::size_t total = SampleBytes().size();
    for (std::size_t limit = 0; limit < total; limit += 7) {
        TShortStream shortStream(static_cast<std::int64_t>(limit));
        try {
            m.Save(shortStream);
            FAIL() << limit;
        } catch (const ECRVException& e) {
            const int code = e.NativeErrorCode();
            EXPECT_TRUE((code >= 10158 && code <= 10250 && code % 2 == 0) ||
                        (code >= 30407 && code <= 30413 && code % 2))
                << code;
        }
    }
}

TEST(CRVMetadata, CorruptValuesAreRefusedBeforeAnythingIsAllocated) {
    // A default whose size runs past the end of the stream.
    auto bytes = SampleBytes();
    const std::size_t nameDefaultSize = 4 + 48 + 48 + 2; // count, field 0, field 1 up to its DataSize
    ASSERT_EQ(bytes[nameDefaultSize], 4);
    bytes[nameDefaultSize + 3] = 0x7F;
    EXPECT_EQ(LoadCode(bytes), 30414) << "the variant data cannot be read";

    // Negative counts.
    auto negative = SampleBytes();
    negative[3] = 0x80;
    EXPECT_EQ(LoadCode(negative), 10159);

    // Constraint types without a definition class.
    for (int type : {1, 5, 200}) {
        TExpected e;
        e.I32(0).I32(0).I32(1).U8(type);
        TCRVMemoryStream stream(e.Bytes);
        TMetadata m;
        try {
            m.Load(stream);
            FAIL();
        } catch (const ECRVException& ex) {
            EXPECT_EQ(ex.NativeErrorCode(), 30316);
            EXPECT_EQ(ex.Text(), "Unknown Constraint Type: '" + std::to_string(type) + "'");
        }
    }

    // A counted name whose inner length byte disagrees with its count.
    TExpected e;
    e.I32(0).I32(0).I32(1).U8(3).U8(1).Chars("X").I32(1).I32(-1).I32(5).I32(12).U8(2).U8(7).Chars("Q");
    EXPECT_EQ(LoadCode(e.Bytes), 10235);
}

TEST(CRVMetadata, NamesThatDoNotFitTheirLengthByteAreRefused) {
    const auto refused = [](const TMetadata& m) {
        TCRVMemoryStream stream;
        return CodeOf([&] { m.Save(stream); });
    };
    TMetadata longField;
    longField.Fields.Add(std::string(256, 'f'), A::aftInteger);
    EXPECT_EQ(refused(longField), 10160);

    TMetadata notNull;
    notNull.Constraints.Add<TCRVConstraintDefNotNull>("C").ColumnName = std::string(255, 'c');
    EXPECT_EQ(refused(notNull), 10240);
    notNull.Constraints[0].TableName = std::string(254, 't');
    dynamic_cast<TCRVConstraintDefNotNull&>(notNull.Constraints[0]).ColumnName = "c";
    EXPECT_EQ(refused(notNull), 0) << "254 characters fit";

    TMetadata unique;
    unique.Constraints.Add<TCRVConstraintDefUnique>("U").IndexName = std::string(255, 'i');
    EXPECT_EQ(refused(unique), 0) << "the i32 count holds 256";
    TCRVMemoryStream stream;
    unique.Save(stream);
    stream.SetPosition(0);
    TMetadata back;
    back.Load(stream);
    EXPECT_EQ(dynamic_cast<const TCRVConstraintDefUnique&>(back.Constraints[0]).IndexName,
              std::string(255, 'i'));
}

TEST(CRVMetadata, FailedLoadLeavesTheListsAsTheyWere) {
    TMetadata m = SampleMetadata();
    const auto bytes = SampleBytes();
    TCRVMemoryStream stream(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 60));
    TCRVMetadataReader reader(stream);
    EXPECT_THROW(m.Fields.LoadFromStream(reader), ECRVException);
    EXPECT_EQ(m.Fields.Count(), 3);
    EXPECT_EQ(Saved(m), bytes);
}

TEST(CRVMetadata, AssignCopiesEveryDefinition) {
    const TMetadata m = SampleMetadata();
    TMetadata copy;
    copy.Fields.Assign(m.Fields);
    copy.Indexes.Assign(m.Indexes);
    copy.Constraints.Assign(m.Constraints);
    EXPECT_EQ(Saved(copy), Saved(m));
    copy.Constraints[0].Name = "Other";
    EXPECT_EQ(m.Constraints[0].Name, "C_PK$ID") << "a deep copy";
}

} // namespace
