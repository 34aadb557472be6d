#include "CRVDiskEngine/CRVDiskPageManager.h"

#include "CRVCipher/CRVChecksum.h"
#include "CRVDiskEngine/CRVDatabaseFreeSpaceManager.h"
#include "CRVExcept/CRVExcept.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace {

constexpr std::uint16_t KMinPageSize = 512;
constexpr std::int64_t KMaxEamSpan = 0x7FFFFFFF;

// The signature as text for a message: non-printable bytes shown as '.'.
std::string PrintableSignature(const char* bytes, std::size_t count) {
    std::string s(bytes, count);
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
            c = '.';
    return s;
}

} // namespace

bool TryUsingTimeOut(int tryCount, int delayMS, const std::function<bool()>& lock) {
    for (int i = 0; i < tryCount; ++i) {
        if (lock())
            return true;
        if (delayMS > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMS));
    }
    return false;
}

TCRVDBHeaderLock::TCRVDBHeaderLock(TCRVDiskPageManager& manager, int errorCode) : FManager(manager) {
    if (!TryUsingTimeOut(manager.LockTryCount(), manager.LockDelayMS(),
                         [&] { return manager.LockDBHeader(); }))
        CRVRaise(errorCode);
}

TCRVDiskPageManager::TCRVDiskPageManager(TCRVOSFileFactory fileFactory)
    : FDatabaseFile(fileFactory), FFileFactory(std::move(fileFactory)), FRandom(std::random_device{}()) {}

TCRVDiskPageManager::~TCRVDiskPageManager() {
    ClearCache();
    if (FDatabaseFile.IsOpened()) {
        try {
            FDatabaseFile.CloseFile();
        } catch (...) {
        }
    }
}

void TCRVDiskPageManager::SetOffsets(std::int64_t headerPos, std::uint16_t headerSize,
                                     std::uint16_t lockedByteSize) {
    FOffsetToDBHeader = headerPos;
    FOffsetToCryptoHeader = headerPos + headerSize;
    FOffsetToLockedBytes = FOffsetToCryptoHeader + sizeof(TCRVCryptoHeader);
    FOffsetToLastObjectID = FOffsetToLockedBytes + lockedByteSize;
    FOffsetToFirstPage = FOffsetToLastObjectID + 4;
}

std::int64_t TCRVDiskPageManager::PageOffset(TCRVPageNo pageNo) const {
    if (pageNo == KCRVNoPage)
        CRVRaise(10471, pageNo);
    return FOffsetToFirstPage + static_cast<std::int64_t>(pageNo) * PageSize();
}

void TCRVDiskPageManager::ValidateGeometry() const {
    const TCRVDBHeader& h = FDBHeader;
    const std::int64_t d = static_cast<std::int64_t>(h.PageSize) - KCRVPageHeaderSize;
    const bool ok = h.PageSize >= KMinPageSize && h.PageCountInExtent >= 1 &&
                    4 * d * h.PageCountInExtent <= KMaxEamSpan && h.TotalPageCount >= 0 &&
                    h.LastUsedPageNo >= KCRVNoPage &&
                    h.LastUsedPageNo < std::max<std::int32_t>(+h.TotalPageCount, 1);
    if (!ok)
        CRVRaise(20237);
}

void TCRVDiskPageManager::ReadDBHeader() {
    FDatabaseFile.ReadBuffer(&FDBHeader, sizeof FDBHeader, FOffsetToDBHeader, 10464);
}

void TCRVDiskPageManager::WriteDBHeader() {
    FDatabaseFile.WriteBuffer(&FDBHeader, sizeof FDBHeader, FOffsetToDBHeader, 10462);
}

void TCRVDiskPageManager::EncipherControlBlock() {
    for (auto& b : FCryptoHeader.ControlBlock)
        b = static_cast<std::uint8_t>(FRandom() % 255);
    FCryptoHeader.ControlBlockCRC = CRC32(0, FCryptoHeader.ControlBlock, sizeof FCryptoHeader.ControlBlock);
    CRVInternalEncryptBuffer(FCryptoHeader.CryptoAlgorithm, FCryptoHeader.ControlBlock,
                             sizeof FCryptoHeader.ControlBlock, FPassword.Password);
}

