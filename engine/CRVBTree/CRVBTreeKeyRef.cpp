#include "CRVBTree/CRVBTreeKeyRef.h"

#include "CRVExcept/CRVExcept.h"
#include "CRVTypes/CRVRecordLayout.h"

#include <algorithm>
#include <cstring>
#include <string_view>

// --- TCRVBTreeKeyRef ---

int TCRVBTreeKeyRef::CompareReferences(const std::uint8_t* a, const std::uint8_t* b) const {
    if (ReferenceSize == sizeof(TCRVRecordID)) {
        TCRVRecordID x, y;
        std::memcpy(&x, a, sizeof x);
        std::memcpy(&y, b, sizeof y);
        return CompareRecordID(x, y);
    }
    const int r = std::memcmp(a, b, ReferenceSize);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

bool TCRVBTreeKeyRef::HasTruncatedParts() const {
    return std::any_of(Parts.begin(), Parts.end(), [](const TCRVKeyPart& p) { return p.AddedSize != 0; });
}

// --- TCRVPageKeyRef ---

TCRVPageKeyRef::TCRVPageKeyRef() {
    ShortKeySize = FullKeySize = 4;
    ReferenceSize = 2;
    CompareFieldCount = 1;
    TCRVKeyPart part;
    part.ShortSize = part.FullSize = 4;
    part.DataType = TCRVBaseFieldType::bftSignedInt32;
    Parts.push_back(part);
}

int TCRVPageKeyRef::CompareShortKeys(const TCRVBTreeKey& key1, const std::uint8_t* key2, const std::uint8_t*,
                                     TCRVSessionID, bool) const {
    std::int32_t a, b;
    std::memcpy(&a, key1.Key, sizeof a);
    std::memcpy(&b, key2, sizeof b);
    return a < b ? -1 : (a > b ? 1 : 0);
}

// --- TCRVRecordKeyRef ---

TCRVRecordKeyRef::TCRVRecordKeyRef(std::shared_ptr<const TCRVCollation> collation)
    : FCollation(collation ? std::move(collation) : std::make_shared<const TCRVCollation>()) {
    ReferenceSize = sizeof(TCRVRecordID);
}

void TCRVRecordKeyRef::Assign(std::span<const TCRVIndexColumn> columns, const TCRVFieldDefs& fieldDefs) {
    if (fieldDefs.Count() == 0)
        CRVRaise(20045);
    Parts.clear();
    std::uint32_t shortOffset = 0, fullOffset = 0;
    for (const TCRVIndexColumn& column : columns) {
        const std::int32_t fieldNo = fieldDefs.GetDefNumberByName(column.FieldName);
        if (fieldNo < 0)
            CRVRaise(20043, column.FieldName);
        const TCRVFieldDef& field = fieldDefs[fieldNo];
        if (IsBLOBFieldType(field.BaseFieldType))
            CRVRaise(20295, column.FieldName);
        if (!CRVIsIndexableBaseType(field.BaseFieldType))
            CRVRaise(30047, std::string(BftToStr(field.BaseFieldType)));
        TCRVKeyPart part;
        part.OffsetInShortKeyBuffer = static_cast<std::uint16_t>(shortOffset);
        part.OffsetInFullKeyBuffer = static_cast<std::uint16_t>(fullOffset);
        part.OffsetInRecordBuffer = field.MemoryOffset;
        part.FieldNo = fieldNo;
        part.DataType = field.BaseFieldType;
        part.Descending = column.Descending;
        part.CaseInsensitive = column.CaseInsensitive;
        const std::int32_t dataSize = field.MemoryDataSize;
        const std::int32_t maxIndexed =
            CRVEffectiveMaxIndexedSize(field.AdvancedFieldType, column.MaxIndexedSize);
        part.FullSize = static_cast<std::uint16_t>(dataSize + 1);
        if (maxIndexed >= dataSize) {
            part.ShortSize = part.FullSize;
            part.AddedSize = 0;
        } else {
            part.ShortSize = static_cast<std::uint16_t>(maxIndexed + 3);
            part.AddedSize = 2;
        }
        shortOffset += part.ShortSize;
        fullOffset += part.FullSize;
        Parts.push_back(part);
    }
    ShortKeySize = static_cast<std::uint16_t>(shortOffset);
    FullKeySize = static_cast<std::uint16_t>(fullOffset);
    FRecordSize = fieldDefs.GetMemoryRecordBufferSize();
    ResetCompareState();
}

void TCRVRecordKeyRef::ResetCompareState() {
    CompareFieldCount = static_cast<int>(Parts.size());
    CompareLengths.assign(Parts.size(), -1);
}

void TCRVRecordKeyRef::MakeKey(const std::byte* record, std::uint8_t* key, bool shortKey) const {
    const std::span<const std::byte> bytes(record, static_cast<std::size_t>(FRecordSize));
    for (const TCRVKeyPart& part : Parts) {
        std::uint8_t* at = key + (shortKey ? part.OffsetInShortKeyBuffer : part.OffsetInFullKeyBuffer);
        const std::size_t size = shortKey ? part.ShortSize : part.FullSize;
        std::memset(at, 0, size);
        if (CheckNullFlag(part.FieldNo, bytes)) {
            at[0] = 1;
            continue;
        }
        const std::size_t valueSize = size - 1 - (shortKey ? part.AddedSize : 0);
        std::memcpy(at + 1, record + part.OffsetInRecordBuffer, valueSize);
    }
}

void TCRVRecordKeyRef::MakeShortKeyFromRecordBuffer(const std::byte* record, std::uint8_t* key) const {
    MakeKey(record, key, true);
}

void TCRVRecordKeyRef::MakeFullKeyFromRecordBuffer(const std::byte* record, std::uint8_t* key) const {
    MakeKey(record, key, false);
}

std::vector<std::uint8_t> TCRVRecordKeyRef::MakeShortKey(const std::byte* record) const {
    std::vector<std::uint8_t> key(ShortKeySize, 0);
    MakeKey(record, key.data(), true);
    return key;
}

std::vector<std::uint8_t> TCRVRecordKeyRef::MakeFullKey(const std::byte* record) const {
    std::vector<std::uint8_t> key(FullKeySize, 0);
    MakeKey(record, key.data(), false);
    return key;
}

std::vector<std::uint8_t> TCRVRecordKeyRef::RetrieveFullKeyByRecordID(TCRVSessionID sessionID,
                                                                      const TCRVRecordID& recordID) const {
    std::vector<std::byte> record;
    if (!FRecordSource || !FRecordSource->ReadMemoryRecord(sessionID, recordID, record) ||
        record.size() < static_cast<std::size_t>(FRecordSize))
        CRVRaise(20170);
    return MakeFullKey(record.data());
}

int TCRVRecordKeyRef::ComparePart(const TCRVKeyPart& part, std::size_t partNo, const std::uint8_t* a,
                                  const std::uint8_t* b, bool shortKeys) const {
    const std::size_t offset = shortKeys ? part.OffsetInShortKeyBuffer : part.OffsetInFullKeyBuffer;
    const std::size_t size = shortKeys ? part.ShortSize : part.FullSize;
    std::ptrdiff_t length = CompareLengths[partNo];
    if (shortKeys && length >= 0)
        length = std::min<std::ptrdiff_t>(length, part.ShortSize - part.AddedSize);
    const bool nullA = a[offset] != 0, nullB = b[offset] != 0;
    int r;
    if (nullA || nullB) {
        r = nullA == nullB ? 0 : (nullA ? -1 : 1);
    } else if (part.DataType == TCRVBaseFieldType::bftChar ||
               part.DataType == TCRVBaseFieldType::bftVarchar) {
        // The hot path (name hashes): straight to the text order.
        r = FCollation->Compare(std::string_view(reinterpret_cast<const char*>(a + offset + 1), size - 1),
                                std::string_view(reinterpret_cast<const char*>(b + offset + 1), size - 1),
                                part.CaseInsensitive, length);
    } else {
        const TCRVValueBuffer left{a + offset + 1, size - 1, false};
        const TCRVValueBuffer right{b + offset + 1, size - 1, false};
        r = CompareValueBuffersForOrder(left, right, part.DataType, part.CaseInsensitive, length,
                                        *FCollation);
    }
    return part.Descending ? -r : r;
}

int TCRVRecordKeyRef::CompareFullKeys(const std::uint8_t* key1, const std::uint8_t* key2) const {
    for (int i = 0; i < CompareFieldCount; ++i) {
        const auto partNo = static_cast<std::size_t>(i);
        if (const int r = ComparePart(Parts[partNo], partNo, key1, key2, false); r != 0)
            return r;
    }
    return 0;
}

// True when the part's stored value reaches the end of its prefix (the row's value may go on).
bool TCRVRecordKeyRef::FillsPrefix(const TCRVKeyPart& part, const std::uint8_t* partBytes) const {
    if (partBytes[0] != 0)
        return false; // NULL: nothing was cut
    const std::uint8_t* value = partBytes + 1;
    const std::size_t stored = part.ShortSize - 1 - part.AddedSize;
    using enum TCRVBaseFieldType;
    switch (part.DataType) {
    case bftChar:
    case bftVarchar:
    case bftBytes:
    case bftVarBytes:
        return std::memchr(value, 0, stored) == nullptr;
    case bftWideChar:
    case bftWideVarchar:
        for (std::size_t i = 0; i + 1 < stored; i += 2)
            if (value[i] == 0 && value[i + 1] == 0)
                return false;
        return true;
    default:
        return true;
    }
}

bool TCRVRecordKeyRef::NeedsFallback(const TCRVKeyPart& part, std::size_t, const std::uint8_t* a,
                                     const std::uint8_t* b) const {
    return FillsPrefix(part, a + part.OffsetInShortKeyBuffer) ||
           FillsPrefix(part, b + part.OffsetInShortKeyBuffer);
}

std::vector<std::uint8_t> TCRVRecordKeyRef::FullKeyOf(const TCRVBTreeKey& key,
                                                      TCRVSessionID sessionID) const {
    if (key.Record)
        return MakeFullKey(key.Record);
    if (key.Reference) {
        TCRVRecordID id;
        std::memcpy(&id, key.Reference, sizeof id);
        return RetrieveFullKeyByRecordID(sessionID, id);
    }
    return {};
}

int TCRVRecordKeyRef::CompareShortKeys(const TCRVBTreeKey& key1, const std::uint8_t* key2,
                                       const std::uint8_t* reference2, TCRVSessionID sessionID,
                                       bool allowFullKeyFallback) const {
    for (int i = 0; i < CompareFieldCount; ++i) {
        const auto partNo = static_cast<std::size_t>(i);
        const TCRVKeyPart& part = Parts[partNo];
        if (const int r = ComparePart(part, partNo, key1.Key, key2, true); r != 0)
            return r;
        if (part.AddedSize == 0)
            continue;
        if (!allowFullKeyFallback || !reference2)
            return 0;
        if (!NeedsFallback(part, partNo, key1.Key, key2))
            continue;
        const std::vector<std::uint8_t> full1 = FullKeyOf(key1, sessionID);
        if (full1.empty())
            return 0;
        TCRVRecordID id2;
        std::memcpy(&id2, reference2, sizeof id2);
        const std::vector<std::uint8_t> full2 = RetrieveFullKeyByRecordID(sessionID, id2);
        return CompareFullKeys(full1.data(), full2.data());
    }
    return 0;
}
