#include "CRVCompression/CRVBLOBStream.h"

#include "CRVCipher/CRVChecksum.h"
#include "CRVExcept/CRVExceptTestUtil.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>

// Fields of the packed structures are compared as copies (unary +): a reference to one may be
// misaligned.
namespace {

// A memory stream that logs the container ranges read and written.
class TCountingStream : public TCRVMemoryStream {
public:
    struct TRange {
        std::int64_t From, To;
    };
    using TCRVMemoryStream::TCRVMemoryStream;

    std::int64_t Read(void* buffer, std::int64_t count) override {
        const std::int64_t at = GetPosition();
        const std::int64_t n = TCRVMemoryStream::Read(buffer, count);
        if (n > 0)
            Reads.push_back({at, at + n});
        return n;
    }
    std::int64_t Write(const void* buffer, std::int64_t count) override {
        const std::int64_t at = GetPosition();
        const std::int64_t n = TCRVMemoryStream::Write(buffer, count);
        if (n > 0)
            Writes.push_back({at, at + n});
        return n;
    }
    void ClearLog() {
        Reads.clear();
        Writes.clear();
    }
    std::vector<std::uint8_t> Copy() const { return {Bytes().begin(), Bytes().end()}; }

    std::vector<TRange> Reads, Writes;
};

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint32_t seed) {
    // Compressible but not trivially: words drawn from a small alphabet, with random bytes mixed in.
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> v(size);
    for (std::size_t i = 0; i < size; ++i)
        v[i] =
            (rng() % 8 == 0) ? static_cast<std::uint8_t>(rng()) : static_cast<std::uint8_t>('a' + rng() % 6);
    return v;
}

TCRVBLOBDescriptor Descriptor(std::uint8_t alg, std::uint8_t mode, std::int32_t blockSize,
                              std::int64_t start = 0) {
    TCRVBLOBDescriptor d;
    d.CompressionAlgorithm = alg;
    d.CompressionMode = mode;
    d.BlockSize = blockSize;
    d.StartPosition = start;
    return d;
}

// Writes `value` into a new stream over `container`; returns the descriptor to store.
TCRVBLOBDescriptor Store(TCRVStream& container, const std::vector<std::uint8_t>& value, std::uint8_t alg,
                         std::uint8_t mode, std::int32_t blockSize, std::int64_t start = 0) {
    TCRVCompressedBLOBStream s(container, true, false, Descriptor(alg, mode, blockSize, start));
    EXPECT_EQ(s.Write(value.data(), static_cast<std::int64_t>(value.size())),
              static_cast<std::int64_t>(value.size()));
    return s.BLOBDescriptor();
}

std::vector<std::uint8_t> ReadAll(TCRVStream& s) {
    std::vector<std::uint8_t> v(static_cast<std::size_t>(s.GetSize()));
    s.SetPosition(0);
    EXPECT_EQ(s.Read(v.data(), static_cast<std::int64_t>(v.size())), static_cast<std::int64_t>(v.size()));
    return v;
}

struct TParsedBlock {
    TCRVCompressedStreamBlockHeader Header;
    std::int64_t Position;
};

// Walks the container as a reader of the format would, checking every block on the way, and
// returns the headers. The stream must end at `end`.
std::vector<TParsedBlock> ParseContainer(std::span<const std::uint8_t> bytes, const TCRVBLOBDescriptor& d,
                                         std::int64_t end, const std::vector<std::uint8_t>* value = nullptr) {
    std::vector<TParsedBlock> blocks;
    std::int64_t at = d.StartPosition;
    for (std::int64_t i = 0; i < d.NumBlocks; ++i) {
        TParsedBlock b;
        b.Position = at;
        EXPECT_LE(at + 20, static_cast<std::int64_t>(bytes.size()));
        std::memcpy(&b.Header, bytes.data() + at, 20);
        EXPECT_EQ(+b.Header.OffsetToNextHeader, 20 + b.Header.CompressedSize) << "block " << i;
        const bool last = i + 1 == d.NumBlocks;
        if (!last) {
            EXPECT_EQ(+b.Header.UncompressedSize, +d.BlockSize) << "block " << i;
        }
        if (d.CompressionAlgorithm == acaZLIB) {
            std::vector<std::uint8_t> out(static_cast<std::size_t>(b.Header.UncompressedSize));
            uLongf outSize = out.size();
            EXPECT_EQ(uncompress(out.data(), &outSize, bytes.data() + at + 20,
                                 static_cast<uLong>(b.Header.CompressedSize)),
                      Z_OK)
                << "block " << i;
            EXPECT_EQ(CRC32(0, out.data(), out.size()), +b.Header.Crc32) << "block " << i;
            if (value) {
                const auto from = value->begin() + i * d.BlockSize;
                EXPECT_TRUE(std::equal(out.begin(), out.end(), from)) << "block " << i;
            }
        }
        blocks.push_back(b);
        at += b.Header.OffsetToNextHeader;
        if (::testing::Test::HasFailure())
            break;
    }
    EXPECT_EQ(at, end);
    return blocks;
}

