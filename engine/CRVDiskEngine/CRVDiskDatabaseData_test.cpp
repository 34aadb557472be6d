#include "CRVDiskEngine/CRVDiskTestUtil.h"

#include "CRVCipher/CRVChecksum.h"
#include "CRVDiskEngine/CRVDatabaseFreeSpaceManager.h"

#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace crvtest;

namespace {

class DiskDatabase : public ::testing::Test {
protected:
    TTempDir Dir;
    std::string Path = Dir.File("test.crv");
};

TEST_F(DiskDatabase, NewDefaultDatabaseHasTheSixPagesOfTheLayout) {
    Create(Path, Options());
    const auto bytes = ReadBytes(Path);
    ASSERT_EQ(bytes.size(), 24956u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 16), "C0RVISTADATABASE");
    EXPECT_EQ(At<std::uint16_t>(bytes, 16), 76);
    EXPECT_EQ(At<std::uint64_t>(bytes, 18), 0x40185C28F5C28F5CULL);
    EXPECT_EQ(At<std::uint16_t>(bytes, 26), 4096);
    EXPECT_EQ(At<std::uint16_t>(bytes, 28), 8);
    EXPECT_EQ(At<std::int32_t>(bytes, 30), 6); // TotalPageCount
    EXPECT_EQ(At<std::int32_t>(bytes, 34), 4); // LastUsedPageNo
    EXPECT_EQ(At<std::int32_t>(bytes, 38), 1); // State after the creating write-back
    EXPECT_EQ(bytes[42], 2);                   // WriteChangesState
    EXPECT_EQ(bytes[43], 0);                   // not encrypted
    EXPECT_EQ(At<std::uint16_t>(bytes, 76), 280);
    EXPECT_EQ(At<std::uint16_t>(bytes, 356), 20);
    EXPECT_EQ(At<std::int32_t>(bytes, 376), 0); // last object id

    const std::uint16_t types[] = {ptPFS, ptEAM, ptFileSystemDirectory, ptActiveSessionList, ptTableList};
    for (int n = 0; n < 5; ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(std::string(bytes.begin() + PageAt(n), bytes.begin() + PageAt(n) + 4), "CRVP");
        EXPECT_EQ(At<std::uint16_t>(bytes, PageAt(n) + 8), types[n]);
    }
    // Map pages keep State 0; page 5 was never written.
    EXPECT_EQ(At<std::int32_t>(bytes, PageAt(0) + 4), 0);
    EXPECT_EQ(At<std::int32_t>(bytes, PageAt(1) + 4), 0);
    EXPECT_EQ(At<std::uint32_t>(bytes, PageAt(5)), 0u);
    EXPECT_EQ(bytes[PageAt(0) + 40], 0x1F); // pages 0..4 in use
    EXPECT_EQ(bytes[PageAt(1) + 40], 1);    // extent 0 has a free page
    // The directory: id 2 (session slots, page 3), then id 1 (table list, page 4).
    const std::size_t dir = PageAt(2) + 40;
    EXPECT_EQ(At<std::int32_t>(bytes, dir + 1), 10); // FileSize
    EXPECT_EQ(bytes[dir + 10], 2);
    EXPECT_EQ(At<std::int32_t>(bytes, dir + 11), 3);
    EXPECT_EQ(bytes[dir + 15], 1);
    EXPECT_EQ(At<std::int32_t>(bytes, dir + 16), 4);
    EXPECT_EQ(At<std::int32_t>(bytes, PageAt(3) + 41), 2); // session slots file: 2 bytes

    TOpenDb db(Path, Options());
    EXPECT_FALSE(db.RepairNeeded);
    EXPECT_EQ(db.Session.SessionID, 0);
    EXPECT_EQ(db.Data.MaxSessionCount(), 2);
    EXPECT_TRUE(db.Data.GetTablesList().empty());
    EXPECT_FALSE(db.Data.ReadOnly());
    EXPECT_EQ(db.Data.GetNewObjectId(), 1);
    EXPECT_EQ(db.Data.GetNewObjectId(), 2);
}

