// The compressed BLOB stream, in which a BLOB value is kept, and the temporary stream that holds
// BLOB data while it is worked on.
//
// Container layout of a compressed value (algorithm 1..3), starting at StartPosition:
//
//   [header 0][compressed bytes of block 0][header 1][compressed bytes of block 1] ...
//
// Blocks follow each other without gaps in the order of the value's bytes; block i holds the bytes
// i x BlockSize onward, every block but the last exactly BlockSize, and each block's data is one
// complete output of the buffer compressor. With algorithm 0 the container holds the value's
// bytes as they are.
//
// Invariants kept by every change of a compressed value:
//   1. FHeaders[0].Position == FStartPosition, and FHeaders[i + 1].Position ==
//      FHeaders[i].Position + FHeaders[i].Header.OffsetToNextHeader.
//   2. OffsetToNextHeader == 20 + CompressedSize for every header.
//   3. FUncompressedSize and FCompressedSize are the sums of the headers' UncompressedSize and
//      CompressedSize; the descriptor's NumBlocks and UncompressedSize follow them.
//   4. Reading expands only the blocks the read touches; appending rewrites only the last block
//      and adds new ones after it; a change that alters a block's compressed length moves the
//      container bytes after that block so that the invariants hold again.
#pragma once

#include "CRVCompression/CRVCompression.h"
#include "CRVCompression/CRVStream.h"

#include <bit>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

static_assert(std::endian::native == std::endian::little, "on-disk structures are little-endian");

constexpr std::int32_t DefaultBLOBBlockSize = 102400;
constexpr std::int32_t BlockSizeForFastest = 524288;
constexpr std::int32_t BlockSizeForNormal = 1048576;
constexpr std::int32_t BlockSizeForMax = 1572864;

// The block size a new stream takes from its mode when it has none: mode 0 -> 102400,
// 1-3 -> 524288, 4-6 -> 1048576, 7-9 (and above) -> 1572864.
constexpr std::int32_t CRVBlockSizeForMode(std::uint8_t mode) {
    if (mode == 0)
        return DefaultBLOBBlockSize;
    if (mode <= 3)
        return BlockSizeForFastest;
    if (mode <= 6)
        return BlockSizeForNormal;
    return BlockSizeForMax;
}

#pragma pack(push, 1)

// The description of a BLOB stream, stored by its owner.
//
// | OFFSET | SIZE | FIELD                |
// |--------|------|----------------------|
// | 0      | 4    | BlockSize (i32)      | uncompressed bytes per block
// | 4      | 8    | NumBlocks (i64)      |
// | 12     | 8    | UncompressedSize     | length of the value (i64)
// | 20     | 8    | StartPosition (i64)  | where the stream starts in its container
// | 28     | 1    | CompressionAlgorithm |
// | 29     | 1    | CompressionMode      |
// | 30     | 2    | Reserved             |
struct TCRVBLOBDescriptor {
    std::int32_t BlockSize = 0;
    std::int64_t NumBlocks = 0;
    std::int64_t UncompressedSize = 0;
    std::int64_t StartPosition = 0;
    std::uint8_t CompressionAlgorithm = acaNone;
    std::uint8_t CompressionMode = 0;
    std::uint8_t Reserved[2] = {0, 0};
};
static_assert(sizeof(TCRVBLOBDescriptor) == 32);

// The header in front of every compressed block.
//
// | OFFSET | SIZE | FIELD                   |
// |--------|------|-------------------------|
// | 0      | 4    | CompressedSize (i32)    | bytes of compressed data after this header
// | 4      | 4    | UncompressedSize (i32)  | bytes of the expanded block
// | 8      | 4    | Crc32 (u32)             | engine CRC-32 of the expanded block
// | 12     | 8    | OffsetToNextHeader (i64)| 20 + CompressedSize
struct TCRVCompressedStreamBlockHeader {
    std::int32_t CompressedSize = 0;
    std::int32_t UncompressedSize = 0;
    std::uint32_t Crc32 = 0;
    std::int64_t OffsetToNextHeader = 0;
};
static_assert(sizeof(TCRVCompressedStreamBlockHeader) == 20);

#pragma pack(pop)

constexpr std::int64_t KCRVBlockHeaderSize = sizeof(TCRVCompressedStreamBlockHeader);