bool Touches(const std::vector<TCountingStream::TRange>& log, std::int64_t from, std::int64_t to) {
    for (const auto& r : log)
        if (r.From < to && r.To > from)
            return true;
    return false;
}

TEST(CRVBLOBStream, OnDiskStructuresHaveTheirByteLayout) {
    EXPECT_EQ(offsetof(TCRVBLOBDescriptor, BlockSize), 0u);
    EXPECT_EQ(offsetof(TCRVBLOBDescriptor, NumBlocks), 4u);
    EXPECT_EQ(offsetof(TCRVBLOBDescriptor, UncompressedSize), 12u);
    EXPECT_EQ(offsetof(TCRVBLOBDescriptor, StartPosition), 20u);
    EXPECT_EQ(offsetof(TCRVBLOBDescriptor, CompressionAlgorithm), 28u);
    EXPECT_EQ(offsetof(TCRVBLOBDescriptor, CompressionMode), 29u);
    EXPECT_EQ(offsetof(TCRVCompressedStreamBlockHeader, CompressedSize), 0u);
    EXPECT_EQ(offsetof(TCRVCompressedStreamBlockHeader, UncompressedSize), 4u);
    EXPECT_EQ(offsetof(TCRVCompressedStreamBlockHeader, Crc32), 8u);
    EXPECT_EQ(offsetof(TCRVCompressedStreamBlockHeader, OffsetToNextHeader), 12u);
}

// ----- The 250000-byte value in blocks of 102400 ------------------------------------------------

class CRVBLOBStream250k : public ::testing::Test {
protected:
    void SetUp() override {
        Value = Pattern(250000, 1);
        Desc = Store(Container, Value, acaZLIB, 6, 102400);
        Blocks = ParseContainer(Container.Bytes(), Desc, Container.GetSize(), &Value);
        Container.ClearLog();
    }
    std::int64_t DataFrom(std::size_t i) const { return Blocks[i].Position + 20; }
    std::int64_t DataTo(std::size_t i) const { return DataFrom(i) + Blocks[i].Header.CompressedSize; }

    std::vector<std::uint8_t> Value;
    TCountingStream Container;
    TCRVBLOBDescriptor Desc;
    std::vector<TParsedBlock> Blocks;
};

TEST_F(CRVBLOBStream250k, HasThreeBlocksAndItsDescriptor) {
    ASSERT_EQ(Blocks.size(), 3u);
    EXPECT_EQ(+Blocks[0].Header.UncompressedSize, 102400);
    EXPECT_EQ(+Blocks[1].Header.UncompressedSize, 102400);
    EXPECT_EQ(+Blocks[2].Header.UncompressedSize, 45200);
    EXPECT_EQ(+Desc.NumBlocks, 3);
    EXPECT_EQ(+Desc.UncompressedSize, 250000);
    EXPECT_EQ(+Desc.BlockSize, 102400);

    TCRVCompressedBLOBStream s(Container, false, false, Desc);
    EXPECT_EQ(s.GetSize(), 250000);
    EXPECT_EQ(ReadAll(s), Value);
    std::int64_t compressed = 0;
    for (const auto& b : Blocks)
        compressed += b.Header.CompressedSize;
    EXPECT_EQ(s.GetCompressedSize(), compressed);
    EXPECT_EQ(s.GetStreamSize(), Container.GetSize());
    EXPECT_NEAR(s.CompressionRate(), 100.0 * (1.0 - double(compressed) / 250000.0), 1e-9);
}

