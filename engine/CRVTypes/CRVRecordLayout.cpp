#include "CRVTypes/CRVRecordLayout.h"

#include "CRVExcept/CRVExcept.h"
#include "CRVTypes/CRVExtended.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

using A = TCRVAdvancedFieldType;
using B = TCRVBaseFieldType;

void CheckBuffer(std::span<const std::byte> buffer, std::size_t wanted) {
    if (buffer.size() < wanted)
        CRVRaiseText(10002, "Record buffer too small: %d bytes, the record needs %d", buffer.size(), wanted);
}

template <typename T> T Load(const std::byte* p) {
    T v;
    std::memcpy(&v, p, sizeof(T));
    return v;
}

template <typename T> void StoreValue(std::byte* p, T v) {
    std::memcpy(p, &v, sizeof(T));
}

// Index of the terminator of a zero-terminated text of `unit`-byte characters in `bytes`, or
// the index of the last character when there is none.
std::size_t TerminatorIndex(std::span<const std::byte> bytes, std::size_t unit) {
    const std::size_t count = bytes.size() / unit;
    for (std::size_t i = 0; i < count; ++i) {
        bool zero = true;
        for (std::size_t b = 0; b < unit; ++b)
            zero = zero && bytes[i * unit + b] == std::byte{0};
        if (zero)
            return i;
    }
    return count - 1;
}

} // namespace

std::int32_t GetNullBitmapSize(std::int32_t fieldCount) {
    return (fieldCount + 7) / 8;
}

bool CheckNullFlag(std::int32_t FieldNo, std::span<const std::byte> Buffer) {
    const auto mask = static_cast<std::byte>(1u << (FieldNo % 8));
    return (Buffer[static_cast<std::size_t>(FieldNo / 8)] & mask) != std::byte{0};
}

void SetNullFlag(bool IsNull, std::int32_t FieldNo, std::span<std::byte> Buffer) {
    const auto mask = static_cast<std::byte>(1u << (FieldNo % 8));
    std::byte& b = Buffer[static_cast<std::size_t>(FieldNo / 8)];
    b = IsNull ? (b | mask) : (b & ~mask);
}

bool CompareRecordBuffers(const void* A, const void* B, std::size_t Length) {
    if (!A)
        CRVRaise(10122);
    if (!B)
        CRVRaise(10123);
    return std::memcmp(A, B, Length) == 0;
}

TCRVRecordLayout::TCRVRecordLayout(std::vector<TCRVFieldLayout> fields) : FFields(std::move(fields)) {
    FBitmapSize = GetNullBitmapSize(FieldCount());
    std::int64_t memory = FBitmapSize;
    std::int64_t disk = FBitmapSize;
    for (TCRVFieldLayout& f : FFields) {
        f.MemoryOffset = static_cast<std::int32_t>(memory);
        f.DiskOffset = static_cast<std::int32_t>(disk);
        memory += f.MemoryDataSize;
        disk += f.DiskDataSize;
        if (memory > INT32_MAX || disk > INT32_MAX)
            CRVRaiseText(10002, "Record too large: %d bytes", memory);
    }
    FMemorySize = static_cast<std::int32_t>(memory);
    FDiskSize = static_cast<std::int32_t>(disk);
}

void TCRVRecordLayout::InitNewRecord(std::span<std::byte> memoryRecord) const {
    CheckBuffer(memoryRecord, static_cast<std::size_t>(FMemorySize));
    std::fill_n(memoryRecord.begin(), FBitmapSize, std::byte{0xFF});
    std::fill(memoryRecord.begin() + FBitmapSize, memoryRecord.begin() + FMemorySize, std::byte{0});
}

std::vector<std::byte> TCRVRecordLayout::NewRecord() const {
    std::vector<std::byte> record(static_cast<std::size_t>(FMemorySize));
    InitNewRecord(record);
    return record;
}

void TCRVRecordLayout::DiskToMemory(std::span<const std::byte> disk, std::span<std::byte> memory) const {
    CheckBuffer(disk, static_cast<std::size_t>(FDiskSize));
    CheckBuffer(memory, static_cast<std::size_t>(FMemorySize));
    std::fill_n(memory.begin(), FMemorySize, std::byte{0});
    std::copy_n(disk.begin(), FBitmapSize, memory.begin());
    for (const TCRVFieldLayout& f : FFields)
        std::copy_n(disk.begin() + f.DiskOffset, f.DiskDataSize, memory.begin() + f.MemoryOffset);
}

