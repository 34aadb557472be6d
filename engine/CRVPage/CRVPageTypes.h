// Page numbers, session ids, page types and the 40-byte page header every page starts with.
//
// A page is PageSize bytes: the header below, then the data area (PageSize - 40 bytes).
// The page's State is its change counter: a page added through the cache starts with a random
// value in 0..0x3FFFFFFE, every physical write adds 1 and the value after 0x7FFFFFFC is 0, so a
// live page never holds 0x7FFFFFFD..0x7FFFFFFF. 0x7FFFFFFF marks a removed page (written on disk
// when the page is freed) or a page that could not be read (set in memory).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

using TCRVPageNo = std::int32_t;
using TCRVSessionID = std::int32_t;

constexpr TCRVPageNo KCRVNoPage = -1;
constexpr TCRVSessionID KCRVInvalidSessionID = -1;
constexpr TCRVSessionID KCRVSystemSessionID = -2;

constexpr std::int32_t KCRVPageStateRemoved = 0x7FFFFFFF;
constexpr std::int32_t KCRVPageStateLastLive = 0x7FFFFFFC;
constexpr std::int32_t KCRVPageStateMaxRandom = 0x3FFFFFFE;

constexpr std::uint16_t KCRVPageHeaderSize = 40;

enum TCRVPageType : std::uint16_t {
    ptUnknown = 0,
    ptEmpty = 1,
    ptEAM = 2,
    ptPFS = 3,
    ptFileSystemDirectory = 4,
    ptActiveSessionList = 5,
    ptTableList = 6,
    ptTableLocks = 7,
    ptTableMetaData = 8,
    ptTableMostUpdated = 9,
    ptTableRecord = 10,
    ptTableBlob = 11,
    ptTableIndex = 12,
};
constexpr std::uint16_t KCRVLastPageType = ptTableIndex;
// Asking for a page of this type skips the type check.
constexpr std::uint16_t KCRVAnyPageType = 255;

// The name of a page type for messages; a value above 12 raises 30382.
std::string PageTypeToStr(std::uint16_t pageType);

#pragma pack(push, 1)
// A record's place: record page and slot on it (also the BLOB reference held in a row).
// | OFFSET | SIZE | FIELD      |
// | 0      | 4    | PageNo     |
// | 4      | 2    | PageItemNo |
struct TCRVPageItemID {
    std::int32_t PageNo;
    std::uint16_t PageItemNo;
};
static_assert(sizeof(TCRVPageItemID) == 6);
// A stored row's name: its record page and slot.
using TCRVRecordID = TCRVPageItemID;

// -1, 0 or 1: by PageNo (signed), then PageItemNo (unsigned): the table's physical order.
inline int CompareRecordID(const TCRVRecordID& a, const TCRVRecordID& b) {
    if (a.PageNo != b.PageNo)
        return a.PageNo < b.PageNo ? -1 : 1;
    if (a.PageItemNo != b.PageItemNo)
        return a.PageItemNo < b.PageItemNo ? -1 : 1;
    return 0;
}

// The header at the start of every page (little-endian on disk, as in memory on this platform).
// | OFFSET | SIZE | FIELD      |
// | 0      | 4    | Signature  | "CRVP"
// | 4      | 4    | State      | change counter
// | 8      | 2    | PageType   | TCRVPageType
// | 10     | 4    | NextPageNo | next page of the same chain; -1 = last
// | 14     | 4    | CRC32      | CRC-32 of the plain data area, set when written enciphered
// | 18     | 1    | CRCType    | 0
// | 19     | 1    | HashType   | 0
// | 20     | 1    | Cipherype  | cipher of the data area (TCRVCryptoAlgorithm)
// | 21     | 1    | MACType    | 0
// | 22     | 4    | ObjectID   | owning object (table id on record pages); -1 otherwise
// | 26     | 6    | RecordID   | TCRVPageItemID for the owner's use
// | 32     | 8    | Reserved   | zero
struct TCRVDiskPageHeader {
    char Signature[4];
    std::int32_t State;
    std::uint16_t PageType;
    std::int32_t NextPageNo;
    std::uint32_t CRC32;
    std::uint8_t CRCType;
    std::uint8_t HashType;
    std::uint8_t Cipherype;
    std::uint8_t MACType;
    std::int32_t ObjectID;
    TCRVPageItemID RecordID;
    std::uint8_t Reserved[8];
};
static_assert(sizeof(TCRVDiskPageHeader) == KCRVPageHeaderSize);
#pragma pack(pop)

static_assert(std::endian::native == std::endian::little, "on-disk structures are little-endian");

constexpr char KCRVPageSignature[4] = {'C', 'R', 'V', 'P'};

// The header of a new page: signature, State 0, type 0, no next page, ObjectID -1, RecordID (-1, 0).
void CRVInitPageHeader(TCRVDiskPageHeader& header);

// The State after one more physical write.
constexpr std::int32_t CRVNextPageState(std::int32_t state) {
    return state >= KCRVPageStateLastLive || state < 0 ? 0 : state + 1;
}
