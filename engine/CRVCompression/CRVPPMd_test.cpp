#include "CRVCompression/CRVPPMd.h"
#include "CRVCompression/CRVPPMdModel.h"
#include "CRVCompression/CRVPPMdSubAllocator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string DataDir = std::string(TESSORA_TESTDATA_DIR) + "/ppmd-g/";

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    EXPECT_TRUE(f.good()) << path;
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

struct TVector {
    std::string Compressed, Input;
    int Mode = 0, Order = 0, MemoryMB = 0;
    std::uint32_t HeaderWord = 0;
    std::size_t InputBytes = 0;
    int Restarts = 0;
};

void PrintTo(const TVector& v, std::ostream* os) {
    *os << v.Compressed;
}

std::vector<TVector> ReadManifest() {
    std::vector<TVector> rows;
    std::ifstream f(DataDir + "manifest.tsv");
    std::string line;
    std::getline(f, line); // column names
    while (std::getline(f, line)) {
        std::istringstream fields(line);
        TVector v;
        std::string header;
        std::size_t compressedBytes = 0;
        fields >> v.Compressed >> v.Input >> v.Mode >> v.Order >> v.MemoryMB >> header >> v.InputBytes >>
            compressedBytes >> v.Restarts;
        v.HeaderWord = static_cast<std::uint32_t>(std::stoul(header, nullptr, 16));
        rows.push_back(v);
    }
    return rows;
}

std::size_t Memory(const TVector& v) {
    return static_cast<std::size_t>(v.MemoryMB) << 20;
}

// The coder bytes of a reference file: everything after the 4-byte header word.
std::vector<std::uint8_t> CoderBytes(const TVector& v) {
    std::vector<std::uint8_t> file = ReadFile(DataDir + v.Compressed);
    EXPECT_GE(file.size(), 4u);
    std::uint32_t word = file[0] | file[1] << 8 | file[2] << 16 | static_cast<std::uint32_t>(file[3]) << 24;
    EXPECT_EQ(word, v.HeaderWord);
    return {file.begin() + 4, file.end()};
}

class PPMdVectors : public ::testing::TestWithParam<TVector> {};

// Every reference vector: the encoder writes exactly the reference bytes, the decoder rebuilds
// the input and reads every coder byte, no more and no fewer.
TEST_P(PPMdVectors, EncodesBitExactAndDecodesBack) {
    const TVector& v = GetParam();
    const std::vector<std::uint8_t> input = ReadFile(DataDir + v.Input);
    ASSERT_EQ(input.size(), v.InputBytes);
    const std::vector<std::uint8_t> expected = CoderBytes(v);

    std::vector<std::uint8_t> encoded;
    ASSERT_TRUE(CRVPPMdEncode(input.data(), input.size(), v.Order, Memory(v), encoded));
    ASSERT_EQ(encoded.size(), expected.size());
    EXPECT_TRUE(encoded == expected);

    std::vector<std::uint8_t> decoded;
    ASSERT_TRUE(CRVPPMdDecode(expected.data(), expected.size(), v.Order, Memory(v), v.InputBytes, decoded));
    EXPECT_TRUE(decoded == input);

    TCRVPPMdSubAllocator allocator(Memory(v));
    auto model = std::make_unique<TCRVPPMdModel>(allocator, v.Order);
    TCRVPPMdRangeDecoder coder(expected.data(), expected.size());
    std::vector<std::uint8_t> again;
    ASSERT_TRUE(model->Decode(coder, v.InputBytes, again));
    EXPECT_EQ(coder.Consumed(expected.data()), expected.size());
}

std::string VectorName(const ::testing::TestParamInfo<TVector>& info) {
    std::string name = info.param.Compressed;
    name = name.substr(name.find('/') + 1);
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Manifest, PPMdVectors, ::testing::ValuesIn(ReadManifest()), VectorName);

TVector FindVector(const std::string& compressed) {
    for (const TVector& v : ReadManifest())
        if (v.Compressed == compressed)
            return v;
    ADD_FAILURE() << compressed << " not in the manifest";
    return {};
}

bool Decodes(const std::vector<std::uint8_t>& stream, const TVector& v, std::size_t maxSize,
             std::vector<std::uint8_t>& out) {
    return CRVPPMdDecode(stream.data(), stream.size(), v.Order, Memory(v), maxSize, out);
}

// Text, a stream whose model restarts once, and a stream that ends in a full order-1 context.
const char* const DamageVectors[] = {"out/text20k.m5.ppmd", "out/counters100k.m1.ppmd",
                                     "out/allfollow513.m1.ppmd", "out/two.m1.ppmd"};