TEST_F(CRVBLOBStream250k, ReadingByte204800ExpandsOnlyTheThirdBlock) {
    TCRVCompressedBLOBStream s(Container, false, false, Desc);
    Container.ClearLog(); // the headers were read on creation
    s.Seek(204800, TCRVSeekOrigin::soBeginning);
    std::uint8_t byte = 0;
    ASSERT_EQ(s.Read(&byte, 1), 1);
    EXPECT_EQ(byte, Value[204800]);
    EXPECT_TRUE(Touches(Container.Reads, DataFrom(2), DataTo(2)));
    EXPECT_FALSE(Touches(Container.Reads, 0, Blocks[2].Position)) << "blocks 0 and 1 were read";
}

TEST_F(CRVBLOBStream250k, AppendingTenBytesRewritesOnlyTheLastBlock) {
    const auto before = Container.Copy();
    const std::vector<std::uint8_t> more(10, 'Z');
    {
        TCRVCompressedBLOBStream s(Container, false, false, Desc);
        Container.ClearLog();
        s.Seek(0, TCRVSeekOrigin::soEnd);
        ASSERT_EQ(s.Write(more.data(), 10), 10);
        Desc = s.BLOBDescriptor();
        EXPECT_FALSE(Touches(Container.Reads, 0, Blocks[2].Position));
        EXPECT_FALSE(Touches(Container.Writes, 0, Blocks[2].Position));
    }
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + Blocks[2].Position, Container.Bytes().begin()));
    Value.insert(Value.end(), more.begin(), more.end());
    const auto after = ParseContainer(Container.Bytes(), Desc, Container.GetSize(), &Value);
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(+after[2].Header.UncompressedSize, 45210);
    EXPECT_EQ(+Desc.UncompressedSize, 250010);
    TCRVCompressedBLOBStream s(Container, false, false, Desc);
    EXPECT_EQ(ReadAll(s), Value);
}

// One damaged block fails when, and only when, it is read.
TEST_F(CRVBLOBStream250k, DamagedBlockFailsOnlyWhenRead) {
    struct TCase {
        const char* Name;
        std::int64_t Offset; // into block 1, from its header
        std::uint8_t Xor;
        std::vector<int> Codes;
    };
    const std::int64_t mid = 20 + Blocks[1].Header.CompressedSize / 2;
    const std::int64_t tail = 20 + Blocks[1].Header.CompressedSize - 2; // the zlib checksum
    const TCase cases[] = {
        {"data byte in the middle", mid, 0x5A, {10087, 10088, 10089}},
        {"data byte in the trailer", tail, 0x01, {10087, 10088, 10089}},
        {"header CRC", 8, 0x01, {10089}},
        {"header uncompressed size", 4, 0x01, {10088}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TCountingStream damaged(Container.Bytes());
        damaged.MutableBytes()[static_cast<std::size_t>(Blocks[1].Position + c.Offset)] ^= c.Xor;
        TCRVCompressedBLOBStream s(damaged, false, false, Desc);
        std::vector<std::uint8_t> buf(102400);
        s.SetPosition(0);
        EXPECT_EQ(s.Read(buf.data(), 102400), 102400);
        s.SetPosition(204800);
        EXPECT_EQ(s.Read(buf.data(), 45200), 45200);
        EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 45200, Value.begin() + 204800));
        s.SetPosition(102400 + 5);
        const int code = CodeOf([&] { s.Read(buf.data(), 1); });
        EXPECT_NE(std::find(c.Codes.begin(), c.Codes.end(), code), c.Codes.end()) << "code " << code;
    }
}

