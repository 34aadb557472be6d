#include "CRVDiskEngine/CRVInternalFile.h"

#include "CRVCompression/CRVCompression.h"
#include "CRVExcept/CRVExcept.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace {

TCRVInternalFileHeader HeaderOf(const TCRVPage& page) {
    TCRVInternalFileHeader h;
    std::memcpy(&h, page.GetPageData(), sizeof h);
    return h;
}

void PutHeader(TCRVPage& page, const TCRVInternalFileHeader& h) {
    std::memcpy(page.GetPageData(), &h, sizeof h);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Transacted files

TCRVInternalDBTransactedAccessFile::TCRVInternalDBTransactedAccessFile(TCRVDiskPageManager& pageManager,
                                                                       std::uint16_t pageTypeID)
    : LPageManager(pageManager), FPageTypeID(pageTypeID) {}

void TCRVInternalDBTransactedAccessFile::CheckOpened(const char* operation) const {
    if (FStartPageNo == KCRVNoPage)
        CRVRaise(30389, operation);
}

void TCRVInternalDBTransactedAccessFile::CreateFile(TCRVSessionID sessionID) {
    if (FStartPageNo != KCRVNoPage)
        CRVRaise(30383, FStartPageNo);
    TCRVPinnedPage page = LPageManager.AddPage(sessionID, FPageTypeID);
    PutHeader(*page, TCRVInternalFileHeader{KCRVInternalFileHeaderSize, 0, 0, 0});
    page->SetIsDirty(true);
    FStartPageNo = page->PageNo();
}

TCRVPinnedPage TCRVInternalDBTransactedAccessFile::FirstPage(TCRVSessionID sessionID,
                                                             bool synchronizeAllowed) {
    return LPageManager.GetPage(sessionID, FStartPageNo, synchronizeAllowed, FPageTypeID);
}

std::vector<TCRVPageNo> TCRVInternalDBTransactedAccessFile::ChainPages(TCRVSessionID sessionID) {
    CheckOpened("ChainPages");
    std::vector<TCRVPageNo> pages;
    std::set<TCRVPageNo> seen;
    TCRVPageNo no = FStartPageNo;
    while (no != KCRVNoPage) {
        if (!seen.insert(no).second) // a chain that loops is as broken as one that ends early
            CRVRaise(20300, static_cast<std::int64_t>(pages.size()));
        pages.push_back(no);
        no = LPageManager.GetPage(sessionID, no, true, FPageTypeID)->GetPageHeader()->NextPageNo;
    }
    return pages;
}

TCRVPinnedPage TCRVInternalDBTransactedAccessFile::GoToPage(TCRVSessionID sessionID, std::int32_t index) {
    TCRVPinnedPage page = FirstPage(sessionID, true);
    for (std::int32_t i = 0; i < index; ++i) {
        const TCRVPageNo next = page->GetPageHeader()->NextPageNo;
        if (next == KCRVNoPage)
            CRVRaise(20300, index);
        page = LPageManager.GetPage(sessionID, next, true, FPageTypeID);
    }
    return page;
}

void TCRVInternalDBTransactedAccessFile::GetFileSize(TCRVSessionID sessionID, std::int32_t& size,
                                                     std::int32_t& decompressedSize,
                                                     std::uint8_t& compressionAlgorithm, bool& fileWasChanged,
                                                     bool synchronizeAllowed) {
    CheckOpened("GetFileSize");
    TCRVPinnedPage page = FirstPage(sessionID, synchronizeAllowed);
    const TCRVInternalFileHeader h = HeaderOf(*page);
    size = h.FileSize;
    decompressedSize = h.DecompressedSize;
    compressionAlgorithm = h.CompressionAlgorithm;
    fileWasChanged = page->Reloaded();
}

std::int32_t TCRVInternalDBTransactedAccessFile::GetSize(TCRVSessionID sessionID) {
    std::int32_t size = 0, decompressed = 0;
    std::uint8_t alg = 0;
    bool changed = false;
    GetFileSize(sessionID, size, decompressed, alg, changed, true);
    return decompressed;
}

void TCRVInternalDBTransactedAccessFile::SetFileSize(TCRVSessionID sessionID, std::int32_t storedSize) {
    const std::int32_t needed = CRVInternalFilePageCount(storedSize, LPageManager.PageDataSize());
    const std::vector<TCRVPageNo> chain = ChainPages(sessionID);
    if (static_cast<std::int32_t>(chain.size()) >= needed)
        return; // a shorter stream keeps the longer chain
    TCRVPinnedPage last = LPageManager.GetPage(sessionID, chain.back(), true, FPageTypeID);
    for (std::int32_t i = static_cast<std::int32_t>(chain.size()); i < needed; ++i) {
        TCRVPinnedPage added = LPageManager.AddPage(sessionID, FPageTypeID);
        last->GetPageHeader()->NextPageNo = added->PageNo();
        last->SetIsDirty(true);
        last = std::move(added);
    }
}

void TCRVInternalDBTransactedAccessFile::WriteFile(TCRVSessionID sessionID, const void* buffer,
                                                   std::int32_t count, std::uint8_t algorithm,
                                                   std::uint8_t compressionMode) {
    CheckOpened("WriteFile");
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    std::vector<std::uint8_t> compressed;
    if (count == 0)
        algorithm = 0; // nothing to compress
    if (algorithm != 0) {
        std::int64_t size = 0;
        if (!CRVInternalCompressBuffer(algorithm, compressionMode, in, size, compressed, count))
            CRVRaise(20187);
        compressed.resize(static_cast<std::size_t>(size));
        in = compressed.data();
    }
    const std::int32_t stored = algorithm != 0 ? static_cast<std::int32_t>(compressed.size()) : count;
    SetFileSize(sessionID, stored);

    const std::size_t d = LPageManager.PageDataSize();
    std::int32_t done = 0;
    TCRVPinnedPage page = FirstPage(sessionID, true);
    PutHeader(*page, TCRVInternalFileHeader{KCRVInternalFileHeaderSize, stored, count, algorithm});
    std::size_t offset = KCRVInternalFileHeaderSize;
    for (;;) {
        const std::size_t chunk = std::min<std::size_t>(d - offset, static_cast<std::size_t>(stored - done));
        if (chunk > 0)
            std::memcpy(page->GetPageData() + offset, in + done, chunk);
        page->SetIsDirty(true);
        done += static_cast<std::int32_t>(chunk);
        if (done >= stored)
            break;
        const TCRVPageNo next = page->GetPageHeader()->NextPageNo;
        if (next == KCRVNoPage)
            CRVRaise(20300, static_cast<std::int64_t>(done / static_cast<std::int32_t>(d)));
        page = LPageManager.GetPage(sessionID, next, true, FPageTypeID);
        offset = 0;
    }
}

void TCRVInternalDBTransactedAccessFile::ReadFile(TCRVSessionID sessionID, void* buffer, std::int32_t count,
                                                  bool synchronizeAllowed) {
    CheckOpened("ReadFile");
    TCRVPinnedPage page = FirstPage(sessionID, synchronizeAllowed);
    const TCRVInternalFileHeader h = HeaderOf(*page);
    if (h.DecompressedSize < count || count < 0)
        CRVRaise(30387, +h.DecompressedSize, count);
    const std::int32_t stored = std::max<std::int32_t>(+h.FileSize, 0);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(stored));
    const std::size_t d = LPageManager.PageDataSize();
    std::size_t offset = KCRVInternalFileHeaderSize;
    std::int32_t done = 0;
    std::set<TCRVPageNo> seen{FStartPageNo};
    for (;;) {
        const std::size_t chunk = std::min<std::size_t>(d - offset, static_cast<std::size_t>(stored - done));
        if (chunk > 0)
            std::memcpy(bytes.data() + done, page->GetPageData() + offset, chunk);
        done += static_cast<std::int32_t>(chunk);
        const TCRVPageNo next = page->GetPageHeader()->NextPageNo;
        if (done >= stored || next == KCRVNoPage || !seen.insert(next).second)
            break;
        page = LPageManager.GetPage(sessionID, next, synchronizeAllowed, FPageTypeID);
        offset = 0;
    }
    page.Release();
    if (done < stored)
        CRVRaise(30388, count, stored, done, count);
    if (h.CompressionAlgorithm != 0) {
        std::vector<std::uint8_t> plain;
        std::int64_t size = h.DecompressedSize;
        if (!CRVInternalDecompressBuffer(h.CompressionAlgorithm, bytes.data(),
                                         static_cast<std::int64_t>(bytes.size()), size, plain) ||
            size != h.DecompressedSize)
            CRVRaise(20189);
        plain.resize(static_cast<std::size_t>(size));
        bytes = std::move(plain);
    }
    if (static_cast<std::int32_t>(bytes.size()) < count)
        CRVRaise(30387, static_cast<std::int64_t>(bytes.size()), count);
    if (count > 0)
        std::memcpy(buffer, bytes.data(), static_cast<std::size_t>(count));
}

