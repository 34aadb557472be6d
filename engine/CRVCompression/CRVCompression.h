// The engine's buffer compressors: zlib, bzip2 and PPMd variant G, one whole buffer at a time.
//
// | value | algorithm | name   | mode (0..9)                                              |
// |-------|-----------|--------|----------------------------------------------------------|
// | 0     | acaNone   | "NONE" | -                                                        |
// | 1     | acaZLIB   | "ZLIB" | the zlib compression level                               |
// | 2     | acaBZIP   | "BZIP" | the bzip2 block size in 100 000-byte units (1..9)        |
// | 3     | acaPPM    | "PPM"  | model order and memory from PPMOrderForMode / PPMMemory.. |
//
// Output formats:
//   zlib  one complete zlib stream (RFC 1950 framing) at level = mode.
//   bzip2 one complete bzip2 stream, block size mode x 100 000, work factor 0.
//   PPM   a 4-byte little-endian header word (order - 1) + 16 x (memory MB - 1) + 0x6000,
//         then the variant G range coder's bytes (end-of-stream escape and a 4-byte flush).
//
// The routines keep no state between calls and may run on any thread; PPM work is serialised
// process-wide (TCRVPPMCompressionLock), since its model lives in one process-wide memory area.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

enum TCRVCompressionAlgorithm : std::uint8_t {
    acaNone = 0,
    acaZLIB = 1,
    acaBZIP = 2,
    acaPPM = 3,
};

constexpr int KCRVCompressionAlgorithmCount = 4;

inline constexpr std::array<std::string_view, KCRVCompressionAlgorithmCount> CRVCompressionAlgorithmNames = {
    "NONE", "ZLIB", "BZIP", "PPM"};

// Case-insensitive lookup of a name of CRVCompressionAlgorithmNames.
std::optional<TCRVCompressionAlgorithm> CRVCompressionAlgorithmFromName(std::string_view name);

enum TCRVCompressionLevel : std::uint8_t { aclNone, aclFastest, aclNormal, aclMaximum };

struct TCRVCompression {
    TCRVCompressionAlgorithm CompressionAlgorithm = acaNone;
    std::uint8_t CompressionMode = 0;
    TCRVCompressionLevel CompressionLevel = aclNone;
};

// PPM mode tables, indexed by mode 1..9 (index 0 is no mode: PPM refuses mode 0).
inline constexpr std::array<int, 10> PPMOrderForMode = {0, 2, 3, 4, 5, 7, 8, 10, 13, 16};
inline constexpr std::array<int, 10> PPMMemoryForMode = {0, 2, 3, 7, 16, 22, 25, 40, 100, 100}; // megabytes

// The PPM header word for a model order and a memory size in megabytes.
constexpr std::uint32_t CRVPPMHeaderWord(int order, int memoryMB) {
    return static_cast<std::uint32_t>((order - 1) + 16 * (memoryMB - 1) + 0x6000);
}

// The process-wide PPM lock (re-entrant on the thread that holds it). Prefer the guard below to
// the bare pair.
void LockForPPMCompression();
void UnlockForPPMCompression();

class TCRVPPMCompressionLock {
public:
    TCRVPPMCompressionLock() { LockForPPMCompression(); }
    ~TCRVPPMCompressionLock() { UnlockForPPMCompression(); }
    TCRVPPMCompressionLock(const TCRVPPMCompressionLock&) = delete;
    TCRVPPMCompressionLock& operator=(const TCRVPPMCompressionLock&) = delete;
};

// Compresses inSize bytes into outBuffer (resized to outSize). False for algorithm 0, for inSize 0,
// for an unknown algorithm or mode, or when the compressor fails (for PPM also when the result
// would not fit in inSize + inSize div 20 + 50 bytes); true only when outSize > 0. Never throws.
bool CRVInternalCompressBuffer(std::uint8_t algorithm, std::uint8_t mode, const void* inBuffer,
                               std::int64_t& outSize, std::vector<std::uint8_t>& outBuffer,
                               std::int64_t inSize);

// Expands one compressed buffer. outSize comes in as the expected size (a hint for zlib and bzip2,
// the limit for PPM: more is a failure) and goes out as the actual size; outBuffer is resized to it.
// False for algorithm 0, inSize 0, an unknown algorithm or a failure. Never throws.
bool CRVInternalDecompressBuffer(std::uint8_t algorithm, const void* inBuffer, std::int64_t inSize,
                                 std::int64_t& outSize, std::vector<std::uint8_t>& outBuffer);