void TCRVDiskPageManager::CreateAndOpenDatabase(const std::string& fileName, const TCRVPassword& password,
                                                std::uint16_t pageSize, std::uint16_t extentPageCount) {
    if (FDatabaseFile.IsOpened())
        CRVRaise(10461, fileName);
    FDBHeader = {};
    std::memcpy(FDBHeader.Signature, KCRVDatabaseSignature, sizeof FDBHeader.Signature);
    FDBHeader.HeaderSize = sizeof(TCRVDBHeader);
    FDBHeader.SetVersionBits(KCRVVersionBits);
    FDBHeader.PageSize = pageSize;
    FDBHeader.PageCountInExtent = extentPageCount;
    FDBHeader.TotalPageCount = 0;
    FDBHeader.LastUsedPageNo = KCRVNoPage;
    FDBHeader.State = 0;
    FDBHeader.WriteChangesState = KCRVWriteChangesConsistent;
    FDBHeader.Encrypted = password.Password.empty() ? 0 : KCRVEncryptedFlag;
    ValidateGeometry();
    SetPageGeometry(pageSize);
    SetPassword(password);
    FDatabaseFile.CreateAndOpenFile(fileName);
    try {
        SetOffsets(0, sizeof(TCRVDBHeader), sizeof(TCRVLockedBytes));
        FCryptoHeader = {};
        FCryptoHeader.CryptoHeaderSize = sizeof(TCRVCryptoHeader);
        if (Encrypted()) {
            FCryptoHeader.CryptoAlgorithm = password.CryptoAlgorithm;
            EncipherControlBlock();
        }
        FLockedBytes = {};
        FLockedBytes.LockedByteSize = sizeof(TCRVLockedBytes);
        WriteDBHeader();
        FDatabaseFile.WriteBuffer(&FCryptoHeader, sizeof FCryptoHeader, FOffsetToCryptoHeader, 30438);
        FDatabaseFile.WriteBuffer(&FLockedBytes, sizeof FLockedBytes, FOffsetToLockedBytes, 30444);
        if (!TryUsingTimeOut(FLockTryCount, FLockDelayMS, [&] { return LockLastObjectID(); }))
            CRVRaise(30401);
        const std::int32_t zero = 0;
        try {
            FDatabaseFile.WriteBuffer(&zero, sizeof zero, FOffsetToLastObjectID, 30406);
        } catch (...) {
            UnlockLastObjectID();
            throw;
        }
        UnlockLastObjectID();
        FDatabaseFreeSpaceManager = std::make_unique<TCRVDatabaseFreeSpaceManager>(*this);
    } catch (...) {
        CloseDatabase();
        throw;
    }
}

bool TCRVDiskPageManager::DetectReadOnly(const std::string& fileName) {
    auto probe = FFileFactory();
    if (probe->Open(fileName, true, false) != 0)
        return true;
    std::uint8_t byte = 0;
    std::size_t done = 0;
    bool failed = probe->ReadAt(&byte, 1, 0, done) != 0 || done != 1;
    if (!failed)
        failed = probe->WriteAt(&byte, 1, 0, done) != 0 || done != 1;
    probe->Close();
    return failed;
}

void TCRVDiskPageManager::CheckPassword() const {
    if (FPassword.Password.empty())
        CRVRaise(30445);
    std::uint8_t block[sizeof FCryptoHeader.ControlBlock];
    std::memcpy(block, FCryptoHeader.ControlBlock, sizeof block);
    const bool ok =
        CRVInternalDecryptBuffer(FCryptoHeader.CryptoAlgorithm, block, sizeof block, FPassword.Password);
    if (!ok || CRC32(0, block, sizeof block) != FCryptoHeader.ControlBlockCRC)
        CRVRaise(30445);
}