// A stream of a BLOB value's uncompressed bytes over its container stream (owned by the caller,
// which must outlive this object). Errors: 10079 / 10103 positioning, 10081 / 10082 a container
// too small, 10083 a header offset that leads nowhere, 10085 compression, 10086 a short read of a
// block, 10087 / 10088 / 10089 a block that does not expand to its header's size and CRC-32,
// 20149 a compressed value without a block size.
class TCRVCompressedBLOBStream : public TCRVStream {
public:
    TCRVCompressedBLOBStream(TCRVStream& stream, bool toCreate, bool toRepair,
                             const TCRVBLOBDescriptor& descriptor);

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TCRVSeekOrigin origin) override;
    std::int64_t GetSize() override { return FUncompressedSize; }
    void SetSize(std::int64_t newSize) override;

    // The compressed data bytes (the blocks' CompressedSize summed; the value's size without compression).
    std::int64_t GetCompressedSize() const;
    // The bytes the stream takes in its container: headers and data, or the value itself.
    std::int64_t GetStreamSize() const;
    // Percentage saved: 100 x (1 - compressed / uncompressed); 0 without compression or bytes.
    double CompressionRate() const { return FCompressionRate; }
    std::uint8_t CompressionAlgorithm() const { return FCompressionAlgorithm; }
    std::uint8_t CompressionMode() const { return FCompressionMode; }
    // The descriptor to store: block size, block count and value size as they now are.
    const TCRVBLOBDescriptor& BLOBDescriptor() const { return FBLOBDescriptor; }
    std::int32_t BlockSize() const { return FBLOBDescriptor.BlockSize; }
    std::int64_t NumBlocks() const { return static_cast<std::int64_t>(FHeaders.size()); }

private:
    struct THeaderEntry {
        TCRVCompressedStreamBlockHeader Header;
        std::int64_t Position; // of the header in the container
    };

    bool Compressed() const { return FCompressionAlgorithm != acaNone; }
    void OpenUncompressed(bool toCreate);
    void ReadHeaders();
    void PositionContainer(std::int64_t position, int errorCode);

    // Uncompressed values.
    std::int64_t ReadPlain(void* buffer, std::int64_t count);
    std::int64_t WritePlain(const void* buffer, std::int64_t count);
    void SetSizePlain(std::int64_t newSize);

    // Compressed values.
    const std::vector<std::uint8_t>& LoadBlock(std::int64_t index);
    void RewriteBlock(std::int64_t index, const std::vector<std::uint8_t>& data);
    void AppendBlock(const std::uint8_t* data, std::int64_t size);
    // Adds bytes at the value's end; with `reportProgress` it stops when OnProgress asks to.
    // Returns the bytes added.
    std::int64_t Append(const std::uint8_t* data, std::int64_t count, bool reportProgress);
    void AppendZeros(std::int64_t count);
    void WriteInside(const std::uint8_t* data, std::int64_t position, std::int64_t count);
    void Truncate(std::int64_t newSize);
    std::int64_t StreamEnd() const;
    // Moves the container bytes from `from` to the container's end by `delta` bytes.
    void MoveContainerTail(std::int64_t from, std::int64_t delta);
    void WriteContainer(std::int64_t position, const void* buffer, std::int64_t count);
    void UpdateTotals();

    bool FRepair;
    std::vector<THeaderEntry> FHeaders;
    std::int64_t FUncompressedSize = 0;
    std::int64_t FCompressedSize = 0;
    std::int64_t FStartPosition;
    std::int64_t FCurrentHeader = -1; // the block held in FCurrentBlock, -1 for none
    std::vector<std::uint8_t> FCurrentBlock;
    std::int64_t FPosition = 0;
    std::uint8_t FCompressionMode;
    std::uint8_t FCompressionAlgorithm;
    double FCompressionRate = 0;
    TCRVStream* FCompressedStream;
    TCRVBLOBDescriptor FBLOBDescriptor;
};

// Data in memory up to a limit (DefaultTemporaryLimit); a write or SetSize that would make it larger
// moves the content into a new file "CRV......" in the system's temporary folder, unless temporary
// files are disabled. The file is removed when the stream goes.
class TCRVTemporaryStream : public TCRVStream {
public:
    explicit TCRVTemporaryStream(bool disableTempFiles, std::int64_t memoryLimit = DefaultTemporaryLimit);
    ~TCRVTemporaryStream() override;

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TCRVSeekOrigin origin) override;
    std::int64_t GetSize() override;
    void SetSize(std::int64_t newSize) override;

    bool InMemory() const { return FInMemory; }
    // The temporary file's name; empty while in memory.
    const std::string& FileName() const { return FFileName; }

private:
    TCRVStream& Current();
    // Moves to a file when `size` bytes would pass the memory limit.
    void MakeRoomFor(std::int64_t size);
    void MoveToFile();

    std::int64_t FMemoryLimit;
    std::unique_ptr<TCRVMemoryStream> FMemoryStream;
    std::unique_ptr<TCRVFileStream> FFileStream;
    std::string FFileName;
    bool FInMemory = true;
    bool FDisableTempFiles;
};