std::vector<std::uint8_t> TCRVInternalDBTransactedAccessFile::ReadAll(TCRVSessionID sessionID) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::max(GetSize(sessionID), 0)));
    ReadFile(sessionID, bytes.data(), static_cast<std::int32_t>(bytes.size()), true);
    return bytes;
}

void TCRVInternalDBTransactedAccessFile::DeleteFile(TCRVSessionID sessionID, TCRVPageNo startPageNo) {
    const bool current = startPageNo == KCRVNoPage || startPageNo == FStartPageNo;
    const TCRVPageNo keep = FStartPageNo;
    if (!current)
        FStartPageNo = startPageNo;
    CheckOpened("DeleteFile");
    std::vector<TCRVPageNo> chain;
    try {
        chain = ChainPages(sessionID);
    } catch (...) {
        FStartPageNo = keep;
        throw;
    }
    for (TCRVPageNo no : chain)
        LPageManager.RemovePage(sessionID, no);
    FStartPageNo = current ? KCRVNoPage : keep;
}

void TCRVInternalDBTransactedAccessFile::InitFileHeader(TCRVSessionID sessionID) {
    if (FStartPageNo == KCRVNoPage)
        CRVRaise(20301);
    const bool ignored = LPageManager.IgnoreCRCErrors();
    LPageManager.SetIgnoreCRCErrors(true);
    try {
        TCRVPinnedPage page = LPageManager.GetPage(sessionID, FStartPageNo, true, KCRVAnyPageType);
        const std::int32_t state = page->GetPageHeader()->State;
        page->InitHeader();
        page->GetPageHeader()->PageType = FPageTypeID;
        page->GetPageHeader()->State = state == KCRVPageStateRemoved ? 0 : state;
        PutHeader(*page, TCRVInternalFileHeader{KCRVInternalFileHeaderSize, 0, 0, 0});
        page->SetIsDirty(true);
    } catch (...) {
        LPageManager.SetIgnoreCRCErrors(ignored);
        throw;
    }
    LPageManager.SetIgnoreCRCErrors(ignored);
}