void TCRVDiskPageManager::OpenDatabase(const std::string& fileName, const TCRVPassword& password,
                                       bool& readOnly, bool& repairNeeded, bool exclusive, bool& multiUser) {
    if (FDatabaseFile.IsOpened())
        CRVRaise(10462, fileName);
    SetPassword(password);
    bool readOnlyAttr = false;
    if (!readOnly && FDatabaseFile.FileExists(fileName, &readOnlyAttr)) {
        if (readOnlyAttr) {
            readOnly = true;
            multiUser = false;
        } else if (DetectReadOnly(fileName)) {
            readOnly = true;
        }
    }
    FExclusive = exclusive;
    int access = 1;
    int share = 1;
    if (readOnly) {
        access = 0;
    } else if (exclusive) {
        share = 0;
        multiUser = false;
    }
    FDatabaseFile.OpenFile(fileName, access, share);
    try {
        SetOffsets(0, sizeof(TCRVDBHeader), sizeof(TCRVLockedBytes));
        std::int64_t headerPos = 0;
        bool found = false;
        {
            // The header lock sits inside the header block, whose place is not known yet: the
            // scan and the first read are done under the lock at the default place when the
            // signature is at 0, else the lock is taken after the scan.
            found = FDatabaseFile.FindSignature(headerPos);
            SetOffsets(found ? headerPos : 0, sizeof(TCRVDBHeader), sizeof(TCRVLockedBytes));
            if (!found) {
                char first[16] = {};
                const std::int64_t size = FDatabaseFile.GetSize();
                if (size > 0)
                    FDatabaseFile.ReadBuffer(
                        first, static_cast<std::size_t>(std::min<std::int64_t>(size, 16)), 0, 10464);
                CRVRaise(10470, PrintableSignature(first, sizeof first),
                         std::string(KCRVDatabaseSignature, sizeof KCRVDatabaseSignature));
            }
            TCRVDBHeaderLock lock(*this, 20230);
            ReadDBHeader();
        }
        repairNeeded = FDBHeader.WriteChangesState != KCRVWriteChangesConsistent ||
                       FDBHeader.GetVersion() < KCRVMinConsistentVersion;
        if (std::memcmp(FDBHeader.Signature, KCRVDatabaseSignature, sizeof KCRVDatabaseSignature) != 0)
            CRVRaise(10470, PrintableSignature(FDBHeader.Signature, 16),
                     std::string(KCRVDatabaseSignature, sizeof KCRVDatabaseSignature));
        ValidateGeometry();
        SetPageGeometry(FDBHeader.PageSize);
        SetOffsets(headerPos, FDBHeader.HeaderSize, sizeof(TCRVLockedBytes));
        FDatabaseFile.ReadBuffer(&FCryptoHeader, sizeof FCryptoHeader, FOffsetToCryptoHeader, 30439);
        if (Encrypted()) {
            CheckPassword();
            FPassword.CryptoAlgorithm = static_cast<TCRVCryptoAlgorithm>(FCryptoHeader.CryptoAlgorithm);
        }
        if (FCryptoHeader.CryptoHeaderSize != sizeof(TCRVCryptoHeader))
            CRVRaise(20237);
        FDatabaseFile.ReadBuffer(&FLockedBytes, sizeof FLockedBytes, FOffsetToLockedBytes, 30442);
        if (FLockedBytes.LockedByteSize < 5)
            CRVRaise(20237);
        SetOffsets(headerPos, FDBHeader.HeaderSize, FLockedBytes.LockedByteSize);
        SetMultiUser(multiUser);
        FDatabaseFreeSpaceManager = std::make_unique<TCRVDatabaseFreeSpaceManager>(*this);
    } catch (...) {
        CloseDatabase();
        throw;
    }
}

void TCRVDiskPageManager::CloseDatabase() {
    ClearCache();
    FDatabaseFreeSpaceManager.reset();
    FLockDBHeaderCount = 0;
    if (FDatabaseFile.IsOpened()) {
        try {
            FDatabaseFile.CloseFile();
        } catch (const ECRVException&) {
            // a failure to close only marks the file closed
        }
    }
}

std::int32_t TCRVDiskPageManager::GetPageCount() {
    if (!LockDBHeader())
        CRVRaise(20236);
    try {
        ReadDBHeader();
    } catch (...) {
        UnlockDBHeader();
        throw;
    }
    UnlockDBHeader();
    return FDBHeader.TotalPageCount;
}

void TCRVDiskPageManager::TruncateDatabase() {
    TCRVDBHeaderLock lock(*this, 20231);
    const std::int32_t trailing = FDBHeader.TotalPageCount - 1 - FDBHeader.LastUsedPageNo;
    if (trailing <= 0)
        return;
    ResizeForPages(FDBHeader.TotalPageCount - trailing);
    FDBHeader.TotalPageCount -= trailing;
    WriteDBHeader();
}

