#include "CRVDiskEngine/CRVOSFile.h"

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// The bytes this process has locked, per file identity. Process-wide by nature: the whole point
// is that two handles (or sessions) of one process see each other's locks.
struct TLockedBytesRegistry {
    std::mutex Mutex;
    std::map<std::pair<dev_t, ino_t>, std::set<std::int64_t>> Bytes; // GUARDED_BY(Mutex)
};

TLockedBytesRegistry& Registry() {
    static TLockedBytesRegistry registry;
    return registry;
}

bool AnyLocked(const std::set<std::int64_t>& bytes, std::int64_t offset, std::int64_t count) {
    auto it = bytes.lower_bound(offset);
    return it != bytes.end() && *it < offset + count;
}

class TPosixFile final : public TCRVOSFile {
public:
    ~TPosixFile() override {
        if (FFd >= 0)
            Close();
    }

    int Open(const std::string& path, bool write, bool create) override {
        int flags = (write ? O_RDWR : O_RDONLY) | O_CLOEXEC;
        if (create)
            flags |= O_CREAT | O_EXCL;
        const int fd = ::open(path.c_str(), flags, 0644);
        if (fd < 0)
            return errno;
        struct stat st {};
        if (::fstat(fd, &st) != 0) {
            const int err = errno;
            ::close(fd);
            return err;
        }
        FFd = fd;
        FWrite = write;
        FId = {st.st_dev, st.st_ino};
        return 0;
    }

    int Close() override {
        if (FFd < 0)
            return EBADF;
        {
            // Closing the handle drops its locks; forget them in the record too.
            std::lock_guard lock(Registry().Mutex);
            auto& bytes = Registry().Bytes[FId];
            for (std::int64_t b : FMine)
                bytes.erase(b);
        }
        FMine.clear();
        const int rc = ::close(FFd);
        FFd = -1;
        return rc == 0 ? 0 : errno;
    }

    bool IsOpen() const override { return FFd >= 0; }

