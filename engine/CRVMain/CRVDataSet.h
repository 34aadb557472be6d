// The dataset framework the table components sit on: dataset states, the record buffers with
// their bookmark, field objects by name with typed accessors, and BLOB streams.
//
// Dataset record buffer: the memory record, then at BookmarkOffset (= the memory record's size)
// a 7-byte bookmark:
//   OFFSET  SIZE  FIELD
//   0       6     RecordID  the row's record id; (-1, 0xFFFF) on a new row until it is posted
//   6       1     Flag      0 = a row read from the table, 3 = inserted (kept after the post)
// A key buffer is a memory record followed by its status: Modified (u8), Exclusive (u8),
// FieldCount (i32).
//
// States: inactive -> browse (Open); browse -> insert (Append; Edit on a table showing no rows)
// / edit (Edit) / key entry (SetKey); insert and edit -> browse by a successful Post or by
// Cancel (a failed Post stays where it was, its values kept); key entry -> browse by GotoKey
// (key kept) or Cancel (key restored).
//
// Field reads of a NULL field give the kind's empty value (empty text, 0, false); Value() gives
// std::monostate. Writes are allowed in edit, insert and key-entry state (10007 otherwise); in
// key entry only to fields of the active index (20019). An empty text stores NULL; text longer
// than a single-byte string field is cut to its size. Date-times are day counts since
// 1899-12-30 (CRVEncodeDateTime), exact to the millisecond.
//
// Threads: a dataset, its fields and its streams serve one thread at a time.
#pragma once

#include "CRVCompression/CRVStream.h"
#include "CRVLocalEngine/CRVLocalCursor.h"
#include "CRVTypes/CRVVariant.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

enum class TCRVDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert, dsSetKey };
enum class TCRVBlobStreamMode { bmRead, bmWrite, bmReadWrite };

#pragma pack(push, 1)
// The bookmark at the end of a dataset record buffer (table above).
struct TCRVBookmark {
    TCRVRecordID RecordID;
    std::uint8_t Flag;
};
// The status at the end of a key buffer.
//   OFFSET  SIZE  FIELD
//   0       1     Modified
//   1       1     Exclusive
//   2       4     FieldCount   key fields in use; 0 = every column of the active index
struct TCRVKeyBufferStatus {
    std::uint8_t Modified;
    std::uint8_t Exclusive;
    std::int32_t FieldCount;
};
#pragma pack(pop)
static_assert(sizeof(TCRVBookmark) == 7, "a bookmark is 7 bytes");
static_assert(sizeof(TCRVKeyBufferStatus) == 6, "a key buffer status is 6 bytes");

constexpr std::uint8_t KCRVBookmarkRead = 0;
constexpr std::uint8_t KCRVBookmarkInserted = 3;

// A moment as a day count since 1899-12-30 (the fraction is the part of the day); false for an
// invalid date or time.
bool CRVTryEncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec,
                          double& value);
double CRVEncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                         int msec = 0);
// "YYYY-MM-DD HH:MM:SS.mmm"
std::string CRVDateTimeToText(double value);

class TCRVDataSet;

class TCRVField {
public:
    TCRVField(TCRVDataSet& dataSet, const TCRVFieldDef& def) : LDataSet(dataSet), LDef(def) {}

    const std::string& FieldName() const { return LDef.Name; }
    std::int32_t FieldNo() const { return LDef.FieldNoReference; }
    TCRVAdvancedFieldType DataType() const { return LDef.AdvancedFieldType; }
    std::int32_t Size() const { return LDef.FieldSize; }
    bool IsBlob() const;
    const TCRVFieldDef& Def() const { return LDef; }

    bool IsNull() const;
    // The value as it is (BLOB fields: memos as text, binary BLOBs as bytes).
    TCRVValue Value() const;
    void SetValue(const TCRVValue& value);
    void Clear() { SetValue(std::monostate{}); }

