// The engine's stream classes: an ordinary seekable byte stream with a progress callback and a
// lock, and the memory and file streams built on it. BLOB values, metadata and temporary data all
// pass through these.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
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
