// The one way to the disk: TCRVOSFile, a POSIX file behind a small interface, and its
// fault-injecting twin for crash tests.
//
// Every call answers 0 or an errno value; nothing here raises. TCRVDatabaseFile turns the
// answers into the engine's file errors.
//
// Byte-range locks are Linux open-file-description locks (F_OFD_SETLK) plus a process-wide record
// of the bytes this process has locked, per file identity (device, inode). A lock is refused when
// the record already holds one of its bytes, so two sessions of one process, which share one
// handle, see each other's locks exactly as two processes would. Locks are advisory: nothing
// stops a read of a locked byte. A handle opened read-only takes shared (read) locks, which still
// conflict with every exclusive lock of another handle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TCRVOSFile {
public:
    virtual ~TCRVOSFile() = default;

    // create: the file must not exist (O_CREAT | O_EXCL); write: read/write, else read-only.
    virtual int Open(const std::string& path, bool write, bool create) = 0;
    virtual int Close() = 0;
    virtual bool IsOpen() const = 0;
    // `done` receives the bytes transferred; a short transfer answers 0 with done < count.
    virtual int ReadAt(void* buffer, std::size_t count, std::int64_t position, std::size_t& done) = 0;
    virtual int WriteAt(const void* buffer, std::size_t count, std::int64_t position, std::size_t& done) = 0;
    virtual int GetSize(std::int64_t& size) = 0;
    virtual int SetSize(std::int64_t size) = 0;
    virtual int Sync() = 0;
    // EAGAIN when any byte of the region is locked by another handle or by this process.
    virtual int Lock(std::int64_t offset, std::int64_t count) = 0;
    virtual int Unlock(std::int64_t offset, std::int64_t count) = 0;
    virtual int TestLock(std::int64_t offset, std::int64_t count, bool& locked) = 0;

    // Path operations (no open handle needed).
    virtual int Stat(const std::string& path, bool& exists, bool& readOnlyAttr) = 0;
    virtual int Remove(const std::string& path) = 0;
};

using TCRVOSFileFactory = std::function<std::unique_ptr<TCRVOSFile>()>;

std::unique_ptr<TCRVOSFile> CRVCreatePosixFile();
TCRVOSFileFactory CRVPosixFileFactory();

// What the fault-injecting file does: the N-th operation of a kind from now fails (1 = the next
// one; 0 = never), with `Errno`, or (writes) transfers only half the bytes when `ShortWrite`.
// Shared between the test and every file the factory makes.
struct TCRVFaultPlan {
    int FailWriteAt = 0;
    int FailReadAt = 0;
    int FailSyncAt = 0;
    int FailSetSizeAt = 0;
    int FailGetSizeAt = 0; // a failing size query stands for a handle that has become unusable
    int FailLockAt = 0;    // Lock answers Errno (a refusal that is no conflict)
    int Errno = 5;         // EIO
    bool ShortWrite = false;
    bool Sticky = false; // once failed, every later operation of that kind fails too
    int Writes = 0;
    int Reads = 0;
    int Syncs = 0;
    int SetSizes = 0;
    int GetSizes = 0;
    int Locks = 0;
};

TCRVOSFileFactory CRVFaultyFileFactory(std::shared_ptr<TCRVFaultPlan> plan);
