#include "CRVCompression/CRVBLOBStream.h"
#include "CRVCompression/CRVStream.h"

#include "CRVExcept/CRVExceptTestUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> ReadAll(TCRVStream& s) {
    std::vector<std::uint8_t> v(static_cast<std::size_t>(s.GetSize()));
    s.SetPosition(0);
    EXPECT_EQ(s.Read(v.data(), static_cast<std::int64_t>(v.size())), static_cast<std::int64_t>(v.size()));
    return v;
}

std::vector<std::uint8_t> Bytes(std::size_t n, std::uint8_t first = 1) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<std::uint8_t>(first + i * 7);
    return v;
}

// The "CRV*" files in a folder.
std::vector<fs::path> TempFiles(const fs::path& folder) {
    std::vector<fs::path> found;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().filename().string().rfind("CRV", 0) == 0)
            found.push_back(e.path());
    return found;
}

// A private temporary folder for the test, made the process's TMPDIR while it lives.
class TTempFolder {
public:
    TTempFolder() {
        std::string pattern = (fs::temp_directory_path() / "crvstream-test-XXXXXX").string();
        FPath = ::mkdtemp(pattern.data());
        const char* old = std::getenv("TMPDIR");
        FOld = old ? std::optional<std::string>(old) : std::nullopt;
        ::setenv("TMPDIR", FPath.c_str(), 1);
    }
    ~TTempFolder() {
        if (FOld)
            ::setenv("TMPDIR", FOld->c_str(), 1);
        else
            ::unsetenv("TMPDIR");
        fs::remove_all(FPath);
    }
    const fs::path& Path() const { return FPath; }

private:
    fs::path FPath;
    std::optional<std::string> FOld;
};

// Each stream kind behaves as the same ordinary stream.
template <typename T> class CRVStreamContract : public ::testing::Test {
protected:
    std::unique_ptr<TCRVStream> Make() {
        if constexpr (std::is_same_v<T, TCRVFileStream>)
            return std::make_unique<TCRVFileStream>((Folder.Path() / "f.bin").string(),
                                                    TCRVFileMode::fmCreate);
        else if constexpr (std::is_same_v<T, TCRVTemporaryStream>)
            return std::make_unique<TCRVTemporaryStream>(false, 1000); // spills during the test
        else
            return std::make_unique<T>();
    }
    TTempFolder Folder;
};
using TStreamKinds = ::testing::Types<TCRVMemoryStream, TCRVFileStream, TCRVTemporaryStream>;
TYPED_TEST_SUITE(CRVStreamContract, TStreamKinds);