    int ReadAt(void* buffer, std::size_t count, std::int64_t position, std::size_t& done) override {
        done = 0;
        auto* p = static_cast<char*>(buffer);
        while (done < count) {
            const ssize_t n =
                ::pread(FFd, p + done, count - done, position + static_cast<std::int64_t>(done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return errno;
            if (n == 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        return 0;
    }

    int WriteAt(const void* buffer, std::size_t count, std::int64_t position, std::size_t& done) override {
        done = 0;
        const auto* p = static_cast<const char*>(buffer);
        while (done < count) {
            const ssize_t n =
                ::pwrite(FFd, p + done, count - done, position + static_cast<std::int64_t>(done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return errno;
            if (n == 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        return 0;
    }

    int GetSize(std::int64_t& size) override {
        struct stat st {};
        if (::fstat(FFd, &st) != 0)
            return errno;
        size = st.st_size;
        return 0;
    }

    int SetSize(std::int64_t size) override { return ::ftruncate(FFd, size) == 0 ? 0 : errno; }
    int Sync() override { return ::fsync(FFd) == 0 ? 0 : errno; }

    int Lock(std::int64_t offset, std::int64_t count) override {
        std::lock_guard lock(Registry().Mutex);
        auto& bytes = Registry().Bytes[FId];
        if (AnyLocked(bytes, offset, count))
            return EAGAIN;
        struct flock fl = Region(FWrite ? F_WRLCK : F_RDLCK, offset, count);
        if (::fcntl(FFd, F_OFD_SETLK, &fl) != 0)
            return errno == EACCES ? EAGAIN : errno;
        for (std::int64_t b = offset; b < offset + count; ++b) {
            bytes.insert(b);
            FMine.insert(b);
        }
        return 0;
    }

    int Unlock(std::int64_t offset, std::int64_t count) override {
        std::lock_guard lock(Registry().Mutex);
        auto& bytes = Registry().Bytes[FId];
        for (std::int64_t b = offset; b < offset + count; ++b)
            if (FMine.count(b) == 0)
                return ENOLCK; // not locked through this handle
        struct flock fl = Region(F_UNLCK, offset, count);
        if (::fcntl(FFd, F_OFD_SETLK, &fl) != 0)
            return errno;
        for (std::int64_t b = offset; b < offset + count; ++b) {
            bytes.erase(b);
            FMine.erase(b);
        }
        return 0;
    }

    int TestLock(std::int64_t offset, std::int64_t count, bool& locked) override {
        std::lock_guard lock(Registry().Mutex);
        if (AnyLocked(Registry().Bytes[FId], offset, count)) {
            locked = true;
            return 0;
        }
        struct flock fl = Region(F_WRLCK, offset, count);
        if (::fcntl(FFd, F_OFD_GETLK, &fl) != 0)
            return errno;
        locked = fl.l_type != F_UNLCK;
        return 0;
    }

    int Stat(const std::string& path, bool& exists, bool& readOnlyAttr) override {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            exists = false;
            readOnlyAttr = false;
            return errno == ENOENT ? 0 : errno;
        }
        exists = true;
        readOnlyAttr = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
        return 0;
    }

    int Remove(const std::string& path) override { return ::unlink(path.c_str()) == 0 ? 0 : errno; }

private:
    static struct flock Region(short type, std::int64_t offset, std::int64_t count) {
        struct flock fl {};
        fl.l_type = type;
        fl.l_whence = SEEK_SET;
        fl.l_start = offset;
        fl.l_len = count;
        fl.l_pid = 0;
        return fl;
    }

    int FFd = -1;
    bool FWrite = false;
    std::pair<dev_t, ino_t> FId{};
    std::set<std::int64_t> FMine; // bytes locked through this handle
};

// Counts operations and fails the planned one; everything else goes to the real file.
class TFaultyFile final : public TCRVOSFile {
public:
    TFaultyFile(std::unique_ptr<TCRVOSFile> inner, std::shared_ptr<TCRVFaultPlan> plan)
        : FInner(std::move(inner)), FPlan(std::move(plan)) {}

    int Open(const std::string& path, bool write, bool create) override {
        return FInner->Open(path, write, create);
    }
    int Close() override { return FInner->Close(); }
    bool IsOpen() const override { return FInner->IsOpen(); }

    int ReadAt(void* buffer, std::size_t count, std::int64_t position, std::size_t& done) override {
        if (Fails(FPlan->Reads, FPlan->FailReadAt)) {
            done = 0;
            return FPlan->Errno;
        }
        return FInner->ReadAt(buffer, count, position, done);
    }

    int WriteAt(const void* buffer, std::size_t count, std::int64_t position, std::size_t& done) override {
        if (Fails(FPlan->Writes, FPlan->FailWriteAt)) {
            done = 0;
            if (!FPlan->ShortWrite)
                return FPlan->Errno;
            return FInner->WriteAt(buffer, count / 2, position, done);
        }
        return FInner->WriteAt(buffer, count, position, done);
    }

    int GetSize(std::int64_t& size) override {
        return Fails(FPlan->GetSizes, FPlan->FailGetSizeAt) ? FPlan->Errno : FInner->GetSize(size);
    }
    int SetSize(std::int64_t size) override {
        return Fails(FPlan->SetSizes, FPlan->FailSetSizeAt) ? FPlan->Errno : FInner->SetSize(size);
    }
    int Sync() override { return Fails(FPlan->Syncs, FPlan->FailSyncAt) ? FPlan->Errno : FInner->Sync(); }
    int Lock(std::int64_t offset, std::int64_t count) override {
        return Fails(FPlan->Locks, FPlan->FailLockAt) ? FPlan->Errno : FInner->Lock(offset, count);
    }
    int Unlock(std::int64_t offset, std::int64_t count) override { return FInner->Unlock(offset, count); }
    int TestLock(std::int64_t offset, std::int64_t count, bool& locked) override {
        return FInner->TestLock(offset, count, locked);
    }
    int Stat(const std::string& path, bool& exists, bool& readOnlyAttr) override {
        return FInner->Stat(path, exists, readOnlyAttr);
    }
    int Remove(const std::string& path) override { return FInner->Remove(path); }

private:
    bool Fails(int& counter, int failAt) const {
        ++counter;
        if (failAt <= 0)
            return false;
        return counter == failAt || (FPlan->Sticky && counter > failAt);
    }

    std::unique_ptr<TCRVOSFile> FInner;
    std::shared_ptr<TCRVFaultPlan> FPlan;
};

} // namespace

std::unique_ptr<TCRVOSFile> CRVCreatePosixFile() {
    return std::make_unique<TPosixFile>();
}

TCRVOSFileFactory CRVPosixFileFactory() {
    return [] { return CRVCreatePosixFile(); };
}

TCRVOSFileFactory CRVFaultyFileFactory(std::shared_ptr<TCRVFaultPlan> plan) {
    return [plan] {
        return std::unique_ptr<TCRVOSFile>(std::make_unique<TFaultyFile>(CRVCreatePosixFile(), plan));
    };
}
