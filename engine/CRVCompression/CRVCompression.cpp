#include "CRVCompression/CRVCompression.h"

#include "CRVCompression/CRVPPMd.h"
#include "CRVConst/CRVNames.h"

#include <bzlib.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>
#include <mutex>

namespace {

// The one process-wide lock of PPM work: the model's memory area is shared by the process.
// Re-entrant, like a critical section: a caller that holds it may compress with PPM itself.
std::recursive_mutex GPPMCompressionLock;

constexpr std::int64_t RoundUp256(std::int64_t value) {
    return (value + 255) / 256 * 256;
}

// Buffers handed to zlib and bzip2 carry 32-bit lengths.
constexpr std::int64_t KMaxBufferSize = INT_MAX;

// ----- zlib -----------------------------------------------------------------------------------

class TDeflater {
public:
    explicit TDeflater(int level) { FReady = deflateInit(&FStream, level) == Z_OK; }
    ~TDeflater() {
        if (FReady)
            deflateEnd(&FStream);
    }
    TDeflater(const TDeflater&) = delete;
    TDeflater& operator=(const TDeflater&) = delete;
    bool Ready() const { return FReady; }
    z_stream& Stream() { return FStream; }

private:
    z_stream FStream{};
    bool FReady = false;
};

class TInflater {
public:
    TInflater() { FReady = inflateInit(&FStream) == Z_OK; }
    ~TInflater() {
        if (FReady)
            inflateEnd(&FStream);
    }
    TInflater(const TInflater&) = delete;
    TInflater& operator=(const TInflater&) = delete;
    bool Ready() const { return FReady; }
    z_stream& Stream() { return FStream; }

private:
    z_stream FStream{};
    bool FReady = false;
};

// Output starts at (InSize + InSize div 10 + 12) rounded up to 256 and grows by 256 bytes.
bool ZlibCompress(int level, const std::uint8_t* in, std::int64_t inSize, std::vector<std::uint8_t>& out) {
    if (level < 0 || level > 9)
        return false;
    TDeflater deflater(level);
    if (!deflater.Ready())
        return false;
    z_stream& zs = deflater.Stream();
    zs.next_in = const_cast<Bytef*>(in);
    zs.avail_in = static_cast<uInt>(inSize);
    out.resize(static_cast<std::size_t>(RoundUp256(inSize + inSize / 10 + 12)));
    for (;;) {
        zs.next_out = out.data() + zs.total_out;
        zs.avail_out = static_cast<uInt>(out.size() - zs.total_out);
        const int r = deflate(&zs, Z_FINISH);
        if (r == Z_STREAM_END)
            break;
        if (r != Z_OK && r != Z_BUF_ERROR)
            return false;
        if (zs.avail_out == 0)
            out.resize(out.size() + 256);
    }
    out.resize(zs.total_out);
    return true;
}

// Output starts at the expected size when that is 1..10000, else at InSize rounded up to 256, and
// grows by InSize rounded up to 256 until the stream ends.
bool ZlibExpand(const std::uint8_t* in, std::int64_t inSize, std::int64_t expected,
                std::vector<std::uint8_t>& out) {
    TInflater inflater;
    if (!inflater.Ready())
        return false;
    z_stream& zs = inflater.Stream();
    zs.next_in = const_cast<Bytef*>(in);
    zs.avail_in = static_cast<uInt>(inSize);
    const std::int64_t step = RoundUp256(inSize);
    out.resize(static_cast<std::size_t>(expected >= 1 && expected <= 10000 ? expected : step));
    for (;;) {
        zs.next_out = out.data() + zs.total_out;
        zs.avail_out = static_cast<uInt>(out.size() - zs.total_out);
        const int r = inflate(&zs, Z_NO_FLUSH);
        if (r == Z_STREAM_END)
            break;
        if (r != Z_OK && r != Z_BUF_ERROR)
            return false;
        if (zs.avail_out != 0)
            return false; // the input ended before the stream did
        if (static_cast<std::int64_t>(out.size()) + step > KMaxBufferSize)
            return false;
        out.resize(out.size() + static_cast<std::size_t>(step));
    }
    out.resize(zs.total_out);
    return true;
}

// ----- bzip2 ----------------------------------------------------------------------------------

bool BzipCompress(int mode, const std::uint8_t* in, std::int64_t inSize, std::vector<std::uint8_t>& out) {
    if (mode < 1 || mode > 9)
        return false;
    // bzip2 guarantees that 1 % more than the input plus 600 bytes is always enough.
    const std::int64_t bound = inSize + inSize / 100 + 601;
    if (bound > KMaxBufferSize)
        return false;
    out.resize(static_cast<std::size_t>(bound));
    unsigned int outLength = static_cast<unsigned int>(bound);
    const int r = BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &outLength,
                                           const_cast<char*>(reinterpret_cast<const char*>(in)),
                                           static_cast<unsigned int>(inSize), mode, 0, 0);
    if (r != BZ_OK)
        return false;
    out.resize(outLength);
    return true;
}