// ---------------------------------------------------------------------------------------------
// Direct-access files

TCRVInternalDBDirectAccessFile::TCRVInternalDBDirectAccessFile(TCRVDiskPageManager& pageManager,
                                                               std::uint16_t pageTypeID)
    : LPageManager(pageManager), FPageTypeID(pageTypeID) {}

void TCRVInternalDBDirectAccessFile::CheckOpened(const char* operation) const {
    if (FStartPageNo == KCRVNoPage)
        CRVRaise(20156, operation);
}

void TCRVInternalDBDirectAccessFile::CheckPosition(std::int32_t position) const {
    if (position < 0 || position >= FFileSize)
        CRVRaise(20159, FFileSize, position);
}

TCRVPageNo TCRVInternalDBDirectAccessFile::CreateFile(TCRVSessionID sessionID, std::int32_t fileSize) {
    if (FStartPageNo != KCRVNoPage)
        CRVRaise(20157, FStartPageNo);
    const std::int32_t d = LPageManager.PageDataSize();
    const std::int32_t count = CRVInternalFilePageCount(fileSize, d);
    std::vector<TCRVPageNo> pages;
    TCRVPinnedPage previous;
    for (std::int32_t i = 0; i < count; ++i) {
        TCRVPinnedPage page = LPageManager.AddPage(sessionID, FPageTypeID);
        page->SetEncryptionEnabled(false);
        if (i == 0)
            PutHeader(*page, TCRVInternalFileHeader{KCRVInternalFileHeaderSize, fileSize, 0, 0});
        if (previous) {
            previous->GetPageHeader()->NextPageNo = page->PageNo();
            previous->SetIsDirty(true);
        }
        pages.push_back(page->PageNo());
        previous = std::move(page);
    }
    FFilePages = std::move(pages);
    FStartPageNo = FFilePages.front();
    FStoredFileSize = fileSize;
    FFileSize = count == 1 ? d - KCRVInternalFileHeaderSize : fileSize;
    return FStartPageNo;
}

void TCRVInternalDBDirectAccessFile::OpenFile(TCRVPageNo startPageNo) {
    std::int32_t stored = 0;
    LPageManager.ReadPageRegion(
        &stored, startPageNo, KCRVPageHeaderSize + offsetof(TCRVInternalFileHeader, FileSize), sizeof stored);
    stored = std::max(stored, 0);
    const std::int32_t d = LPageManager.PageDataSize();
    const std::int32_t count = CRVInternalFilePageCount(stored, d);
    std::vector<TCRVPageNo> pages;
    std::set<TCRVPageNo> seen;
    TCRVPageNo no = startPageNo;
    while (no != KCRVNoPage && static_cast<std::int32_t>(pages.size()) < count && seen.insert(no).second) {
        TCRVDiskPageHeader header{};
        // The first byte may be locked by another process: it is skipped.
        LPageManager.ReadPageRegion(reinterpret_cast<std::uint8_t*>(&header) + 1, no, 1, sizeof header - 1);
        if (header.PageType != FPageTypeID)
            CRVRaise(20155, static_cast<int>(header.PageType), static_cast<int>(FPageTypeID));
        pages.push_back(no);
        no = header.NextPageNo;
    }
    FFilePages = std::move(pages);
    FStartPageNo = startPageNo;
    FStoredFileSize = stored;
    FFileSize = count == 1 ? d - KCRVInternalFileHeaderSize : stored;
    // A chain shorter than its size says offers only the bytes it holds.
    const std::int64_t capacity =
        static_cast<std::int64_t>(FFilePages.size()) * d - KCRVInternalFileHeaderSize;
    FFileSize = static_cast<std::int32_t>(std::min<std::int64_t>(FFileSize, capacity));
}