TEST_F(CRVBLOBStream250k, TruncatedContainer) {
    struct TCase {
        const char* Name;
        std::int64_t CutAt;
        int OpenCode;   // without repair: 0 = opens
        int ReadCode;   // without repair, reading the whole value
        int KeptBlocks; // in repair mode
    };
    const TCase cases[] = {
        {"inside block 1's data", DataFrom(1) + 10, 10082, 0, 1},
        {"inside block 1's header", Blocks[1].Position + 7, 10082, 0, 1},
        {"right after block 1", Blocks[2].Position, 10082, 0, 2},
        {"inside the last block's data", DataTo(2) - 1, 0, 10086, 2},
        {"nothing left", 0, 10082, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TCountingStream cut(Container.Bytes().first(static_cast<std::size_t>(c.CutAt)));
        if (c.OpenCode != 0) {
            EXPECT_EQ(CodeOf([&] { TCRVCompressedBLOBStream s(cut, false, false, Desc); }), c.OpenCode);
        } else {
            TCRVCompressedBLOBStream s(cut, false, false, Desc);
            EXPECT_EQ(CodeOf([&] { ReadAll(s); }), c.ReadCode);
        }
        TCRVCompressedBLOBStream repaired(cut, false, true, Desc);
        EXPECT_EQ(repaired.NumBlocks(), c.KeptBlocks);
        EXPECT_EQ(+repaired.BLOBDescriptor().NumBlocks, c.KeptBlocks);
        const auto kept = ReadAll(repaired);
        ASSERT_EQ(kept.size(), static_cast<std::size_t>(c.KeptBlocks) * 102400);
        EXPECT_TRUE(std::equal(kept.begin(), kept.end(), Value.begin()));
    }
}

// Writes inside the value that change a block's compressed length move the blocks after it.
TEST_F(CRVBLOBStream250k, WritesInsideKeepLaterBlocksReadable) {
    std::mt19937 rng(5);
    std::vector<std::uint8_t> noise(30000);
    for (auto& b : noise)
        b = static_cast<std::uint8_t>(rng());
    const std::vector<std::uint8_t> zeros(60000, 0);
    struct TStep {
        std::int64_t At;
        const std::vector<std::uint8_t>* Bytes;
    };
    const TStep steps[] = {{1000, &noise}, {90000, &noise}, {0, &zeros}, {150000, &zeros}, {240000, &noise}};
    for (const auto& step : steps) {
        {
            TCRVCompressedBLOBStream s(Container, false, false, Desc);
            s.SetPosition(step.At);
            ASSERT_EQ(s.Write(step.Bytes->data(), static_cast<std::int64_t>(step.Bytes->size())),
                      static_cast<std::int64_t>(step.Bytes->size()));
            Desc = s.BLOBDescriptor();
        }
        const auto end = static_cast<std::size_t>(step.At) + step.Bytes->size();
        if (end > Value.size())
            Value.resize(end);
        std::copy(step.Bytes->begin(), step.Bytes->end(), Value.begin() + step.At);
        ParseContainer(Container.Bytes(), Desc, Container.GetSize(), &Value);
        TCRVCompressedBLOBStream reopened(Container, false, false, Desc);
        EXPECT_EQ(ReadAll(reopened), Value) << "after the write at " << step.At;
    }
    EXPECT_EQ(+Desc.UncompressedSize, 270000);
    EXPECT_EQ(+Desc.NumBlocks, 3);
}

// ----- Changes against a model ------------------------------------------------------------------

// Random writes, seeks past the end and size changes, checked against a plain byte vector. The
// container holds foreign bytes before StartPosition and after the stream; both must survive.
TEST(CRVBLOBStream, RandomChangesMatchAModelAndKeepTheContainerSound) {
    for (const std::uint8_t alg : {acaNone, acaZLIB, acaBZIP, acaPPM}) {
        SCOPED_TRACE("algorithm " + std::to_string(alg));
        const std::vector<std::uint8_t> prefix(100, 0xEE), trailer(37, 0xDD);
        std::vector<std::uint8_t> initial = prefix;
        if (alg != acaNone)
            initial.insert(initial.end(), trailer.begin(), trailer.end());
        TCRVMemoryStream container(initial);
        std::vector<std::uint8_t> model;
        std::mt19937 rng(11 + alg);
        TCRVBLOBDescriptor desc = Descriptor(alg, 1, 1000, 100);
        bool create = true;
        for (int step = 0; step < 60; ++step) {
            TCRVCompressedBLOBStream s(container, create, false, desc);
            create = false;
            const int op = static_cast<int>(rng() % 10);
            if (op < 6) { // write somewhere, possibly past the end
                const auto at = static_cast<std::int64_t>(rng() % (model.size() + 1500));
                auto bytes = Pattern(1 + rng() % 2500, rng());
                s.SetPosition(at);
                ASSERT_EQ(s.Write(bytes.data(), static_cast<std::int64_t>(bytes.size())),
                          static_cast<std::int64_t>(bytes.size()));
                if (at + bytes.size() > model.size())
                    model.resize(static_cast<std::size_t>(at) + bytes.size());
                std::copy(bytes.begin(), bytes.end(), model.begin() + at);
            } else { // cut or extend
                const auto size = static_cast<std::int64_t>(rng() % (model.size() + 2000));
                s.SetSize(size);
                model.resize(static_cast<std::size_t>(size));
            }
            desc = s.BLOBDescriptor();
            ASSERT_EQ(s.GetSize(), static_cast<std::int64_t>(model.size()));
            ASSERT_EQ(ReadAll(s), model) << "step " << step;
            const auto bytes = container.Bytes();
            ASSERT_TRUE(std::equal(prefix.begin(), prefix.end(), bytes.begin()));
            if (alg == acaNone)
                continue;
            const std::int64_t end = 100 + s.GetStreamSize();
            ASSERT_EQ(container.GetSize(), end + 37) << "step " << step;
            ASSERT_TRUE(std::equal(trailer.begin(), trailer.end(), bytes.begin() + end));
            EXPECT_EQ(+desc.NumBlocks, (static_cast<std::int64_t>(model.size()) + 999) / 1000);
            ParseContainer(bytes, desc, end, alg == acaZLIB ? &model : nullptr);
        }
        TCRVCompressedBLOBStream reopened(container, false, false, desc);
        EXPECT_EQ(ReadAll(reopened), model);
    }
}

TEST(CRVBLOBStream, SetSizeCutsAndExtendsWholeBlocks) {
    const auto value = Pattern(250000, 3);
    TCRVMemoryStream container;
    auto desc = Store(container, value, acaZLIB, 1, 102400);
    TCRVCompressedBLOBStream s(container, false, false, desc);
    s.SetPosition(200000);
    s.SetSize(150000);
    EXPECT_EQ(s.GetPosition(), 150000);
    EXPECT_EQ(s.NumBlocks(), 2);
    auto blocks = ParseContainer(container.Bytes(), s.BLOBDescriptor(), container.GetSize());
    EXPECT_EQ(+blocks[1].Header.UncompressedSize, 47600);
    EXPECT_EQ(ReadAll(s), std::vector<std::uint8_t>(value.begin(), value.begin() + 150000));

    s.SetSize(310000);
    auto expected = std::vector<std::uint8_t>(value.begin(), value.begin() + 150000);
    expected.resize(310000, 0);
    EXPECT_EQ(ReadAll(s), expected);
    EXPECT_EQ(s.NumBlocks(), 4);

    s.SetSize(0);
    EXPECT_EQ(s.NumBlocks(), 0);
    EXPECT_EQ(s.GetSize(), 0);
    EXPECT_EQ(container.GetSize(), 0);
    EXPECT_EQ(+s.BLOBDescriptor().UncompressedSize, 0);
    EXPECT_EQ(s.CompressionRate(), 0.0);
}

TEST(CRVBLOBStream, WriteBeyondTheEndFillsTheGapWithZeros) {
    for (const std::uint8_t alg : {acaNone, acaZLIB}) {
        TCRVMemoryStream container(std::vector<std::uint8_t>(50, 0x77)); // stale bytes where the value goes
        TCRVCompressedBLOBStream s(container, true, false, Descriptor(alg, 6, 100));
        const std::uint8_t tail[] = {1, 2, 3};
        s.SetPosition(250);
        ASSERT_EQ(s.Write(tail, 3), 3);
        std::vector<std::uint8_t> expected(253, 0);
        std::copy(std::begin(tail), std::end(tail), expected.begin() + 250);
        EXPECT_EQ(ReadAll(s), expected) << "algorithm " << int(alg);
    }
}

TEST(CRVBLOBStream, UncompressedValueIsTheContainersBytes) {
    const auto value = Pattern(5000, 4);
    std::vector<std::uint8_t> bytes(10, 0xAB);
    bytes.insert(bytes.end(), value.begin(), value.end());
    TCRVMemoryStream container(bytes);
    TCRVBLOBDescriptor d = Descriptor(acaNone, 0, 0, 10);
    d.UncompressedSize = 5000;
    TCRVCompressedBLOBStream s(container, false, false, d);
    EXPECT_EQ(ReadAll(s), value);
    EXPECT_EQ(s.GetCompressedSize(), 5000);
    EXPECT_EQ(s.CompressionRate(), 0.0);

    d.UncompressedSize = 6000;
    EXPECT_EQ(CodeOf([&] { TCRVCompressedBLOBStream t(container, false, false, d); }), 10081);
    TCRVCompressedBLOBStream repaired(container, false, true, d);
    EXPECT_EQ(ReadAll(repaired), value);

    s.SetSize(1000); // the value ends the container, so the container is cut with it
    EXPECT_EQ(container.GetSize(), 1010);
}

TEST(CRVBLOBStream, NewStreamTakesItsBlockSizeFromTheMode) {
    const std::pair<int, std::int32_t> cases[] = {{0, 102400},  {1, 524288},  {3, 524288}, {4, 1048576},
                                                  {6, 1048576}, {7, 1572864}, {9, 1572864}};
    for (const auto& [mode, size] : cases) {
        TCRVMemoryStream container;
        TCRVCompressedBLOBStream s(container, true, false,
                                   Descriptor(acaZLIB, static_cast<std::uint8_t>(mode), 0));
        EXPECT_EQ(+s.BLOBDescriptor().BlockSize, size) << "mode " << mode;
        EXPECT_EQ(s.NumBlocks(), 0);
    }
    TCRVMemoryStream container;
    TCRVCompressedBLOBStream s(container, true, false, Descriptor(acaZLIB, 9, 4096));
    EXPECT_EQ(+s.BLOBDescriptor().BlockSize, 4096) << "a given block size is kept";
}

TEST(CRVBLOBStream, ErrorsOfCreationAndCompression) {
    const auto value = Pattern(3000, 6);
    TCRVMemoryStream container;
    const auto stored = Store(container, value, acaZLIB, 6, 1000);
    auto badOffset = TCRVMemoryStream(container.Bytes());
    TCRVCompressedStreamBlockHeader h;
    std::memcpy(&h, badOffset.Bytes().data(), 20);
    h.OffsetToNextHeader = 3;
    std::memcpy(badOffset.MutableBytes().data(), &h, 20);
    auto noBlockSize = stored;
    noBlockSize.BlockSize = 0;
    auto negativeStart = stored;
    negativeStart.StartPosition = -1;
    auto plainNegativeStart = Descriptor(acaNone, 0, 0, -4);

    struct TCase {
        const char* Name;
        std::function<void()> Run;
        int Code;
    };
    const TCase cases[] = {
        {"header offset before its own end",
         [&] { TCRVCompressedBLOBStream s(badOffset, false, false, stored); }, 10083},
        {"blocks without a block size",
         [&] { TCRVCompressedBLOBStream s(container, false, false, noBlockSize); }, 20149},
        {"negative start", [&] { TCRVCompressedBLOBStream s(container, false, false, negativeStart); },
         10103},
        {"negative start, uncompressed",
         [&] { TCRVCompressedBLOBStream s(container, true, false, plainNegativeStart); }, 10079},
        {"bzip2 has no mode 0",
         [&] {
             TCRVMemoryStream c;
             TCRVCompressedBLOBStream s(c, true, false, Descriptor(acaBZIP, 0, 1000));
             s.Write(value.data(), 10);
         },
         10085},
        {"unknown algorithm",
         [&] {
             TCRVMemoryStream c;
             TCRVCompressedBLOBStream s(c, true, false, Descriptor(7, 1, 1000));
             s.Write(value.data(), 10);
         },
         10085},
        {"seek before the start",
         [&] {
             TCRVCompressedBLOBStream s(container, false, false, stored);
             s.Seek(-1, TCRVSeekOrigin::soBeginning);
         },
         10103},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CodeOf(c.Run), c.Code) << c.Name;
}

TEST(CRVBLOBStream, ProgressCanStopALongWrite) {
    const auto value = Pattern(10000, 8);
    TCRVMemoryStream container;
    TCRVCompressedBLOBStream s(container, true, false, Descriptor(acaZLIB, 1, 1000));
    int calls = 0;
    s.OnProgress = [&](std::int64_t done, std::int64_t total) {
        EXPECT_EQ(total, 10000);
        return ++calls < 3 && done > 0;
    };
    EXPECT_EQ(s.Write(value.data(), 10000), 3000);
    EXPECT_EQ(s.GetSize(), 3000);
    EXPECT_EQ(s.GetPosition(), 3000);
}

} // namespace