void TCRVRecordLayout::MemoryToDisk(std::span<const std::byte> memory, std::span<std::byte> disk) const {
    CheckBuffer(memory, static_cast<std::size_t>(FMemorySize));
    CheckBuffer(disk, static_cast<std::size_t>(FDiskSize));
    std::fill_n(disk.begin(), FDiskSize, std::byte{0});
    std::copy_n(memory.begin(), FBitmapSize, disk.begin());
    for (const TCRVFieldLayout& f : FFields)
        std::copy_n(memory.begin() + f.MemoryOffset, f.DiskDataSize, disk.begin() + f.DiskOffset);
}

bool TCRVRecordLayout::Equal(std::span<const std::byte> a, std::span<const std::byte> b) const {
    CheckBuffer(a, static_cast<std::size_t>(FMemorySize));
    CheckBuffer(b, static_cast<std::size_t>(FMemorySize));
    if (!std::equal(a.begin(), a.begin() + FBitmapSize, b.begin()))
        return false;
    return std::all_of(FFields.begin(), FFields.end(), [&](const TCRVFieldLayout& f) {
        return std::equal(a.begin() + f.MemoryOffset, a.begin() + f.MemoryOffset + f.DiskDataSize,
                          b.begin() + f.MemoryOffset);
    });
}

void TCRVRecordLayout::ClearStringFieldsGarbage(std::span<std::byte> memoryRecord) const {
    CheckBuffer(memoryRecord, static_cast<std::size_t>(FMemorySize));
    for (std::int32_t i = 0; i < FieldCount(); ++i) {
        const TCRVFieldLayout& f = FFields[static_cast<std::size_t>(i)];
        if (!IsStringFieldType(f.BaseFieldType))
            continue;
        const auto bytes = memoryRecord.subspan(static_cast<std::size_t>(f.MemoryOffset),
                                                static_cast<std::size_t>(f.MemoryDataSize));
        if (CheckNullFlag(i, memoryRecord)) {
            std::fill(bytes.begin(), bytes.end(), std::byte{0});
            continue;
        }
        const std::size_t unit = IsWideStringFieldType(f.BaseFieldType) ? 2 : 1;
        const std::size_t end = (TerminatorIndex(bytes, unit) + 1) * unit;
        std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(end), bytes.end(), std::byte{0});
    }
}

std::int32_t TCRVRecordLayout::NativeDataSize(std::int32_t fieldNo) const {
    const TCRVFieldLayout& f = Field(fieldNo);
    switch (f.AdvancedFieldType) {
    case A::aftShortint:
    case A::aftByte:
        return 2;
    case A::aftAutoIncShortint:
    case A::aftAutoIncSmallint:
    case A::aftAutoIncByte:
    case A::aftAutoIncWord:
        return 4;
    case A::aftCardinal:
    case A::aftSingle:
    case A::aftExtended:
        return 8;
    default:
        return f.MemoryDataSize;
    }
}

std::span<std::byte> TCRVRecordLayout::FieldBytes(std::int32_t fieldNo, std::span<std::byte> record) const {
    const TCRVFieldLayout& f = Field(fieldNo);
    if (record.size() < static_cast<std::size_t>(f.MemoryOffset) + static_cast<std::size_t>(f.MemoryDataSize))
        CRVRaise(10002, fieldNo, f.MemoryOffset, f.MemoryDataSize);
    return record.subspan(static_cast<std::size_t>(f.MemoryOffset),
                          static_cast<std::size_t>(f.MemoryDataSize));
}

std::span<const std::byte> TCRVRecordLayout::FieldBytes(std::int32_t fieldNo,
                                                        std::span<const std::byte> record) const {
    const TCRVFieldLayout& f = Field(fieldNo);
    if (record.size() < static_cast<std::size_t>(f.MemoryOffset) + static_cast<std::size_t>(f.MemoryDataSize))
        CRVRaise(10002, fieldNo, f.MemoryOffset, f.MemoryDataSize);
    return record.subspan(static_cast<std::size_t>(f.MemoryOffset),
                          static_cast<std::size_t>(f.MemoryDataSize));
}

