// crvtool compress / decompress / blob-write / blob-read, run as a user would.
#include "CrvToolRun.h"

#include "CRVCompression/CRVBLOBStream.h"
#include "CRVCompression/CRVCompression.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>

namespace {

const std::filesystem::path KVectors = std::filesystem::path(TESSORA_TESTDATA_DIR) / "ppmd-g";

std::string Input(const std::string& name) {
    return ReadText(KVectors / "inputs" / (name + ".bin"));
}

std::string EngineCompress(std::uint8_t alg, std::uint8_t mode, const std::string& in) {
    std::int64_t size = 0;
    std::vector<std::uint8_t> out;
    EXPECT_TRUE(
        CRVInternalCompressBuffer(alg, mode, in.data(), size, out, static_cast<std::int64_t>(in.size())));
    return std::string(out.begin(), out.end());
}

std::string P(const std::filesystem::path& p) {
    return p.string();
}

TEST(CrvToolCompression, CompressWritesTheCompressorsBytesAndDecompressReversesIt) {
    TTempDir dir;
    const std::string text = Input("text20k");
    WriteBytes(dir / "in", text);
    struct TCase {
        const char* Alg;
        std::uint8_t AlgValue;
        const char* Mode;
    };
    const TCase cases[] = {{"ZLIB", acaZLIB, "1"}, {"zlib", acaZLIB, "9"}, {"BZIP", acaBZIP, "1"},
                           {"BZIP", acaBZIP, "9"}, {"PPM", acaPPM, "1"},   {"PPM", acaPPM, "9"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Alg) + " " + c.Mode);
        auto r =
            RunCrvTool({"compress", "--algorithm", c.Alg, "--mode", c.Mode, P(dir / "in"), P(dir / "z")});
        ASSERT_EQ(r.ExitCode, 0) << r.Err;
        const std::string packed = ReadText(dir / "z");
        EXPECT_EQ(packed, EngineCompress(c.AlgValue, static_cast<std::uint8_t>(std::stoi(c.Mode)), text));
        r = RunCrvTool(
            {"decompress", "--algorithm", c.Alg, "--size", "20480", P(dir / "z"), P(dir / "back")});
        ASSERT_EQ(r.ExitCode, 0) << r.Err;
        EXPECT_EQ(ReadText(dir / "back"), text);
    }
    // The PPM output is the published variant's, header word included.
    ASSERT_EQ(
        RunCrvTool({"compress", "--algorithm", "PPM", "--mode", "5", P(dir / "in"), P(dir / "z")}).ExitCode,
        0);
    EXPECT_EQ(ReadText(dir / "z"), ReadText(KVectors / "out" / "text20k.m5.ppmd"));
}

TEST(CrvToolCompression, FailuresExitWithOneAndWriteNothing) {
    TTempDir dir;
    WriteBytes(dir / "empty", "");
    WriteBytes(dir / "text", Input("text20k"));
    std::string damaged = EngineCompress(acaZLIB, 6, Input("text20k"));
    damaged[damaged.size() / 2] ^= 0x40;
    WriteBytes(dir / "damaged", damaged);
    WriteBytes(dir / "ppm", ReadText(KVectors / "out" / "text20k.m5.ppmd"));
    const std::string out = P(dir / "out");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"compress", "--algorithm", "ZLIB", "--mode", "6", P(dir / "empty"), out}, "10085"},
        {{"compress", "--algorithm", "PPM", "--mode", "0", P(dir / "text"), out}, "10085"},
        {{"compress", "--algorithm", "BZIP", "--mode", "0", P(dir / "text"), out}, "10085"},
        {{"compress", "--algorithm", "ZLIB", "--mode", "6", P(dir / "missing"), out}, "missing"},
        {{"decompress", "--algorithm", "ZLIB", "--size", "20480", P(dir / "damaged"), out}, "10087"},
        {{"decompress", "--algorithm", "PPM", "--size", "20479", P(dir / "ppm"), out}, "10087"},
        {{"decompress", "--algorithm", "BZIP", "--size", "20480", P(dir / "empty"), out}, "10087"},
    };
    for (const auto& [args, message] : cases) {
        const auto r = RunCrvTool(args);
        EXPECT_EQ(r.ExitCode, 1) << args[0] << " " << args[2] << ": " << r.Err;
        EXPECT_NE(r.Err.find(message), std::string::npos) << r.Err;
        EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << "one line: " << r.Err;
        EXPECT_FALSE(std::filesystem::exists(out)) << args[0] << " " << args[2];
    }
}