TEST_F(DiskDatabase, EncryptedDatabaseEnciphersDataAreasButNotMapsOrSlots) {
    auto options = Options("secret");
    options.Password.CryptoAlgorithm = craTwofish_128;
    Create(Path, options);
    const auto bytes = ReadBytes(Path);
    EXPECT_EQ(bytes[43], 0xFF);
    EXPECT_EQ(bytes[78], craTwofish_128);
    const std::size_t dir = PageAt(2);
    EXPECT_EQ(bytes[dir + 20], craTwofish_128);
    std::vector<std::uint8_t> data(bytes.begin() + dir + 40, bytes.begin() + dir + 4096);
    EXPECT_NE(At<std::int32_t>(data, 1), 10); // FileSize is not readable as stored
    ASSERT_TRUE(CRVInternalDecryptBuffer(craTwofish_128, data.data(), data.size(), "secret"));
    EXPECT_EQ(CRC32(0, data.data(), data.size()), At<std::uint32_t>(bytes, dir + 14));
    EXPECT_EQ(At<std::int32_t>(data, 1), 10);
    EXPECT_EQ(At<std::int32_t>(bytes, PageAt(3) + 41), 2); // the slots file stays plain
    EXPECT_EQ(bytes[PageAt(0) + 40], 0x1F);                // and so do the maps

    TOpenDb db(Path, options);
    EXPECT_TRUE(db.Data.Encrypted());
    EXPECT_EQ(db.Data.MaxSessionCount(), 2);
}

TEST_F(DiskDatabase, PasswordIsCheckedOnlyWhenTheDatabaseHasOne) {
    Create(Path, Options("right"));
    struct TCase {
        const char* Password;
        int Code;
    } cases[] = {{"wrong", 30445}, {"", 30445}, {"right", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Password);
        EXPECT_EQ(CodeOf([&] { TOpenDb db(Path, Options(c.Password)); }), c.Code);
    }
    const std::string plain = Dir.File("plain.crv");
    Create(plain, Options());
    TOpenDb db(plain, Options("unused"));
    EXPECT_FALSE(db.Data.Encrypted());
    EXPECT_TRUE(db.Data.GetTablesList().empty());
}

TEST_F(DiskDatabase, DatabaseInsideALargerFileIsFoundByTheScan) {
    Create(Path, Options("pw"));
    const auto db = ReadBytes(Path);
    for (std::size_t prefix : {std::size_t(5000), std::size_t(9984), std::size_t(9990)}) {
        SCOPED_TRACE(prefix);
        std::vector<std::uint8_t> bytes(prefix, 0x5A);
        bytes.insert(bytes.end(), db.begin(), db.end());
        const std::string embedded = Dir.File("embedded.bin");
        WriteBytes(embedded, bytes);
        TOpenDb open(embedded, Options("pw"));
        EXPECT_EQ(open.Pm().OffsetToDBHeader(), static_cast<std::int64_t>(prefix));
        EXPECT_EQ(open.Pm().OffsetToFirstPage(), static_cast<std::int64_t>(prefix + 380));
        EXPECT_EQ(open.Data.MaxSessionCount(), 2);
        // A page added there lands at the embedded offsets.
        {
            auto page = open.Pm().AddPage(0, ptTableRecord);
            EXPECT_EQ(page->PageNo(), 5);
        }
        open.Data.Commit(0, false);
        const auto after = ReadBytes(embedded);
        EXPECT_EQ(At<std::uint16_t>(after, prefix + PageAt(5) + 8), ptTableRecord);
    }
}

TEST_F(DiskDatabase, FileThatIsNotADatabaseIsRefusedNamingItsFirstBytes) {
    WriteBytes(Path, std::vector<std::uint8_t>(30000, 'x'));
    try {
        TOpenDb db(Path, Options());
        FAIL() << "opened";
    } catch (const ECRVException& e) {
        EXPECT_EQ(e.NativeErrorCode(), 10470);
        EXPECT_NE(std::string(e.what()).find("'xxxxxxxxxxxxxxxx'"), std::string::npos) << e.what();
    }
    WriteBytes(Path, {'a', 'b'});
    EXPECT_EQ(CodeOf([&] { TOpenDb db(Path, Options()); }), 10470);
    WriteBytes(Path, {});
    EXPECT_EQ(CodeOf([&] { TOpenDb db(Path, Options()); }), 10470);
    EXPECT_EQ(CodeOf([&] { TOpenDb db(Dir.File("missing.crv"), Options()); }), 30364);
    try {
        Create(Dir.File("no-such-folder/new.crv"), Options());
        FAIL() << "created";
    } catch (const ECRVException& e) {
        EXPECT_EQ(e.NativeErrorCode(), 30361);
        EXPECT_NE(std::string(e.what()).find("Error code: 2. ErrorMessage: No such file or directory"),
                  std::string::npos)
            << e.what();
    }
    EXPECT_EQ(CodeOf([&] { Create("", Options()); }), 30374);
}