TEST(PPMdDamage, TruncatedStreamsFail) {
    for (const char* name : DamageVectors) {
        const TVector v = FindVector(name);
        const std::vector<std::uint8_t> stream = CoderBytes(v);
        // Every length for short streams, about 30 spread over the long ones.
        const std::size_t step = stream.size() < 400 ? 1 : stream.size() / 30;
        for (std::size_t cut = 0; cut < stream.size(); cut += step) {
            std::vector<std::uint8_t> shorter(stream.begin(), stream.begin() + cut), out;
            EXPECT_FALSE(Decodes(shorter, v, v.InputBytes, out)) << name << " cut to " << cut;
            EXPECT_TRUE(out.empty());
        }
    }
}

// Every byte but the last four is settled by the coder once it is shifted out, so a change there
// must show: the decoder fails or yields other bytes. It must never read or write out of bounds.
TEST(PPMdDamage, FlippedBytesFailOrChangeTheOutput) {
    for (const char* name : DamageVectors) {
        const TVector v = FindVector(name);
        const std::vector<std::uint8_t> stream = CoderBytes(v);
        const std::vector<std::uint8_t> input = ReadFile(DataDir + v.Input);
        const std::size_t settled = stream.size() - 4;
        const std::size_t step = settled < 200 ? 1 : settled / 20;
        for (std::size_t at = 0; at < settled; at += step) {
            for (std::uint8_t flip : {std::uint8_t{0x01}, std::uint8_t{0x80}, std::uint8_t{0xFF}}) {
                std::vector<std::uint8_t> damaged = stream, out;
                damaged[at] ^= flip;
                const bool ok = Decodes(damaged, v, v.InputBytes + 1000, out);
                EXPECT_TRUE(!ok || out != input) << name << " byte " << at << " ^ " << int(flip);
                EXPECT_LE(out.size(), v.InputBytes + 1000);
            }
        }
    }
}

TEST(PPMdDamage, OutputLimitIsExact) {
    for (const char* name : {"out/text20k.m5.ppmd", "out/counters100k.m2.ppmd", "out/one.m1.ppmd"}) {
        const TVector v = FindVector(name);
        const std::vector<std::uint8_t> stream = CoderBytes(v);
        std::vector<std::uint8_t> out;
        EXPECT_TRUE(Decodes(stream, v, v.InputBytes, out)) << name;
        EXPECT_FALSE(Decodes(stream, v, v.InputBytes - 1, out)) << name;
        EXPECT_TRUE(out.empty());
        EXPECT_FALSE(Decodes(stream, v, 0, out)) << name;
    }
}

// Noise as a stream, with the smallest and the largest model: any result, but bounded output,
// no fault and no endless loop.
TEST(PPMdDamage, NoiseNeverOverrunsOrHangs) {
    std::uint32_t x = 2024;
    for (int order : {2, 16}) {
        for (std::size_t size : {4u, 5u, 17u, 300u, 5000u}) {
            for (int round = 0; round < 8; ++round) {
                std::vector<std::uint8_t> noise(size), out;
                for (std::uint8_t& b : noise)
                    b = static_cast<std::uint8_t>((x = 1664525 * x + 1013904223) >> 24);
                CRVPPMdDecode(noise.data(), noise.size(), order, 2 << 20, 100000, out);
                EXPECT_LE(out.size(), 100000u);
            }
        }
    }
}

TEST(PPMdSetup, RefusesModelsItCannotBuild) {
    const std::uint8_t data[4] = {1, 2, 3, 4};
    struct TCase {
        int Order;
        std::size_t Memory;
    };
    const TCase cases[] = {{1, 2 << 20}, {17, 2 << 20},
                           {0, 2 << 20}, {2, TCRVPPMdSubAllocator::MinimumSize - 1},
                           {2, 0},       {2, std::size_t{1} << 33}};
    for (const TCase& c : cases) {
        std::vector<std::uint8_t> out{9};
        EXPECT_FALSE(CRVPPMdEncode(data, sizeof(data), c.Order, c.Memory, out)) << c.Order << " " << c.Memory;
        EXPECT_TRUE(out.empty());
        EXPECT_FALSE(CRVPPMdDecode(data, sizeof(data), c.Order, c.Memory, 100, out));
    }
    std::vector<std::uint8_t> out;
    EXPECT_FALSE(CRVPPMdDecode(data, 3, 2, 2 << 20, 100, out)); // shorter than the coder's first word
    EXPECT_FALSE(CRVPPMdEncode(nullptr, 5, 2, 2 << 20, out));
}

// The smallest heap restarts the model over and over; both sides must restart alike.
TEST(PPMdSetup, SmallestHeapRoundTripsThroughManyRestarts) {
    const std::vector<std::uint8_t> input = ReadFile(DataDir + "inputs/mixed300k.bin");
    for (int order : {2, 16}) {
        std::vector<std::uint8_t> packed, out;
        ASSERT_TRUE(
            CRVPPMdEncode(input.data(), input.size(), order, TCRVPPMdSubAllocator::MinimumSize, packed));
        ASSERT_TRUE(CRVPPMdDecode(packed.data(), packed.size(), order, TCRVPPMdSubAllocator::MinimumSize,
                                  input.size(), out));
        EXPECT_TRUE(out == input) << "order " << order;
    }
}

} // namespace

