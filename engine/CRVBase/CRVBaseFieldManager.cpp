#include "CRVBase/CRVBaseFieldManager.h"

#include "CRVExcept/CRVExcept.h"

#include <cstring>

namespace {

constexpr int KCountersReadCode = 30416;

void PutLE(std::vector<std::uint8_t>& buffer, std::size_t& offset, std::uint64_t value, std::size_t size) {
    if (buffer.size() < offset + size)
        buffer.resize(offset + size);
    for (std::size_t i = 0; i < size; ++i)
        buffer[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    offset += size;
}

std::uint64_t GetLE(std::span<const std::uint8_t> buffer, std::size_t& offset, std::size_t size) {
    if (offset > buffer.size() || buffer.size() - offset < size)
        CRVRaise(KCountersReadCode, offset, buffer.size(), size,
                 offset > buffer.size() ? 0 : buffer.size() - offset);
    std::uint64_t value = 0;
    for (std::size_t i = size; i-- > 0;)
        value = (value << 8) | static_cast<std::uint64_t>(buffer[offset + i]);
    offset += size;
    return value;
}

void PutI64Array(std::vector<std::uint8_t>& buffer, std::size_t& offset,
                 const std::vector<std::int64_t>& values) {
    PutLE(buffer, offset, static_cast<std::uint32_t>(values.size()), 4);
    for (std::int64_t v : values)
        PutLE(buffer, offset, static_cast<std::uint64_t>(v), 8);
}

std::vector<std::int64_t> GetI64Array(std::span<const std::uint8_t> buffer, std::size_t& offset) {
    const std::size_t at = offset;
    const auto count = static_cast<std::int32_t>(GetLE(buffer, offset, 4));
    if (count < 0 || static_cast<std::size_t>(count) > (buffer.size() - offset) / 8)
        CRVRaise(KCountersReadCode, at, buffer.size(), 4 + 8 * static_cast<std::int64_t>(count),
                 buffer.size() - at);
    std::vector<std::int64_t> values(static_cast<std::size_t>(count));
    for (std::int64_t& v : values)
        v = static_cast<std::int64_t>(GetLE(buffer, offset, 8));
    return values;
}

} // namespace

std::optional<std::int64_t> TCRVSessionAutoincValues::FindLastAutoinc(std::int32_t tableID,
                                                                      std::int32_t fieldNo) const {
    const auto it = FValues.find({tableID, fieldNo});
    if (it == FValues.end())
        return std::nullopt;
    return it->second;
}

TCRVBaseFieldManager::TCRVBaseFieldManager(TCRVFieldDefs fieldDefs) : FFieldDefs(std::move(fieldDefs)) {
    FFieldDefs.RecalcFieldOffsets();
    InitLastAutoIncValues();
}

void TCRVBaseFieldManager::CheckFieldNo(std::int32_t fieldNo, int code) const {
    if (fieldNo < 0 || fieldNo >= FFieldDefs.Count() ||
        static_cast<std::size_t>(fieldNo) >= FLastAutoIncValues.size())
        CRVRaise(code, fieldNo);
}

std::int64_t TCRVBaseFieldManager::GetNextAutoincVal(std::int32_t FieldNo) {
    CheckFieldNo(FieldNo, 30402);
    const TCRVFieldDef& def = FFieldDefs[FieldNo];
    std::int64_t& last = FLastAutoIncValues[static_cast<std::size_t>(FieldNo)];
    const std::int64_t increment = def.AutoincIncrement == 0 ? 1 : def.AutoincIncrement;
    std::int64_t next = 0;
    // A counter that would leave the i64 range has passed every maximum.
    const bool overflow = __builtin_add_overflow(last, increment, &next);
    if ((def.AutoincMaxValue != 0 && next > def.AutoincMaxValue) || (overflow && increment > 0)) {
        if (!def.AutoincCycled)
            CRVRaise(20160, def.Name);
        next = def.AutoincMinValue;
    }
    last = next;
    return last;
}

void TCRVBaseFieldManager::ApplyDefaultValuesToRecordBuffer(std::span<std::byte> MemoryRecord) const {
    const TCRVRecordLayout& layout = FFieldDefs.Layout();
    for (std::int32_t i = 0; i < FFieldDefs.Count(); ++i) {
        const TCRVFieldDef& def = FFieldDefs[i];
        if (IsBLOBFieldType(def.BaseFieldType) || def.DefaultValue.IsNull)
            continue;
        const TCRVVariant value = CRVCastVariant(def.DefaultValue, def.BaseFieldType);
        if (value.IsNull)
            continue;
        const TCRVFieldLayout& f = layout.Field(i);
        if (MemoryRecord.size() < static_cast<std::size_t>(f.MemoryOffset + f.MemoryDataSize))
            CRVRaise(10002, i, f.MemoryOffset, f.MemoryDataSize);
        CRVWriteVariantToField(value, MemoryRecord.subspan(static_cast<std::size_t>(f.MemoryOffset),
                                                           static_cast<std::size_t>(f.MemoryDataSize)));
        SetNullFlag(false, i, MemoryRecord);
    }
}

std::int64_t TCRVBaseFieldManager::ReadAutoincField(std::int32_t fieldNo,
                                                    std::span<const std::byte> record) const {
    const TCRVFieldLayout& f = FFieldDefs.Layout().Field(fieldNo);
    const auto size = static_cast<std::size_t>(f.MemoryDataSize);
    if (record.size() < static_cast<std::size_t>(f.MemoryOffset) + size || size > 8)
        CRVRaise(10002, fieldNo, f.MemoryOffset, f.MemoryDataSize);
    std::uint64_t value = 0;
    for (std::size_t i = size; i-- > 0;)
        value =
            (value << 8) | static_cast<std::uint64_t>(record[static_cast<std::size_t>(f.MemoryOffset) + i]);
    if (IsSignedIntegerFieldType(f.BaseFieldType) && size < 8 && (value >> (8 * size - 1)) != 0)
        value |= ~std::uint64_t{0} << (8 * size); // sign-extend
    return static_cast<std::int64_t>(value);
}

void TCRVBaseFieldManager::ApplyAutoincsToRecordBuffer(TCRVAutoincSession& Session,
                                                       std::span<std::byte> MemoryRecord) {
    const TCRVRecordLayout& layout = FFieldDefs.Layout();
    for (std::int32_t i = 0; i < FFieldDefs.Count(); ++i) {
        if (!IsAutoincFieldType(FFieldDefs[i].AdvancedFieldType))
            continue;
        if (!CheckNullFlag(i, MemoryRecord)) {
            UpdateLastAutoinc(Session, i, ReadAutoincField(i, MemoryRecord));
            continue;
        }
        const std::int64_t value = GetNextAutoinc(Session, i);
        const TCRVFieldLayout& f = layout.Field(i);
        if (MemoryRecord.size() < static_cast<std::size_t>(f.MemoryOffset + f.MemoryDataSize) ||
            f.MemoryDataSize > 8)
            CRVRaise(10002, i, f.MemoryOffset, f.MemoryDataSize);
        for (std::int32_t b = 0; b < f.MemoryDataSize; ++b) // the low bytes of the value
            MemoryRecord[static_cast<std::size_t>(f.MemoryOffset + b)] =
                static_cast<std::byte>(static_cast<std::uint64_t>(value) >> (8 * b));
        SetNullFlag(false, i, MemoryRecord);
    }
}

std::int64_t TCRVBaseFieldManager::GetNextAutoinc(TCRVAutoincSession& Session, std::int32_t FieldNo) {
    const std::int64_t value = GetNextAutoincVal(FieldNo);
    Session.SetLastAutoinc(TableID, FieldNo, value);
    return value;
}

std::int64_t TCRVBaseFieldManager::GetLastAutoinc(TCRVAutoincSession& Session, std::int32_t FieldNo) const {
    CheckFieldNo(FieldNo, 30403);
    if (const auto value = Session.FindLastAutoinc(TableID, FieldNo))
        return *value;
    if (Session.IsMultiUser())
        CRVRaise(30012, FFieldDefs[FieldNo].Name);
    return FLastAutoIncValues[static_cast<std::size_t>(FieldNo)];
}

void TCRVBaseFieldManager::UpdateLastAutoinc(TCRVAutoincSession& Session, std::int32_t FieldNo,
                                             std::int64_t Value) {
    CheckFieldNo(FieldNo, 30403);
    std::int64_t& last = FLastAutoIncValues[static_cast<std::size_t>(FieldNo)];
    if (Value <= last)
        return;
    last = Value;
    Session.SetLastAutoinc(TableID, FieldNo, Value);
}

void TCRVBaseFieldManager::DiskRecordBufferToMemRecordBuffer(std::span<const std::byte> Disk,
                                                             std::span<std::byte> Mem) const {
    FFieldDefs.Layout().DiskToMemory(Disk, Mem);
}

void TCRVBaseFieldManager::MemRecordBufferToDiskRecordBuffer(std::span<const std::byte> Mem,
                                                             std::span<std::byte> Disk) const {
    FFieldDefs.Layout().MemoryToDisk(Mem, Disk);
}

bool TCRVBaseFieldManager::CompareRecordBuffers(std::span<const std::byte> A,
                                                std::span<const std::byte> B) const {
    return FFieldDefs.Layout().Equal(A, B);
}

bool TCRVBaseFieldManager::BlobFieldsPresent() const {
    for (const TCRVFieldDef& def : FFieldDefs) {
        if (!IsBLOBFieldType(def.BaseFieldType))
            continue;
        if (def.BLOBBlockSize <= 0)
            CRVRaise(10421, def.Name);
        return true;
    }
    return false;
}

void TCRVBaseFieldManager::InitLastAutoIncValues() {
    FLastAutoIncValues.assign(static_cast<std::size_t>(FFieldDefs.Count()), 0);
    for (std::int32_t i = 0; i < FFieldDefs.Count(); ++i)
        if (IsAutoincFieldType(FFieldDefs[i].AdvancedFieldType))
            FLastAutoIncValues[static_cast<std::size_t>(i)] = FFieldDefs[i].AutoincInitialValue;
}

void TCRVBaseFieldManager::SaveMetadata(TCRVStream& Stream) const {
    TCRVMetadataWriter writer(Stream);
    FFieldDefs.SaveToStream(writer);
}

void TCRVBaseFieldManager::LoadMetadata(TCRVStream& Stream) {
    TCRVMetadataReader reader(Stream);
    FFieldDefs.LoadFromStream(reader);
    InitLastAutoIncValues();
}

void TCRVBaseFieldManager::SaveMostUpdated(std::vector<std::uint8_t>& Buffer, std::size_t& Offset) const {
    PutI64Array(Buffer, Offset, FLastAutoIncValues);
}

void TCRVBaseFieldManager::LoadMostUpdated(std::span<const std::uint8_t> Buffer, std::size_t& Offset) {
    std::size_t at = Offset;
    std::vector<std::int64_t> values = GetI64Array(Buffer, at);
    if (static_cast<std::int32_t>(values.size()) != FFieldDefs.Count())
        CRVRaiseText(KCountersReadCode, "Invalid counters: %d values for %d fields", values.size(),
                     FFieldDefs.Count());
    FLastAutoIncValues = std::move(values);
    Offset = at;
}

std::vector<std::uint8_t> CRVEncodeTableCounters(const TCRVTableCounters& counters) {
    std::vector<std::uint8_t> buffer;
    std::size_t offset = 0;
    PutI64Array(buffer, offset, counters.LastAutoIncValues);
    PutLE(buffer, offset, static_cast<std::uint32_t>(counters.TableState), 4);
    PutLE(buffer, offset, static_cast<std::uint32_t>(counters.RecordCount), 4);
    return buffer;
}

TCRVTableCounters CRVDecodeTableCounters(std::span<const std::uint8_t> buffer) {
    TCRVTableCounters counters;
    std::size_t offset = 0;
    counters.LastAutoIncValues = GetI64Array(buffer, offset);
    counters.TableState = static_cast<std::int32_t>(static_cast<std::uint32_t>(GetLE(buffer, offset, 4)));
    counters.RecordCount = static_cast<std::int32_t>(static_cast<std::uint32_t>(GetLE(buffer, offset, 4)));
    return counters;
}