TEST_F(DiskDatabase, DamagedHeaderGeometryIsAFormatError) {
    Create(Path, Options());
    const auto good = ReadBytes(Path);
    struct TCase {
        const char* Name;
        std::size_t Offset;
        std::int32_t Value;
        int Size;
    } cases[] = {{"page size 0", 26, 0, 2},
                 {"no pages per extent", 28, 0, 2},
                 {"last used beyond the file", 34, 9, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        auto bytes = good;
        if (c.Size == 2)
            PutAt<std::uint16_t>(bytes, c.Offset, static_cast<std::uint16_t>(c.Value));
        else
            PutAt<std::int32_t>(bytes, c.Offset, c.Value);
        WriteBytes(Path, bytes);
        EXPECT_EQ(CodeOf([&] { TOpenDb db(Path, Options()); }), 20237);
    }
}

TEST_F(DiskDatabase, OldVersionOrInterruptedWriteBackNeedsRepair) {
    Create(Path, Options());
    auto bytes = ReadBytes(Path);
    bytes[42] = 1;
    WriteBytes(Path, bytes);
    {
        TOpenDb db(Path, Options());
        EXPECT_TRUE(db.RepairNeeded);
        EXPECT_TRUE(db.Session.RepairNeeded);
    }
    bytes[42] = 2;
    PutAt<double>(bytes, 18, 2.5);
    WriteBytes(Path, bytes);
    TOpenDb db(Path, Options());
    EXPECT_TRUE(db.RepairNeeded);
}

// A write-back stopped at its N-th write: the first write is the header saying "in progress";
// whatever fails after it leaves a file that reports RepairNeeded, and nothing before it changes
// the file at all.
TEST_F(DiskDatabase, WriteBackStoppedAtAnyWriteLeavesRepairNeeded) {
    Create(Path, Options("pw"));
    const auto before = ReadBytes(Path);
    for (int failAt = 1; failAt <= 4; ++failAt) {
        SCOPED_TRACE(failAt);
        WriteBytes(Path, before);
        auto plan = std::make_shared<TCRVFaultPlan>();
        auto options = FaultyOptions(plan, "pw");
        {
            TOpenDb db(Path, options);
            for (int i = 0; i < 2; ++i) {
                auto page = db.Pm().GetPage(0, i == 0 ? 2 : 4, false, KCRVAnyPageType);
                page->GetPageData()[100] = 0xAB;
                page->SetIsDirty(true);
            }
            plan->Writes = 0;
            plan->FailWriteAt = failAt;
            EXPECT_NE(CodeOf([&] { db.Data.Commit(0, false); }), 0);
            plan->FailWriteAt = 0;
        }
        const auto after = ReadBytes(Path);
        if (failAt == 1) {
            EXPECT_EQ(after, before);
            continue;
        }
        EXPECT_EQ(after[42], 1);
        TOpenDb reopened(Path, Options("pw"));
        EXPECT_TRUE(reopened.RepairNeeded);
    }
}

// A later write-back that succeeds must not hide a torn one: once pages of a failed write-back
// reached the file, the file keeps saying "in progress" until it is repaired. A write-back that
// failed before any page was written tore nothing, and the next one leaves the file consistent.
TEST_F(DiskDatabase, SuccessfulWriteBackDoesNotHideATornOne) {
    Create(Path, Options("pw"));
    const auto before = ReadBytes(Path);
    struct TCase {
        int FailAt; // 2: the first page write fails; 3: the second one, after one page was written
        std::uint8_t StateAfterNextCommit;
    };
    for (const TCase c : {TCase{2, 2}, TCase{3, 1}}) {
        SCOPED_TRACE(c.FailAt);
        WriteBytes(Path, before);
        auto plan = std::make_shared<TCRVFaultPlan>();
        auto options = FaultyOptions(plan, "pw");
        {
            TOpenDb db(Path, options);
            auto change = [&](std::uint8_t value) {
                for (TCRVPageNo no : {2, 4}) {
                    auto page = db.Pm().GetPage(0, no, false, KCRVAnyPageType);
                    page->GetPageData()[100] = value;
                    page->SetIsDirty(true);
                }
            };
            change(0xAB);
            plan->Writes = 0;
            plan->FailWriteAt = c.FailAt;
            EXPECT_NE(CodeOf([&] { db.Data.Commit(0, false); }), 0);
            plan->FailWriteAt = 0;
            db.Data.Rollback(0);
            change(0xCD);
            EXPECT_EQ(CodeOf([&] { db.Data.Commit(0, false); }), 0);
        }
        EXPECT_EQ(ReadBytes(Path)[42], c.StateAfterNextCommit);
        TOpenDb reopened(Path, Options("pw"));
        EXPECT_EQ(reopened.RepairNeeded, c.StateAfterNextCommit == 1);
    }
}

// Pages with consecutive numbers reach the file in one write, the enciphered and the plain ones
// of a run alike; a run whose write fails counts as not written, so the file is not torn.
TEST_F(DiskDatabase, ConsecutiveDirtyPagesGoOutInOneWrite) {
    Create(Path, Options("pw"));
    const auto before = ReadBytes(Path);
    struct TCase {
        std::vector<TCRVPageNo> Pages;
        int Writes; // the two header writes included
    };
    for (const TCase& c : {TCase{{2, 3, 4}, 3}, TCase{{2, 4}, 4}}) {
        SCOPED_TRACE(c.Pages.size());
        WriteBytes(Path, before);
        auto plan = std::make_shared<TCRVFaultPlan>();
        auto options = FaultyOptions(plan, "pw");
        {
            TOpenDb db(Path, options);
            auto change = [&](std::uint8_t value) {
                for (TCRVPageNo no : c.Pages) {
                    auto page = db.Pm().GetPage(0, no, false, KCRVAnyPageType);
                    page->GetPageData()[100] = static_cast<std::uint8_t>(value + no);
                    page->SetIsDirty(true);
                }
            };
            change(0x10);
            plan->Writes = 0;
            plan->FailWriteAt = 2; // the first page write
            EXPECT_EQ(CodeOf([&] { db.Data.Commit(0, false); }), 10469);
            plan->FailWriteAt = 0;
            db.Data.Rollback(0);
            change(0x40);
            plan->Writes = 0;
            EXPECT_EQ(CodeOf([&] { db.Data.Commit(0, false); }), 0);
            EXPECT_EQ(plan->Writes, c.Writes);
        }
        const auto after = ReadBytes(Path);
        EXPECT_EQ(after[42], 2); // consistent: the failed run tore nothing
        if (c.Pages.size() == 3) {
            EXPECT_EQ(after[PageAt(3) + 40 + 100], 0x43); // the slots page is written plain
        }
        TOpenDb reopened(Path, Options("pw"));
        EXPECT_FALSE(reopened.RepairNeeded);
        for (TCRVPageNo no : c.Pages) {
            auto page = reopened.Pm().GetPage(0, no, false, KCRVAnyPageType);
            EXPECT_EQ(page->GetPageData()[100], 0x40 + no) << no;
        }
    }
}

TEST_F(DiskDatabase, ShortWriteIsAnErrorNamingTheFile) {
    Create(Path, Options());
    auto plan = std::make_shared<TCRVFaultPlan>();
    plan->ShortWrite = true;
    auto options = FaultyOptions(plan);
    TOpenDb db(Path, options);
    { auto page = db.Pm().AddPage(0, ptTableRecord); }
    plan->Writes = 0;
    plan->FailWriteAt = 2; // the page write
    try {
        db.Data.Commit(0, false);
        FAIL() << "committed";
    } catch (const ECRVException& e) {
        EXPECT_EQ(e.NativeErrorCode(), 10469);
        EXPECT_NE(std::string(e.what()).find(Path), std::string::npos);
        EXPECT_NE(std::string(e.what()).find("Short write"), std::string::npos);
    }
    db.Data.Rollback(0);
}

// Half a page reached the file before its write failed: the file is torn, and a later write-back
// that succeeds must not mark it consistent.
TEST_F(DiskDatabase, AWriteThatFailsPartWayLeavesTheFileTorn) {
    Create(Path, Options("pw"));
    auto plan = std::make_shared<TCRVFaultPlan>();
    plan->ShortWrite = true;
    auto options = FaultyOptions(plan, "pw");
    {
        TOpenDb db(Path, options);
        auto change = [&](TCRVPageNo no) {
            auto page = db.Pm().GetPage(0, no, false, KCRVAnyPageType);
            page->GetPageData()[100] = 0xAB;
            page->SetIsDirty(true);
        };
        TCRVPageNo spare;
        {
            auto page = db.Pm().AddPage(0, ptTableRecord);
            spare = page->PageNo();
        }
        db.Data.Commit(0, false);
        change(spare);
        plan->Writes = 0;
        plan->FailWriteAt = 2; // the page write: half of it reaches the file
        EXPECT_EQ(CodeOf([&] { db.Data.Commit(0, false); }), 10469);
        plan->FailWriteAt = 0;
        db.Data.Rollback(0);
        // The page is now half old, half new: its checksum says so.
        EXPECT_EQ(CodeOf([&] { db.Pm().GetPage(0, spare, false, KCRVAnyPageType); }), 30446);
        change(4);
        EXPECT_EQ(CodeOf([&] { db.Data.Commit(0, false); }), 0);
    }
    EXPECT_EQ(ReadBytes(Path)[42], 1);
    TOpenDb reopened(Path, Options("pw"));
    EXPECT_TRUE(reopened.RepairNeeded);
}

TEST_F(DiskDatabase, MapPagesAndNoPageAreRefusedByTheCache) {
    Create(Path, Options());
    TOpenDb db(Path, Options());
    EXPECT_EQ(CodeOf([&] { db.Pm().GetPage(0, 0, false, ptPFS); }), 30434);
    EXPECT_EQ(CodeOf([&] { db.Pm().GetPage(0, 1, false, ptEAM); }), 30434);
    EXPECT_EQ(CodeOf([&] { db.Pm().RemovePage(0, 1); }), 30434);
    EXPECT_EQ(CodeOf([&] { db.Pm().GetPage(0, -1, false, 255); }), 10471);
    EXPECT_EQ(CodeOf([&] { db.Pm().GetPage(0, 4, false, ptTableRecord); }), 20153);
    EXPECT_EQ(CodeOf([&] { db.Pm().GetPage(0, 40, false, ptTableRecord); }), 20299);
    EXPECT_EQ(CodeOf([&] { db.Pm().ReadPageRegion(nullptr, 2, 4000, 100); }), 10476);
    EXPECT_EQ(CodeOf([&] { db.Pm().WritePageRegion(nullptr, 2, 4096, 1); }), 10477);
    EXPECT_NO_THROW(db.Data.Commit(0, false)); // nothing was left pinned
}

TEST_F(DiskDatabase, RemovedPageIsMarkedOnDiskFreedAndFailsWhenReadAgain) {
    Create(Path, Options("pw"));
    TOpenDb db(Path, Options("pw"));
    TCRVPageNo no;
    {
        auto page = db.Pm().AddPage(0, ptTableRecord);
        no = page->PageNo();
    }
    db.Data.Commit(0, false);
    db.Pm().RemovePage(0, no);
    db.Data.Commit(0, false);
    const auto bytes = ReadBytes(Path);
    EXPECT_EQ(At<std::int32_t>(bytes, PageAt(no) + 4), 0x7FFFFFFF);
    EXPECT_EQ(bytes[PageAt(0) + 40] & (1 << no), 0);
    EXPECT_EQ(CodeOf([&] { db.Pm().GetPage(0, no, false, ptTableRecord); }), 20299);
    EXPECT_EQ(db.Pm().AddPage(0, ptTableRecord)->PageNo(), no); // reused
    db.Data.Rollback(0);
}

TEST_F(DiskDatabase, DamagedEncipheredPageFailsItsCrcAndLeavesNothingPinned) {
    Create(Path, Options("pw"));
    auto bytes = ReadBytes(Path);
    bytes[PageAt(4) + 2000] ^= 0x01;
    WriteBytes(Path, bytes);
    bytes[PageAt(4) + 2000] ^= 0x01;
    // The table list is read when the database opens: the open fails and closes everything.
    EXPECT_EQ(CodeOf([&] { TOpenDb db(Path, Options("pw")); }), 30446);
    WriteBytes(Path, bytes);
    TOpenDb db(Path, Options("pw"));
    bytes[PageAt(3) + 2000] ^= 0x01; // the plain slots page: no CRC is kept for it
    auto copy = bytes;
    copy[PageAt(2) + 3000] ^= 0x01;
    WriteBytes(Path, copy);
    db.Pm().ClearCache();
    EXPECT_EQ(CodeOf([&] { db.Pm().GetPage(0, 2, false, ptFileSystemDirectory); }), 30446);
    db.Pm().SetIgnoreCRCErrors(true);
    EXPECT_NO_THROW(db.Pm().GetPage(0, 2, false, ptFileSystemDirectory));
    db.Pm().SetIgnoreCRCErrors(false);
    EXPECT_NO_THROW(db.Data.Commit(0, false));
}

TEST_F(DiskDatabase, StateWrapsToZeroAfterTheLastLiveValue) {
    Create(Path, Options());
    TOpenDb db(Path, Options());
    {
        auto page = db.Pm().GetPage(0, 4, false, ptTableList);
        page->GetPageHeader()->State = 0x7FFFFFFC;
        page->SetIsDirty(true);
    }
    db.Data.Commit(0, false);
    EXPECT_EQ(At<std::int32_t>(ReadBytes(Path), PageAt(4) + 4), 0);
}

TEST_F(DiskDatabase, FlushedCommitAndObjectIdsPersist) {
    Create(Path, Options());
    {
        TOpenDb db(Path, Options());
        EXPECT_EQ(db.Data.GetNewObjectId(), 1);
        db.Data.Commit(0, true);
    }
    TOpenDb db(Path, Options());
    EXPECT_EQ(db.Data.GetNewObjectId(), 2);
    EXPECT_EQ(At<std::int32_t>(ReadBytes(Path), 376), 2);
}

TEST_F(DiskDatabase, ReadOnlyDatabaseHandsOutIdsItDoesNotStore) {
    Create(Path, Options());
    auto options = Options();
    options.ReadOnly = true;
    TOpenDb db(Path, options);
    EXPECT_TRUE(db.Data.ReadOnly());
    for (int i = 0; i < 5; ++i) {
        const std::int32_t id = db.Data.GetNewObjectId();
        EXPECT_GE(id, 1);
        EXPECT_LT(id, 1 + 10000);
    }
    EXPECT_EQ(At<std::int32_t>(ReadBytes(Path), 376), 0);
}

TEST_F(DiskDatabase, SessionsOfOneProcessShareOneDatabaseObject) {
    Create(Path, Options());
    auto a = CRVAcquireDiskDatabaseData(Path, Options());
    auto b = CRVAcquireDiskDatabaseData(Dir.File("./test.crv"), Options());
    EXPECT_EQ(a.get(), b.get());
    TCRVDiskSession s1, s2;
    bool repair = false;
    a->ConnectSession(s1, repair);
    b->ConnectSession(s2, repair);
    EXPECT_EQ(s1.SessionID, 0);
    EXPECT_EQ(s2.SessionID, 0);
    EXPECT_TRUE(a->SingleUserConnected());
    TCRVDiskSession multi;
    multi.MultiUser = true;
    EXPECT_EQ(CodeOf([&] { a->ConnectSession(multi, repair); }), 20235);
    a->DisconnectSession(s1);
    EXPECT_TRUE(a->IsOpened());
    b->DisconnectSession(s2);
    EXPECT_FALSE(a->IsOpened());
}

// A second database object on the same file (as a second process would have) finds every slot
// taken by the first and works read-only; once the first leaves, a new one gets the slots.
TEST_F(DiskDatabase, SecondDatabaseObjectOfOneFileIsReadOnly) {
    Create(Path, Options());
    auto first = std::make_unique<TOpenDb>(Path, Options());
    EXPECT_TRUE(first->Data.SingleUserConnected());
    {
        TOpenDb second(Path, Options());
        EXPECT_FALSE(second.Data.SingleUserConnected());
        EXPECT_TRUE(second.Data.ReadOnly());
    }
    first.reset();
    TOpenDb third(Path, Options());
    EXPECT_TRUE(third.Data.SingleUserConnected());
    EXPECT_FALSE(third.Data.ReadOnly());
}

TEST_F(DiskDatabase, SecondProcessOpeningSingleUserGetsAReadOnlyDatabase) {
    Create(Path, Options());
    int toChild[2], fromChild[2];
    ASSERT_EQ(::pipe(toChild), 0);
    ASSERT_EQ(::pipe(fromChild), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // The child: waits for the parent to hold the database, then opens it itself.
        char go = 0;
        int code = 10;
        if (::read(toChild[0], &go, 1) == 1) {
            try {
                TOpenDb db(Path, Options());
                code = db.Data.ReadOnly() ? (db.Data.SingleUserConnected() ? 11 : 0) : 12;
                const std::int32_t id = db.Data.GetNewObjectId(); // not stored
                if (id < 1 || id > 10000)
                    code = 13;
            } catch (...) {
                code = 14;
            }
        }
        const char done = static_cast<char>(code);
        (void)!::write(fromChild[1], &done, 1);
        ::_exit(code);
    }
    {
        TOpenDb db(Path, Options());
        ASSERT_TRUE(db.Data.SingleUserConnected());
        ASSERT_EQ(::write(toChild[1], "g", 1), 1);
        char result = 99;
        ASSERT_EQ(::read(fromChild[0], &result, 1), 1);
        EXPECT_EQ(result, 0) << "child code " << int(result);
        EXPECT_EQ(db.Data.GetNewObjectId(), 1); // the child stored nothing
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]})
        ::close(fd);
}

