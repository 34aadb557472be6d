// The engine's stream classes: an ordinary seekable byte stream with a progress callback and a
// lock, and the memory and file streams built on it. BLOB values, metadata and temporary data all
// pass through these.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

enum class TCRVSeekOrigin { soBeginning, soCurrent, soEnd };

constexpr std::int64_t DefaultMemoryBlockSize = 102400;
constexpr std::int64_t DefaultFileBlockSize = 102400;
constexpr std::int64_t DefaultTemporaryBlockSize = 102400;
constexpr std::int64_t DefaultTemporaryLimit = 1048576;

class TCRVStream {
public:
    // Called with the bytes done and the bytes in all; returning false asks the work to stop.
    using TProgress = std::function<bool(std::int64_t done, std::int64_t total)>;

    virtual ~TCRVStream() = default;
    TCRVStream() = default;
    TCRVStream(const TCRVStream&) = delete;
    TCRVStream& operator=(const TCRVStream&) = delete;

    // Reads up to `count` bytes at the position; returns the bytes read (0 at the end).
    virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
    // Writes `count` bytes at the position, growing the stream as needed; returns the bytes written.
    virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
    // Moves the position; returns the new position. Positions past the end are allowed.
    virtual std::int64_t Seek(std::int64_t offset, TCRVSeekOrigin origin) = 0;
    virtual std::int64_t GetSize() = 0;
    // Cuts or extends the stream (new bytes are zero); the position is kept unless it was past the new end.
    virtual void SetSize(std::int64_t newSize) = 0;

    std::int64_t GetPosition() { return Seek(0, TCRVSeekOrigin::soCurrent); }
    void SetPosition(std::int64_t position) { Seek(position, TCRVSeekOrigin::soBeginning); }

    // Copies `count` bytes (all from the position when count is 0) from `source`; returns the bytes copied.
    std::int64_t CopyFrom(TCRVStream& source, std::int64_t count);

    TProgress OnProgress;
    void Lock() { FLock.lock(); }
    void Unlock() { FLock.unlock(); }

protected:
    // Reports progress; false when the callback asked to stop.
    bool DoProgress(std::int64_t done, std::int64_t total) { return !OnProgress || OnProgress(done, total); }

private:
    std::recursive_mutex FLock;
};

// A stream held in memory. The buffer grows in DefaultMemoryBlockSize blocks; bytes between the old
// end and a write past it are zero.
class TCRVMemoryStream : public TCRVStream {
public:
    TCRVMemoryStream() = default;
    explicit TCRVMemoryStream(std::span<const std::uint8_t> bytes);

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TCRVSeekOrigin origin) override;
    std::int64_t GetSize() override { return FSize; }
    void SetSize(std::int64_t newSize) override;

    // The stream's bytes (valid until the next change).
    std::span<const std::uint8_t> Bytes() const { return {FMemory.data(), static_cast<std::size_t>(FSize)}; }
    std::span<std::uint8_t> MutableBytes() { return {FMemory.data(), static_cast<std::size_t>(FSize)}; }
    // The allocated bytes: always a whole number of DefaultMemoryBlockSize blocks.
    std::int64_t Capacity() const { return static_cast<std::int64_t>(FMemory.size()); }

private:
    // Makes room for `size` bytes and zeroes the bytes from the current end up to it.
    void Grow(std::int64_t size);

    std::vector<std::uint8_t> FMemory;
    std::int64_t FSize = 0;
    std::int64_t FPosition = 0;
};

enum class TCRVFileMode { fmCreate, fmOpenRead, fmOpenReadWrite };

// A stream over an operating-system file, with positioned reads and writes. fmCreate makes a new
// empty file (replacing an existing one). Failures raise the file errors of the engine: 30361
// (create), 30364 (open), 30370 (truncate), 30371 (size), and for reads and writes the codes given
// to the constructor with the engine's "Cannot Read from file" / "Cannot Write to file" texts.
class TCRVFileStream : public TCRVStream {
public:
    TCRVFileStream(std::string fileName, TCRVFileMode mode, int readErrorCode = 10474,
                   int writeErrorCode = 10475);
    // Takes over an open descriptor (e.g. one from mkstemp); the stream closes it.
    TCRVFileStream(std::string fileName, int descriptor, int readErrorCode = 10474,
                   int writeErrorCode = 10475);
    ~TCRVFileStream() override;

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TCRVSeekOrigin origin) override;
    std::int64_t GetSize() override;
    void SetSize(std::int64_t newSize) override;

    const std::string& FileName() const { return FFileName; }

private:
    std::string FFileName;
    int FHandle = -1;
    std::int64_t FPosition = 0;
    int FReadErrorCode;
    int FWriteErrorCode;
};
