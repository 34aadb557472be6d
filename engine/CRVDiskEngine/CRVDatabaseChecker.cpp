#include "CRVDiskEngine/CRVDatabaseChecker.h"

#include "CRVDiskEngine/CRVDatabaseFreeSpaceManager.h"
#include "CRVDiskEngine/CRVInternalFile.h"
#include "CRVDiskEngine/CRVTableListFile.h"

#include <algorithm>
#include <cstring>

namespace {

std::string TypeName(std::uint16_t type) {
    return type <= KCRVLastPageType ? PageTypeToStr(type) : "type " + std::to_string(type);
}

} // namespace

TCRVDatabaseChecker::TCRVDatabaseChecker(TCRVDiskPageManager& pageManager) : LPageManager(pageManager) {}

void TCRVDatabaseChecker::AddOwner(TCRVPageNo pageNo, const std::string& owner) {
    auto [it, inserted] = FOwners.emplace(pageNo, owner);
    if (!inserted)
        Problem("page " + std::to_string(pageNo) + " belongs to both " + it->second + " and " + owner);
}

void TCRVDatabaseChecker::CheckHeader() {
    const TCRVDBHeader& h = LPageManager.DBHeader();
    if (h.WriteChangesState != KCRVWriteChangesConsistent)
        Problem("a write-back was interrupted (WriteChangesState " + std::to_string(h.WriteChangesState) +
                "): the database needs repair");
    if (h.GetVersion() < KCRVMinConsistentVersion)
        Problem("format version " + std::to_string(h.GetVersion()) +
                " is older than 2.99: the database needs repair");
    FTotalPageCount = h.TotalPageCount;
    const std::int64_t expected = LPageManager.OffsetToFirstPage() +
                                  static_cast<std::int64_t>(FTotalPageCount) * LPageManager.PageSize();
    const std::int64_t actual = LPageManager.FileSize();
    if (actual != expected)
        Problem("file is " + std::to_string(actual) + " bytes, the header's " +
                std::to_string(FTotalPageCount) + " pages make " + std::to_string(expected));
    const std::int64_t available = (actual - LPageManager.OffsetToFirstPage()) / LPageManager.PageSize();
    FReadablePageCount = static_cast<std::int32_t>(std::clamp<std::int64_t>(available, 0, FTotalPageCount));
}

void TCRVDatabaseChecker::ReadPages() {
    TCRVDatabaseFreeSpaceManager& fsm = LPageManager.FreeSpaceManager();
    // Sized by what the file holds: a damaged header may claim any number of pages.
    FPages.assign(static_cast<std::size_t>(FReadablePageCount), TPageInfo{});
    std::vector<std::uint8_t> page(LPageManager.PageSize());
    for (TCRVPageNo p = 0; p < FReadablePageCount; ++p) {
        LPageManager.ReadPageDirect(p, page.data());
        TPageInfo& info = FPages[static_cast<std::size_t>(p)];
        info.Readable = true;
        std::memcpy(&info.Header, page.data(), sizeof info.Header);
        if (!fsm.IsPagePfsOrEam(p))
            continue;
        const bool pfs = p % fsm.PfsSpan() == 0;
        const std::uint16_t expected = pfs ? ptPFS : ptEAM;
        if (std::memcmp(info.Header.Signature, KCRVPageSignature, 4) != 0 ||
            info.Header.PageType != expected) {
            Problem("map page " + std::to_string(p) + " is not a " + PageTypeToStr(expected) + " (found " +
                    TypeName(info.Header.PageType) + ")");
            continue;
        }
        (pfs ? FPfsBits : FEamBits)[p].assign(page.begin() + KCRVPageHeaderSize, page.end());
        AddOwner(p, pfs ? "the PFS map" : "the EAM map");
    }
}

bool TCRVDatabaseChecker::Used(TCRVPageNo pageNo) const {
    const std::int32_t span = LPageManager.FreeSpaceManager().PfsSpan();
    const auto it = FPfsBits.find((pageNo / span) * span);
    if (it == FPfsBits.end())
        return false;
    const std::int32_t i = pageNo % span;
    return (it->second[static_cast<std::size_t>(i / 8)] >> (i % 8)) & 1;
}