namespace {

TEST(PPMdSubAllocator, BlockSizesFollowTheFourGroups) {
    const unsigned expected[] = {1,  2,  3,  4,  6,   8,   10,  12,  15,  18,  21,  24, 28,
                                 32, 36, 40, 44, 48,  52,  56,  60,  64,  68,  72,  76, 80,
                                 84, 88, 92, 96, 100, 104, 108, 112, 116, 120, 124, 128};
    for (unsigned i = 0; i < TCRVPPMdSubAllocator::IndexCount; ++i)
        EXPECT_EQ(TCRVPPMdSubAllocator::IndexToUnits(i), expected[i]) << i;
    for (unsigned units = 1; units <= 128; ++units) {
        const unsigned index = TCRVPPMdSubAllocator::UnitsToIndex(units);
        EXPECT_GE(TCRVPPMdSubAllocator::IndexToUnits(index), units);
        EXPECT_TRUE(index == 0 || TCRVPPMdSubAllocator::IndexToUnits(index - 1) < units) << units;
    }
}

// Filling the smallest heap with a mix of requests: every block lies inside the heap and apart
// from all others, the reserve is handed out before the heap reports exhaustion, and after Init
// the heap is whole again.
TEST(PPMdSubAllocator, ExhaustionHandsOutDisjointBlocksInsideTheHeap) {
    const std::size_t size = TCRVPPMdSubAllocator::MinimumSize;
    TCRVPPMdSubAllocator heap(size);
    ASSERT_TRUE(heap.Valid());
    for (int pass = 0; pass < 2; ++pass) {
        heap.Init();
        std::vector<std::pair<std::uint32_t, std::uint32_t>> blocks; // offset, bytes
        const unsigned pattern[] = {1, 2, 5, 1, 12, 3, 128, 1, 40, 7};
        for (std::size_t n = 0;; ++n) {
            const unsigned units = pattern[n % 10];
            const std::uint32_t block =
                units == 1 && n % 3 == 0 ? heap.AllocContext() : heap.AllocUnitsRare(units);
            if (block == 0)
                break;
            blocks.emplace_back(block, units * TCRVPPMdSubAllocator::UnitSize);
            ASSERT_LT(blocks.size(), size) << "no exhaustion";
        }
        std::sort(blocks.begin(), blocks.end());
        ASSERT_FALSE(blocks.empty());
        EXPECT_GE(blocks.front().first, TCRVPPMdSubAllocator::UnitSize); // offset 0 is never handed out
        for (std::size_t i = 1; i < blocks.size(); ++i)
            ASSERT_GE(blocks[i].first, blocks[i - 1].first + blocks[i - 1].second) << "overlap at " << i;
        EXPECT_LE(blocks.back().first + blocks.back().second, TCRVPPMdSubAllocator::UnitSize + size);
        EXPECT_LT(blocks.front().first, TCRVPPMdSubAllocator::UnitSize + TCRVPPMdSubAllocator::ReserveBytes)
            << "the reserve was not used";
    }
}

TEST(PPMdSubAllocator, FreedBlocksAreReusedAndShrinkSplitsTheTail) {
    TCRVPPMdSubAllocator heap(TCRVPPMdSubAllocator::MinimumSize);
    ASSERT_TRUE(heap.Valid());
    heap.Init();
    const std::uint32_t a = heap.AllocUnitsRare(4);
    heap.FreeUnits(a, 4);
    EXPECT_EQ(heap.AllocUnitsRare(4), a);
    // 12 units shrunk to 3 with no free 3-unit block: stays in place, its tail of 9 units is
    // split into free blocks of 8 and 1 units (9 is no block size).
    const std::uint32_t b = heap.AllocUnitsRare(12);
    EXPECT_EQ(heap.ShrinkUnits(b, 12, 3), b);
    const std::uint32_t unit = TCRVPPMdSubAllocator::UnitSize;
    EXPECT_EQ(heap.AllocUnitsRare(8), b + 3 * unit);
    EXPECT_EQ(heap.AllocUnitsRare(1), b + 11 * unit);
    // Growing 2 units to 3 moves the block and frees the old one; growing 5 to 6 keeps it (one
    // block size holds both).
    const std::uint32_t c = heap.AllocUnitsRare(2);
    const std::uint32_t d = heap.ExpandUnits(c, 2);
    EXPECT_NE(d, c);
    EXPECT_EQ(heap.AllocUnitsRare(2), c);
    const std::uint32_t e = heap.AllocUnitsRare(5);
    EXPECT_EQ(heap.ExpandUnits(e, 5), e);
}

} // namespace
