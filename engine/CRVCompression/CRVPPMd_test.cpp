#include "CRVCompression/CRVPPMd.h"
#include "CRVCompression/CRVPPMdModel.h"
#include "CRVCompression/CRVPPMdSubAllocator.h"

#include <gtest/gtest.h>

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

} // namespace
