// Helpers shared by the disk engine's tests: a scratch folder, raw file access, error codes.
#pragma once

#include "CRVDiskEngine/CRVDiskDatabaseData.h"
#include "CRVExcept/CRVExceptTestUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace crvtest {

class TTempDir {
public:
    TTempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "crvdisk-XXXXXX").string();
        FPath = ::mkdtemp(tmpl.data());
    }
    ~TTempDir() {
        std::error_code ec;
        std::filesystem::remove_all(FPath, ec);
    }
    std::string File(const std::string& name) const { return (std::filesystem::path(FPath) / name).string(); }

private:
    std::string FPath;
};

inline std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

template <typename T> T At(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    T v;
    std::memcpy(&v, bytes.data() + offset, sizeof v);
    return v;
}

template <typename T> void PutAt(std::vector<std::uint8_t>& bytes, std::size_t offset, T v) {
    std::memcpy(bytes.data() + offset, &v, sizeof v);
}

// Page n's offset in a database file of its own with the given page size.
inline std::size_t PageAt(int n, std::size_t pageSize = 4096) {
    return 380 + static_cast<std::size_t>(n) * pageSize;
}

inline TCRVDatabaseOptions Options(const std::string& password = "") {
    TCRVDatabaseOptions o;
    o.Password.Password = password;
    o.LockTryCount = 3;
    o.LockDelayMS = 1;
    return o;
}

// Options whose files fail as `plan` says.
inline TCRVDatabaseOptions FaultyOptions(std::shared_ptr<TCRVFaultPlan> plan,
                                         const std::string& password = "") {
    TCRVDatabaseOptions o = Options(password);
    o.FileFactory = CRVFaultyFileFactory(std::move(plan));
    return o;
}

inline void Create(const std::string& path, const TCRVDatabaseOptions& options) {
    TCRVDiskDatabaseData(path, options).CreateDatabase();
}

// An open database with one connected session; disconnects on destruction.
struct TOpenDb {
    TOpenDb(const std::string& path, const TCRVDatabaseOptions& options) : Data(path, options) {
        Data.ConnectSession(Session, RepairNeeded);
    }
    ~TOpenDb() {
        try {
            Data.DisconnectSession(Session);
        } catch (...) {
        }
    }
    TCRVDiskPageManager& Pm() { return Data.PageManager(); }
    TCRVDiskDatabaseData Data;
    TCRVDiskSession Session;
    bool RepairNeeded = false;
};

} // namespace crvtest
