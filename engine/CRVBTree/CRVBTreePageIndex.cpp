#include "CRVBTree/CRVBTreePageIndex.h"

#include "CRVExcept/CRVExcept.h"

#include <cstring>
#include <limits>

namespace {

std::uint16_t ReadValue(const std::uint8_t* p) {
    std::uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

} // namespace

TCRVBTreePageIndex::TCRVBTreePageIndex(TCRVPageManager& pageManager, TCRVPageNo rootPageNo)
    : FTree(pageManager, FKeyRef, rootPageNo) {}

void TCRVBTreePageIndex::CheckRoot(int code) const {
    if (FTree.RootPageNo() < 0)
        CRVRaise(code);
}

TCRVPageNo TCRVBTreePageIndex::CreateIndex(TCRVSessionID sessionID) {
    return FTree.CreateRoot(sessionID);
}

void TCRVBTreePageIndex::DropIndex(TCRVSessionID sessionID) {
    FTree.Drop(sessionID);
}

void TCRVBTreePageIndex::EmptyIndex(TCRVSessionID sessionID) {
    FTree.Empty(sessionID);
}

bool TCRVBTreePageIndex::CanAddNewItem(std::uint16_t value, std::uint32_t amount) const {
    return static_cast<std::uint64_t>(value) + amount <= std::numeric_limits<std::uint16_t>::max();
}

bool TCRVBTreePageIndex::GetFirstPosition(TCRVSessionID sessionID, TCRVKeyPath& keyPath) const {
    CheckRoot(20110);
    return FTree.GetFirstPosition(sessionID, keyPath);
}

bool TCRVBTreePageIndex::GetLastPosition(TCRVSessionID sessionID, TCRVKeyPath& keyPath) const {
    CheckRoot(20110);
    return FTree.GetLastPosition(sessionID, keyPath);
}

bool TCRVBTreePageIndex::GetNextPosition(TCRVSessionID sessionID, TCRVKeyPath& keyPath) const {
    CheckRoot(20110);
    return FTree.GetNextPosition(sessionID, keyPath);
}

bool TCRVBTreePageIndex::GetPriorPosition(TCRVSessionID sessionID, TCRVKeyPath& keyPath) const {
    CheckRoot(20110);
    return FTree.GetPriorPosition(sessionID, keyPath);
}

bool TCRVBTreePageIndex::GetPosition(TCRVSessionID sessionID, TCRVPageNo pageNo, TCRVKeyPath& keyPath) const {
    CheckRoot(20110);
    const TCRVBTreeKey key{reinterpret_cast<const std::uint8_t*>(&pageNo), nullptr, nullptr};
    return FTree.FindByCondition(sessionID, true, keyPath, scEqual, key);
}

TCRVPageNo TCRVBTreePageIndex::GetPageNo(TCRVSessionID sessionID, const TCRVKeyPath& keyPath) const {
    if (keyPath.Empty())
        CRVRaise(20103);
    const std::vector<std::uint8_t> key = FTree.EntryKeyAt(sessionID, keyPath);
    TCRVPageNo no;
    std::memcpy(&no, key.data(), sizeof no);
    return no;
}

std::uint16_t TCRVBTreePageIndex::GetPageValue(TCRVSessionID sessionID, const TCRVKeyPath& keyPath) const {
    if (keyPath.Empty())
        CRVRaise(20107);
    return ReadValue(FTree.EntryReferenceAt(sessionID, keyPath).data());
}

void TCRVBTreePageIndex::SetPageValue(TCRVSessionID sessionID, const TCRVKeyPath& keyPath,
                                      std::uint16_t value) {
    if (keyPath.Empty())
        CRVRaise(20108);
    FTree.SetEntryReferenceAt(sessionID, keyPath, reinterpret_cast<const std::uint8_t*>(&value));
}

bool TCRVBTreePageIndex::ScanLeaf(TCRVSessionID sessionID, TCRVPageNo leafPageNo, bool backwards,
                                  std::uint32_t amount, TCRVPageNo& pageNo) const {
    const TCRVBTreePage leaf = FTree.GetBTreePage(sessionID, leafPageNo);
    const int count = leaf.EntryCount();
    for (int i = 0; i < count; ++i) {
        const int e = backwards ? count - 1 - i : i;
        if (CanAddNewItem(ReadValue(leaf.EntryReference(e)), amount)) {
            std::memcpy(&pageNo, leaf.EntryKey(e), sizeof pageNo);
            return true;
        }
    }
    return false;
}

bool TCRVBTreePageIndex::FindPageForNewItem(TCRVSessionID sessionID, std::uint32_t amount,
                                            TCRVPageNo& pageNo) const {
    CheckRoot(20110);
    TCRVKeyPath path;
    if (!FTree.GetLastPosition(sessionID, path))
        return false;
    const TCRVPageNo lastLeaf = path.Leaf().PageNo;
    if (ScanLeaf(sessionID, lastLeaf, true, amount, pageNo))
        return true;
    FTree.GetFirstPosition(sessionID, path);
    const TCRVPageNo firstLeaf = path.Leaf().PageNo;
    return firstLeaf != lastLeaf && ScanLeaf(sessionID, firstLeaf, false, amount, pageNo);
}

void TCRVBTreePageIndex::AddPageItem(TCRVSessionID sessionID, std::uint32_t amount, TCRVPageNo pageNo) {
    CheckRoot(20110);
    TCRVKeyPath path;
    if (!GetPosition(sessionID, pageNo, path)) {
        if (amount == 0 || amount > std::numeric_limits<std::uint16_t>::max())
            CRVRaise(20106);
        const std::uint16_t value = static_cast<std::uint16_t>(amount);
        FTree.InsertLeafEntry(sessionID,
                              TCRVBTreeKey{reinterpret_cast<const std::uint8_t*>(&pageNo),
                                           reinterpret_cast<const std::uint8_t*>(&value), nullptr});
        return;
    }
    const std::uint16_t value = GetPageValue(sessionID, path);
    if (!CanAddNewItem(value, amount) || static_cast<std::uint64_t>(value) + amount > 0xFFFF)
        CRVRaise(20106);
    SetPageValue(sessionID, path, static_cast<std::uint16_t>(value + amount));
}

void TCRVBTreePageIndex::DeletePageItem(TCRVSessionID sessionID, std::uint32_t amount, std::int32_t newValue,
                                        TCRVPageNo pageNo) {
    CheckRoot(20118);
    TCRVKeyPath path;
    if (!GetPosition(sessionID, pageNo, path))
        CRVRaise(20111);
    const std::uint16_t value = GetPageValue(sessionID, path);
    std::uint16_t result;
    if (newValue < 0) {
        if (value == 0)
            CRVRaise(20112);
        result = amount >= value ? 0 : static_cast<std::uint16_t>(value - amount);
    } else {
        result = static_cast<std::uint16_t>(newValue);
    }
    if (result != 0) {
        SetPageValue(sessionID, path, result);
        return;
    }
    if (!FTree.DeleteLeafEntry(sessionID,
                               TCRVBTreeKey{reinterpret_cast<const std::uint8_t*>(&pageNo),
                                            reinterpret_cast<const std::uint8_t*>(&value), nullptr}))
        CRVRaise(20111);
}
