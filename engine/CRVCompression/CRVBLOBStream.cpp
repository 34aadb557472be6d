#include "CRVCompression/CRVBLOBStream.h"

#include "CRVCipher/CRVChecksum.h"
#include "CRVExcept/CRVExcept.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <unistd.h>

namespace {

// Bytes moved or zeroed per container read or write.
constexpr std::int64_t KChunkSize = 65536;

// Fields of the packed on-disk structures are taken by value: a reference to one may be misaligned.
constexpr std::int64_t NotNegative(std::int64_t v) {
    return v < 0 ? 0 : v;
}

struct TEncodedBlock {
    TCRVCompressedStreamBlockHeader Header;
    std::vector<std::uint8_t> Bytes; // the header followed by the compressed data
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Creation

TCRVCompressedBLOBStream::TCRVCompressedBLOBStream(TCRVStream& stream, bool toCreate, bool toRepair,
                                                   const TCRVBLOBDescriptor& descriptor)
    : FRepair(toRepair), FStartPosition(descriptor.StartPosition),
      FCompressionMode(descriptor.CompressionMode), FCompressionAlgorithm(descriptor.CompressionAlgorithm),
      FCompressedStream(&stream), FBLOBDescriptor(descriptor) {
    if (FBLOBDescriptor.BlockSize == 0 && (toCreate || descriptor.NumBlocks <= 0))
        FBLOBDescriptor.BlockSize = CRVBlockSizeForMode(FCompressionMode);
    if (!Compressed()) {
        OpenUncompressed(toCreate);
    } else {
        PositionContainer(FStartPosition, 10103);
        if (FBLOBDescriptor.BlockSize <= 0)
            CRVRaise(20149);
        if (!toCreate)
            ReadHeaders();
    }
    UpdateTotals();
}

void TCRVCompressedBLOBStream::PositionContainer(std::int64_t position, int errorCode) {
    const std::int64_t size = FCompressedStream->GetSize();
    if (position < 0)
        CRVRaise(errorCode, position, FCompressedStream->GetPosition(), size);
    const std::int64_t landed = FCompressedStream->Seek(position, TCRVSeekOrigin::soBeginning);
    if (landed != position)
        CRVRaise(errorCode, position, landed, size);
}

void TCRVCompressedBLOBStream::OpenUncompressed(bool toCreate) {
    PositionContainer(FStartPosition, 10079);
    FUncompressedSize = toCreate ? 0 : NotNegative(FBLOBDescriptor.UncompressedSize);
    const std::int64_t size = FCompressedStream->GetSize();
    const std::int64_t available = std::max<std::int64_t>(size - FStartPosition, 0);
    if (available >= FUncompressedSize)
        return;
    if (!FRepair)
        CRVRaise(10081, size, FStartPosition + FUncompressedSize);
    FUncompressedSize = available;
}

// Reads the NumBlocks headers from StartPosition. In repair mode the headers are cut at the first
// block that cannot be read whole (a short header, data past the container's end, or a header
// that does not fit the block layout), so that every block kept can be read.
void TCRVCompressedBLOBStream::ReadHeaders() {
    const std::int64_t size = FCompressedStream->GetSize();
    const std::int32_t blockSize = FBLOBDescriptor.BlockSize;
    std::int64_t position = FStartPosition;
    for (std::int64_t i = 0; i < FBLOBDescriptor.NumBlocks; ++i) {
        TCRVCompressedStreamBlockHeader header;
        const std::int64_t got = FCompressedStream->Read(&header, KCRVBlockHeaderSize);
        if (got < KCRVBlockHeaderSize) {
            if (FRepair)
                break;
            CRVRaise(10082, size, position + KCRVBlockHeaderSize);
        }
        if (FRepair && (header.CompressedSize <= 0 || header.UncompressedSize <= 0 ||
                        header.UncompressedSize > blockSize ||
                        header.OffsetToNextHeader != KCRVBlockHeaderSize + header.CompressedSize ||
                        position + header.OffsetToNextHeader > size))
            break;
        if (header.OffsetToNextHeader < KCRVBlockHeaderSize ||
            header.OffsetToNextHeader > std::numeric_limits<std::int64_t>::max() - position)
            CRVRaise(10083, position, position, size); // the next header would not lie after this one
        FHeaders.push_back({header, position});
        position += header.OffsetToNextHeader;
        PositionContainer(position, 10083);
        if (FRepair && header.UncompressedSize < blockSize)
            break; // only the last block may be short
    }
}

void TCRVCompressedBLOBStream::UpdateTotals() {
    if (Compressed()) {
        FUncompressedSize = 0;
        FCompressedSize = 0;
        for (const THeaderEntry& e : FHeaders) {
            FUncompressedSize += NotNegative(e.Header.UncompressedSize);
            FCompressedSize += NotNegative(e.Header.CompressedSize);
        }
        FCompressionRate = FUncompressedSize > 0 ? 100.0 * (1.0 - static_cast<double>(FCompressedSize) /
                                                                      static_cast<double>(FUncompressedSize))
                                                 : 0.0;
    } else {
        FCompressedSize = FUncompressedSize;
        FCompressionRate = 0.0;
    }
    FBLOBDescriptor.NumBlocks = static_cast<std::int64_t>(FHeaders.size());
    FBLOBDescriptor.UncompressedSize = FUncompressedSize;
}

std::int64_t TCRVCompressedBLOBStream::GetCompressedSize() const {
    return FCompressedSize;
}

std::int64_t TCRVCompressedBLOBStream::GetStreamSize() const {
    return Compressed() ? StreamEnd() - FStartPosition : FUncompressedSize;
}

std::int64_t TCRVCompressedBLOBStream::StreamEnd() const {
    if (FHeaders.empty())
        return FStartPosition;
    return FHeaders.back().Position + FHeaders.back().Header.OffsetToNextHeader;
}

// ---------------------------------------------------------------------------------------------
// The stream interface

std::int64_t TCRVCompressedBLOBStream::Seek(std::int64_t offset, TCRVSeekOrigin origin) {
    std::int64_t base = 0;
    if (origin == TCRVSeekOrigin::soCurrent)
        base = FPosition;
    else if (origin == TCRVSeekOrigin::soEnd)
        base = FUncompressedSize;
    const std::int64_t target = base + offset;
    if (target < 0)
        CRVRaise(Compressed() ? 10103 : 10079, target, FPosition, FUncompressedSize);
    FPosition = target;
    return FPosition;
}

std::int64_t TCRVCompressedBLOBStream::Read(void* buffer, std::int64_t count) {
    if (count <= 0 || FPosition >= FUncompressedSize)
        return 0;
    if (!Compressed())
        return ReadPlain(buffer, count);
    auto* out = static_cast<std::uint8_t*>(buffer);
    const std::int64_t blockSize = FBLOBDescriptor.BlockSize;
    const std::int64_t wanted = std::min(count, FUncompressedSize - FPosition);
    std::int64_t done = 0;
    while (done < wanted) {
        const std::int64_t index = FPosition / blockSize;
        const std::int64_t offset = FPosition % blockSize;
        if (index >= NumBlocks())
            break;
        const std::vector<std::uint8_t>& block = LoadBlock(index);
        const std::int64_t take = std::min(wanted - done, static_cast<std::int64_t>(block.size()) - offset);
        if (take <= 0)
            break;
        std::memcpy(out + done, block.data() + offset, static_cast<std::size_t>(take));
        done += take;
        FPosition += take;
    }
    return done;
}

std::int64_t TCRVCompressedBLOBStream::Write(const void* buffer, std::int64_t count) {
    if (count <= 0)
        return 0;
    if (!Compressed())
        return WritePlain(buffer, count);
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    if (FPosition > FUncompressedSize)
        AppendZeros(FPosition - FUncompressedSize);
    const std::int64_t inside = std::min(count, FUncompressedSize - FPosition);
    if (inside > 0)
        WriteInside(in, FPosition, inside);
    const std::int64_t appended = count > inside ? Append(in + inside, count - inside, true) : 0;
    FPosition += inside + appended;
    return inside + appended;
}

void TCRVCompressedBLOBStream::SetSize(std::int64_t newSize) {
    if (newSize < 0)
        CRVRaise(Compressed() ? 10103 : 10079, newSize, FPosition, FUncompressedSize);
    if (!Compressed())
        SetSizePlain(newSize);
    else if (newSize > FUncompressedSize)
        AppendZeros(newSize - FUncompressedSize);
    else if (newSize < FUncompressedSize)
        Truncate(newSize);
    FPosition = std::min(FPosition, FUncompressedSize);
}

// ---------------------------------------------------------------------------------------------
// Uncompressed values: the container holds the bytes themselves.

std::int64_t TCRVCompressedBLOBStream::ReadPlain(void* buffer, std::int64_t count) {
    const std::int64_t wanted = std::min(count, FUncompressedSize - FPosition);
    PositionContainer(FStartPosition + FPosition, 10079);
    const std::int64_t got = FCompressedStream->Read(buffer, wanted);
    FPosition += got;
    return got;
}

namespace {

// Writes zeros over [from, to) of `stream`, extending it when it ends before `to`.
void ZeroRange(TCRVStream& stream, std::int64_t from, std::int64_t to) {
    const std::int64_t size = stream.GetSize();
    const std::int64_t zeroUpTo = std::min(size, to);
    if (from < zeroUpTo) {
        const std::vector<std::uint8_t> zeros(
            static_cast<std::size_t>(std::min(zeroUpTo - from, KChunkSize)));
        stream.SetPosition(from);
        for (std::int64_t at = from; at < zeroUpTo;) {
            const std::int64_t n =
                std::min<std::int64_t>(zeroUpTo - at, static_cast<std::int64_t>(zeros.size()));
            stream.Write(zeros.data(), n);
            at += n;
        }
    }
    if (size < to)
        stream.SetSize(to);
}

} // namespace

std::int64_t TCRVCompressedBLOBStream::WritePlain(const void* buffer, std::int64_t count) {
    if (FPosition > FUncompressedSize)
        ZeroRange(*FCompressedStream, FStartPosition + FUncompressedSize, FStartPosition + FPosition);
    WriteContainer(FStartPosition + FPosition, buffer, count);
    FPosition += count;
    FUncompressedSize = std::max(FUncompressedSize, FPosition);
    UpdateTotals();
    return count;
}

void TCRVCompressedBLOBStream::SetSizePlain(std::int64_t newSize) {
    const std::int64_t oldEnd = FStartPosition + FUncompressedSize;
    const std::int64_t newEnd = FStartPosition + newSize;
    if (newSize > FUncompressedSize)
        ZeroRange(*FCompressedStream, oldEnd, newEnd);
    else if (FCompressedStream->GetSize() <= oldEnd)
        FCompressedStream->SetSize(newEnd); // the value ends the container: cut the container too
    FUncompressedSize = newSize;
    UpdateTotals();
}

void TCRVCompressedBLOBStream::WriteContainer(std::int64_t position, const void* buffer, std::int64_t count) {
    PositionContainer(position, Compressed() ? 10103 : 10079);
    const std::int64_t written = FCompressedStream->Write(buffer, count);
    if (written != count)
        CRVRaiseText(
            Compressed() ? 10103 : 10079,
            "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d",
            position, FCompressedStream->GetSize(), count, written);
}

// ---------------------------------------------------------------------------------------------
// Compressed values: loading and encoding blocks

const std::vector<std::uint8_t>& TCRVCompressedBLOBStream::LoadBlock(std::int64_t index) {
    if (FCurrentHeader == index)
        return FCurrentBlock;
    const THeaderEntry& entry = FHeaders[static_cast<std::size_t>(index)];
    const TCRVCompressedStreamBlockHeader& header = entry.Header;
    const std::int64_t blockSize = FBLOBDescriptor.BlockSize;
    const bool last = index + 1 == NumBlocks();
    // Every block but the last holds exactly BlockSize bytes; the last one 1..BlockSize.
    if (header.UncompressedSize <= 0 || header.UncompressedSize > blockSize ||
        (!last && header.UncompressedSize != blockSize))
        CRVRaise(10088, last ? header.UncompressedSize : blockSize, header.UncompressedSize);

    const std::int64_t dataPosition = entry.Position + KCRVBlockHeaderSize;
    const std::int64_t containerSize = FCompressedStream->GetSize();
    const std::int64_t compressedSize = NotNegative(header.CompressedSize);
    const std::int64_t available = std::clamp<std::int64_t>(containerSize - dataPosition, 0, compressedSize);
    std::vector<std::uint8_t> data(static_cast<std::size_t>(available));
    PositionContainer(dataPosition, 10103);
    const std::int64_t got = available > 0 ? FCompressedStream->Read(data.data(), available) : 0;
    if (got < compressedSize)
        CRVRaise(10086, dataPosition, containerSize, compressedSize, got);

    std::int64_t outSize = header.UncompressedSize;
    std::vector<std::uint8_t> expanded;
    if (!CRVInternalDecompressBuffer(FCompressionAlgorithm, data.data(), compressedSize, outSize, expanded))
        CRVRaise(10087, FCompressionAlgorithm, compressedSize, header.UncompressedSize);
    if (outSize != header.UncompressedSize)
        CRVRaise(10088, outSize, header.UncompressedSize);
    const std::uint32_t crc = CRC32(0, expanded.data(), expanded.size());
    if (crc != header.Crc32)
        CRVRaise(10089, crc, header.Crc32);

    FCurrentBlock = std::move(expanded);
    FCurrentHeader = index;
    return FCurrentBlock;
}

namespace {

TEncodedBlock EncodeBlockBytes(std::uint8_t algorithm, std::uint8_t mode, const std::uint8_t* data,
                               std::int64_t size) {
    std::int64_t outSize = 0;
    std::vector<std::uint8_t> compressed;
    if (!CRVInternalCompressBuffer(algorithm, mode, data, outSize, compressed, size))
        CRVRaise(10085, algorithm, mode, size, outSize);
    TEncodedBlock block;
    block.Header.CompressedSize = static_cast<std::int32_t>(outSize);
    block.Header.UncompressedSize = static_cast<std::int32_t>(size);
    block.Header.Crc32 = CRC32(0, data, static_cast<std::size_t>(size));
    block.Header.OffsetToNextHeader = KCRVBlockHeaderSize + outSize;
    block.Bytes.resize(static_cast<std::size_t>(KCRVBlockHeaderSize + outSize));
    std::memcpy(block.Bytes.data(), &block.Header, KCRVBlockHeaderSize);
    std::memcpy(block.Bytes.data() + KCRVBlockHeaderSize, compressed.data(), compressed.size());
    return block;
}

} // namespace

void TCRVCompressedBLOBStream::MoveContainerTail(std::int64_t from, std::int64_t delta) {
    TCRVStream& c = *FCompressedStream;
    const std::int64_t size = c.GetSize();
    if (delta == 0)
        return;
    if (from >= size) {
        if (delta < 0 && from + delta < size)
            c.SetSize(from + delta); // the bytes taken away were the container's end
        return;
    }
    const std::int64_t tail = size - from;
    std::vector<std::uint8_t> chunk(static_cast<std::size_t>(std::min(tail, KChunkSize)));
    auto shift = [&](std::int64_t at, std::int64_t n) {
        c.SetPosition(at);
        if (c.Read(chunk.data(), n) != n)
            CRVRaise(10086, at, size, n, 0);
        WriteContainer(at + delta, chunk.data(), n);
    };
    if (delta > 0) {
        // Back to front, so that no byte is overwritten before it has moved.
        for (std::int64_t left = tail; left > 0;) {
            const std::int64_t n = std::min<std::int64_t>(left, static_cast<std::int64_t>(chunk.size()));
            left -= n;
            shift(from + left, n);
        }
    } else {
        for (std::int64_t done = 0; done < tail;) {
            const std::int64_t n =
                std::min<std::int64_t>(tail - done, static_cast<std::int64_t>(chunk.size()));
            shift(from + done, n);
            done += n;
        }
        c.SetSize(size + delta);
    }
}

// Compresses `data` as block `index` and writes it in place of the old one; a changed length
// moves everything after the block.
void TCRVCompressedBLOBStream::RewriteBlock(std::int64_t index, const std::vector<std::uint8_t>& data) {
    TEncodedBlock encoded = EncodeBlockBytes(FCompressionAlgorithm, FCompressionMode, data.data(),
                                             static_cast<std::int64_t>(data.size()));
    THeaderEntry& entry = FHeaders[static_cast<std::size_t>(index)];
    const std::int64_t delta = encoded.Header.OffsetToNextHeader - entry.Header.OffsetToNextHeader;
    if (delta != 0) {
        MoveContainerTail(entry.Position + entry.Header.OffsetToNextHeader, delta);
        for (std::size_t j = static_cast<std::size_t>(index) + 1; j < FHeaders.size(); ++j)
            FHeaders[j].Position += delta;
    }
    WriteContainer(entry.Position, encoded.Bytes.data(), static_cast<std::int64_t>(encoded.Bytes.size()));
    entry.Header = encoded.Header;
    FCurrentBlock = data;
    FCurrentHeader = index;
    UpdateTotals();
}

void TCRVCompressedBLOBStream::AppendBlock(const std::uint8_t* data, std::int64_t size) {
    TEncodedBlock encoded = EncodeBlockBytes(FCompressionAlgorithm, FCompressionMode, data, size);
    const std::int64_t position = StreamEnd();
    const std::int64_t length = static_cast<std::int64_t>(encoded.Bytes.size());
    MoveContainerTail(position, length); // only when the container holds more after the value
    WriteContainer(position, encoded.Bytes.data(), length);
    FHeaders.push_back({encoded.Header, position});
    UpdateTotals();
}

// ---------------------------------------------------------------------------------------------
// Compressed values: changes

void TCRVCompressedBLOBStream::WriteInside(const std::uint8_t* data, std::int64_t position,
                                           std::int64_t count) {
    const std::int64_t blockSize = FBLOBDescriptor.BlockSize;
    while (count > 0) {
        const std::int64_t index = position / blockSize;
        const std::int64_t offset = position % blockSize;
        std::vector<std::uint8_t> block = LoadBlock(index);
        const std::int64_t take = std::min(count, static_cast<std::int64_t>(block.size()) - offset);
        std::memcpy(block.data() + offset, data, static_cast<std::size_t>(take));
        RewriteBlock(index, block);
        data += take;
        position += take;
        count -= take;
    }
}

std::int64_t TCRVCompressedBLOBStream::Append(const std::uint8_t* data, std::int64_t count,
                                              bool reportProgress) {
    const std::int64_t blockSize = FBLOBDescriptor.BlockSize;
    const std::int64_t total = count;
    std::int64_t done = 0;
    if (!FHeaders.empty() && FHeaders.back().Header.UncompressedSize < blockSize) {
        std::vector<std::uint8_t> block = LoadBlock(NumBlocks() - 1);
        const std::int64_t fill = std::min(count, blockSize - static_cast<std::int64_t>(block.size()));
        block.insert(block.end(), data, data + fill);
        RewriteBlock(NumBlocks() - 1, block);
        done += fill;
        if (reportProgress && !DoProgress(done, total))
            return done;
    }
    while (done < total) {
        const std::int64_t piece = std::min(total - done, blockSize);
        AppendBlock(data + done, piece);
        done += piece;
        if (reportProgress && !DoProgress(done, total))
            break;
    }
    return done;
}

void TCRVCompressedBLOBStream::AppendZeros(std::int64_t count) {
    const std::int64_t blockSize = FBLOBDescriptor.BlockSize;
    const std::vector<std::uint8_t> zeros(static_cast<std::size_t>(std::min(count, blockSize)));
    while (count > 0) {
        const std::int64_t n = std::min<std::int64_t>(count, static_cast<std::int64_t>(zeros.size()));
        Append(zeros.data(), n, false);
        count -= n;
    }
}

void TCRVCompressedBLOBStream::Truncate(std::int64_t newSize) {
    const std::int64_t blockSize = FBLOBDescriptor.BlockSize;
    const std::int64_t keep = (newSize + blockSize - 1) / blockSize;
    if (keep < NumBlocks()) {
        const std::int64_t from = FHeaders[static_cast<std::size_t>(keep)].Position;
        const std::int64_t to = StreamEnd();
        MoveContainerTail(to, from - to);
        FHeaders.resize(static_cast<std::size_t>(keep));
        if (FCurrentHeader >= keep)
            FCurrentHeader = -1;
        UpdateTotals();
    }
    if (keep > 0) {
        const std::int64_t lastSize = newSize - (keep - 1) * blockSize;
        if (FHeaders.back().Header.UncompressedSize > lastSize) {
            std::vector<std::uint8_t> block = LoadBlock(keep - 1);
            block.resize(static_cast<std::size_t>(lastSize));
            RewriteBlock(keep - 1, block);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// TCRVTemporaryStream

TCRVTemporaryStream::TCRVTemporaryStream(bool disableTempFiles, std::int64_t memoryLimit)
    : FMemoryLimit(memoryLimit), FMemoryStream(std::make_unique<TCRVMemoryStream>()),
      FDisableTempFiles(disableTempFiles) {}

TCRVTemporaryStream::~TCRVTemporaryStream() {
    FFileStream.reset();
    if (!FFileName.empty())
        ::unlink(FFileName.c_str());
}

TCRVStream& TCRVTemporaryStream::Current() {
    if (FInMemory)
        return *FMemoryStream;
    return *FFileStream;
}

std::int64_t TCRVTemporaryStream::Read(void* buffer, std::int64_t count) {
    return Current().Read(buffer, count);
}

std::int64_t TCRVTemporaryStream::Write(const void* buffer, std::int64_t count) {
    if (count > 0)
        MakeRoomFor(Current().GetPosition() + count);
    return Current().Write(buffer, count);
}

std::int64_t TCRVTemporaryStream::Seek(std::int64_t offset, TCRVSeekOrigin origin) {
    return Current().Seek(offset, origin);
}

std::int64_t TCRVTemporaryStream::GetSize() {
    return Current().GetSize();
}

void TCRVTemporaryStream::SetSize(std::int64_t newSize) {
    MakeRoomFor(newSize);
    Current().SetSize(newSize);
}

void TCRVTemporaryStream::MakeRoomFor(std::int64_t size) {
    if (FInMemory && !FDisableTempFiles && size > FMemoryLimit)
        MoveToFile();
}

// Copies the content into a new "CRV" file of the temporary folder. A failure (no folder, a full
// disk) removes the half-made file and leaves the data in memory, untouched.
void TCRVTemporaryStream::MoveToFile() {
    std::error_code folderError;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(folderError);
    if (folderError)
        CRVRaise(30361, folder.string() + "/CRVXXXXXX", folderError.value(), folderError.message());
    std::string name = (folder / "CRVXXXXXX").string();
    const int descriptor = ::mkstemp(name.data());
    if (descriptor < 0) {
        const int err = errno;
        CRVRaise(30361, name, err, std::strerror(err));
    }
    FFileName = name;
    try {
        auto file = std::make_unique<TCRVFileStream>(name, descriptor);
        const auto bytes = FMemoryStream->Bytes();
        file->Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
        file->SetPosition(FMemoryStream->GetPosition());
        FFileStream = std::move(file);
    } catch (...) {
        ::unlink(FFileName.c_str());
        FFileName.clear();
        throw;
    }
    FMemoryStream.reset();
    FInMemory = false;
}