    std::string AsString() const;
    void SetAsString(std::string_view value);
    std::int32_t AsInteger() const { return static_cast<std::int32_t>(AsLargeInt()); }
    void SetAsInteger(std::int32_t value) { SetAsLargeInt(value); }
    std::int64_t AsLargeInt() const;
    void SetAsLargeInt(std::int64_t value) { SetValue(value); }
    double AsFloat() const;
    void SetAsFloat(double value) { SetValue(value); }
    double AsDateTime() const { return AsFloat(); }
    void SetAsDateTime(double value) { SetValue(value); }
    bool AsBoolean() const;
    void SetAsBoolean(bool value) { SetValue(value); }

private:
    TCRVDataSet& LDataSet;
    const TCRVFieldDef& LDef;
};

class TCRVDataSetBlobStream;

class TCRVDataSet {
public:
    TCRVDataSet() = default;
    virtual ~TCRVDataSet();
    TCRVDataSet(const TCRVDataSet&) = delete;
    TCRVDataSet& operator=(const TCRVDataSet&) = delete;

    void Open();
    virtual void Close();
    bool Active() const { return FState != TCRVDataSetState::dsInactive; }
    TCRVDataSetState State() const { return FState; }
    bool ReadOnly = false;

    void First();
    void Last();
    void Next();
    void Prior();
    bool Eof() const { return FEof; }
    bool Bof() const { return FBof; }
    bool IsEmpty() const { return FEof && FBof; }
    std::int64_t RecordCount();

    void SetKey();
    bool GotoKey();
    // SetKey, the values assigned to the active index's columns in order, GotoKey.
    bool FindKey(std::span<const TCRVValue> values);
    void Append();
    void Insert() { Append(); }
    void Edit();
    void Post();
    void Cancel();
    void Delete();

    TCRVField& FieldByName(std::string_view name);
    TCRVField* FindField(std::string_view name);
    const std::vector<std::unique_ptr<TCRVField>>& Fields() const { return FFields; }
    TCRVBookmark Bookmark() const;
    // The active buffer's memory record (the key buffer in key entry).
    std::span<const std::byte> ActiveRecord() const;

    // A stream over a BLOB field of the active record: a write or read-write stream needs edit
    // or insert state (10111) and a dataset that is not read-only (10107); only one write stream
    // per field (10115). The stream must be destroyed (or the dataset closed) before the row is
    // posted; Post and Cancel close the streams still open.
    std::unique_ptr<TCRVStream> CreateBlobStream(TCRVField& field, TCRVBlobStreamMode mode);

    // Field access used by TCRVField.
    TCRVValue GetFieldValue(const TCRVFieldDef& def);
    void SetFieldValue(const TCRVFieldDef& def, const TCRVValue& value);
    // Called by a stream as it closes.
    void CloseBlobStream(TCRVDataSetBlobStream& stream) noexcept;

protected:
    // Made by the table component: a cursor on its table, not yet open.
    virtual std::unique_ptr<TCRVLocalCursor> CreateCursor() = 0;
    virtual void AfterCursorClosed() {}
    TCRVLocalCursor& Cursor();
    void CheckBrowseOrInactive(const char* operation) const;
    // Posts a pending edit or insert.
    void CheckBrowseMode();
    // Re-reads the current row (after an index switch).
    void Resync();

private:
    std::span<std::byte> Record() { return {FBuffer.data(), FRecordSize}; }
    void SetBookmark(const TCRVRecordID& id, std::uint8_t flag);
    void Fetch(TCRVGetRecordMode mode);
    void ShowEmpty();
    void CloseBlobStreams() noexcept;
    void CheckActive() const;
    void CheckWritable(const TCRVFieldDef& def) const;
    std::span<std::byte> ActiveBuffer();
    TCRVValue ReadBlob(const TCRVFieldDef& def);
    void WriteBlob(const TCRVFieldDef& def, const TCRVValue& value);

    std::unique_ptr<TCRVLocalCursor> FCursor;
    TCRVDataSetState FState = TCRVDataSetState::dsInactive;
    std::size_t FRecordSize = 0;
    std::vector<std::byte> FBuffer;    // memory record + bookmark
    std::vector<std::byte> FEditCopy;  // the row as it was when the edit began
    std::vector<std::byte> FKeyBuffer; // memory record + key status
    std::vector<std::byte> FSavedKey;  // the key before SetKey, for Cancel
    bool FEof = true;
    bool FBof = true;
    bool FHasRow = false;
    std::vector<std::unique_ptr<TCRVField>> FFields;
    std::vector<TCRVDataSetBlobStream*> FBlobStreams;
};