class TBzipExpander {
public:
    TBzipExpander() { FReady = BZ2_bzDecompressInit(&FStream, 0, 0) == BZ_OK; }
    ~TBzipExpander() {
        if (FReady)
            BZ2_bzDecompressEnd(&FStream);
    }
    TBzipExpander(const TBzipExpander&) = delete;
    TBzipExpander& operator=(const TBzipExpander&) = delete;
    bool Ready() const { return FReady; }
    bz_stream& Stream() { return FStream; }

private:
    bz_stream FStream{};
    bool FReady = false;
};

// Starts from the expected size (when it is plausible) and doubles until the stream ends.
bool BzipExpand(const std::uint8_t* in, std::int64_t inSize, std::int64_t expected,
                std::vector<std::uint8_t>& out) {
    TBzipExpander expander;
    if (!expander.Ready())
        return false;
    bz_stream& bs = expander.Stream();
    bs.next_in = const_cast<char*>(reinterpret_cast<const char*>(in));
    bs.avail_in = static_cast<unsigned int>(inSize);
    const std::int64_t start = expected >= 1 && expected <= 64 * 1048576 ? expected : RoundUp256(inSize) * 4;
    out.resize(static_cast<std::size_t>(start));
    std::int64_t done = 0;
    for (;;) {
        bs.next_out = reinterpret_cast<char*>(out.data() + done);
        bs.avail_out = static_cast<unsigned int>(static_cast<std::int64_t>(out.size()) - done);
        const int r = BZ2_bzDecompress(&bs);
        done = static_cast<std::int64_t>(out.size()) - bs.avail_out;
        if (r == BZ_STREAM_END)
            break;
        if (r != BZ_OK)
            return false;
        if (bs.avail_out != 0)
            return false; // the input ended before the stream did
        if (static_cast<std::int64_t>(out.size()) * 2 > KMaxBufferSize)
            return false;
        out.resize(out.size() * 2);
    }
    out.resize(static_cast<std::size_t>(done));
    return true;
}

// ----- PPMd variant G -------------------------------------------------------------------------

constexpr std::size_t KMegabyte = 1048576;

void PutWord(std::uint8_t* p, std::uint32_t word) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(word >> (8 * i));
}

