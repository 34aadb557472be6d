#include "CRVBaseEngine/CRVDiskRecordManager.h"

#include "CRVBase/CRVMetadataStream.h"
#include "CRVBaseEngine/CRVRecordPage.h"
#include "CRVExcept/CRVExcept.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr TCRVStreamItem KRecordPageIndexRootItem{20168, 20169};
constexpr std::int32_t KStateMaxValid = 0x7FFFFFFD;

} // namespace

TCRVDiskRecordManager::TCRVDiskRecordManager(TCRVPageManager& pageManager, std::int32_t tableID,
                                             const TCRVFieldDefs& fieldDefs,
                                             const TCRVPageIndexFactory& indexFactory)
    : LPageManager(pageManager), LFieldDefs(fieldDefs), FTableID(tableID) {
    FRecordPageIndex = indexFactory(pageManager, [this](std::uint16_t value, std::uint16_t amount) {
        return CanAddRecord(value, amount);
    });
}

TCRVDiskRecordManager::~TCRVDiskRecordManager() = default;

void TCRVDiskRecordManager::Init(std::int32_t recordBufferSize, std::int32_t diskRecordBufferSize,
                                 std::int32_t fieldCount) {
    const std::int32_t maxRecords = CRVMaxRecordsOnPage(LPageManager.PageDataSize(), diskRecordBufferSize);
    if (maxRecords <= 0)
        CRVRaise(20174);
    FRecordBufferSize = recordBufferSize;
    FDiskRecordBufferSize = diskRecordBufferSize;
    FMaxRecordsOnPage = maxRecords;
    FTempDiskRecordBuffer.assign(static_cast<std::size_t>(diskRecordBufferSize), std::byte{0});
    FLastAutoIncValues.assign(static_cast<std::size_t>(std::max(fieldCount, 0)), 0);
    FRecordCount = 0;
    FTableState = 0;
}

bool TCRVDiskRecordManager::CanAddRecord(std::uint16_t value, std::uint16_t amount) const {
    return static_cast<std::int32_t>(value) + amount <= FMaxRecordsOnPage;
}

// ---- metadata and counters ----

void TCRVDiskRecordManager::CreateRecordPageIndex(TCRVSessionID sessionID) {
    FRecordPageIndex->CreateIndex(sessionID);
}

void TCRVDiskRecordManager::LoadMetadata(TCRVStream& stream) {
    TCRVMetadataReader reader(stream);
    FRecordPageIndex->OpenIndex(reader.I32(KRecordPageIndexRootItem));
}

void TCRVDiskRecordManager::SaveMetadata(TCRVStream& stream) const {
    TCRVMetadataWriter writer(stream);
    writer.I32(FRecordPageIndex->RootPageNo(), KRecordPageIndexRootItem);
}

bool TCRVDiskRecordManager::LoadMostUpdated(std::span<const std::uint8_t> buffer, std::size_t& offset) {
    if (offset > buffer.size() || buffer.size() - offset < 8)
        return false;
    std::int32_t state = 0;
    std::int32_t count = 0;
    std::memcpy(&state, buffer.data() + offset, 4);
    std::memcpy(&count, buffer.data() + offset + 4, 4);
    offset += 8;
    FTableState = state;
    FRecordCount = count; // sign-extended
    return true;
}

void TCRVDiskRecordManager::SaveMostUpdated(std::vector<std::uint8_t>& buffer, std::size_t& offset) const {
    if (buffer.size() < offset + 8)
        buffer.resize(offset + 8);
    const auto count = static_cast<std::int32_t>(static_cast<std::uint32_t>(FRecordCount & 0xFFFFFFFF));
    std::memcpy(buffer.data() + offset, &FTableState, 4);
    std::memcpy(buffer.data() + offset + 4, &count, 4);
    offset += 8;
}