TEST(CrvToolCompression, UsageErrorsExitWithTwo) {
    TTempDir dir;
    WriteBytes(dir / "in", "abc");
    const std::string in = P(dir / "in"), out = P(dir / "out");
    const std::vector<std::vector<std::string>> cases = {
        {"compress", "--algorithm", "NONE", "--mode", "1", in, out},
        {"compress", "--algorithm", "LZMA", "--mode", "1", in, out},
        {"compress", "--algorithm", "ZLIB", "--mode", "10", in, out},
        {"compress", "--algorithm", "ZLIB", in, out},
        {"compress", "--algorithm", "ZLIB", "--mode", "x", in, out},
        {"decompress", "--algorithm", "ZLIB", in, out},
        {"decompress", "--algorithm", "ZLIB", "--size", "-1", in, out},
        {"blob-write", "--algorithm", "ZLIB", "--mode", "6", "--block-size", "0", in, out},
        {"blob-write", "--algorithm", "ZLIB", "--mode", "6", in, in},
        {"blob-read", "--algorithm", "ZLIB", "--mode", "6", "--block-size", "10", "--size", "3", in, out},
        {"blob-read", "--algorithm", "ZLIB", "--mode", "6", "--block-size", "10", "--blocks", "1", "--size",
         "3", "--offset", "-2", in, out},
    };
    for (const auto& args : cases) {
        const auto r = RunCrvTool(args);
        EXPECT_EQ(r.ExitCode, 2) << args[0] << ": " << r.Err;
        EXPECT_NE(r.Err.find("usage: crvtool " + args[0]), std::string::npos) << r.Err;
    }
}

// ----- BLOB containers ------------------------------------------------------------------------

struct TBlob {
    std::string Json;
    std::string Container;
};

