// TCRVDatabaseFile: the operating-system file of a database, with the engine's file errors.
//
// All disk access goes through the TCRVOSFile it owns (made by a factory, so tests can put the
// fault-injecting twin in). Operations on a closed file raise 30376, creating or opening an open
// one 30377 (the operation's name in the message). Every failing read, write, size, flush, lock
// and unlock is retried once when ReopenDatabaseFile gets a usable handle back (a handle that
// answers a size query is taken as usable, and no reopen is done).
//
// Locks: LockByte answers whether the region was locked; a refusal that is a device, handle or
// network failure marks the file as having had a critical error and answers success.
#pragma once

#include "CRVDiskEngine/CRVOSFile.h"

#include <cstdint>
#include <memory>
#include <string>

class TCRVDatabaseFile {
public:
    explicit TCRVDatabaseFile(TCRVOSFileFactory factory = CRVPosixFileFactory());
    ~TCRVDatabaseFile();

    // Deletes an existing file of that name, then creates it anew, read/write, not shared.
    void CreateAndOpenFile(const std::string& fileName);
    // accessMode 0 read, 1 read/write; shareMode 0 none, 1 read and write, 2 read.
    void OpenFile(const std::string& fileName, int accessMode, int shareMode);
    // Closes the handle; a failure to close still leaves the object closed (and raises 30365).
    void CloseFile();
    bool IsOpened() const { return FIsOpened; }
    bool IsWritable() const { return FIsOpened && FAccessMode == 1; }
    bool WasCriticalError() const { return FWasCriticalError; }
    const std::string& FileName() const { return FFileName; }

    // Raise the caller's `errorCode` with the read / write message on failure or a short transfer.
    void ReadBuffer(void* buffer, std::size_t count, std::int64_t position, int errorCode);
    // `reached`, when given, receives the most bytes any attempt transferred, also when the write
    // fails: a failed write with bytes on disk has changed the file.
    void WriteBuffer(const void* buffer, std::size_t count, std::int64_t position, int errorCode,
                     std::size_t* reached = nullptr);
    // False instead of raising.
    bool TryReadBuffer(void* buffer, std::size_t count, std::int64_t position);

    void FlushFileBuffers();
    std::int64_t GetSize();
    void SetSize(std::int64_t newSize);
    std::int64_t GetPosition();
    void Seek(std::int64_t position, int errorCode);

    bool LockByte(std::int64_t offset, std::int64_t count = 1);
    bool UnlockByte(std::int64_t offset, std::int64_t count = 1);
    bool IsByteLocked(std::int64_t offset);
    bool IsRegionLocked(std::int64_t offset, std::int64_t count);

    // The header position: the first place holding the 16 signature bytes followed by the u16
    // 76; false when there is none.
    bool FindSignature(std::int64_t& offset);

    // Path operations through the same file interface.
    bool FileExists(const std::string& fileName, bool* readOnlyAttr = nullptr);

private:
    void CheckOpened(const char* operation) const;
    void CheckClosed(const char* operation) const;
    bool ReopenDatabaseFile();
    // Runs `op` (answering 0 or errno); on failure retries once after a successful reopen.
    template <typename F> int WithRetry(F&& op);
    enum class TFileOp { Create, Open, Close, Flush, GetSize, SetSize, Read, Write };
    // The one place where an operating-system error (errno; 0 for a short transfer) becomes the
    // engine's file error: the operation picks the code (or the caller's code for reads and
    // writes) and the message carries errno and its text.
    [[noreturn]] void RaiseFileError(TFileOp op, int err, int callerCode = 0, std::int64_t position = 0,
                                     std::size_t count = 0, std::size_t done = 0);
    bool LockResult(int err);

    TCRVOSFileFactory FFactory;
    std::unique_ptr<TCRVOSFile> FHandle;
    std::string FFileName;
    int FAccessMode = 0;
    int FShareMode = 0;
    bool FIsOpened = false;
    bool FWasCriticalError = false;
    std::int64_t FPosition = 0;
};

// The engine's text for an operating-system error code.
std::string CRVOSErrorMessage(int err);
