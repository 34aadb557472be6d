#include "CRVDiskEngine/CRVDiskTestUtil.h"

#include "CRVDiskEngine/CRVDatabaseChecker.h"
#include "CRVDiskEngine/CRVInternalFile.h"

using namespace crvtest;

namespace {

class Checker : public ::testing::Test {
protected:
    std::vector<std::string> Check(const std::string& password = "pw") {
        TCRVDiskPageManager pm;
        bool readOnly = true, repair = false, multiUser = false;
        TCRVPassword pw;
        pw.Password = password;
        pm.OpenDatabase(Path, pw, readOnly, repair, false, multiUser);
        return TCRVDatabaseChecker(pm).Run();
    }
    // A table with its three files, as the table layer creates them; the metadata spans pages.
    void AddTable(const std::string& name, std::size_t metadataBytes) {
        TOpenDb db(Path, Options("pw"));
        auto& pm = db.Pm();
        TCRVInternalDBDirectAccessFile locks(pm, ptTableLocks);
        const TCRVPageNo lockStart = locks.CreateFile(KCRVSystemSessionID, 24);
        TCRVInternalDBTransactedAccessFile meta(pm, ptTableMetaData);
        meta.CreateFile(KCRVSystemSessionID);
        std::vector<std::uint8_t> bytes(metadataBytes, 7);
        meta.WriteFile(KCRVSystemSessionID, bytes.data(), static_cast<std::int32_t>(bytes.size()));
        TCRVInternalDBTransactedAccessFile counters(pm, ptTableMostUpdated);
        counters.CreateFile(KCRVSystemSessionID);
        db.Data.AddTable(KCRVSystemSessionID, db.Data.GetNewObjectId(), name, meta.StartPageNo(),
                         counters.StartPageNo(), lockStart);
        db.Data.Commit(KCRVSystemSessionID, false);
    }
    bool Has(const std::vector<std::string>& problems, const std::string& part) {
        for (const auto& p : problems)
            if (p.find(part) != std::string::npos)
                return true;
        return false;
    }

    TTempDir Dir;
    std::string Path = Dir.File("check.crv");
};

TEST_F(Checker, NewAndGrownDatabasesAreSound) {
    Create(Path, Options("pw"));
    EXPECT_EQ(Check(), std::vector<std::string>{});
    AddTable("Files", 9000);
    AddTable("Info", 10);
    EXPECT_EQ(Check(), std::vector<std::string>{});
    Create(Path, Options());
    EXPECT_EQ(Check(""), std::vector<std::string>{});
}

TEST_F(Checker, ReportsEachKindOfDamage) {
    Create(Path, Options("pw"));
    AddTable("Files", 9000);
    const auto good = ReadBytes(Path);
    const std::size_t pfs = PageAt(0) + 40;
    const std::size_t eam = PageAt(1) + 40;
    struct TCase {
        const char* Name;
        std::function<void(std::vector<std::uint8_t>&)> Damage;
        const char* Expected;
    } cases[] = {
        {"short file", [](auto& b) { b.resize(b.size() - 4096); }, "bytes, the header's"},
        {"interrupted write-back", [](auto& b) { b[42] = 1; }, "needs repair"},
        {"flipped enciphered byte", [](auto& b) { b[PageAt(4) + 300] ^= 0x10; },
         "the table list, page 4: the CRC"},
        {"page of the table list marked free", [=](auto& b) { b[pfs] &= ~0x10; }, "marked free"},
        {"free page marked used", [=](auto& b) { b[pfs + 1] |= 0x20; },
         "page 13 is marked in use but nothing reachable owns it"},
        {"wrong EAM pair", [=](auto& b) { b[eam] = 0x01 | (0x03 << 2) | 0x03; }, "has EAM pair"},
        {"LastUsedPageNo off", [](auto& b) { PutAt<std::int32_t>(b, 34, 5); }, "LastUsedPageNo is 5"},
        {"broken chain", [](auto& b) { PutAt<std::uint16_t>(b, PageAt(3) + 8, ptTableList); },
         "session slots file"},
        {"bit beyond the file", [=](auto& b) { b[pfs + 1] |= 0x80; }, "beyond the end of the file"},
        {"map page overwritten", [](auto& b) { PutAt<std::uint16_t>(b, PageAt(0) + 8, ptEmpty); },
         "map page 0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        auto bytes = good;
        c.Damage(bytes);
        WriteBytes(Path, bytes);
        const auto problems = Check();
        EXPECT_TRUE(Has(problems, c.Expected)) << ::testing::PrintToString(problems);
    }
}

} // namespace

namespace {

TEST_F(Checker, HeaderClaimingHugePageCountIsReportedQuickly) {
    Create(Path, Options("pw"));
    auto bytes = ReadBytes(Path);
    PutAt<std::int32_t>(bytes, 30, 0x7FFFFFF0);
    WriteBytes(Path, bytes);
    const auto problems = Check();
    EXPECT_TRUE(Has(problems, "pages make")) << ::testing::PrintToString(problems);
}

} // namespace