TBlob BlobWrite(const TTempDir& dir, const std::string& value, const std::vector<std::string>& options) {
    WriteBytes(dir / "value", value);
    std::vector<std::string> args = {"blob-write"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(P(dir / "value"));
    args.push_back(P(dir / "blob"));
    const auto r = RunCrvTool(args);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    return {r.Out, ReadText(dir / "blob")};
}

TCrvToolResult BlobRead(const TTempDir& dir, const std::vector<std::string>& options) {
    std::vector<std::string> args = {"blob-read"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(P(dir / "blob"));
    args.push_back(P(dir / "read"));
    return RunCrvTool(args);
}

const std::vector<std::string> KZlib300k = {"--algorithm", "ZLIB",     "--mode", "6",      "--block-size",
                                            "102400",      "--blocks", "3",      "--size", "307200"};

TEST(CrvToolCompression, BlobWritePrintsTheDescriptorAndBlobReadGivesTheValueBack) {
    TTempDir dir;
    const std::string value = Input("mixed300k");
    const TBlob blob =
        BlobWrite(dir, value, {"--algorithm", "ZLIB", "--mode", "6", "--block-size", "102400"});
    EXPECT_EQ(blob.Json, "{\"BlockSize\":102400,\"NumBlocks\":3,\"UncompressedSize\":307200,"
                         "\"CompressionAlgorithm\":1,\"CompressionMode\":6}\n");

    // The container is the engine's: a BLOB stream over it reads the value back.
    TCRVMemoryStream container(
        std::span(reinterpret_cast<const std::uint8_t*>(blob.Container.data()), blob.Container.size()));
    TCRVBLOBDescriptor d;
    d.BlockSize = 102400;
    d.NumBlocks = 3;
    d.UncompressedSize = 307200;
    d.CompressionAlgorithm = acaZLIB;
    d.CompressionMode = 6;
    TCRVCompressedBLOBStream s(container, false, false, d);
    std::string engineRead(307200, '\0');
    ASSERT_EQ(s.Read(engineRead.data(), 307200), 307200);
    EXPECT_EQ(engineRead, value);
    EXPECT_EQ(s.GetStreamSize(), static_cast<std::int64_t>(blob.Container.size()));

    auto r = BlobRead(dir, KZlib300k);
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(ReadText(dir / "read"), value);

    auto options = KZlib300k;
    options.insert(options.end(), {"--offset", "204790", "--count", "20"});
    r = BlobRead(dir, options);
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(ReadText(dir / "read"), value.substr(204790, 20));

    options = KZlib300k;
    options.insert(options.end(), {"--offset", "307000", "--count", "1000"});
    r = BlobRead(dir, options);
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(ReadText(dir / "read"), value.substr(307000)) << "a count past the end stops at the end";
}

TEST(CrvToolCompression, BlobWriteOfEveryAlgorithmAndTheBlockSizeFromTheMode) {
    TTempDir dir;
    const std::string value = Input("text20k") + Input("random64k");
    struct TCase {
        const char* Alg;
        const char* Mode;
        const char* BlockSize; // nullptr: from the mode
        const char* Json;
    };
    const TCase cases[] = {
        {"NONE", "0", nullptr,
         R"({"BlockSize":102400,"NumBlocks":0,"UncompressedSize":86016,"CompressionAlgorithm":0,"CompressionMode":0})"},
        {"ZLIB", "1", "4096",
         R"({"BlockSize":4096,"NumBlocks":21,"UncompressedSize":86016,"CompressionAlgorithm":1,"CompressionMode":1})"},
        {"BZIP", "5", nullptr,
         R"({"BlockSize":1048576,"NumBlocks":1,"UncompressedSize":86016,"CompressionAlgorithm":2,"CompressionMode":5})"},
        {"PPM", "8", "30000",
         R"({"BlockSize":30000,"NumBlocks":3,"UncompressedSize":86016,"CompressionAlgorithm":3,"CompressionMode":8})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Alg);
        std::vector<std::string> options = {"--algorithm", c.Alg, "--mode", c.Mode};
        if (c.BlockSize)
            options.insert(options.end(), {"--block-size", c.BlockSize});
        const TBlob blob = BlobWrite(dir, value, options);
        EXPECT_EQ(blob.Json, std::string(c.Json) + "\n");
        if (std::string(c.Alg) == "NONE") {
            EXPECT_EQ(blob.Container, value) << "an uncompressed value is its own bytes";
        }
        std::smatch blocks, blockSize;
        ASSERT_TRUE(std::regex_search(blob.Json, blocks, std::regex("\"NumBlocks\":([0-9]+)")));
        ASSERT_TRUE(std::regex_search(blob.Json, blockSize, std::regex("\"BlockSize\":([0-9]+)")));
        const auto r =
            BlobRead(dir, {"--algorithm", c.Alg, "--mode", c.Mode, "--block-size", blockSize[1].str(),
                           "--blocks", blocks[1].str(), "--size", std::to_string(value.size())});
        ASSERT_EQ(r.ExitCode, 0) << r.Err;
        EXPECT_EQ(ReadText(dir / "read"), value);
    }
}

TEST(CrvToolCompression, BlobReadOfADamagedOrTruncatedContainer) {
    TTempDir dir;
    const std::string value = Input("mixed300k");
    TBlob blob = BlobWrite(dir, value, {"--algorithm", "ZLIB", "--mode", "6", "--block-size", "102400"});
    TCRVCompressedStreamBlockHeader first;
    std::memcpy(&first, blob.Container.data(), sizeof first);
    const std::size_t secondData = static_cast<std::size_t>(first.OffsetToNextHeader) + 20;

    std::string damaged = blob.Container;
    damaged[secondData + 100] ^= 0x21;
    WriteBytes(dir / "blob", damaged);
    auto r = BlobRead(dir, KZlib300k);
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_TRUE(std::regex_search(r.Err, std::regex("Native error: 1008[789]"))) << r.Err;
    EXPECT_FALSE(std::filesystem::exists(dir / "read"));
    auto options = KZlib300k;
    options.insert(options.end(), {"--offset", "0", "--count", "102400"});
    r = BlobRead(dir, options);
    ASSERT_EQ(r.ExitCode, 0) << "the first block is sound: " << r.Err;
    EXPECT_EQ(ReadText(dir / "read"), value.substr(0, 102400));

    WriteBytes(dir / "blob", blob.Container.substr(0, secondData + 50)); // cut inside block 1
    r = BlobRead(dir, KZlib300k);
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("Native error: 10082"), std::string::npos) << r.Err;
    options = KZlib300k;
    options.push_back("--repair");
    r = BlobRead(dir, options);
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(ReadText(dir / "read"), value.substr(0, 102400));
}

} // namespace
