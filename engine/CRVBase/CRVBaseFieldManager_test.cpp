#include "CRVBase/CRVBaseFieldManager.h"
#include "CRVBase/CRVIndexDef.h"
#include "CRVCompression/CRVStream.h"
#include "CRVExcept/CRVExceptTestUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

namespace {

using A = TCRVAdvancedFieldType;
using B = TCRVBaseFieldType;

// A table with one auto-increment field of the given type (field 0) and a text field (field 1).
TCRVBaseFieldManager AutoincTable(A type = A::aftAutoInc,
                                  std::int64_t max = std::numeric_limits<std::int64_t>::max(),
                                  bool cycled = false, std::int64_t min = 0) {
    TCRVFieldDefs defs;
    TCRVFieldDef& id = defs.Add("ID", type);
    id.AutoincMaxValue = max;
    id.AutoincMinValue = min;
    id.AutoincCycled = cycled;
    defs.Add("Name", A::aftString, 10);
    return TCRVBaseFieldManager(defs);
}

// Posts a new row through ApplyAutoincsToRecordBuffer, with `explicitId` when given; answers the row's id.
std::int64_t Post(TCRVBaseFieldManager& m, TCRVAutoincSession& session,
                  std::optional<std::int32_t> explicitId = {}) {
    auto record = m.FieldDefs().Layout().NewRecord();
    if (explicitId)
        m.FieldDefs().Layout().SetFieldData(0, &*explicitId, record);
    m.ApplyAutoincsToRecordBuffer(session, record);
    std::int32_t id = 0;
    EXPECT_TRUE(m.FieldDefs().Layout().GetFieldData(0, &id, record));
    return id;
}

TEST(CRVBaseFieldManager, AutoincCountsUpAndFollowsGreaterExplicitValues) {
    TCRVBaseFieldManager m = AutoincTable();
    TCRVSessionAutoincValues session;
    EXPECT_EQ(Post(m, session), 1);
    EXPECT_EQ(Post(m, session), 2);
    EXPECT_EQ(Post(m, session), 3);
    EXPECT_EQ(Post(m, session, 10), 10);
    EXPECT_EQ(Post(m, session), 11);
    EXPECT_EQ(Post(m, session, 5), 5);
    EXPECT_EQ(m.LastAutoIncValues()[0], 11) << "a smaller explicit value leaves the counter";
    EXPECT_EQ(m.GetLastAutoinc(session, 0), 11);
    EXPECT_EQ(Post(m, session), 12);
    EXPECT_EQ(m.LastAutoIncValues()[1], 0) << "fields that are not auto-increment hold 0";
}

TEST(CRVBaseFieldManager, NegativeExplicitValueOfASignedFieldDoesNotRaiseTheCounter) {
    TCRVBaseFieldManager m = AutoincTable(A::aftAutoIncSmallint);
    TCRVSessionAutoincValues session;
    EXPECT_EQ(Post(m, session), 1);
    auto record = m.FieldDefs().Layout().NewRecord();
    const std::int32_t negative = -5; // the field's dataset form is 32 bits
    m.FieldDefs().Layout().SetFieldData(0, &negative, record);
    m.ApplyAutoincsToRecordBuffer(session, record);
    EXPECT_EQ(m.LastAutoIncValues()[0], 1);
    EXPECT_EQ(m.GetNextAutoincVal(0), 2);
}

TEST(CRVBaseFieldManager, AutoincCyclesOrStopsAtItsMaximum) {
    TCRVBaseFieldManager cycling = AutoincTable(A::aftAutoInc, 3, true, 0);
    std::vector<std::int64_t> values;
    for (int i = 0; i < 6; ++i)
        values.push_back(cycling.GetNextAutoincVal(0));
    EXPECT_EQ(values, (std::vector<std::int64_t>{1, 2, 3, 0, 1, 2}));

    TCRVBaseFieldManager stopping = AutoincTable(A::aftAutoInc, 3, false);
    TCRVSessionAutoincValues session;
    for (int i = 0; i < 3; ++i)
        Post(stopping, session);
    try {
        Post(stopping, session);
        FAIL();
    } catch (const ECRVException& e) {
        EXPECT_STREQ(e.what(), "Autoinc max value exceeded for field 'ID' - Native error: 20160");
    }

    TCRVBaseFieldManager noMaximum = AutoincTable(A::aftAutoInc, 0);
    EXPECT_EQ(noMaximum.GetNextAutoincVal(0), 1) << "a maximum of 0 means none";
}

TEST(CRVBaseFieldManager, IncrementsAndTheEndOfTheRange) {
    TCRVFieldDefs defs;
    TCRVFieldDef& by5 = defs.Add("By5", A::aftAutoIncLargeint);
    by5.AutoincIncrement = 5;
    by5.AutoincInitialValue = 100;
    TCRVFieldDef& by0 = defs.Add("By0", A::aftAutoIncLargeint);
    by0.AutoincIncrement = 0;
    TCRVFieldDef& atEnd = defs.Add("AtEnd", A::aftAutoIncLargeint);
    atEnd.AutoincInitialValue = std::numeric_limits<std::int64_t>::max() - 1;
    TCRVBaseFieldManager m(defs);
    EXPECT_EQ(m.GetNextAutoincVal(0), 105);
    EXPECT_EQ(m.GetNextAutoincVal(1), 1);
    EXPECT_EQ(m.GetNextAutoincVal(1), 2);
    EXPECT_EQ(m.GetNextAutoincVal(2), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(RaisedCode([&] { m.GetNextAutoincVal(2); }), 20160) << "no wrap past the i64 range";
    EXPECT_EQ(RaisedCode([&] { m.GetNextAutoincVal(3); }), 30402);
    TCRVSessionAutoincValues session;
    EXPECT_EQ(RaisedCode([&] { m.GetLastAutoinc(session, -1); }), 30403);
}

TEST(CRVBaseFieldManager, GeneratedValuesAreWrittenAsTheirLowBytes) {
    TCRVBaseFieldManager m = AutoincTable(A::aftAutoIncByte, std::numeric_limits<std::int64_t>::max());
    TCRVFieldDef& id = m.FieldDefs()[0];
    id.AutoincInitialValue = 0x1FE;
    m.InitLastAutoIncValues();
    TCRVSessionAutoincValues session;
    auto record = m.FieldDefs().Layout().NewRecord();
    m.ApplyAutoincsToRecordBuffer(session, record);
    EXPECT_EQ(record[1], std::byte{0xFF});
    EXPECT_EQ(record[0], std::byte{0xFE}) << "the field's null bit is cleared, the others stay set";
}

TEST(CRVBaseFieldManager, LastValueOfTheSessionOrOfTheTable) {
    TCRVBaseFieldManager m = AutoincTable();
    m.TableID = 4;
    TCRVSessionAutoincValues single;
    TCRVSessionAutoincValues multi(true);
    EXPECT_EQ(m.GetLastAutoinc(single, 0), 0) << "single-user: the table's value";
    try {
        m.GetLastAutoinc(multi, 0);
        FAIL();
    } catch (const ECRVException& e) {
        EXPECT_EQ(e.NativeErrorCode(), 30012);
        EXPECT_EQ(e.Text(), "No SequenceLastValue in session for sequence 'ID'. Call GetNextVal first");
    }
    Post(m, multi);
    Post(m, single);
    EXPECT_EQ(m.GetLastAutoinc(multi, 0), 1);
    EXPECT_EQ(m.GetLastAutoinc(single, 0), 2);
    EXPECT_EQ(single.FindLastAutoinc(4, 0), 2);
    Post(m, multi, 1); // an explicit value below the last one is not recorded
    EXPECT_EQ(m.GetLastAutoinc(multi, 0), 1);
    Post(m, multi, 50);
    EXPECT_EQ(m.GetLastAutoinc(multi, 0), 50);
}

TEST(CRVBaseFieldManager, DefaultsAreAppliedAsValues) {
    TCRVFieldDefs defs;
    defs.Add("Count", A::aftInteger).DefaultValue = CRVMakeVariant(B::bftSignedInt32, std::int64_t{7});
    defs.Add("Code", A::aftString, 3).DefaultValue = CRVMakeVariant(B::bftVarchar, std::string("abcdef"));
    defs.Add("None", A::aftInteger);
    defs.Add("Doc", A::aftMemo).DefaultValue = CRVMakeVariant(B::bftVarchar, std::string("x"));
    // A default of another type is cast to the field's.
    defs.Add("Ratio", A::aftDouble).DefaultValue = CRVMakeVariant(B::bftVarchar, std::string("2.5"));
    TCRVBaseFieldManager m(defs);
    const TCRVRecordLayout& layout = m.FieldDefs().Layout();
    auto record = layout.NewRecord();
    m.ApplyDefaultValuesToRecordBuffer(record);

    std::int32_t count = 0;
    EXPECT_TRUE(layout.GetFieldData(0, &count, record));
    EXPECT_EQ(count, 7);
    char code[4] = {};
    EXPECT_TRUE(layout.GetFieldData(1, code, record));
    EXPECT_STREQ(code, "abc") << "cut to the field";
    EXPECT_FALSE(layout.GetFieldData(2, nullptr, record));
    EXPECT_FALSE(layout.GetFieldData(3, nullptr, record)) << "BLOB fields take no default";
    double ratio = 0;
    EXPECT_TRUE(layout.GetFieldData(4, &ratio, record));
    EXPECT_EQ(ratio, 2.5);
}

TEST(CRVBaseFieldManager, RecordConversionAndComparison) {
    TCRVFieldDefs defs;
    defs.Add("N", A::aftInteger);
    defs.Add("B", A::aftBlob);
    TCRVBaseFieldManager m(defs);
    EXPECT_EQ(m.FieldDefs().GetDiskRecordBufferSize(), 11);
    EXPECT_EQ(m.FieldDefs().GetMemoryRecordBufferSize(), 15);
    std::vector<std::byte> memory(15, std::byte{3});
    std::vector<std::byte> disk(11);
    m.MemRecordBufferToDiskRecordBuffer(memory, disk);
    std::vector<std::byte> back(15, std::byte{9});
    m.DiskRecordBufferToMemRecordBuffer(disk, back);
    EXPECT_TRUE(m.CompareRecordBuffers(memory, back));
    EXPECT_EQ(back[14], std::byte{0});
    back[2] = std::byte{4};
    EXPECT_FALSE(m.CompareRecordBuffers(memory, back));
}

TEST(CRVBaseFieldManager, BlobFieldsPresent) {
    TCRVFieldDefs defs;
    defs.Add("N", A::aftInteger);
    EXPECT_FALSE(TCRVBaseFieldManager(defs).BlobFieldsPresent());
    defs.Add("B", A::aftGraphic).BLOBBlockSize = 0;
    defs.Add("C", A::aftMemo);
    try {
        TCRVBaseFieldManager(defs).BlobFieldsPresent();
        FAIL();
    } catch (const ECRVException& e) {
        EXPECT_STREQ(e.what(), "BLOB block size should be > 0 for field B - Native error: 10421");
    }
    defs[1].BLOBBlockSize = 4096;
    EXPECT_TRUE(TCRVBaseFieldManager(defs).BlobFieldsPresent());
}

TEST(CRVBaseFieldManager, DefinitionsAndLookups) {
    TCRVFieldDefs defs;
    EXPECT_EQ(RaisedCode([&] { defs.GetMemoryRecordBufferSize(); }), 10131);
    EXPECT_EQ(RaisedCode([&] { defs.GetDiskRecordBufferSize(); }), 20142);
    try {
        defs.Add("X", A::aftUnknown);
        FAIL();
    } catch (const ECRVException& e) {
        EXPECT_STREQ(e.what(), "Unsupported data type 'Unknown' - Native error: 30007");
    }
    defs.Add("Hash", A::aftString, 32);
    defs.Add("HASH", A::aftInteger);
    EXPECT_EQ(defs.GetDefNumberByName("hash"), 0) << "case ignored, first match";
    EXPECT_EQ(defs.GetFieldDefByName("Hash")->AdvancedFieldType, A::aftString);
    EXPECT_EQ(defs.GetFieldDefByName("none"), nullptr);
    EXPECT_EQ(defs[1].FieldNoReference, 1);
    EXPECT_TRUE(defs[0].DefaultValue.IsNull);
    EXPECT_EQ(defs[0].DefaultValue.DataType, B::bftVarchar) << "a NULL default carries the base type";

    TCRVIndexDefs indexes;
    indexes.Add("ByHash").SetColumnCount(2);
    EXPECT_EQ(indexes.GetIndexDefByName("BYHASH")->ColumnCount(), 2);
    EXPECT_EQ(indexes.GetIndexDefByName("other"), nullptr);
}

TEST(CRVBaseFieldManager, MetadataLoadResetsTheCounters) {
    TCRVBaseFieldManager m = AutoincTable();
    m.FieldDefs()[0].AutoincInitialValue = 40;
    m.InitLastAutoIncValues();
    m.GetNextAutoincVal(0);
    TCRVMemoryStream stream;
    m.SaveMetadata(stream);
    stream.SetPosition(0);
    TCRVBaseFieldManager loaded;
    loaded.LoadMetadata(stream);
    EXPECT_EQ(loaded.FieldDefs().Count(), 2);
    EXPECT_EQ(loaded.LastAutoIncValues(), (std::vector<std::int64_t>{40, 0}));
}

TEST(CRVBaseFieldManager, CountersFileBytes) {
    TCRVBaseFieldManager m = AutoincTable();
    m.GetNextAutoincVal(0);
    m.GetNextAutoincVal(0);
    std::vector<std::uint8_t> buffer;
    std::size_t offset = 0;
    m.SaveMostUpdated(buffer, offset);
    EXPECT_EQ(offset, 20u);
    EXPECT_EQ(buffer,
              (std::vector<std::uint8_t>{2, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    TCRVBaseFieldManager other = AutoincTable();
    offset = 0;
    other.LoadMostUpdated(buffer, offset);
    EXPECT_EQ(offset, 20u);
    EXPECT_EQ(other.GetNextAutoincVal(0), 3);

    // A count that is not the field count, and a short buffer, are refused and change nothing.
    TCRVFieldDefs one;
    one.Add("ID", A::aftAutoInc);
    TCRVBaseFieldManager single(one);
    offset = 0;
    EXPECT_EQ(RaisedCode([&] { single.LoadMostUpdated(buffer, offset); }), 30416);
    EXPECT_EQ(offset, 0u);
    offset = 0;
    EXPECT_EQ(RaisedCode([&] { other.LoadMostUpdated(std::span(buffer).first(19), offset); }), 30416);
    EXPECT_EQ(other.LastAutoIncValues()[0], 3);
}

TEST(CRVBaseFieldManager, WholeCountersFile) {
    const TCRVTableCounters counters{{7, 0}, 12, 0x180000001};
    const auto bytes = CRVEncodeTableCounters(counters);
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{2, 0, 0, 0, 7, 0, 0,  0, 0, 0, 0, 0, 0, 0,
                                                0, 0, 0, 0, 0, 0, 12, 0, 0, 0, 1, 0, 0, 0x80}));
    const TCRVTableCounters back = CRVDecodeTableCounters(bytes);
    EXPECT_EQ(back.LastAutoIncValues, counters.LastAutoIncValues);
    EXPECT_EQ(back.TableState, 12);
    EXPECT_EQ(back.RecordCount, -2147483647) << "the low 32 bits, read back sign-extended";
    EXPECT_EQ(RaisedCode([&] { CRVDecodeTableCounters(std::span(bytes).first(27)); }), 30416);
    const std::vector<std::uint8_t> hugeCount{0xFF, 0xFF, 0xFF, 0x7F};
    EXPECT_EQ(RaisedCode([&] { CRVDecodeTableCounters(hugeCount); }), 30416);
}

} // namespace