std::int32_t TCRVDiskPageManager::GetNextObjectID(int tryCount, int delayMS, bool notStored) {
    if (!FDatabaseFile.IsOpened())
        CRVRaise(30399);
    if (!TryUsingTimeOut(tryCount, delayMS, [&] { return LockLastObjectID(); }))
        CRVRaise(30401);
    std::int32_t id = 0;
    try {
        FDatabaseFile.ReadBuffer(&id, sizeof id, FOffsetToLastObjectID, 30400);
        ++id;
        if (FDatabaseFile.IsWritable() && !notStored)
            FDatabaseFile.WriteBuffer(&id, sizeof id, FOffsetToLastObjectID, 30404);
        else
            id += static_cast<std::int32_t>(FRandom() % 10000); // not stored
    } catch (...) {
        UnlockLastObjectID();
        throw;
    }
    UnlockLastObjectID();
    return id;
}

std::int32_t TCRVDiskPageManager::ReadLastObjectID() {
    std::int32_t id = 0;
    FDatabaseFile.ReadBuffer(&id, sizeof id, FOffsetToLastObjectID, 30400);
    return id;
}

bool TCRVDiskPageManager::ApplyChanges(TCRVSessionID sessionID) {
    if (!SessionHasChanges(sessionID))
        return false;
    TCRVDBHeaderLock lock(*this, 20213);
    ReadDBHeader();
    FDBHeader.WriteChangesState = KCRVWriteChangesInProgress;
    WriteDBHeader();
    FWriteBackChangedFile = false;
    try {
        TCRVPageManager::ApplyChanges(sessionID);
    } catch (...) {
        if (FWriteBackChangedFile)
            FWriteBackTorn = true;
        throw;
    }
    FDBHeader.State += 1;
    FDBHeader.WriteChangesState = FWriteBackTorn ? KCRVWriteChangesInProgress : KCRVWriteChangesConsistent;
    WriteDBHeader();
    return true;
}

void TCRVDiskPageManager::ReadPageRegion(void* buffer, TCRVPageNo pageNo, std::size_t offset,
                                         std::size_t count) {
    if (offset + count > PageSize())
        CRVRaise(10476, static_cast<std::uint64_t>(offset), static_cast<int>(PageSize()));
    FDatabaseFile.ReadBuffer(buffer, count, PageOffset(pageNo) + static_cast<std::int64_t>(offset), 10474);
}

void TCRVDiskPageManager::WritePageRegion(const void* buffer, TCRVPageNo pageNo, std::size_t offset,
                                          std::size_t count) {
    if (offset + count > PageSize())
        CRVRaise(10477, static_cast<std::uint64_t>(offset), static_cast<int>(PageSize()));
    FDatabaseFile.WriteBuffer(buffer, count, PageOffset(pageNo) + static_cast<std::int64_t>(offset), 10475);
}

void TCRVDiskPageManager::ReadPageDirect(TCRVPageNo pageNo, void* buffer) {
    ReadPageRegion(buffer, pageNo, 0, PageSize());
}

void TCRVDiskPageManager::WritePageDirect(TCRVPageNo pageNo, const void* buffer) {
    WritePageRegion(buffer, pageNo, 0, PageSize());
}

void TCRVDiskPageManager::ResizeForPages(std::int32_t totalPageCount) {
    FDatabaseFile.SetSize(FOffsetToFirstPage + static_cast<std::int64_t>(totalPageCount) * PageSize());
}

void TCRVDiskPageManager::ReReadPageCountVariables(std::int32_t& totalPageCount,
                                                   std::int32_t& lastUsedPageNo) {
    ReadDBHeader();
    totalPageCount = FDBHeader.TotalPageCount;
    lastUsedPageNo = FDBHeader.LastUsedPageNo;
}

void TCRVDiskPageManager::ReWritePageCountVariables(std::int32_t totalPageCount,
                                                    std::int32_t lastUsedPageNo) {
    if (totalPageCount == FDBHeader.TotalPageCount && lastUsedPageNo == FDBHeader.LastUsedPageNo)
        return;
    FDBHeader.TotalPageCount = totalPageCount;
    FDBHeader.LastUsedPageNo = lastUsedPageNo;
    WriteDBHeader();
}

