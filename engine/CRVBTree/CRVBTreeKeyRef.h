// Key references: the description of the keys of one B-tree, shared by all its pages.
//
// A row index key (TCRVRecordKeyRef) holds, per index column in column order, a marker byte
// (1 = NULL, the value bytes then zero; 0 = a value) followed by the value:
//   full key   the whole value, MemoryDataSize bytes (FullSize = MemoryDataSize + 1)
//   short key  the key stored in pages: the whole value when the column's MaxIndexedSize is not
//              smaller than MemoryDataSize (ShortSize = MemoryDataSize + 1, AddedSize 0), else the
//              first MaxIndexedSize bytes and two zero bytes that end a cut string
//              (ShortSize = MaxIndexedSize + 3, AddedSize 2)
// Leaf entries carry the row's record id (ReferenceSize 6).
//
// A page index key (TCRVPageKeyRef) is a page number (i32, no marker) with a u16 value as its
// reference.
//
// Order of two short keys, part by part (a descending part reverses its own result): when a cut
// part compares equal and either value fills its whole stored prefix, the rows' full keys decide
// (the full-key fallback) if the caller allows it and the entry's record id is known; without the
// fallback such keys count as equal. Equal keys are then ordered by their references.
#pragma once

#include "CRVBTree/CRVBTreeCompare.h"
#include "CRVBase/CRVFieldDef.h"
#include "CRVBase/CRVIndexDef.h"
#include "CRVPage/CRVPageTypes.h"
#include "CRVTypes/CRVFieldTypes.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

// Where the index reads a stored row when it needs the row's full key. The table layer
// implements it over its record manager.
class TCRVIndexRecordSource {
public:
    virtual ~TCRVIndexRecordSource() = default;
    // Fills `record` with the row's memory record; false when there is no such row.
    virtual bool ReadMemoryRecord(TCRVSessionID sessionID, const TCRVRecordID& recordID,
                                  std::vector<std::byte>& record) = 0;
};

struct TCRVKeyPart {
    std::uint16_t OffsetInShortKeyBuffer = 0;
    std::uint16_t OffsetInFullKeyBuffer = 0;
    std::int32_t OffsetInRecordBuffer = 0;
    std::int32_t FieldNo = 0;
    std::uint16_t ShortSize = 0;
    std::uint16_t FullSize = 0;
    std::uint16_t AddedSize = 0;
    TCRVBaseFieldType DataType = TCRVBaseFieldType::bftUnknown;
    bool Descending = false;
    bool CaseInsensitive = false;
};

// A key as the tree compares it against page entries: the short key, its reference when known
// (the row's record id), and the memory record the key was made from when there is one (the
// full-key fallback then makes the full key from it instead of reading the row).
struct TCRVBTreeKey {
    const std::uint8_t* Key = nullptr;
    const std::uint8_t* Reference = nullptr;
    const std::byte* Record = nullptr;
};

class TCRVBTreeKeyRef {
public:
    virtual ~TCRVBTreeKeyRef() = default;

    std::uint16_t ShortKeySize = 0;
    std::uint16_t FullKeySize = 0;
    std::uint16_t ReferenceSize = 0;
    bool KeyIsReference = false;
    int CompareFieldCount = 0;
    std::vector<TCRVKeyPart> Parts;

    // -1, 0 or 1 for key1 against an entry key (key2, whose row is reference2, may be null).
    virtual int CompareShortKeys(const TCRVBTreeKey& key1, const std::uint8_t* key2,
                                 const std::uint8_t* reference2, TCRVSessionID sessionID,
                                 bool allowFullKeyFallback) const = 0;
    // 6-byte references compare as record ids, others as unsigned bytes left to right.
    int CompareReferences(const std::uint8_t* a, const std::uint8_t* b) const;
    // True when some part is cut in the short key.
    bool HasTruncatedParts() const;
};

// The key of a page index: a page number.
class TCRVPageKeyRef final : public TCRVBTreeKeyRef {
public:
    TCRVPageKeyRef();
    int CompareShortKeys(const TCRVBTreeKey& key1, const std::uint8_t* key2, const std::uint8_t* reference2,
                         TCRVSessionID sessionID, bool allowFullKeyFallback) const override;
};

// The key of a row index, built from the index columns and the table's fields.
class TCRVRecordKeyRef final : public TCRVBTreeKeyRef {
public:
    explicit TCRVRecordKeyRef(std::shared_ptr<const TCRVCollation> collation = {});

    // Builds the parts (20043 for a missing field, 20295 for a BLOB field).
    void Assign(std::span<const TCRVIndexColumn> columns, const TCRVFieldDefs& fieldDefs);
    void SetRecordSource(TCRVIndexRecordSource* source) { FRecordSource = source; }
    TCRVIndexRecordSource* RecordSource() const { return FRecordSource; }
    const TCRVCollation& Collation() const { return *FCollation; }
    std::int32_t RecordSize() const { return FRecordSize; }

    // Per part: -1 compares the whole value, n >= 0 only the first n characters.
    std::vector<std::ptrdiff_t> CompareLengths;
    // Every part compared, whole values.
    void ResetCompareState();

    void MakeShortKeyFromRecordBuffer(const std::byte* record, std::uint8_t* key) const;
    void MakeFullKeyFromRecordBuffer(const std::byte* record, std::uint8_t* key) const;
    std::vector<std::uint8_t> MakeShortKey(const std::byte* record) const;
    std::vector<std::uint8_t> MakeFullKey(const std::byte* record) const;
    // The full key of a stored row (20170 when the row cannot be read).
    std::vector<std::uint8_t> RetrieveFullKeyByRecordID(TCRVSessionID sessionID,
                                                        const TCRVRecordID& recordID) const;

    int CompareFullKeys(const std::uint8_t* key1, const std::uint8_t* key2) const;
    int CompareShortKeys(const TCRVBTreeKey& key1, const std::uint8_t* key2, const std::uint8_t* reference2,
                         TCRVSessionID sessionID, bool allowFullKeyFallback) const override;

private:
    int ComparePart(const TCRVKeyPart& part, std::size_t partNo, const std::uint8_t* a, const std::uint8_t* b,
                    bool shortKeys) const;
    bool FillsPrefix(const TCRVKeyPart& part, const std::uint8_t* partBytes) const;
    bool NeedsFallback(const TCRVKeyPart& part, std::size_t partNo, const std::uint8_t* a,
                       const std::uint8_t* b) const;
    std::vector<std::uint8_t> FullKeyOf(const TCRVBTreeKey& key, TCRVSessionID sessionID) const;
    void MakeKey(const std::byte* record, std::uint8_t* key, bool shortKey) const;

    std::shared_ptr<const TCRVCollation> FCollation;
    TCRVIndexRecordSource* FRecordSource = nullptr;
    std::int32_t FRecordSize = 0;
};
