#include "CRVDiskEngine/CRVDatabaseFile.h"

#include "CRVDiskEngine/CRVDiskStructs.h"
#include "CRVExcept/CRVExcept.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

std::string CRVOSErrorMessage(int err) {
    if (err == 0)
        return "Unexpected end of file";
    return std::strerror(err);
}

namespace {

// Refusals that are no lock conflict but a broken handle, device or network.
bool IsCriticalLockError(int err) {
    switch (err) {
    case EPERM:
    case EBADF:
    case EIO:
    case ENXIO:
    case ENODEV:
    case ESTALE:
    case ENETDOWN:
    case ENETUNREACH:
    case ENETRESET:
    case ECONNRESET:
    case EHOSTDOWN:
    case EHOSTUNREACH:
        return true;
    default:
        return false;
    }
}

constexpr int KReopenAttempts = 3;
constexpr auto KReopenPause = std::chrono::milliseconds(1000);

} // namespace

TCRVDatabaseFile::TCRVDatabaseFile(TCRVOSFileFactory factory)
    : FFactory(std::move(factory)), FHandle(FFactory()) {}

TCRVDatabaseFile::~TCRVDatabaseFile() {
    if (FIsOpened)
        FHandle->Close();
}

void TCRVDatabaseFile::CheckOpened(const char* operation) const {
    if (!FIsOpened)
        CRVRaise(30376, operation);
}

void TCRVDatabaseFile::CheckClosed(const char* operation) const {
    if (FIsOpened)
        CRVRaise(30377, operation);
}

bool TCRVDatabaseFile::FileExists(const std::string& fileName, bool* readOnlyAttr) {
    bool exists = false;
    bool readOnly = false;
    FHandle->Stat(fileName, exists, readOnly);
    if (readOnlyAttr)
        *readOnlyAttr = readOnly;
    return exists;
}

void TCRVDatabaseFile::CreateAndOpenFile(const std::string& fileName) {
    if (fileName.empty())
        CRVRaise(30374);
    CheckClosed("CreateFile");
    if (FileExists(fileName))
        FHandle->Remove(fileName);
    if (const int err = FHandle->Open(fileName, true, true)) {
        FFileName = fileName;
        RaiseFileError(TFileOp::Create, err);
    }
    FFileName = fileName;
    FAccessMode = 1;
    FShareMode = 0;
    FIsOpened = true;
    FWasCriticalError = false;
    FPosition = 0;
}

void TCRVDatabaseFile::OpenFile(const std::string& fileName, int accessMode, int shareMode) {
    CheckClosed("OpenFile");
    if (accessMode != 0 && accessMode != 1)
        CRVRaise(30366, accessMode);
    if (shareMode < 0 || shareMode > 2)
        CRVRaise(30367, shareMode);
    // Share modes have no counterpart on this platform: other handles are never refused.
    if (const int err = FHandle->Open(fileName, accessMode == 1, false)) {
        FFileName = fileName;
        RaiseFileError(TFileOp::Open, err);
    }
    FFileName = fileName;
    FAccessMode = accessMode;
    FShareMode = shareMode;
    FIsOpened = true;
    FWasCriticalError = false;
    FPosition = 0;
}

void TCRVDatabaseFile::CloseFile() {
    CheckOpened("CloseFile");
    FIsOpened = false;
    if (const int err = FHandle->Close())
        RaiseFileError(TFileOp::Close, err);
}

bool TCRVDatabaseFile::ReopenDatabaseFile() {
    std::int64_t size = 0;
    if (FHandle->GetSize(size) == 0)
        return false; // the handle still works: the failure was the operation's own
    for (int attempt = 0; attempt < KReopenAttempts; ++attempt) {
        if (attempt > 0)
            std::this_thread::sleep_for(KReopenPause);
        FHandle->Close();
        if (FHandle->Open(FFileName, FAccessMode == 1, false) == 0)
            return true;
    }
    return false;
}