bool TCRVDatabaseChecker::ReadPlainData(TCRVPageNo pageNo, std::vector<std::uint8_t>& page,
                                        std::uint16_t pageType) {
    page.resize(LPageManager.PageSize());
    LPageManager.ReadPageDirect(pageNo, page.data());
    auto* header = reinterpret_cast<TCRVDiskPageHeader*>(page.data());
    if (!LPageManager.Encrypted() || LPageManager.IsPlainPage(pageNo, pageType))
        return true;
    return LPageManager.DecipherPageData(*header, page.data() + KCRVPageHeaderSize);
}

std::vector<std::uint8_t> TCRVDatabaseChecker::WalkChain(TCRVPageNo start, std::uint16_t pageType,
                                                         bool transacted, const std::string& owner) {
    const std::size_t d = LPageManager.PageDataSize();
    std::vector<std::uint8_t> stream;
    std::vector<std::uint8_t> page;
    std::int32_t stored = -1;
    std::int32_t pages = 0;
    for (TCRVPageNo p = start; p != KCRVNoPage; ++pages) {
        const std::string where = owner + ", page " + std::to_string(p);
        if (p < 0 || p >= FReadablePageCount || LPageManager.FreeSpaceManager().IsPagePfsOrEam(p)) {
            Problem(where + ": no page of the file can be there");
            return {};
        }
        if (FOwners.count(p)) {
            AddOwner(p, owner); // reports the double use (or a loop)
            return {};
        }
        AddOwner(p, owner);
        const TCRVDiskPageHeader& h = FPages[static_cast<std::size_t>(p)].Header;
        if (std::memcmp(h.Signature, KCRVPageSignature, 4) != 0 || h.PageType != pageType) {
            Problem(where + ": expected a " + PageTypeToStr(pageType) + ", found " + TypeName(h.PageType));
            return {};
        }
        if (!ReadPlainData(p, page, pageType)) {
            Problem(where + ": the CRC of its data area does not match");
            return {};
        }
        const std::uint8_t* data = page.data() + KCRVPageHeaderSize;
        std::size_t offset = 0;
        if (stored < 0) {
            TCRVInternalFileHeader fh;
            std::memcpy(&fh, data, sizeof fh);
            stored = std::max<std::int32_t>(+fh.FileSize, 0);
            offset = KCRVInternalFileHeaderSize;
        }
        const std::size_t chunk = std::min(d - offset, static_cast<std::size_t>(stored) - stream.size());
        stream.insert(stream.end(), data + offset, data + offset + chunk);
        const TCRVPageNo next = reinterpret_cast<const TCRVDiskPageHeader*>(page.data())->NextPageNo;
        // A direct-access file ends at its page count; a transacted chain may be longer than its
        // stream (a shorter rewrite keeps its pages).
        if (!transacted && pages + 1 >= CRVInternalFilePageCount(stored, static_cast<std::int64_t>(d)))
            break;
        p = next;
    }
    if (static_cast<std::int32_t>(stream.size()) < stored) {
        Problem(owner + ": the chain ends after " + std::to_string(pages) + " pages, its " +
                std::to_string(stored) + " bytes need " +
                std::to_string(CRVInternalFilePageCount(stored, static_cast<std::int64_t>(d))));
        return {};
    }
    return stream;
}

void TCRVDatabaseChecker::WalkFiles() {
    if (FReadablePageCount <= CRVFirstPageNoSystemDirectory) {
        Problem("the file has no system directory page");
        return;
    }
    const auto dir =
        WalkChain(CRVFirstPageNoSystemDirectory, ptFileSystemDirectory, true, "the system directory");
    TCRVPageNo slots = KCRVNoPage;
    TCRVPageNo tables = KCRVNoPage;
    for (std::size_t i = 0; i + sizeof(TCRVSystemDirectoryListItem) <= dir.size();
         i += sizeof(TCRVSystemDirectoryListItem)) {
        TCRVSystemDirectoryListItem item;
        std::memcpy(&item, dir.data() + i, sizeof item);
        if (item.FileID == dbftActiveSessionsList)
            slots = item.FirstPageNo;
        else if (item.FileID == dbftTablesList)
            tables = item.FirstPageNo;
    }
    if (slots == KCRVNoPage || tables == KCRVNoPage) {
        Problem("the system directory does not name the session slots file and the table list");
        return;
    }
    WalkChain(slots, ptActiveSessionList, false, "the session slots file");
    const auto list = WalkChain(tables, ptTableList, true, "the table list");
    for (const TCRVTableListEntry& t : TCRVTableListFile::Parse(list)) {
        const std::string table = "table '" + t.TableName + "'";
        WalkChain(t.MetaDataFilePageNo, ptTableMetaData, true, table + " metadata file");
        WalkChain(t.MostUpdatedFilePageNo, ptTableMostUpdated, true, table + " counters file");
        WalkChain(t.LocksFilePageNo, ptTableLocks, false, table + " lock file");
    }
}

