// The structures at the start of the database file and inside its internal files.
//
// File layout, from the header position H (0 for a database file of its own):
// | OFFSET FROM H | SIZE                       | CONTENT                          |
// | 0             | 76                         | database header, TCRVDBHeader    |
// | 76            | 280                        | crypto header, TCRVCryptoHeader  |
// | 356           | 20                         | lock-byte block, TCRVLockedBytes |
// | 376           | 4                          | last object id (i32)             |
// | 380           | TotalPageCount x PageSize  | pages 0, 1, 2, ...               |
// All integers little-endian.
#pragma once

#include "CRVPage/CRVPageTypes.h"

#include <bit>
#include <cstdint>
#include <cstring>

constexpr char KCRVDatabaseSignature[16] = {'C', '0', 'R', 'V', 'I', 'S', 'T', 'A',
                                            'D', 'A', 'T', 'A', 'B', 'A', 'S', 'E'};
constexpr std::uint64_t KCRVVersionBits = 0x40185C28F5C28F5CULL; // 6.09
constexpr double KCRVMinConsistentVersion = 2.99;
constexpr std::uint8_t KCRVWriteChangesConsistent = 2;
constexpr std::uint8_t KCRVWriteChangesInProgress = 1;
constexpr std::uint8_t KCRVEncryptedFlag = 0xFF;

#pragma pack(push, 1)
// | OFFSET | SIZE | FIELD             |
// | 0      | 16   | Signature         | "C0RVISTADATABASE" (the second character is a zero)
// | 16     | 2    | HeaderSize        | 76
// | 18     | 8    | Version           | f64, 6.09
// | 26     | 2    | PageSize          |
// | 28     | 2    | PageCountInExtent |
// | 30     | 4    | TotalPageCount    |
// | 34     | 4    | LastUsedPageNo    | highest page in use that is no map page; -1 = none
// | 38     | 4    | State             | +1 after every completed write-back
// | 42     | 1    | WriteChangesState | 2 consistent, 1 write-back in progress
// | 43     | 1    | Encrypted         | 0xFF with a password; any non-zero reads as encrypted
// | 44     | 32   | Reserved          | zero
struct TCRVDBHeader {
    char Signature[16];
    std::uint16_t HeaderSize;
    std::uint8_t Version[8]; // f64 bytes (kept as bytes: the field is not 8-aligned)
    std::uint16_t PageSize;
    std::uint16_t PageCountInExtent;
    std::int32_t TotalPageCount;
    std::int32_t LastUsedPageNo;
    std::int32_t State;
    std::uint8_t WriteChangesState;
    std::uint8_t Encrypted;
    std::uint8_t Reserved[32];

    double GetVersion() const {
        std::uint64_t bits;
        std::memcpy(&bits, Version, 8);
        return std::bit_cast<double>(bits);
    }
    void SetVersionBits(std::uint64_t bits) { std::memcpy(Version, &bits, 8); }
};
static_assert(sizeof(TCRVDBHeader) == 76);

// | OFFSET | SIZE | FIELD            |
// | 0      | 2    | CryptoHeaderSize | 280
// | 2      | 1    | CryptoAlgorithm  | TCRVCryptoAlgorithm
// | 3      | 1    | CryptoMode       | 0
// | 4      | 256  | ControlBlock     | password check: random bytes, stored enciphered
// | 260    | 4    | ControlBlockCRC  | CRC-32 of the plain control block
// | 264    | 16   | Reserverd        | zero
struct TCRVCryptoHeader {
    std::uint16_t CryptoHeaderSize;
    std::uint8_t CryptoAlgorithm;
    std::uint8_t CryptoMode;
    std::uint8_t ControlBlock[256];
    std::uint32_t ControlBlockCRC;
    std::uint8_t Reserverd[16];
};
static_assert(sizeof(TCRVCryptoHeader) == 280);

// Lock targets, not data: only LockedByteSize is ever read back.
// | OFFSET | SIZE | FIELD          |
// | 0      | 2    | LockedByteSize | 20
// | 2      | 1    | FSMByte        |
// | 3      | 1    | TablesByte     | target of the tables lock
// | 4      | 1    | DBHeaderByte   | target of the header lock
// | 5      | 15   | Reserved       |
struct TCRVLockedBytes {
    std::uint16_t LockedByteSize;
    std::uint8_t FSMByte;
    std::uint8_t TablesByte;
    std::uint8_t DBHeaderByte;
    std::uint8_t Reserved[15];
};
static_assert(sizeof(TCRVLockedBytes) == 20);

// The first 10 bytes of an internal file's first data area.
// | OFFSET | SIZE | FIELD                |
// | 0      | 1    | FileHeaderSize       | 10
// | 1      | 4    | FileSize             | stored bytes (not counting this header)
// | 5      | 4    | DecompressedSize     | the stream's size before compression
// | 9      | 1    | CompressionAlgorithm | 0 = stored as is
struct TCRVInternalFileHeader {
    std::uint8_t FileHeaderSize;
    std::int32_t FileSize;
    std::int32_t DecompressedSize;
    std::uint8_t CompressionAlgorithm;
};
static_assert(sizeof(TCRVInternalFileHeader) == 10);

// | OFFSET | SIZE | FIELD       |
// | 0      | 1    | FileID      | 1 table list, 2 session slots file
// | 1      | 4    | FirstPageNo |
struct TCRVSystemDirectoryListItem {
    std::uint8_t FileID;
    std::int32_t FirstPageNo;
};
static_assert(sizeof(TCRVSystemDirectoryListItem) == 5);

// | OFFSET | SIZE | FIELD                 |
// | 0      | 256  | TableName             | length byte, the name's bytes (UTF-8), zeros
// | 256    | 4    | TableID               |
// | 260    | 4    | MetaDataFilePageNo    |
// | 264    | 4    | MostUpdatedFilePageNo |
// | 268    | 4    | LocksFilePageNo       |
struct TCRVTableListItem {
    std::uint8_t TableName[256];
    std::int32_t TableID;
    std::int32_t MetaDataFilePageNo;
    std::int32_t MostUpdatedFilePageNo;
    std::int32_t LocksFilePageNo;
};
static_assert(sizeof(TCRVTableListItem) == 272);
#pragma pack(pop)

constexpr std::uint8_t KCRVInternalFileHeaderSize = 10;

enum TCRVDBFileType : std::uint8_t {
    dbftUnknown = 0,
    dbftTablesList = 1,
    dbftActiveSessionsList = 2,
};

constexpr TCRVPageNo CRVFirstPageNoSystemDirectory = 2;