template <typename F> int TCRVDatabaseFile::WithRetry(F&& op) {
    int err = op();
    if (err != 0 && ReopenDatabaseFile())
        err = op();
    return err;
}

void TCRVDatabaseFile::RaiseFileError(TFileOp op, int err, int callerCode, std::int64_t position,
                                      std::size_t count, std::size_t done) {
    const std::string message = CRVOSErrorMessage(err);
    switch (op) {
    case TFileOp::Create:
        CRVRaise(30361, FFileName, err, message);
    case TFileOp::Open:
        CRVRaise(30364, FFileName, err, message);
    case TFileOp::Close:
        CRVRaise(30365, FFileName, err, message);
    case TFileOp::Flush:
        CRVRaise(30379, FFileName, err, message);
    case TFileOp::GetSize:
        CRVRaise(30371, FFileName, err, message);
    case TFileOp::SetSize:
        CRVRaise(30370, FFileName, position, err, message);
    case TFileOp::Read:
    case TFileOp::Write:
        break;
    }
    const bool write = op == TFileOp::Write;
    std::int64_t size = -1;
    FHandle->GetSize(size);
    const std::int64_t filePosition = position + static_cast<std::int64_t>(done);
    const std::string text = err ? message
                                 : std::string(write ? "Short write: " : "Short read: ") +
                                       std::to_string(done) + " of " + std::to_string(count) + " bytes";
    const char* format = write ? "Cannot Write to file: '%s' Position = %d, Count = %d, FilePosition = %d, "
                                 "FileSize = %d, ErrorCode:%d. ErrorMessage: %s"
                               : "Cannot Read from file: '%s' Position = %d, Count = %d, FilePosition = %d, "
                                 "FileSize = %d, ErrorCode:%d. ErrorMessage: %s";
    CRVRaiseText(callerCode, format, FFileName, position, static_cast<std::int64_t>(count), filePosition,
                 size, err, text);
}

void TCRVDatabaseFile::ReadBuffer(void* buffer, std::size_t count, std::int64_t position, int errorCode) {
    CheckOpened("ReadBuffer");
    std::size_t done = 0;
    const int err = WithRetry([&] {
        const int e = FHandle->ReadAt(buffer, count, position, done);
        return e ? e : (done == count ? 0 : -1);
    });
    if (err != 0)
        RaiseFileError(TFileOp::Read, err < 0 ? 0 : err, errorCode, position, count, done);
    FPosition = position + static_cast<std::int64_t>(count);
}

bool TCRVDatabaseFile::TryReadBuffer(void* buffer, std::size_t count, std::int64_t position) {
    if (!FIsOpened)
        return false;
    std::size_t done = 0;
    const int err = WithRetry([&] {
        const int e = FHandle->ReadAt(buffer, count, position, done);
        return e ? e : (done == count ? 0 : -1);
    });
    return err == 0;
}

void TCRVDatabaseFile::WriteBuffer(const void* buffer, std::size_t count, std::int64_t position,
                                   int errorCode, std::size_t* reached) {
    CheckOpened("WriteBuffer");
    std::size_t done = 0;
    std::size_t most = 0;
    const int err = WithRetry([&] {
        const int e = FHandle->WriteAt(buffer, count, position, done);
        most = std::max(most, done);
        return e ? e : (done == count ? 0 : -1);
    });
    if (reached)
        *reached = most;
    if (err != 0)
        RaiseFileError(TFileOp::Write, err < 0 ? 0 : err, errorCode, position, count, done);
    FPosition = position + static_cast<std::int64_t>(count);
}

void TCRVDatabaseFile::FlushFileBuffers() {
    CheckOpened("FlushFileBuffers");
    if (const int err = WithRetry([&] { return FHandle->Sync(); }))
        RaiseFileError(TFileOp::Flush, err);
}

std::int64_t TCRVDatabaseFile::GetSize() {
    CheckOpened("GetSize");
    std::int64_t size = 0;
    if (const int err = WithRetry([&] { return FHandle->GetSize(size); }))
        RaiseFileError(TFileOp::GetSize, err);
    return size;
}