void TCRVDiskRecordManager::ValidateRecordPageIndex(TCRVSessionID sessionID) {
    std::int64_t sum = 0;
    for (auto item = FRecordPageIndex->GetFirst(sessionID); item;
         item = FRecordPageIndex->GetNext(sessionID, item->PageNo, 20104))
        sum += item->PageRecordCount;
    if (sum != FRecordCount)
        CRVRaise(20292, sum, FRecordCount);
}

void TCRVDiskRecordManager::RebuildRecordPageIndex(TCRVSessionID sessionID, const std::string& tableName,
                                                   std::int32_t pageCount,
                                                   const std::function<bool(TCRVPageNo)>& isPageInUse) {
    if (FDiskRecordBufferSize >= LPageManager.PageDataSize())
        CRVRaise(10512, tableName);
    FRecordPageIndex->EmptyIndex(sessionID);
    FRecordCount = 0;
    for (TCRVPageNo pageNo = 1; pageNo < pageCount; ++pageNo) {
        if (!isPageInUse(pageNo))
            continue;
        std::int32_t used = 0;
        try {
            TCRVPinnedPage page = LPageManager.GetPage(sessionID, pageNo, true, KCRVAnyPageType);
            const TCRVDiskPageHeader& h = *page->GetPageHeader();
            if (h.ObjectID != FTableID || h.PageType != ptTableRecord || h.State > KStateMaxValid)
                continue;
            used = TCRVSmallRecordPage(*page, FMaxRecordsOnPage, FDiskRecordBufferSize).UsedSlotCount();
        } catch (const ECRVException&) {
            continue; // a page that cannot be read is skipped
        }
        if (used > 0) {
            FRecordPageIndex->AddPageItem(sessionID, static_cast<std::uint16_t>(used), pageNo);
            FRecordCount += used;
        }
    }
}

// ---- add, update, delete ----

TCRVPinnedPage TCRVDiskRecordManager::PageForNewRecord(TCRVSessionID sessionID) {
    TCRVPageNo pageNo = KCRVNoPage;
    if (FRecordPageIndex->FindPageForNewItem(sessionID, 1, pageNo))
        return LPageManager.GetPage(sessionID, pageNo, true, ptTableRecord);
    TCRVPinnedPage page = LPageManager.AddPage(sessionID, ptTableRecord);
    page->GetPageHeader()->ObjectID = FTableID;
    return page;
}

bool TCRVDiskRecordManager::AddRecord(TCRVSessionID sessionID, std::span<const std::byte> recordBuffer,
                                      TCRVRecordID& recordID) {
    try {
        TCRVPinnedPage page = PageForNewRecord(sessionID);
        LFieldDefs.Layout().MemoryToDisk(recordBuffer, FTempDiskRecordBuffer);
        TCRVSmallRecordPage slots(*page, FMaxRecordsOnPage, FDiskRecordBufferSize);
        const auto slot = slots.LowestFreeSlot();
        if (!slot)
            CRVRaise(20141);
        slots.SetSlotUsed(*slot, true);
        std::ranges::copy(FTempDiskRecordBuffer, slots.Slot(*slot).begin());
        page->SetIsDirty(true);
        FRecordPageIndex->AddPageItem(sessionID, 1, page->PageNo());
        recordID = {page->PageNo(), static_cast<std::uint16_t>(*slot)};
    } catch (const ECRVException&) {
        return false;
    }
    ++FRecordCount;
    ++FTableState;
    return true;
}

bool TCRVDiskRecordManager::UpdateRecord(TCRVSessionID sessionID, std::span<const std::byte> recordBuffer,
                                         const TCRVRecordID& recordID) {
    TCRVPinnedPage page = LPageManager.GetPage(sessionID, recordID.PageNo, true, ptTableRecord);
    LFieldDefs.Layout().MemoryToDisk(recordBuffer, FTempDiskRecordBuffer);
    // A page of another table is never written through this table's record id.
    if (!IsValidRecordPage(*page) || recordID.PageItemNo >= FMaxRecordsOnPage)
        return false;
    TCRVSmallRecordPage slots(*page, FMaxRecordsOnPage, FDiskRecordBufferSize);
    if (!slots.IsSlotUsed(recordID.PageItemNo))
        return false;
    std::ranges::copy(FTempDiskRecordBuffer, slots.Slot(recordID.PageItemNo).begin());
    page->SetIsDirty(true);
    ++FTableState;
    return true;
}

