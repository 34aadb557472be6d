#include "CRVBTree/CRVBTreePage.h"

#include "CRVExcept/CRVExcept.h"

#include <cstring>

void TCRVBTreePage::Init() {
    TCRVBTreePageHeader& h = Header();
    std::memset(&h, 0, sizeof h);
    h.LeftPageNo = KCRVNoPage;
    h.RightPageNo = KCRVNoPage;
}

void TCRVBTreePage::InitAsRoot(std::uint16_t keyPrefixSize) {
    Init();
    TCRVBTreePageHeader& h = Header();
    h.IsRoot = 1;
    h.IsLeaf = 1;
    h.HasKeys = 1;
    h.HasSuffixes = 0;
    h.PagePrefixSize = 0;
    h.KeyPrefixSize = keyPrefixSize;
}

TCRVPageNo TCRVBTreePage::ChildPageNo(int entryNo) const {
    if (IsLeaf())
        CRVRaise(20020);
    TCRVPageNo no;
    std::memcpy(&no, EntryReference(entryNo), sizeof no);
    return no;
}

void TCRVBTreePage::SetChildPageNo(int entryNo, TCRVPageNo childPageNo) {
    if (IsLeaf())
        CRVRaise(20024);
    std::memcpy(EntryReference(entryNo), &childPageNo, sizeof childPageNo);
}

void TCRVBTreePage::EnsureRoomFor(int entryCount) {
    const std::size_t needed = KCRVPageHeaderSize + EntriesOffset() + entryCount * EntrySize();
    if (needed > Page()->GetPageSize())
        EnlargePageBuffer(needed);
}

void TCRVBTreePage::InsertEntry(int entryNo, const std::uint8_t* key, const std::uint8_t* reference) {
    const int count = EntryCount();
    EnsureRoomFor(count + 1);
    const std::size_t size = EntrySize();
    std::uint8_t* at = EntryKey(entryNo);
    std::memmove(at + size, at, (count - entryNo) * size);
    std::memset(at, 0, KeyPrefixSize());
    if (key)
        std::memcpy(at, key, KeyPrefixSize());
    std::memcpy(at + KeyPrefixSize(), reference, ReferenceSize());
    SetEntryCount(count + 1);
}

void TCRVBTreePage::DeleteEntry(int entryNo) {
    const int count = EntryCount();
    if (count == 0)
        CRVRaise(20025);
    const std::size_t size = EntrySize();
    std::uint8_t* at = EntryKey(entryNo);
    std::memmove(at, at + size, (count - entryNo - 1) * size);
    std::memset(EntryKey(count - 1), 0, size);
    SetEntryCount(count - 1);
}

void TCRVBTreePage::AppendEntries(const TCRVBTreePage& source, int from, int count) {
    const int own = EntryCount();
    EnsureRoomFor(own + count);
    std::memcpy(EntryKey(own), source.EntryKey(from), count * EntrySize());
    SetEntryCount(own + count);
}

void TCRVBTreePage::PrependEntries(const TCRVBTreePage& source) {
    const int own = EntryCount();
    const int count = source.EntryCount();
    EnsureRoomFor(own + count);
    const std::size_t size = EntrySize();
    std::memmove(EntryKey(count), EntryKey(0), own * size);
    std::memcpy(EntryKey(0), source.EntryKey(0), count * size);
    SetEntryCount(own + count);
}

bool TCRVBTreePage::Overflows() const {
    return EntryCount() * EntrySize() + EntriesOffset() > Page()->GetPageDataSize();
}

bool TCRVBTreePage::Underflows() const {
    const std::size_t room = Page()->GetPageDataSize() - EntriesOffset();
    return EntryCount() * EntrySize() < room / 2;
}

bool TCRVBTreePage::CanTakeEntriesOf(const TCRVBTreePage& other) const {
    // An empty page can always go, even next to a page filled to the last byte.
    if (other.EntryCount() == 0)
        return true;
    return (EntryCount() + other.EntryCount()) * EntrySize() + EntriesOffset() < Page()->GetPageDataSize();
}