TYPED_TEST(CRVStreamContract, ReadWriteSeekAndSize) {
    auto s = this->Make();
    const auto data = Bytes(3000);
    EXPECT_EQ(s->Write(data.data(), 3000), 3000);
    EXPECT_EQ(s->GetPosition(), 3000);
    EXPECT_EQ(s->Seek(-1000, TCRVSeekOrigin::soEnd), 2000);
    std::vector<std::uint8_t> buf(5000);
    EXPECT_EQ(s->Read(buf.data(), 5000), 1000) << "a read stops at the end";
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 1000, data.begin() + 2000));
    EXPECT_EQ(s->Read(buf.data(), 10), 0);

    s->Seek(4000, TCRVSeekOrigin::soBeginning); // past the end: allowed, the gap reads as zeros
    const std::uint8_t x = 0x99;
    s->Write(&x, 1);
    auto all = ReadAll(*s);
    ASSERT_EQ(all.size(), 4001u);
    EXPECT_TRUE(std::all_of(all.begin() + 3000, all.begin() + 4000, [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(all[4000], 0x99);

    s->SetPosition(3500);
    s->SetSize(100);
    EXPECT_EQ(s->GetSize(), 100);
    EXPECT_EQ(s->GetPosition(), 100) << "a position past the new end moves to it";
    s->SetSize(200); // bytes that come back after a cut are zero, not the old ones
    all = ReadAll(*s);
    EXPECT_TRUE(std::equal(all.begin(), all.begin() + 100, data.begin()));
    EXPECT_TRUE(std::all_of(all.begin() + 100, all.end(), [](std::uint8_t b) { return b == 0; }));

    EXPECT_NE(CodeOf([&] { s->Seek(-1, TCRVSeekOrigin::soBeginning); }), 0);
}

TYPED_TEST(CRVStreamContract, CopyFromCopiesTheRestOrACount) {
    auto s = this->Make();
    const auto data = Bytes(250000);
    TCRVMemoryStream source(data);
    source.SetPosition(1000);
    EXPECT_EQ(s->CopyFrom(source, 0), 249000);
    source.SetPosition(0);
    EXPECT_EQ(s->CopyFrom(source, 10), 10);
    auto all = ReadAll(*s);
    EXPECT_TRUE(std::equal(all.begin(), all.begin() + 249000, data.begin() + 1000));
    EXPECT_TRUE(std::equal(all.begin() + 249000, all.end(), data.begin()));
}

TEST(CRVMemoryStream, GrowsInWholeBlocks) {
    TCRVMemoryStream s;
    EXPECT_EQ(s.Capacity(), 0);
    const auto data = Bytes(10);
    s.Write(data.data(), 10);
    EXPECT_EQ(s.Capacity(), DefaultMemoryBlockSize);
    s.SetPosition(DefaultMemoryBlockSize);
    s.Write(data.data(), 1);
    EXPECT_EQ(s.Capacity(), 2 * DefaultMemoryBlockSize);
}

TEST(CRVFileStream, OpenErrorsAndReadOnlyFiles) {
    TTempFolder folder;
    const std::string missing = (folder.Path() / "missing.bin").string();
    EXPECT_EQ(CodeOf([&] { TCRVFileStream s(missing, TCRVFileMode::fmOpenRead); }), 30364);
    EXPECT_EQ(
        CodeOf([&] { TCRVFileStream s((folder.Path() / "no/such/dir").string(), TCRVFileMode::fmCreate); }),
        30361);
    const std::string name = (folder.Path() / "data.bin").string();
    {
        TCRVFileStream s(name, TCRVFileMode::fmCreate);
        const auto data = Bytes(100);
        s.Write(data.data(), 100);
    }
    TCRVFileStream ro(name, TCRVFileMode::fmOpenRead);
    EXPECT_EQ(ReadAll(ro), Bytes(100));
    const std::uint8_t x = 1;
    try {
        ro.Write(&x, 1);
        ADD_FAILURE() << "a write to a read-only file succeeded";
    } catch (const ECRVException& e) {
        EXPECT_EQ(e.NativeErrorCode(), 10475);
        EXPECT_NE(std::string(e.what()).find("Cannot Write to file: '" + name + "'"), std::string::npos)
            << e.what();
    }
}

// ----- TCRVTemporaryStream --------------------------------------------------------------------

TEST(CRVTemporaryStream, MovesIntoACRVFileWhenPastTheLimitAndRemovesItAtTheEnd) {
    TTempFolder folder;
    const auto data = Bytes(DefaultTemporaryLimit + 10);
    fs::path file;
    {
        TCRVTemporaryStream s(false);
        s.Write(data.data(), DefaultTemporaryLimit);
        EXPECT_TRUE(s.InMemory()) << "exactly at the limit stays in memory";
        EXPECT_TRUE(TempFiles(folder.Path()).empty());
        s.Write(data.data() + DefaultTemporaryLimit, 10);
        EXPECT_FALSE(s.InMemory());
        ASSERT_EQ(TempFiles(folder.Path()).size(), 1u);
        file = TempFiles(folder.Path())[0];
        EXPECT_EQ(s.FileName(), file.string());
        EXPECT_EQ(s.GetPosition(), DefaultTemporaryLimit + 10);
        EXPECT_EQ(ReadAll(s), data);
        EXPECT_EQ(static_cast<std::int64_t>(fs::file_size(file)), DefaultTemporaryLimit + 10);
    }
    EXPECT_FALSE(fs::exists(file));
}

TEST(CRVTemporaryStream, SetSizePastTheLimitMovesToAFileToo) {
    TTempFolder folder;
    TCRVTemporaryStream s(false, 100);
    const auto data = Bytes(50);
    s.Write(data.data(), 50);
    s.SetSize(500);
    EXPECT_FALSE(s.InMemory());
    auto all = ReadAll(s);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), all.begin()));
    EXPECT_EQ(all.size(), 500u);
}

TEST(CRVTemporaryStream, DisabledTempFilesStayInMemory) {
    TTempFolder folder;
    TCRVTemporaryStream s(true, 100);
    const auto data = Bytes(5000);
    s.Write(data.data(), 5000);
    EXPECT_TRUE(s.InMemory());
    EXPECT_TRUE(TempFiles(folder.Path()).empty());
    EXPECT_EQ(ReadAll(s), data);
}

// A temporary folder that cannot take the file gives an error and keeps the data in memory.
TEST(CRVTemporaryStream, NoTemporaryFolderLosesNothing) {
    TTempFolder folder;
    ::setenv("TMPDIR", (folder.Path() / "gone").c_str(), 1);
    TCRVTemporaryStream s(false, 100);
    const auto data = Bytes(80);
    s.Write(data.data(), 80);
    EXPECT_EQ(CodeOf([&] { s.Write(data.data(), 80); }), 30361);
    EXPECT_TRUE(s.InMemory());
    EXPECT_EQ(ReadAll(s), data);
}

TEST(CRVTemporaryStream, ServesAsTheContainerOfABLOBStream) {
    TTempFolder folder;
    TCRVTemporaryStream container(false, 50000);
    const auto value = Bytes(300000);
    TCRVBLOBDescriptor d;
    d.CompressionAlgorithm = acaBZIP;
    d.CompressionMode = 9;
    d.BlockSize = 102400;
    {
        TCRVCompressedBLOBStream s(container, true, false, d);
        s.Write(value.data(), 300000);
        d = s.BLOBDescriptor();
    }
    TCRVCompressedBLOBStream s(container, false, false, d);
    EXPECT_EQ(ReadAll(s), value);
}

} // namespace
