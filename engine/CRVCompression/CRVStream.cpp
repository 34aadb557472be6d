#include "CRVCompression/CRVStream.h"

#include "CRVExcept/CRVExcept.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The position a seek asks for; a negative one is refused with the stream-position error.
std::int64_t SeekTarget(std::int64_t offset, TCRVSeekOrigin origin, std::int64_t position,
                        std::int64_t size) {
    std::int64_t base = 0;
    if (origin == TCRVSeekOrigin::soCurrent)
        base = position;
    else if (origin == TCRVSeekOrigin::soEnd)
        base = size;
    const std::int64_t target = base + offset;
    if (target < 0)
        CRVRaise(10079, target, position, size);
    return target;
}

constexpr std::int64_t RoundUp(std::int64_t value, std::int64_t step) {
    return (value + step - 1) / step * step;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TCRVStream

std::int64_t TCRVStream::CopyFrom(TCRVStream& source, std::int64_t count) {
    if (count <= 0)
        count = source.GetSize() - source.GetPosition();
    std::vector<std::uint8_t> chunk(static_cast<std::size_t>(std::min(count, DefaultMemoryBlockSize)));
    std::int64_t copied = 0;
    while (copied < count) {
        const std::int64_t want =
            std::min<std::int64_t>(count - copied, static_cast<std::int64_t>(chunk.size()));
        const std::int64_t got = source.Read(chunk.data(), want);
        if (got <= 0)
            break;
        const std::int64_t written = Write(chunk.data(), got);
        copied += written;
        if (written < got || !DoProgress(copied, count))
            break;
    }
    return copied;
}

// ---------------------------------------------------------------------------------------------
// TCRVMemoryStream

TCRVMemoryStream::TCRVMemoryStream(std::span<const std::uint8_t> bytes) {
    Grow(static_cast<std::int64_t>(bytes.size()));
    std::copy(bytes.begin(), bytes.end(), FMemory.begin());
    FSize = static_cast<std::int64_t>(bytes.size());
}

void TCRVMemoryStream::Grow(std::int64_t size) {
    if (size > Capacity())
        FMemory.resize(static_cast<std::size_t>(RoundUp(size, DefaultMemoryBlockSize)));
    if (size > FSize)
        std::fill(FMemory.begin() + FSize, FMemory.begin() + size, std::uint8_t{0});
}

std::int64_t TCRVMemoryStream::Read(void* buffer, std::int64_t count) {
    const std::int64_t n = std::clamp<std::int64_t>(FSize - FPosition, 0, std::max<std::int64_t>(count, 0));
    if (n > 0)
        std::memcpy(buffer, FMemory.data() + FPosition, static_cast<std::size_t>(n));
    FPosition += n;
    return n;
}

std::int64_t TCRVMemoryStream::Write(const void* buffer, std::int64_t count) {
    if (count <= 0)
        return 0;
    const std::int64_t end = FPosition + count;
    if (end > FSize) {
        Grow(end);
        FSize = end;
    }
    std::memcpy(FMemory.data() + FPosition, buffer, static_cast<std::size_t>(count));
    FPosition = end;
    return count;
}

std::int64_t TCRVMemoryStream::Seek(std::int64_t offset, TCRVSeekOrigin origin) {
    FPosition = SeekTarget(offset, origin, FPosition, FSize);
    return FPosition;
}

void TCRVMemoryStream::SetSize(std::int64_t newSize) {
    if (newSize < 0)
        CRVRaise(10079, newSize, FPosition, FSize);
    Grow(newSize);
    FSize = newSize;
    FPosition = std::min(FPosition, FSize);
}

// ---------------------------------------------------------------------------------------------
// TCRVFileStream

namespace {

int OpenFlags(TCRVFileMode mode) {
    switch (mode) {
    case TCRVFileMode::fmCreate:
        return O_RDWR | O_CREAT | O_TRUNC;
    case TCRVFileMode::fmOpenRead:
        return O_RDONLY;
    case TCRVFileMode::fmOpenReadWrite:
        return O_RDWR;
    }
    return O_RDONLY;
}

} // namespace

TCRVFileStream::TCRVFileStream(std::string fileName, TCRVFileMode mode, int readErrorCode, int writeErrorCode)
    : FFileName(std::move(fileName)), FReadErrorCode(readErrorCode), FWriteErrorCode(writeErrorCode) {
    FHandle = ::open(FFileName.c_str(), OpenFlags(mode) | O_CLOEXEC, 0644);
    if (FHandle < 0) {
        const int err = errno;
        CRVRaise(mode == TCRVFileMode::fmCreate ? 30361 : 30364, FFileName, err, std::strerror(err));
    }
}

TCRVFileStream::TCRVFileStream(std::string fileName, int descriptor, int readErrorCode, int writeErrorCode)
    : FFileName(std::move(fileName)), FHandle(descriptor), FReadErrorCode(readErrorCode),
      FWriteErrorCode(writeErrorCode) {}

TCRVFileStream::~TCRVFileStream() {
    if (FHandle >= 0)
        ::close(FHandle);
}

std::int64_t TCRVFileStream::Read(void* buffer, std::int64_t count) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t n =
            ::pread(FHandle, out + done, static_cast<std::size_t>(count - done), FPosition + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int err = errno;
            CRVRaiseText(
                FReadErrorCode,
                "Cannot Read from file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = "
                "%d, ErrorCode:%d. ErrorMessage: %s",
                FFileName, FPosition + done, count - done, FPosition, GetSize(), err, std::strerror(err));
        }
        if (n == 0)
            break;
        done += n;
    }
    FPosition += done;
    return done;
}

std::int64_t TCRVFileStream::Write(const void* buffer, std::int64_t count) {
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t n =
            ::pwrite(FHandle, in + done, static_cast<std::size_t>(count - done), FPosition + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : ENOSPC;
            CRVRaiseText(
                FWriteErrorCode,
                "Cannot Write to file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = "
                "%d, ErrorCode:%d. ErrorMessage: %s",
                FFileName, FPosition + done, count - done, FPosition, GetSize(), err, std::strerror(err));
        }
        done += n;
    }
    FPosition += done;
    return done;
}

std::int64_t TCRVFileStream::Seek(std::int64_t offset, TCRVSeekOrigin origin) {
    const std::int64_t size = origin == TCRVSeekOrigin::soEnd ? GetSize() : 0;
    FPosition = SeekTarget(offset, origin, FPosition, size);
    return FPosition;
}

std::int64_t TCRVFileStream::GetSize() {
    struct stat st {};
    if (::fstat(FHandle, &st) != 0) {
        const int err = errno;
        CRVRaise(30371, FFileName, err, std::strerror(err));
    }
    return static_cast<std::int64_t>(st.st_size);
}

void TCRVFileStream::SetSize(std::int64_t newSize) {
    if (newSize < 0 || ::ftruncate(FHandle, newSize) != 0) {
        const int err = newSize < 0 ? EINVAL : errno;
        CRVRaise(30370, FFileName, newSize, err, std::strerror(err));
    }
    FPosition = std::min(FPosition, newSize);
}