std::uint32_t GetWord(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The output must fit in the compressor's buffer of InSize + InSize div 20 + 50 bytes.
bool PPMCompress(int mode, const std::uint8_t* in, std::int64_t inSize, std::vector<std::uint8_t>& out) {
    if (mode < 1 || mode > 9)
        return false;
    const int order = PPMOrderForMode[static_cast<std::size_t>(mode)];
    const int memoryMB = PPMMemoryForMode[static_cast<std::size_t>(mode)];
    std::vector<std::uint8_t> coded;
    {
        TCRVPPMCompressionLock lock;
        if (!CRVPPMdEncode(in, static_cast<std::size_t>(inSize), order, memoryMB * KMegabyte, coded))
            return false;
    }
    const std::int64_t bound = inSize + inSize / 20 + 50;
    if (static_cast<std::int64_t>(coded.size()) + 4 > bound)
        return false;
    out.resize(coded.size() + 4);
    PutWord(out.data(), CRVPPMHeaderWord(order, memoryMB));
    std::copy(coded.begin(), coded.end(), out.begin() + 4);
    return true;
}

bool PPMExpand(const std::uint8_t* in, std::int64_t inSize, std::int64_t expected,
               std::vector<std::uint8_t>& out) {
    if (inSize < 4 || expected < 0)
        return false;
    const std::uint32_t word = GetWord(in);
    if ((word >> 12) != 6)
        return false;
    const int order = static_cast<int>(word & 0xF) + 1;
    const std::size_t memory = (((word >> 4) & 0xFF) + 1) * KMegabyte;
    if (order < 2)
        return false; // the variant's models start at order 2
    TCRVPPMCompressionLock lock;
    return CRVPPMdDecode(in + 4, static_cast<std::size_t>(inSize - 4), order, memory,
                         static_cast<std::size_t>(expected), out);
}

} // namespace

void LockForPPMCompression() {
    GPPMCompressionLock.lock();
}
void UnlockForPPMCompression() {
    GPPMCompressionLock.unlock();
}

std::optional<TCRVCompressionAlgorithm> CRVCompressionAlgorithmFromName(std::string_view name) {
    if (const auto i = CRVFindName(CRVCompressionAlgorithmNames, name))
        return static_cast<TCRVCompressionAlgorithm>(*i);
    return std::nullopt;
}

bool CRVInternalCompressBuffer(std::uint8_t algorithm, std::uint8_t mode, const void* inBuffer,
                               std::int64_t& outSize, std::vector<std::uint8_t>& outBuffer,
                               std::int64_t inSize) {
    outSize = 0;
    outBuffer.clear();
    if (inBuffer == nullptr || inSize <= 0 || inSize > KMaxBufferSize)
        return false;
    const auto* in = static_cast<const std::uint8_t*>(inBuffer);
    bool ok = false;
    try {
        switch (algorithm) {
        case acaZLIB:
            ok = ZlibCompress(mode, in, inSize, outBuffer);
            break;
        case acaBZIP:
            ok = BzipCompress(mode, in, inSize, outBuffer);
            break;
        case acaPPM:
            ok = PPMCompress(mode, in, inSize, outBuffer);
            break;
        default:
            ok = false;
        }
    } catch (const std::exception&) {
        ok = false;
    }
    if (!ok)
        outBuffer.clear();
    outSize = static_cast<std::int64_t>(outBuffer.size());
    return ok && outSize > 0;
}

bool CRVInternalDecompressBuffer(std::uint8_t algorithm, const void* inBuffer, std::int64_t inSize,
                                 std::int64_t& outSize, std::vector<std::uint8_t>& outBuffer) {
    const std::int64_t expected = outSize;
    outSize = 0;
    outBuffer.clear();
    if (inBuffer == nullptr || inSize <= 0 || inSize > KMaxBufferSize)
        return false;
    const auto* in = static_cast<const std::uint8_t*>(inBuffer);
    bool ok = false;
    try {
        switch (algorithm) {
        case acaZLIB:
            ok = ZlibExpand(in, inSize, expected, outBuffer);
            break;
        case acaBZIP:
            ok = BzipExpand(in, inSize, expected, outBuffer);
            break;
        case acaPPM:
            ok = PPMExpand(in, inSize, expected, outBuffer);
            break;
        default:
            ok = false;
        }
    } catch (const std::exception&) {
        ok = false;
    }
    if (!ok)
        outBuffer.clear();
    outSize = static_cast<std::int64_t>(outBuffer.size());
    return ok;
}