void TCRVDatabaseChecker::CheckUsage() {
    TCRVDatabaseFreeSpaceManager& fsm = LPageManager.FreeSpaceManager();
    TCRVPageNo lastUsed = KCRVNoPage;
    std::vector<std::uint8_t> page;
    for (TCRVPageNo p = 0; p < FReadablePageCount; ++p) {
        const bool used = Used(p);
        const bool owned = FOwners.count(p) != 0;
        const std::string where = "page " + std::to_string(p);
        if (fsm.IsPagePfsOrEam(p)) {
            if (!used && owned)
                Problem(where + " is a map page but its PFS bit is clear");
            continue;
        }
        if (used)
            lastUsed = p;
        if (owned && !used)
            Problem(where + " belongs to " + FOwners[p] + " but is marked free");
        if (!used || owned)
            continue;
        Problem(where + " is marked in use but nothing reachable owns it");
        const TCRVDiskPageHeader& h = FPages[static_cast<std::size_t>(p)].Header;
        if (std::memcmp(h.Signature, KCRVPageSignature, 4) != 0)
            Problem(where + " is marked in use but has no page signature");
        else if (h.PageType > KCRVLastPageType)
            Problem(where + " has an unknown page type " + std::to_string(h.PageType));
        else if (!ReadPlainData(p, page, h.PageType))
            Problem(where + ": the CRC of its data area does not match");
    }
    for (const auto& [pfs, bits] : FPfsBits)
        for (std::int64_t i = std::max<std::int64_t>(FTotalPageCount - pfs, 0); i < fsm.PfsSpan(); ++i)
            if ((bits[static_cast<std::size_t>(i / 8)] >> (i % 8)) & 1) {
                Problem("PFS page " + std::to_string(pfs) + " marks page " + std::to_string(pfs + i) +
                        " beyond the end of the file");
                break;
            }
    if (lastUsed != LPageManager.DBHeader().LastUsedPageNo)
        Problem("LastUsedPageNo is " + std::to_string(LPageManager.DBHeader().LastUsedPageNo) +
                ", the highest page in use is " + std::to_string(lastUsed));
}

void TCRVDatabaseChecker::CheckExtents() {
    TCRVDatabaseFreeSpaceManager& fsm = LPageManager.FreeSpaceManager();
    const std::int32_t e = fsm.PageCountInExtent();
    for (std::int32_t x = 0; static_cast<std::int64_t>(x) * e < FReadablePageCount; ++x) {
        const auto it = FEamBits.find(fsm.EamPageNo(x / fsm.ExtentsPerEam()));
        if (it == FEamBits.end())
            continue; // reported with the map pages
        bool full = true;
        for (TCRVPageNo p = x * e; p < x * e + e && full; ++p)
            full = p < FTotalPageCount && Used(p);
        const std::int32_t i = x % fsm.ExtentsPerEam();
        const int pair = (it->second[static_cast<std::size_t>(i / 4)] >> (2 * (i % 4))) & 3;
        if (full ? pair != 3 : pair != 0 && pair != 1)
            Problem("extent " + std::to_string(x) + " has EAM pair " + std::to_string(pair) +
                    ", its pages say " + (full ? "3 (full)" : "1 (a free page)"));
    }
}

std::vector<std::string> TCRVDatabaseChecker::Run() {
    FProblems.clear();
    CheckHeader();
    ReadPages();
    WalkFiles();
    CheckUsage();
    CheckExtents();
    return FProblems;
}