TEST_F(DiskDatabase, TableListChangesBecomeDurableAtCommit) {
    Create(Path, Options("pw"));
    {
        TOpenDb db(Path, Options("pw"));
        db.Data.AddTable(KCRVSystemSessionID, 7, "Files", 10, 11, 12);
        db.Data.AddTable(KCRVSystemSessionID, 8, "RegKeys", 20, 21, 22);
        EXPECT_EQ(CodeOf([&] { db.Data.AddTable(KCRVSystemSessionID, 9, "FILES", 1, 2, 3); }), 30395);
        db.Data.Commit(KCRVSystemSessionID, false);
        db.Data.RenameTable(KCRVSystemSessionID, "regkeys", "Keys");
        db.Data.AddTable(KCRVSystemSessionID, 10, "Pending", 1, 2, 3);
        db.Data.Commit(KCRVSystemSessionID, false);
        db.Data.RemoveTable(KCRVSystemSessionID, "pending");
        db.Data.Rollback(KCRVSystemSessionID); // the file keeps the committed list
        // ... and so does the open database: a cancelled change leaves no trace in its list.
        EXPECT_TRUE(db.Data.TableExists("pending"));
        db.Data.AddTable(KCRVSystemSessionID, 11, "Phantom", 1, 2, 3);
        db.Data.Rollback(KCRVSystemSessionID);
        EXPECT_FALSE(db.Data.TableExists("Phantom"));
    }
    TOpenDb db(Path, Options("pw"));
    EXPECT_EQ(db.Data.GetTablesList(), (std::vector<std::string>{"Files", "Keys", "Pending"}));
    const auto files = db.Data.OpenTable("fIlEs");
    EXPECT_EQ(files.TableID, 7);
    EXPECT_EQ(files.MetaDataFilePageNo, 10);
    EXPECT_EQ(files.MostUpdatedFilePageNo, 11);
    EXPECT_EQ(files.LocksFilePageNo, 12);
    EXPECT_TRUE(db.Data.TableExists("KEYS"));
    EXPECT_FALSE(db.Data.TableExists("RegKeys"));
}

} // namespace