bool TCRVDiskRecordManager::DeleteRecord(TCRVSessionID sessionID, const TCRVRecordID& recordID) {
    TCRVPinnedPage page = LPageManager.GetPage(sessionID, recordID.PageNo, true, ptTableRecord);
    if (!IsValidRecordPage(*page) || recordID.PageItemNo >= FMaxRecordsOnPage)
        return false;
    TCRVSmallRecordPage slots(*page, FMaxRecordsOnPage, FDiskRecordBufferSize);
    if (!slots.IsSlotUsed(recordID.PageItemNo))
        return false;
    slots.SetSlotUsed(recordID.PageItemNo, false);
    page->SetIsDirty(true);
    const std::int32_t left = slots.UsedSlotCount();
    if (left == 0)
        LPageManager.RemovePage(sessionID, recordID.PageNo);
    FRecordPageIndex->DeletePageItem(sessionID, 1, left, recordID.PageNo);
    --FRecordCount;
    ++FTableState;
    return true;
}

// ---- fetching ----

bool TCRVDiskRecordManager::IsValidRecordPage(const TCRVPage& page) const {
    if (FSuppressDBHeaderErrors || FFormatVersion < 2.99)
        return true;
    const TCRVDiskPageHeader& h = *page.GetPageHeader();
    return h.State <= KStateMaxValid && h.PageType == ptTableRecord && h.ObjectID == FTableID;
}

TCRVPinnedPage TCRVDiskRecordManager::ValidPage(TCRVSessionID sessionID, TCRVPageNo pageNo) {
    TCRVPinnedPage page;
    try {
        page = LPageManager.GetPage(sessionID, pageNo, true, KCRVAnyPageType);
    } catch (const ECRVException& e) {
        if (e.NativeErrorCode() != 20299) // a page that cannot be read (a freed one) is no position
            throw;
        return {};
    }
    if (!IsValidRecordPage(*page))
        return {};
    return page;
}

void TCRVDiskRecordManager::ReadSlot(TCRVNavigationInfo& info, TCRVPage& page, std::int32_t slot,
                                     int missingCode) {
    TCRVSmallRecordPage slots(page, FMaxRecordsOnPage, FDiskRecordBufferSize);
    if (!slots.IsSlotUsed(slot))
        CRVRaise(missingCode);
    info.RecordID = {page.PageNo(), static_cast<std::uint16_t>(slot)};
    if (!info.RecordBuffer.empty()) {
        std::ranges::copy(slots.Slot(slot), FTempDiskRecordBuffer.begin());
        LFieldDefs.Layout().DiskToMemory(FTempDiskRecordBuffer, info.RecordBuffer);
    }
    info.FirstPosition = false;
    info.LastPosition = false;
    info.GetRecordResult = grrOK;
}

void TCRVDiskRecordManager::FetchFirst(TCRVSessionID sessionID, TCRVNavigationInfo& info) {
    const auto first = FRecordPageIndex->GetFirst(sessionID);
    if (!first) {
        info.GetRecordResult = grrEOF;
        return;
    }
    TCRVPinnedPage page = LPageManager.GetPage(sessionID, first->PageNo, true, ptTableRecord);
    const auto slot = TCRVSmallRecordPage(*page, FMaxRecordsOnPage, FDiskRecordBufferSize).FirstUsedSlot();
    if (!slot)
        CRVRaise(20143, first->PageNo, static_cast<int>(first->PageRecordCount));
    ReadSlot(info, *page, *slot, 20143);
}