void TCRVDatabaseFile::SetSize(std::int64_t newSize) {
    CheckOpened("SetSize");
    if (const int err = WithRetry([&] { return FHandle->SetSize(newSize); }))
        RaiseFileError(TFileOp::SetSize, err, 0, newSize);
}

std::int64_t TCRVDatabaseFile::GetPosition() {
    CheckOpened("GetPosition");
    return FPosition;
}

void TCRVDatabaseFile::Seek(std::int64_t position, int errorCode) {
    CheckOpened("Seek");
    const std::int64_t size = GetSize();
    if (position < 0)
        CRVRaiseText(errorCode,
                     "Cannot Set File Position to %d. FileName='%s'. FilePosition = %d, FileSize = %d",
                     position, FFileName, FPosition, size);
    FPosition = position;
}

bool TCRVDatabaseFile::LockResult(int err) {
    if (err == 0)
        return true;
    if (IsCriticalLockError(err)) {
        FWasCriticalError = true;
        return true;
    }
    return false;
}

bool TCRVDatabaseFile::LockByte(std::int64_t offset, std::int64_t count) {
    CheckOpened("LockByte");
    const int err = FHandle->Lock(offset, count);
    if (err != 0 && err != EAGAIN && ReopenDatabaseFile())
        return LockResult(FHandle->Lock(offset, count));
    return LockResult(err);
}

bool TCRVDatabaseFile::UnlockByte(std::int64_t offset, std::int64_t count) {
    CheckOpened("UnlockByte");
    return LockResult(WithRetry([&] { return FHandle->Unlock(offset, count); }));
}

bool TCRVDatabaseFile::IsByteLocked(std::int64_t offset) {
    CheckOpened("IsByteLocked");
    return IsRegionLocked(offset, 1);
}

bool TCRVDatabaseFile::IsRegionLocked(std::int64_t offset, std::int64_t count) {
    CheckOpened("IsRegionLocked");
    if (count <= 0)
        return false;
    bool locked = false;
    const int err = WithRetry([&] { return FHandle->TestLock(offset, count, locked); });
    return err == 0 ? locked : !LockResult(err);
}

bool TCRVDatabaseFile::FindSignature(std::int64_t& offset) {
    CheckOpened("ReadBuffer");
    constexpr std::size_t KSigSize = sizeof KCRVDatabaseSignature;
    auto matchesAt = [&](const std::uint8_t* p) {
        return std::memcmp(p, KCRVDatabaseSignature, KSigSize) == 0;
    };
    auto headerSizeAt = [&](std::int64_t pos) {
        std::uint16_t v = 0;
        return TryReadBuffer(&v, sizeof v, pos) ? v : std::uint16_t(0);
    };
    std::uint8_t first[92] = {};
    if (TryReadBuffer(first, KSigSize + 2, 0) && matchesAt(first) && headerSizeAt(KSigSize) == 76) {
        offset = 0;
        return true;
    }
    const std::int64_t size = GetSize();
    constexpr std::int64_t KWindow = 10000;
    constexpr std::int64_t KStride = 9984;
    std::vector<std::uint8_t> window(KWindow);
    for (std::int64_t start = 0; start < size; start += KStride) {
        const std::int64_t len = std::min(KWindow, size - start);
        std::size_t done = 0;
        if (FHandle->ReadAt(window.data(), static_cast<std::size_t>(len), start, done) != 0)
            return false;
        for (std::int64_t i = 0; i + static_cast<std::int64_t>(KSigSize) <= static_cast<std::int64_t>(done);
             ++i) {
            // The u16 after the signature is read from the file, so a header cut by the window
            // end is still found.
            if (matchesAt(window.data() + i) && headerSizeAt(start + i + KSigSize) == 76) {
                offset = start + i;
                return true;
            }
        }
        if (start + len >= size)
            break;
    }
    return false;
}