namespace {

// A failed read is retried once when the handle turned out unusable and could be reopened;
// a failure on a handle that still works is the operation's own and is not retried.
TEST_F(DiskDatabase, FailedReadIsRetriedAfterReopeningAnUnusableHandle) {
    Create(Path, Options());
    auto plan = std::make_shared<TCRVFaultPlan>();
    auto options = FaultyOptions(plan);
    TOpenDb db(Path, options);
    db.Pm().ClearCache();
    plan->Reads = plan->GetSizes = 0;
    plan->FailReadAt = 1;
    EXPECT_EQ(CodeOf([&] { db.Pm().GetPage(0, 4, false, ptTableList); }), 20299);
    plan->Reads = plan->GetSizes = 0;
    plan->FailGetSizeAt = 1;
    EXPECT_NO_THROW(db.Pm().GetPage(0, 4, false, ptTableList));
    EXPECT_EQ(plan->Reads, 2);
}

} // namespace

namespace {

TEST_F(DiskDatabase, MultiUserSessionsTakeOneSlotEachAndShutOutSingleUser) {
    Create(Path, Options());
    auto data = CRVAcquireDiskDatabaseData(Path, Options());
    TCRVDiskSession s[3];
    bool repair = false;
    for (auto& session : s)
        session.MultiUser = true;
    data->ConnectSession(s[0], repair);
    data->ConnectSession(s[1], repair);
    EXPECT_EQ(s[0].SessionID, 0);
    EXPECT_EQ(s[1].SessionID, 1);
    EXPECT_EQ(CodeOf([&] { data->ConnectSession(s[2], repair); }), 20094);
    {
        TOpenDb single(Path, Options()); // another database object, as another process would be
        EXPECT_TRUE(single.Data.ReadOnly());
    }
    data->DisconnectSession(s[0]);
    data->ConnectSession(s[2], repair); // the freed slot
    EXPECT_EQ(s[2].SessionID, 0);
    data->DisconnectSession(s[1]);
    data->DisconnectSession(s[2]);
    EXPECT_FALSE(data->IsOpened());
    EXPECT_TRUE(data->FreeIfNoSessionsConnected());
}

// A lock refused for a reason that is no conflict (a broken handle or device) marks the file
// and counts as taken, so the operation goes on.
TEST_F(DiskDatabase, LockRefusedByADeviceErrorMarksTheFileAndSucceeds) {
    Create(Path, Options());
    auto plan = std::make_shared<TCRVFaultPlan>();
    auto options = FaultyOptions(plan);
    TOpenDb db(Path, options);
    plan->Locks = 0;
    plan->FailLockAt = 1;
    EXPECT_EQ(db.Data.GetNewObjectId(), 1);
    EXPECT_TRUE(db.Pm().DatabaseFile().WasCriticalError());
    plan->Errno = EAGAIN; // a real conflict is a refusal, on every attempt
    plan->Sticky = true;
    plan->Locks = 0;
    EXPECT_EQ(CodeOf([&] { db.Data.GetNewObjectId(); }), 30401);
}

} // namespace