void TCRVDiskRecordManager::FetchLast(TCRVSessionID sessionID, TCRVNavigationInfo& info) {
    const auto last = FRecordPageIndex->GetLast(sessionID);
    if (!last) {
        info.GetRecordResult = grrBOF;
        return;
    }
    TCRVPinnedPage page = LPageManager.GetPage(sessionID, last->PageNo, true, ptTableRecord);
    const auto slot = TCRVSmallRecordPage(*page, FMaxRecordsOnPage, FDiskRecordBufferSize).LastUsedSlot();
    if (!slot)
        CRVRaise(20144);
    ReadSlot(info, *page, *slot, 20144);
}

void TCRVDiskRecordManager::FetchNext(TCRVSessionID sessionID, TCRVNavigationInfo& info) {
    TCRVPinnedPage page = ValidPage(sessionID, info.RecordID.PageNo);
    if (!page) {
        info.GetRecordResult = grrEOF;
        return;
    }
    TCRVSmallRecordPage slots(*page, FMaxRecordsOnPage, FDiskRecordBufferSize);
    if (const auto slot = slots.NextUsedSlot(info.RecordID.PageItemNo)) {
        ReadSlot(info, *page, *slot, 20145);
        return;
    }
    const TCRVPageNo current = page->PageNo();
    page.Release();
    const auto next = FRecordPageIndex->GetNext(sessionID, current, 20104);
    if (!next) {
        info.GetRecordResult = grrEOF;
        return;
    }
    TCRVPinnedPage nextPage = LPageManager.GetPage(sessionID, next->PageNo, true, ptTableRecord);
    const auto slot =
        TCRVSmallRecordPage(*nextPage, FMaxRecordsOnPage, FDiskRecordBufferSize).FirstUsedSlot();
    ReadSlot(info, *nextPage, slot.value_or(0), 20146);
}

void TCRVDiskRecordManager::FetchPrior(TCRVSessionID sessionID, TCRVNavigationInfo& info) {
    TCRVPinnedPage page = ValidPage(sessionID, info.RecordID.PageNo);
    if (!page) {
        FetchLast(sessionID, info);
        return;
    }
    TCRVSmallRecordPage slots(*page, FMaxRecordsOnPage, FDiskRecordBufferSize);
    if (const auto slot = slots.PriorUsedSlot(info.RecordID.PageItemNo)) {
        ReadSlot(info, *page, *slot, 20147);
        return;
    }
    const TCRVPageNo current = page->PageNo();
    page.Release();
    const auto prior = FRecordPageIndex->GetPrior(sessionID, current, 20105);
    if (!prior) {
        info.GetRecordResult = grrBOF;
        return;
    }
    TCRVPinnedPage priorPage = LPageManager.GetPage(sessionID, prior->PageNo, true, ptTableRecord);
    const auto slot =
        TCRVSmallRecordPage(*priorPage, FMaxRecordsOnPage, FDiskRecordBufferSize).LastUsedSlot();
    ReadSlot(info, *priorPage, slot.value_or(0), 20148);
}

void TCRVDiskRecordManager::FetchCurrent(TCRVSessionID sessionID, TCRVNavigationInfo& info) {
    TCRVPinnedPage page = ValidPage(sessionID, info.RecordID.PageNo);
    if (!page || info.RecordID.PageItemNo >= FMaxRecordsOnPage ||
        !TCRVSmallRecordPage(*page, FMaxRecordsOnPage, FDiskRecordBufferSize)
             .IsSlotUsed(info.RecordID.PageItemNo)) {
        info.GetRecordResult = grrError;
        return;
    }
    ReadSlot(info, *page, info.RecordID.PageItemNo, 20146);
}

