// BLOB pages (page type 11): small-BLOB pages shared by many values, and the pages of a large
// BLOB with its page list.
//
// Small-BLOB page, data area (D = PageDataSize):
//   OFFSET   SIZE   CONTENT
//   0        2      BlobCount (u16)
//   2        ...    BlobCount entries back to back: a TCRVDiskBLOBHeader and its CompressedSize
//                   stored bytes; the free room is at the end
// BlobIDs are unique within a page. The room an entry takes is 22 + CompressedSize.
//
// Large BLOB: the first page's data area holds the TCRVDiskBLOBHeader at 0, the TCRVPageListLink
// at 22 and the stored bytes from 32 to its end; the bytes go on from offset 0 of each further
// data page. The data pages (the first included) are not linked; their numbers, in order, form
// the page list: ItemCount i32 numbers from (StartPageNo, StartOffset), going on at offset 0 of
// the next list page (list pages are linked through the page header's NextPageNo; a number may
// straddle two list pages). The list starts right after the data in the last data page when at
// least one byte is left there, else at offset 0 of a page of its own.
#pragma once

#include "CRVPage/CRVPageManager.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#pragma pack(push, 1)
// The header of one stored BLOB value.
// | OFFSET | SIZE | FIELD            |
// | 0      | 2    | BlobID           | id on a small-BLOB page (no meaning on a large BLOB)
// | 2      | 4    | NumBlocks        | blocks of the compressed stream (0 without compression)
// | 6      | 8    | CompressedSize   | stored bytes
// | 14     | 8    | UncompressedSize | length of the value
struct TCRVDiskBLOBHeader {
    std::uint16_t BlobID = 0;
    std::int32_t NumBlocks = 0;
    std::int64_t CompressedSize = 0;
    std::int64_t UncompressedSize = 0;
};
static_assert(sizeof(TCRVDiskBLOBHeader) == 22);

// Where a large BLOB's page list starts.
// | OFFSET | SIZE | FIELD       |
// | 0      | 4    | StartPageNo | first list page
// | 4      | 2    | StartOffset | offset of the list in that page's data area
// | 6      | 4    | ItemCount   | number of data pages (= page numbers in the list)
struct TCRVPageListLink {
    std::int32_t StartPageNo = KCRVNoPage;
    std::uint16_t StartOffset = 0;
    std::int32_t ItemCount = 0;
};
static_assert(sizeof(TCRVPageListLink) == 10);
#pragma pack(pop)

constexpr std::int32_t KCRVBlobHeaderSize = sizeof(TCRVDiskBLOBHeader);
constexpr std::int32_t KCRVPageListLinkOffset = KCRVBlobHeaderSize;
constexpr std::int32_t KCRVLargeBlobDataOffset = KCRVBlobHeaderSize + sizeof(TCRVPageListLink);
constexpr std::uint16_t KCRVBlobCountSize = 2;
constexpr std::uint16_t KCRVLargeBlobItemNo = 0xFFFF;
constexpr std::uint16_t KCRVAmbiguousBlobItemNo = 255;

// A value of S stored bytes is small when S + 24 < PageDataSize.
constexpr bool CRVIsSmallBlob(std::int64_t storedSize, std::int32_t pageDataSize) {
    return storedSize + 24 < pageDataSize;
}

// One stored value as read back.
struct TCRVStoredBlob {
    TCRVDiskBLOBHeader Header;
    std::vector<std::uint8_t> Data;
};

// A view of a pinned small-BLOB page. Every entry is checked against the data area on reading;
// a page whose entries do not fit raises 20171.
class TCRVSmallBlobPage {
public:
    explicit TCRVSmallBlobPage(TCRVPage& page);

    std::uint16_t BlobCount() const;
    // Offset of the free room (2 + the room taken by all entries).
    std::int32_t EndOffset() const;
    // Offset of the entry with that id; empty when absent.
    std::optional<std::int32_t> FindBlob(std::uint16_t blobID) const;
    TCRVDiskBLOBHeader HeaderAt(std::int32_t offset) const;
    // The smallest id not used on the page, searching up from BlobCount and wrapping from 65534
    // to 0 (65535 is never given; 20172 when every id is taken).
    std::uint16_t NewBlobID() const;
    // Appends an entry (20290 when it would pass the end of the data area; `indexRoom` is the
    // page's room in the BLOB page index, for the message). Returns its id.
    std::uint16_t AddBlob(const TCRVDiskBLOBHeader& header, std::span<const std::uint8_t> data,
                          std::int32_t indexRoom);
    // Removes the entry at `offset`, moving the later entries down. Returns its room.
    std::int32_t RemoveBlobAt(std::int32_t offset);
    TCRVStoredBlob ReadBlobAt(std::int32_t offset) const;

private:
    std::int64_t EntrySizeAt(std::int32_t offset) const;

    std::uint8_t* FData;
    std::int32_t FDataSize;
};

// The pages of large BLOBs.
class TCRVLargeBlob {
public:
    TCRVLargeBlob(TCRVPageManager& pageManager, TCRVSessionID sessionID, std::int32_t tableID)
        : LPageManager(pageManager), FSessionID(sessionID), FTableID(tableID) {}

    // Stores the value in new pages; returns the first page.
    TCRVPageNo Write(const TCRVDiskBLOBHeader& header, std::span<const std::uint8_t> data);
    // Reads the value whose first page is `firstPageNo`; 20171 when its link and list do not fit.
    TCRVStoredBlob Read(TCRVPageNo firstPageNo);
    // Removes every data page and every list page (a first list page that is also the last data
    // page only once).
    void Delete(TCRVPageNo firstPageNo);
    // The size test for a (page, 255) reference: the header's CompressedSize lies above
    // (ItemCount - 2) x PageDataSize and below ItemCount x PageDataSize. Read errors answer false.
    bool LooksLikeFirstPage(TCRVPageNo pageNo);
    // Reads the first page's link and the page list only (20171 when they do not fit).
    void CheckLayout(TCRVPageNo firstPageNo) { ReadLayout(firstPageNo); }
    // The value's data pages, then its list pages, each once (a first list page that is also
    // the last data page is not repeated); 20171 when they do not fit.
    std::vector<TCRVPageNo> PageNos(TCRVPageNo firstPageNo) {
        TLayout layout = ReadLayout(firstPageNo);
        auto list = layout.ListPages.begin();
        if (list != layout.ListPages.end() && !layout.DataPages.empty() && *list == layout.DataPages.back())
            ++list;
        layout.DataPages.insert(layout.DataPages.end(), list, layout.ListPages.end());
        return layout.DataPages;
    }

private:
    struct TLayout {
        TCRVDiskBLOBHeader Header;
        TCRVPageListLink Link;
        std::vector<TCRVPageNo> DataPages;
        std::vector<TCRVPageNo> ListPages;
    };
    TLayout ReadLayout(TCRVPageNo firstPageNo);
    TCRVPinnedPage NewPage();
    std::int32_t DataSize() const { return LPageManager.PageDataSize(); }

    TCRVPageManager& LPageManager;
    TCRVSessionID FSessionID;
    std::int32_t FTableID;
};