bool TCRVDiskPageManager::IsPlainPage(TCRVPageNo pageNo, std::uint16_t pageType) const {
    return FDatabaseFreeSpaceManager->IsPagePfsOrEam(pageNo) || pageType == ptActiveSessionList ||
           pageType == ptTableLocks;
}

void TCRVDiskPageManager::SetPassword(const TCRVPassword& password) {
    FPassword = password;
    FPageCiphers = {};
    FWriteBackTorn = false;
}

const TCRVCipherContext* TCRVDiskPageManager::PageCipher(std::uint8_t alg) const {
    if (alg >= KCRVCryptoAlgorithmCount)
        return nullptr;
    auto& cipher = FPageCiphers[alg];
    if (!cipher) {
        try {
            cipher = std::make_unique<TCRVCipherContext>(static_cast<TCRVCryptoAlgorithm>(alg),
                                                         FPassword.Password);
        } catch (const std::exception&) {
            return nullptr;
        }
    }
    return cipher.get();
}

bool TCRVDiskPageManager::DecipherPageData(TCRVDiskPageHeader& header, std::uint8_t* data) const {
    // A failed decipher shows as a checksum that does not match.
    if (const TCRVCipherContext* cipher = PageCipher(header.Cipherype))
        cipher->Decrypt(data, PageDataSize());
    else if (header.Cipherype < KCRVCryptoAlgorithmCount)
        return false;
    return CRC32(0, data, PageDataSize()) == header.CRC32;
}

bool TCRVDiskPageManager::InternalReadPage(TCRVPage& page) {
    if (!FDatabaseFile.TryReadBuffer(page.Buffer(), PageSize(), PageOffset(page.PageNo()))) {
        page.GetPageHeader()->State = KCRVPageStateRemoved;
        return false;
    }
    TCRVDiskPageHeader& header = *page.GetPageHeader();
    if (Encrypted() && !IsPlainPage(page.PageNo(), header.PageType)) {
        if (!DecipherPageData(header, page.GetPageData()) && !IgnoreCRCErrors())
            CRVRaise(30446, page.PageNo());
    }
    page.SetReloaded(true);
    return true;
}

void TCRVDiskPageManager::PreparePageImage(TCRVPage& page, std::uint8_t* image) {
    TCRVDiskPageHeader& header = *page.GetPageHeader();
    header.State = CRVNextPageState(header.State);
    const bool encipher =
        Encrypted() && page.EncryptionEnabled() && !IsPlainPage(page.PageNo(), header.PageType);
    if (encipher) {
        header.Cipherype = FPassword.CryptoAlgorithm;
        header.CRC32 = CRC32(0, page.GetPageData(), PageDataSize());
    }
    std::memcpy(image, page.Buffer(), PageSize());
    // The image is enciphered, so the cached buffer stays plain.
    if (encipher) {
        const TCRVCipherContext* cipher = PageCipher(header.Cipherype);
        if (!cipher || !cipher->Encrypt(image + KCRVPageHeaderSize, PageDataSize()))
            CRVRaiseText(10469, "Cannot encipher page %d", page.PageNo());
    }
}

void TCRVDiskPageManager::InternalWritePage(TCRVPage& page) {
    std::size_t written = 0;
    TCRVPage* one = &page;
    InternalWritePages(std::span<TCRVPage* const>(&one, 1), written);
}