void TCRVDiskRecordManager::GetRecordBuffer(TCRVSessionID sessionID, TCRVNavigationInfo& info) {
    if (FRecordCount == 0 && !FRecordPageIndex->GetFirst(sessionID)) {
        info.GetRecordResult = grrEOF;
        return;
    }
    if (info.FirstPosition) {
        if (info.GetRecordMode == grmNext)
            FetchFirst(sessionID, info);
        else
            info.GetRecordResult = info.GetRecordMode == grmPrior ? grrBOF : grrError;
    } else if (info.LastPosition) {
        if (info.GetRecordMode == grmPrior)
            FetchLast(sessionID, info);
        else
            info.GetRecordResult = info.GetRecordMode == grmNext ? grrEOF : grrError;
    } else if (info.GetRecordMode == grmNext) {
        FetchNext(sessionID, info);
    } else if (info.GetRecordMode == grmPrior) {
        FetchPrior(sessionID, info);
    } else {
        FetchCurrent(sessionID, info);
    }
}

// ---- row numbers ----

std::int64_t TCRVDiskRecordManager::GetRecNo(TCRVSessionID sessionID, const TCRVRecordID& recordID) {
    std::int64_t before = 0;
    for (auto item = FRecordPageIndex->GetFirst(sessionID); item && item->PageNo < recordID.PageNo;
         item = FRecordPageIndex->GetNext(sessionID, item->PageNo, 20104))
        before += item->PageRecordCount;
    TCRVPinnedPage page = LPageManager.GetPage(sessionID, recordID.PageNo, true, ptTableRecord);
    const TCRVSmallRecordPage slots(*page, FMaxRecordsOnPage, FDiskRecordBufferSize);
    const std::int32_t slot = std::min<std::int32_t>(recordID.PageItemNo, FMaxRecordsOnPage);
    return before + slots.UsedSlotsBefore(slot) + 1;
}

TCRVRecordID TCRVDiskRecordManager::SetRecNo(TCRVSessionID sessionID, std::int64_t recNo) {
    if (recNo > FRecordCount)
        CRVRaise(20113);
    std::int64_t total = 0;
    const std::int64_t wanted = std::max<std::int64_t>(recNo, 1) - 1;
    for (auto item = FRecordPageIndex->GetFirst(sessionID); item;
         item = FRecordPageIndex->GetNext(sessionID, item->PageNo, 20104)) {
        if (total + item->PageRecordCount > wanted) {
            TCRVPinnedPage page = LPageManager.GetPage(sessionID, item->PageNo, true, ptTableRecord);
            const auto slot = TCRVSmallRecordPage(*page, FMaxRecordsOnPage, FDiskRecordBufferSize)
                                  .UsedSlotByRank(static_cast<std::int32_t>(wanted - total));
            if (!slot)
                CRVRaise(20146);
            return {item->PageNo, static_cast<std::uint16_t>(*slot)};
        }
        total += item->PageRecordCount;
    }
    CRVRaise(20113);
}

TCRVPageNo TCRVDiskRecordManager::LastRecordPageNo(TCRVSessionID sessionID) {
    const auto last = FRecordPageIndex->GetLast(sessionID);
    return last ? last->PageNo : KCRVNoPage;
}

// ---- emptying ----

void TCRVDiskRecordManager::RemoveAllRecordPages(TCRVSessionID sessionID) {
    for (auto item = FRecordPageIndex->GetFirst(sessionID); item;
         item = FRecordPageIndex->GetNext(sessionID, item->PageNo, 20104))
        LPageManager.RemovePage(sessionID, item->PageNo);
}

void TCRVDiskRecordManager::Empty(TCRVSessionID sessionID) {
    RemoveAllRecordPages(sessionID);
    FTableState = 0;
    FRecordPageIndex->EmptyIndex(sessionID);
    FRecordCount = 0;
}

void TCRVDiskRecordManager::Delete(TCRVSessionID sessionID) {
    RemoveAllRecordPages(sessionID);
    FTableState = 0;
    FRecordPageIndex->DropIndex(sessionID);
    FRecordCount = 0;
}