bool TCRVRecordLayout::GetFieldData(std::int32_t fieldNo, void* dest,
                                    std::span<const std::byte> memoryRecord) const {
    if (fieldNo < 0 || fieldNo >= FieldCount())
        CRVRaise(10000, fieldNo, FieldCount());
    const auto bytes = FieldBytes(fieldNo, memoryRecord);
    if (CheckNullFlag(fieldNo, memoryRecord))
        return false;
    const TCRVFieldLayout& f = Field(fieldNo);
    if (!dest || IsBLOBFieldType(f.BaseFieldType))
        return true;
    auto* out = static_cast<std::byte*>(dest);
    switch (f.AdvancedFieldType) {
    case A::aftShortint:
        StoreValue<std::int16_t>(out, Load<std::int8_t>(bytes.data()));
        return true;
    case A::aftByte:
        StoreValue<std::uint16_t>(out, Load<std::uint8_t>(bytes.data()));
        return true;
    case A::aftAutoIncShortint:
        StoreValue<std::int32_t>(out, Load<std::int8_t>(bytes.data()));
        return true;
    case A::aftAutoIncSmallint:
        StoreValue<std::int32_t>(out, Load<std::int16_t>(bytes.data()));
        return true;
    case A::aftAutoIncByte:
        StoreValue<std::int32_t>(out, Load<std::uint8_t>(bytes.data()));
        return true;
    case A::aftAutoIncWord:
        StoreValue<std::int32_t>(out, Load<std::uint16_t>(bytes.data()));
        return true;
    case A::aftCardinal:
        StoreValue<std::int64_t>(out, Load<std::uint32_t>(bytes.data()));
        return true;
    case A::aftSingle:
        StoreValue<double>(out, Load<float>(bytes.data()));
        return true;
    case A::aftExtended:
        StoreValue<double>(out, CRVExtendedToDouble(bytes.first<CRVExtendedSize>()));
        return true;
    default:
        break;
    }
    if (f.BaseFieldType == B::bftLogical)
        StoreValue<std::uint16_t>(out, Load<std::uint16_t>(bytes.data()) != 0 ? 1 : 0);
    else
        std::memcpy(out, bytes.data(), bytes.size());
    return true;
}

void TCRVRecordLayout::SetFieldData(std::int32_t fieldNo, const void* source,
                                    std::span<std::byte> memoryRecord) const {
    if (fieldNo < 0 || fieldNo >= FieldCount())
        CRVRaise(10004, fieldNo, FieldCount());
    const auto bytes = FieldBytes(fieldNo, memoryRecord);
    const TCRVFieldLayout& f = Field(fieldNo);
    const auto* in = static_cast<const std::byte*>(source);
    const bool wide = IsWideStringFieldType(f.BaseFieldType);
    const bool emptyText =
        in && IsStringFieldType(f.BaseFieldType) && in[0] == std::byte{0} && (!wide || in[1] == std::byte{0});
    if (!in || emptyText) {
        SetNullFlag(true, fieldNo, memoryRecord);
        return;
    }
    switch (f.AdvancedFieldType) {
    case A::aftShortint:
        StoreValue<std::int8_t>(bytes.data(), static_cast<std::int8_t>(Load<std::int16_t>(in)));
        break;
    case A::aftByte:
        StoreValue<std::uint8_t>(bytes.data(), static_cast<std::uint8_t>(Load<std::uint16_t>(in)));
        break;
    case A::aftAutoIncShortint:
    case A::aftAutoIncByte:
        StoreValue<std::uint8_t>(bytes.data(), static_cast<std::uint8_t>(Load<std::int32_t>(in)));
        break;
    case A::aftAutoIncSmallint:
    case A::aftAutoIncWord:
        StoreValue<std::uint16_t>(bytes.data(), static_cast<std::uint16_t>(Load<std::int32_t>(in)));
        break;
    case A::aftCardinal:
        StoreValue<std::uint32_t>(bytes.data(), static_cast<std::uint32_t>(Load<std::int64_t>(in)));
        break;
    case A::aftSingle:
        StoreValue<float>(bytes.data(), static_cast<float>(Load<double>(in)));
        break;
    case A::aftExtended:
        CRVDoubleToExtended(Load<double>(in), bytes.first<CRVExtendedSize>());
        break;
    default:
        if (f.BaseFieldType == B::bftLogical) {
            StoreValue<std::uint16_t>(bytes.data(), Load<std::uint16_t>(in) != 0 ? 1 : 0);
        } else if (IsStringFieldType(f.BaseFieldType)) {
            // Text is read up to its terminator only (the caller's buffer may end there), cut to
            // the field and always terminated; the bytes after it are zeroed.
            const std::size_t unit = wide ? 2 : 1;
            const std::size_t units = bytes.size() / unit - 1;
            std::size_t length = 0;
            while (length < units &&
                   !(in[length * unit] == std::byte{0} && (!wide || in[length * unit + 1] == std::byte{0})))
                ++length;
            std::memcpy(bytes.data(), in, length * unit);
            std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(length * unit), bytes.end(), std::byte{0});
        } else {
            std::memcpy(bytes.data(), in, bytes.size());
        }
        break;
    }
    SetNullFlag(false, fieldNo, memoryRecord);
}