namespace {

TEST_F(DiskDatabase, FileWithoutWritePermissionOpensReadOnly) {
    Create(Path, Options());
    std::filesystem::permissions(Path,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
    const auto before = ReadBytes(Path);
    {
        TOpenDb db(Path, Options());
        EXPECT_TRUE(db.Data.ReadOnly());
        EXPECT_TRUE(db.Pm().ReadOnly());
        EXPECT_GE(db.Data.GetNewObjectId(), 1);
        EXPECT_EQ(db.Data.GetTablesList().size(), 0u);
    }
    EXPECT_EQ(ReadBytes(Path), before);
    std::filesystem::permissions(Path, std::filesystem::perms::owner_all);
}

} // namespace

namespace {

// Threads of one process share the database object; its lock serialises their page work.
TEST_F(DiskDatabase, ThreadsWorkingUnderTheDatabaseLockKeepTheFileSound) {
    Create(Path, Options("pw"));
    auto data = CRVAcquireDiskDatabaseData(Path, Options("pw"));
    TCRVDiskSession main;
    bool repair = false;
    data->ConnectSession(main, repair);
    std::vector<std::thread> threads;
    std::vector<TCRVPageNo> pages[2];
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([&, t] {
            TCRVDiskSession session;
            bool r = false;
            data->ConnectSession(session, r);
            for (int i = 0; i < 40; ++i) {
                data->Lock();
                {
                    auto page = data->PageManager().AddPage(session.SessionID, ptTableRecord);
                    page->GetPageData()[0] = static_cast<std::uint8_t>(t);
                    pages[t].push_back(page->PageNo());
                }
                data->Commit(session.SessionID, false);
                data->Unlock();
            }
            data->DisconnectSession(session);
        });
    for (auto& th : threads)
        th.join();
    std::set<TCRVPageNo> all(pages[0].begin(), pages[0].end());
    all.insert(pages[1].begin(), pages[1].end());
    EXPECT_EQ(all.size(), 80u);
    for (int t = 0; t < 2; ++t)
        for (TCRVPageNo no : pages[t])
            EXPECT_EQ(data->PageManager().GetPage(0, no, false, ptTableRecord)->GetPageData()[0], t);
    data->DisconnectSession(main);
}

} // namespace
