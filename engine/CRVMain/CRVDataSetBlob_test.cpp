// BLOB fields through the dataset's streams: modes, states, one write stream per field, post
// and cancel.
#include "CRVMain/CRVDataSet.h"

#include "CRVExcept/CRVExceptTestUtil.h"
#include "CRVMain/CRVTableTestUtil.h"

namespace {

class BlobTest : public CRVDatabaseFixture {
protected:
    BlobTest() {
        using A = TCRVAdvancedFieldType;
        Table.FieldDefs = {{.Name = "id", .Type = A::aftInteger},
                           {.Name = "data", .Type = A::aftBlob},
                           {.Name = "text", .Type = A::aftWideMemo}};
        Table.CreateTable();
        Table.Open();
    }
    static std::string ReadAll(TCRVStream& stream) {
        std::string out(static_cast<std::size_t>(stream.GetSize()), '\0');
        stream.SetPosition(0);
        stream.Read(out.data(), static_cast<std::int64_t>(out.size()));
        return out;
    }
    TCRVTable Table{Database, "blobs"};
};

} // namespace

TEST_F(BlobTest, StreamsWriteOnPostAndCancelDropsTheirValue) {
    TCRVField& data = Table.FieldByName("data");
    EXPECT_EQ(CodeOf([&] { Table.CreateBlobStream(data, TCRVBlobStreamMode::bmWrite); }), 10111);

    const std::string payload(300000, 'q');
    Table.Append();
    Table.FieldByName("id").SetAsInteger(1);
    {
        auto stream = Table.CreateBlobStream(data, TCRVBlobStreamMode::bmWrite);
        EXPECT_EQ(CodeOf([&] { Table.CreateBlobStream(data, TCRVBlobStreamMode::bmReadWrite); }), 10115);
        stream->Write(payload.data(), static_cast<std::int64_t>(payload.size()));
    }
    Table.FieldByName("text").SetAsString("wide \xC3\xA4\xE2\x82\xAC text");
    Table.Post();

    Table.Append();
    Table.FieldByName("id").SetAsInteger(2);
    auto open = Table.CreateBlobStream(data, TCRVBlobStreamMode::bmWrite);
    open->Write("xyz", 3);
    Table.Post(); // closes the stream still open
    Table.First();
    Table.Edit();
    Table.FieldByName("data").SetAsString("replaced");
    Table.Cancel();

    Table.Close();
    Database.Close();
    Table.Open();
    Table.First();
    {
        auto stream = Table.CreateBlobStream(Table.FieldByName("data"), TCRVBlobStreamMode::bmRead);
        EXPECT_EQ(ReadAll(*stream), payload) << "the cancelled change is gone";
        EXPECT_EQ(CodeOf([&] { stream->Write("a", 1); }), 10115);
        EXPECT_EQ(CodeOf([&] { stream->SetSize(0); }), 10116);
    }
    EXPECT_EQ(Table.FieldByName("text").AsString(), "wide \xC3\xA4\xE2\x82\xAC text");
    Table.Next();
    EXPECT_EQ(Table.FieldByName("data").AsString(), "xyz");
    EXPECT_TRUE(Table.FieldByName("text").IsNull());

    Table.Edit();
    Table.FieldByName("data").Clear();
    Table.Post();
    EXPECT_TRUE(Table.FieldByName("data").IsNull()) << "an empty value is NULL";
}

TEST_F(BlobTest, ReadOnlyTableRefusesWriteStreams) {
    Table.Append();
    Table.Post();
    Table.Close();
    Table.ReadOnly = true;
    Table.Open();
    EXPECT_EQ(CodeOf([&] { Table.CreateBlobStream(Table.FieldByName("data"), TCRVBlobStreamMode::bmWrite); }),
              10107);
    EXPECT_EQ(CodeOf([&] { Table.Edit(); }), 10032);
    EXPECT_EQ(CodeOf([&] { Table.Append(); }), 10032);
}
