// The field manager of an open table: owns the table's field definitions, fills new records with
// defaults and auto-increment values, converts records between their memory and disk forms, and
// keeps the auto-increment counters (one signed 64-bit last value per field).
//
// Counters in the table's counters file (the field manager's part comes first):
//   SIZE        FIELD
//   4           count C (the field count)
//   C x 8       last value of each field (0 for fields that are not auto-increment)
// followed by the record manager's part: FTableState (i32) and the row count's low 32 bits (i32).
#pragma once

#include "CRVBase/CRVFieldDef.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <utility>
#include <vector>

// What the field manager needs of a session: whether it is multi-user, and its own record of the
// auto-increment values it produced or supplied, per table and field.
class TCRVAutoincSession {
public:
    virtual ~TCRVAutoincSession() = default;
    virtual bool IsMultiUser() const = 0;
    virtual void SetLastAutoinc(std::int32_t tableID, std::int32_t fieldNo, std::int64_t value) = 0;
    virtual std::optional<std::int64_t> FindLastAutoinc(std::int32_t tableID, std::int32_t fieldNo) const = 0;
};

// A plain in-memory record of a session's auto-increment values.
class TCRVSessionAutoincValues : public TCRVAutoincSession {
public:
    explicit TCRVSessionAutoincValues(bool multiUser = false) : FMultiUser(multiUser) {}
    bool IsMultiUser() const override { return FMultiUser; }
    void SetLastAutoinc(std::int32_t tableID, std::int32_t fieldNo, std::int64_t value) override {
        FValues[{tableID, fieldNo}] = value;
    }
    std::optional<std::int64_t> FindLastAutoinc(std::int32_t tableID, std::int32_t fieldNo) const override;

private:
    bool FMultiUser;
    std::map<std::pair<std::int32_t, std::int32_t>, std::int64_t> FValues;
};

class TCRVBaseFieldManager {
public:
    TCRVBaseFieldManager() = default;
    explicit TCRVBaseFieldManager(TCRVFieldDefs fieldDefs);
    virtual ~TCRVBaseFieldManager() = default;

    // The table id under which sessions record this table's values.
    std::int32_t TableID = -1;

    TCRVFieldDefs& FieldDefs() { return FFieldDefs; }
    const TCRVFieldDefs& FieldDefs() const { return FFieldDefs; }
    const std::vector<std::int64_t>& LastAutoIncValues() const { return FLastAutoIncValues; }

    // Advances the field's counter: last + AutoincIncrement (1 when that is 0); past a non-zero
    // AutoincMaxValue it restarts at AutoincMinValue when cycling, else raises 20160.
    virtual std::int64_t GetNextAutoincVal(std::int32_t FieldNo);
    // Writes each non-BLOB field's non-null default into a fresh record and clears its null bit.
    virtual void ApplyDefaultValuesToRecordBuffer(std::span<std::byte> MemoryRecord) const;
    // Fills NULL auto-increment fields with new values; a supplied value raises the counter when
    // it is greater than the last value.
    virtual void ApplyAutoincsToRecordBuffer(TCRVAutoincSession& Session, std::span<std::byte> MemoryRecord);
    // GetNextAutoincVal, recorded as the session's last value.
    virtual std::int64_t GetNextAutoinc(TCRVAutoincSession& Session, std::int32_t FieldNo);
    // The session's last value, else (single-user) the table's; 30012 in a multi-user session
    // that has none.
    virtual std::int64_t GetLastAutoinc(TCRVAutoincSession& Session, std::int32_t FieldNo) const;

    void DiskRecordBufferToMemRecordBuffer(std::span<const std::byte> Disk, std::span<std::byte> Mem) const;
    void MemRecordBufferToDiskRecordBuffer(std::span<const std::byte> Mem, std::span<std::byte> Disk) const;
    bool CompareRecordBuffers(std::span<const std::byte> A, std::span<const std::byte> B) const;
    // True when the table has a BLOB field; the first one must have a BLOBBlockSize above 0 (10421).
    bool BlobFieldsPresent() const;
    // Each auto-increment field's last value becomes its AutoincInitialValue, the others 0.
    void InitLastAutoIncValues();
    // Raises the field's last value to Value when greater, and then records it in the session.
    void UpdateLastAutoinc(TCRVAutoincSession& Session, std::int32_t FieldNo, std::int64_t Value);

    void SaveMetadata(TCRVStream& Stream) const;
    // Replaces the field definitions with the stored ones; the counters start from their
    // initial values (the counters file overwrites them).
    void LoadMetadata(TCRVStream& Stream);
    // Appends the counters at Offset (the buffer grows as needed) and moves Offset past them.
    void SaveMostUpdated(std::vector<std::uint8_t>& Buffer, std::size_t& Offset) const;
    // Reads the counters at Offset and moves Offset past them; a short buffer or a count that is
    // not the field count raises 30416.
    void LoadMostUpdated(std::span<const std::uint8_t> Buffer, std::size_t& Offset);

private:
    void CheckFieldNo(std::int32_t fieldNo, int code) const;
    // The field's value widened to 64 bits (sign-extended for the signed integer types).
    std::int64_t ReadAutoincField(std::int32_t fieldNo, std::span<const std::byte> record) const;

    TCRVFieldDefs FFieldDefs;
    std::vector<std::int64_t> FLastAutoIncValues;
};

// The whole counters file of a table: the field manager's counters, the change counter and the
// row count (stored as its low 32 bits, read back sign-extended).
struct TCRVTableCounters {
    std::vector<std::int64_t> LastAutoIncValues;
    std::int32_t TableState = 0;
    std::int64_t RecordCount = 0;
    friend bool operator==(const TCRVTableCounters&, const TCRVTableCounters&) = default;
};

std::vector<std::uint8_t> CRVEncodeTableCounters(const TCRVTableCounters& counters);
// 30416 when the buffer is short.
TCRVTableCounters CRVDecodeTableCounters(std::span<const std::uint8_t> buffer);