void TCRVInternalDBDirectAccessFile::CloseFile() {
    FStartPageNo = KCRVNoPage;
    FFilePages.clear();
    FFileSize = 0;
    FStoredFileSize = 0;
}

void TCRVInternalDBDirectAccessFile::DeleteFile(TCRVSessionID sessionID) {
    CheckOpened("DeleteFile");
    for (TCRVPageNo no : FFilePages)
        LPageManager.RemovePage(sessionID, no);
    CloseFile();
}

std::pair<TCRVPageNo, std::size_t> TCRVInternalDBDirectAccessFile::Locate(std::int32_t position) const {
    const std::int32_t d = LPageManager.PageDataSize();
    const std::int32_t at = position + KCRVInternalFileHeaderSize;
    return {FFilePages[static_cast<std::size_t>(at / d)],
            static_cast<std::size_t>(KCRVPageHeaderSize + at % d)};
}

bool TCRVInternalDBDirectAccessFile::LockFile() {
    CheckOpened("LockFile");
    return LPageManager.LockPageByte(FStartPageNo, 0);
}

bool TCRVInternalDBDirectAccessFile::UnlockFile() {
    CheckOpened("UnlockFile");
    return LPageManager.UnlockPageByte(FStartPageNo, 0);
}

bool TCRVInternalDBDirectAccessFile::LockByte(std::int32_t position) {
    CheckOpened("LockByte");
    CheckPosition(position);
    const auto [page, offset] = Locate(position);
    return LPageManager.LockPageByte(page, offset);
}

bool TCRVInternalDBDirectAccessFile::UnlockByte(std::int32_t position) {
    CheckOpened("UnlockByte");
    CheckPosition(position);
    const auto [page, offset] = Locate(position);
    return LPageManager.UnlockPageByte(page, offset);
}

bool TCRVInternalDBDirectAccessFile::IsByteLocked(std::int32_t position) {
    CheckOpened("IsByteLocked");
    CheckPosition(position);
    const auto [page, offset] = Locate(position);
    return LPageManager.IsPageByteLocked(page, offset);
}

bool TCRVInternalDBDirectAccessFile::IsRegionLocked(std::int32_t position, std::int32_t count) {
    CheckOpened("IsRegionLocked");
    if (count <= 0)
        return false;
    CheckPosition(position);
    CheckPosition(position + count - 1);
    const std::int32_t d = LPageManager.PageDataSize();
    while (count > 0) {
        const auto [page, offset] = Locate(position);
        const std::int32_t onPage =
            std::min<std::int32_t>(count, d - (position + KCRVInternalFileHeaderSize) % d);
        if (LPageManager.IsPageRegionLocked(page, offset, static_cast<std::size_t>(onPage)))
            return true;
        position += onPage;
        count -= onPage;
    }
    return false;
}

void TCRVInternalDBDirectAccessFile::ReadBuffer(void* buffer, std::int32_t count, std::int32_t position) {
    CheckOpened("ReadBuffer");
    if (count <= 0)
        return;
    CheckPosition(position);
    CheckPosition(position + count - 1);
    auto* out = static_cast<std::uint8_t*>(buffer);
    const std::int32_t d = LPageManager.PageDataSize();
    while (count > 0) {
        const auto [page, offset] = Locate(position);
        const std::int32_t onPage =
            std::min<std::int32_t>(count, d - (position + KCRVInternalFileHeaderSize) % d);
        LPageManager.ReadPageRegion(out, page, offset, static_cast<std::size_t>(onPage));
        out += onPage;
        position += onPage;
        count -= onPage;
    }
}

void TCRVInternalDBDirectAccessFile::WriteBuffer(const void* buffer, std::int32_t count,
                                                 std::int32_t position) {
    CheckOpened("WriteBuffer");
    if (position < 0 || count < 0 || static_cast<std::int64_t>(position) + count > FFileSize)
        CRVRaise(20158, FFileSize, position, count);
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    const std::int32_t d = LPageManager.PageDataSize();
    while (count > 0) {
        const auto [page, offset] = Locate(position);
        const std::int32_t onPage =
            std::min<std::int32_t>(count, d - (position + KCRVInternalFileHeaderSize) % d);
        LPageManager.WritePageRegion(in, page, offset, static_cast<std::size_t>(onPage));
        in += onPage;
        position += onPage;
        count -= onPage;
    }
}
