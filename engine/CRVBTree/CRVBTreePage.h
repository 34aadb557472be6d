// TCRVBTreePage: one index page (page type 12) of a B+tree, pinned for as long as the object lives.
//
// The page data area starts with the B-tree page header, then the entries, packed without gaps:
//   entry i at EntriesOffset + i * EntrySize, EntriesOffset = PagePrefixSize + 18
//   EntrySize = KeyPrefixSize + (leaf ? the key reference's ReferenceSize : 4)
// A leaf entry is (short key, row reference); a node entry is (separator key, child page number).
// The key of entry 0 of a node is not used in searches.
//
// An insertion never splits ahead of need: when the page cannot take one more entry its buffer is
// first enlarged by one entry (Overflows() then tells the caller to split it).
#pragma once

#include "CRVPage/CRVPageController.h"

#include <cstdint>

#pragma pack(push, 1)
// The B-tree page header at the start of the page data area.
// | OFFSET | SIZE | FIELD          |
// | 0      | 1    | IsRoot         | the page is the index's root
// | 1      | 1    | IsLeaf         | entries point to rows (leaf) or to child pages (node)
// | 2      | 4    | LeftPageNo     | previous page on the same level, -1 = none
// | 6      | 4    | RightPageNo    | next page on the same level, -1 = none
// | 10     | 1    | HasKeys        | 1 on a new root, copied by every split; nothing reads it
// | 11     | 1    | HasSuffixes    | always 0
// | 12     | 2    | KeyPrefixSize  | bytes of key per entry (the short key size)
// | 14     | 2    | EntryCount     | number of entries
// | 16     | 2    | PagePrefixSize | always 0
struct TCRVBTreePageHeader {
    std::uint8_t IsRoot;
    std::uint8_t IsLeaf;
    std::int32_t LeftPageNo;
    std::int32_t RightPageNo;
    std::uint8_t HasKeys;
    std::uint8_t HasSuffixes;
    std::uint16_t KeyPrefixSize;
    std::uint16_t EntryCount;
    std::uint16_t PagePrefixSize;
};
static_assert(sizeof(TCRVBTreePageHeader) == 18);
#pragma pack(pop)

constexpr std::uint16_t KCRVBTreePageHeaderSize = 18;
constexpr std::uint16_t KCRVChildReferenceSize = 4;

class TCRVBTreePage : public TCRVPageController {
public:
    TCRVBTreePage() = default;
    // referenceSize: the size of a leaf entry's reference (6 for rows, 2 for page indexes).
    TCRVBTreePage(TCRVPinnedPage page, std::uint16_t referenceSize)
        : TCRVPageController(std::move(page)), FReferenceSize(referenceSize) {}

    TCRVBTreePageHeader& Header() { return *reinterpret_cast<TCRVBTreePageHeader*>(GetPageData()); }
    const TCRVBTreePageHeader& Header() const {
        return *reinterpret_cast<const TCRVBTreePageHeader*>(Page()->GetPageData());
    }

    // Every header field 0 except LeftPageNo = RightPageNo = -1.
    void Init();
    // An empty leaf root with the given key size.
    void InitAsRoot(std::uint16_t keyPrefixSize);

    bool IsRoot() const { return Header().IsRoot != 0; }
    bool IsLeaf() const { return Header().IsLeaf != 0; }
    int EntryCount() const { return Header().EntryCount; }
    TCRVPageNo LeftPageNo() const { return Header().LeftPageNo; }
    TCRVPageNo RightPageNo() const { return Header().RightPageNo; }
    std::uint16_t KeyPrefixSize() const { return Header().KeyPrefixSize; }
    std::uint16_t ReferenceSize() const { return IsLeaf() ? FReferenceSize : KCRVChildReferenceSize; }
    std::uint16_t LeafReferenceSize() const { return FReferenceSize; }
    std::size_t EntriesOffset() const { return Header().PagePrefixSize + KCRVBTreePageHeaderSize; }
    std::size_t EntrySize() const { return KeyPrefixSize() + ReferenceSize(); }

    std::uint8_t* EntryKey(int entryNo) { return GetPageData() + EntriesOffset() + entryNo * EntrySize(); }
    const std::uint8_t* EntryKey(int entryNo) const {
        return Page()->GetPageData() + EntriesOffset() + entryNo * EntrySize();
    }
    std::uint8_t* EntryReference(int entryNo) { return EntryKey(entryNo) + KeyPrefixSize(); }
    const std::uint8_t* EntryReference(int entryNo) const { return EntryKey(entryNo) + KeyPrefixSize(); }
    // Node entries only: the child page number (20020 on a leaf).
    TCRVPageNo ChildPageNo(int entryNo) const;
    void SetChildPageNo(int entryNo, TCRVPageNo childPageNo);

    // Inserts (key, reference) at entryNo, shifting the later entries; a null key leaves the key
    // area zero. The buffer grows by one entry when the page is full.
    void InsertEntry(int entryNo, const std::uint8_t* key, const std::uint8_t* reference);
    // Removes entry entryNo (20025 on an empty page).
    void DeleteEntry(int entryNo);
    // Copies `count` entries of `source` starting at `from` to the end of this page.
    void AppendEntries(const TCRVBTreePage& source, int from, int count);
    // Copies all entries of `source` in front of this page's entries.
    void PrependEntries(const TCRVBTreePage& source);
    void SetEntryCount(int count) { Header().EntryCount = static_cast<std::uint16_t>(count); }

    // True when the entries pass the end of the data area (the page must be split).
    bool Overflows() const;
    // True when the page is below half full.
    bool Underflows() const;
    // True when this page can take all entries of `other` in addition to its own.
    bool CanTakeEntriesOf(const TCRVBTreePage& other) const;

    void MarkDirty() { SetIsDirty(true); }

private:
    void EnsureRoomFor(int entryCount);

    std::uint16_t FReferenceSize = 0;
};
