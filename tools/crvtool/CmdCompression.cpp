// crvtool commands over the engine's compression: compress, decompress (one buffer),
// blob-write, blob-read (the compressed BLOB stream and its container).
#include "CrvToolCommands.h"

#include "CRVCompression/CRVBLOBStream.h"
#include "CRVCompression/CRVCompression.h"
#include "CRVExcept/CRVExcept.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <limits>

namespace {

// --algorithm NAME; `allowNone` admits "NONE" (the BLOB commands).
std::uint8_t AlgorithmOption(const TArgs& args, bool allowNone) {
    const std::string name = args.Get("algorithm");
    const auto alg = CRVCompressionAlgorithmFromName(name);
    if (alg && (allowNone || *alg != acaNone))
        return *alg;
    throw EUsage("unknown algorithm '" + name + "' (one of " + (allowNone ? "NONE, " : "") +
                 "ZLIB, BZIP, PPM)");
}

std::uint8_t ModeOption(const TArgs& args) {
    return static_cast<std::uint8_t>(RangedOption(args, "mode", 0, 9));
}

constexpr std::int64_t KMaxInt32 = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t KMaxInt64 = std::numeric_limits<std::int64_t>::max();

// The output file of a command: removed again unless the command finishes.
class TOutputFile {
public:
    explicit TOutputFile(std::string path) : FPath(std::move(path)) {}
    ~TOutputFile() {
        if (!FKept) {
            std::error_code ignored;
            std::filesystem::remove(FPath, ignored);
        }
    }
    TOutputFile(const TOutputFile&) = delete;
    TOutputFile& operator=(const TOutputFile&) = delete;
    const std::string& Path() const { return FPath; }
    void Keep() { FKept = true; }

private:
    std::string FPath;
    bool FKept = false;
};

void RequireDistinct(const std::string& in, const std::string& out) {
    std::error_code ec;
    if (in == out || std::filesystem::equivalent(in, out, ec))
        throw EUsage("IN and OUT must be different files");
}

} // namespace

int CmdCompress(TArgs& args) {
    args.Accept({"algorithm", "mode"});
    const auto& files = args.Positional(2);
    const std::uint8_t alg = AlgorithmOption(args, false);
    const std::uint8_t mode = ModeOption(args);
    const auto in = ReadWholeFile(files[0]);
    std::int64_t outSize = 0;
    std::vector<std::uint8_t> out;
    if (!CRVInternalCompressBuffer(alg, mode, in.data(), outSize, out, static_cast<std::int64_t>(in.size())))
        CRVRaise(10085, alg, mode, in.size(), outSize);
    WriteWholeFile(files[1], out);
    return KExitOk;
}

int CmdDecompress(TArgs& args) {
    args.Accept({"algorithm", "size"});
    const auto& files = args.Positional(2);
    const std::uint8_t alg = AlgorithmOption(args, false);
    const std::int64_t expected = RangedOption(args, "size", 0, KMaxInt32);
    const auto in = ReadWholeFile(files[0]);
    std::int64_t outSize = expected;
    std::vector<std::uint8_t> out;
    if (!CRVInternalDecompressBuffer(alg, in.data(), static_cast<std::int64_t>(in.size()), outSize, out))
        CRVRaise(10087, alg, in.size(), expected);
    WriteWholeFile(files[1], out);
    return KExitOk;
}

int CmdBlobWrite(TArgs& args) {
    args.Accept({"algorithm", "mode", "block-size"});
    const auto& files = args.Positional(2);
    RequireDistinct(files[0], files[1]);
    TCRVBLOBDescriptor desc;
    desc.CompressionAlgorithm = AlgorithmOption(args, true);
    desc.CompressionMode = ModeOption(args);
    desc.BlockSize = static_cast<std::int32_t>(
        args.Has("block-size") ? RangedOption(args, "block-size", 1, KMaxInt32) : 0);

    TCRVFileStream in(files[0], TCRVFileMode::fmOpenRead);
    TOutputFile outFile(files[1]);
    {
        TCRVFileStream container(files[1], TCRVFileMode::fmCreate);
        TCRVCompressedBLOBStream blob(container, true, false, desc);
        blob.CopyFrom(in, 0);
        desc = blob.BLOBDescriptor();
    }
    outFile.Keep();
    // The packed fields go in as copies.
    const nlohmann::ordered_json line = {{"BlockSize", std::int32_t{desc.BlockSize}},
                                         {"NumBlocks", std::int64_t{desc.NumBlocks}},
                                         {"UncompressedSize", std::int64_t{desc.UncompressedSize}},
                                         {"CompressionAlgorithm", int{desc.CompressionAlgorithm}},
                                         {"CompressionMode", int{desc.CompressionMode}}};
    std::printf("%s\n", line.dump().c_str());
    return KExitOk;
}

int CmdBlobRead(TArgs& args) {
    args.Accept({"algorithm", "mode", "block-size", "blocks", "size", "offset", "count"}, {"repair"});
    const auto& files = args.Positional(2);
    RequireDistinct(files[0], files[1]);
    TCRVBLOBDescriptor desc;
    desc.CompressionAlgorithm = AlgorithmOption(args, true);
    desc.CompressionMode = ModeOption(args);
    desc.BlockSize = static_cast<std::int32_t>(RangedOption(args, "block-size", 0, KMaxInt32));
    desc.NumBlocks = RangedOption(args, "blocks", 0, KMaxInt64);
    desc.UncompressedSize = RangedOption(args, "size", 0, KMaxInt64);
    const std::int64_t offset = args.Has("offset") ? RangedOption(args, "offset", 0, KMaxInt64) : 0;
    const bool partial = args.Has("count");
    const std::int64_t count = partial ? RangedOption(args, "count", 0, KMaxInt64) : 0;

    TCRVFileStream container(files[0], TCRVFileMode::fmOpenRead);
    TCRVCompressedBLOBStream blob(container, false, args.Has("repair"), desc);
    const std::int64_t available = std::max<std::int64_t>(blob.GetSize() - offset, 0);
    const std::int64_t wanted = partial ? std::min(count, available) : available;
    TOutputFile outFile(files[1]);
    {
        TCRVFileStream out(files[1], TCRVFileMode::fmCreate);
        blob.SetPosition(offset);
        if (wanted > 0 && out.CopyFrom(blob, wanted) != wanted)
            throw std::runtime_error("the value ended early at position " +
                                     std::to_string(blob.GetPosition()));
    }
    outFile.Keep();
    return KExitOk;
}