void TCRVDiskPageManager::InternalWritePages(std::span<TCRVPage* const> pages, std::size_t& written) {
    // Pages with consecutive numbers go to the file in one write, up to KMaxPagesPerWrite at a time.
    constexpr std::size_t KMaxPagesPerWrite = 32;
    const std::size_t pageSize = PageSize();
    std::size_t i = 0;
    while (i < pages.size()) {
        std::size_t run = 1;
        while (i + run < pages.size() && run < KMaxPagesPerWrite &&
               pages[i + run]->PageNo() == pages[i + run - 1]->PageNo() + 1)
            ++run;
        FWriteImage.resize(run * pageSize);
        for (std::size_t k = 0; k < run; ++k)
            PreparePageImage(*pages[i + k], FWriteImage.data() + k * pageSize);
        std::size_t reached = 0;
        try {
            FDatabaseFile.WriteBuffer(FWriteImage.data(), run * pageSize, PageOffset(pages[i]->PageNo()),
                                      10469, &reached);
        } catch (...) {
            // Bytes that reached the file before the failure changed it: the whole pages among them
            // are written, and any byte at all leaves the write-back torn.
            written += reached / pageSize;
            if (reached > 0)
                FWriteBackChangedFile = true;
            throw;
        }
        FWriteBackChangedFile = true;
        written += run;
        i += run;
    }
}

TCRVPageNo TCRVDiskPageManager::InternalAddPage() {
    return FDatabaseFreeSpaceManager->GetPage();
}

void TCRVDiskPageManager::InternalRemovePage(TCRVPageNo pageNo) {
    const std::int32_t removed = KCRVPageStateRemoved;
    FDatabaseFile.WriteBuffer(&removed, sizeof removed,
                              PageOffset(pageNo) + offsetof(TCRVDiskPageHeader, State), 20198);
    FWriteBackChangedFile = true;
    FDatabaseFreeSpaceManager->FreePage(pageNo);
}

void TCRVDiskPageManager::CheckPageNo(TCRVPageNo pageNo) {
    if (pageNo == KCRVNoPage)
        CRVRaise(10471, pageNo);
    FDatabaseFreeSpaceManager->CheckPageNoForSystemPages(pageNo);
}

bool TCRVDiskPageManager::LockDBHeader() {
    if (FLockDBHeaderCount > 0) {
        ++FLockDBHeaderCount;
        return true;
    }
    if (!FDatabaseFile.LockByte(FOffsetToLockedBytes + offsetof(TCRVLockedBytes, DBHeaderByte)))
        return false;
    FLockDBHeaderCount = 1;
    return true;
}

void TCRVDiskPageManager::UnlockDBHeader() {
    if (FLockDBHeaderCount == 0)
        return;
    if (--FLockDBHeaderCount == 0 && FDatabaseFile.IsOpened())
        FDatabaseFile.UnlockByte(FOffsetToLockedBytes + offsetof(TCRVLockedBytes, DBHeaderByte));
}

void TCRVDiskPageManager::LockTables() {
    const std::int64_t byte = FOffsetToLockedBytes + offsetof(TCRVLockedBytes, TablesByte);
    if (!TryUsingTimeOut(FLockTryCount, FLockDelayMS, [&] { return FDatabaseFile.LockByte(byte); }))
        CRVRaise(20210);
}

void TCRVDiskPageManager::UnlockTables() {
    if (!FDatabaseFile.UnlockByte(FOffsetToLockedBytes + offsetof(TCRVLockedBytes, TablesByte)))
        CRVRaise(20211);
}

bool TCRVDiskPageManager::LockLastObjectID() {
    return FDatabaseFile.LockByte(FOffsetToLastObjectID);
}

void TCRVDiskPageManager::UnlockLastObjectID() {
    FDatabaseFile.UnlockByte(FOffsetToLastObjectID);
}

bool TCRVDiskPageManager::LockPageByte(TCRVPageNo pageNo, std::size_t offset) {
    return FDatabaseFile.LockByte(PageOffset(pageNo) + static_cast<std::int64_t>(offset));
}

bool TCRVDiskPageManager::UnlockPageByte(TCRVPageNo pageNo, std::size_t offset) {
    return FDatabaseFile.UnlockByte(PageOffset(pageNo) + static_cast<std::int64_t>(offset));
}

bool TCRVDiskPageManager::IsPageByteLocked(TCRVPageNo pageNo, std::size_t offset) {
    return FDatabaseFile.IsByteLocked(PageOffset(pageNo) + static_cast<std::int64_t>(offset));
}

bool TCRVDiskPageManager::IsPageRegionLocked(TCRVPageNo pageNo, std::size_t offset, std::size_t count) {
    return FDatabaseFile.IsRegionLocked(PageOffset(pageNo) + static_cast<std::int64_t>(offset),
                                        static_cast<std::int64_t>(count));
}
