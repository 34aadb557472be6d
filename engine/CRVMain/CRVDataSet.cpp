#include "CRVMain/CRVDataSet.h"

#include "CRVExcept/CRVExcept.h"
#include "CRVLocalEngine/CRVFieldValue.h"
#include "CRVMain/CRVDatabase.h"
#include "CRVTypes/CRVDateTime.h"
#include "CRVTypes/CRVRecordLayout.h"
#include "CRVTypes/CRVText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

// --- Date-times ---

bool CRVTryEncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec,
                          double& value) {
    double date = 0;
    if (!CRVTryEncodeDate(year, month, day, date))
        return false;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 ||
        msec > 999)
        return false;
    const double time = ((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + msec;
    value = date >= 0 ? date + time / CRVMSecsPerDay : date - time / CRVMSecsPerDay;
    return true;
}

double CRVEncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec) {
    double value = 0;
    if (!CRVTryEncodeDateTime(year, month, day, hour, minute, second, msec, value))
        throw EDatabaseError("Invalid date or time");
    return value;
}

std::string CRVDateTimeToText(double value) {
    const TCRVDateTime stored = DateTimeToCRVDateTime(value);
    int year = 0, month = 0, day = 0;
    CRVDecodeDate(static_cast<double>(stored.Date - CRVDateDelta), year, month, day);
    const std::int32_t ms = std::abs(stored.Time);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", year, month, day, ms / 3600000,
                  ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
    return text;
}

// --- BLOB streams of a dataset ---

class TCRVDataSetBlobStream : public TCRVStream {
public:
    TCRVDataSetBlobStream(TCRVDataSet& dataSet, TCRVTableData& table,
                          std::unique_ptr<TCRVBlobFieldStream> stream, std::span<std::byte> record,
                          std::int32_t fieldNo, TCRVBlobStreamMode mode)
        : LDataSet(&dataSet), LTable(table), FStream(std::move(stream)), FRecord(record), FFieldNo(fieldNo),
          FMode(mode) {}
    ~TCRVDataSetBlobStream() override {
        if (LDataSet)
            LDataSet->CloseBlobStream(*this);
    }

    std::int64_t Read(void* buffer, std::int64_t count) override { return Live().Read(buffer, count); }
    std::int64_t Write(const void* buffer, std::int64_t count) override {
        if (FMode == TCRVBlobStreamMode::bmRead)
            CRVRaiseText(10115, "Cannot write to read only stream");
        return Live().Write(buffer, count);
    }
    std::int64_t Seek(std::int64_t offset, TCRVSeekOrigin origin) override {
        return Live().Seek(offset, origin);
    }
    std::int64_t GetSize() override { return Live().GetSize(); }
    void SetSize(std::int64_t newSize) override {
        if (FMode == TCRVBlobStreamMode::bmRead)
            CRVRaiseText(10116, "Cannot write to read only stream");
        Live().SetSize(newSize);
    }

    std::int32_t FieldNo() const { return FFieldNo; }
    bool Writes() const { return FMode != TCRVBlobStreamMode::bmRead; }
    // Puts a written value into the record buffer's cache, or releases an unchanged value's
    // cache; the stream is unusable afterwards.
    void Finish() noexcept {
        if (!FStream)
            return;
        try {
            if (FStream->Modified())
                FStream->Finish();
            else
                LTable.ReleaseBlobCache(FRecord, FFieldNo, false);
        } catch (...) {
            // The value stays as it was before the stream.
        }
        FStream.reset();
        LDataSet = nullptr;
    }

private:
    TCRVBlobFieldStream& Live() {
        if (!FStream)
            throw EDatabaseError("BLOB stream is closed");
        return *FStream;
    }

    TCRVDataSet* LDataSet;
    TCRVTableData& LTable;
    std::unique_ptr<TCRVBlobFieldStream> FStream;
    std::span<std::byte> FRecord;
    std::int32_t FFieldNo;
    TCRVBlobStreamMode FMode;
};

// --- Fields ---

bool TCRVField::IsBlob() const {
    return IsBLOBFieldType(LDef.BaseFieldType);
}

bool TCRVField::IsNull() const {
    return CheckNullFlag(LDef.FieldNoReference, LDataSet.ActiveRecord());
}

TCRVValue TCRVField::Value() const {
    return LDataSet.GetFieldValue(LDef);
}

void TCRVField::SetValue(const TCRVValue& value) {
    LDataSet.SetFieldValue(LDef, value);
}

std::string TCRVField::AsString() const {
    const TCRVValue value = Value();
    if (IsDateTimeFieldType(LDef.BaseFieldType) && std::holds_alternative<double>(value))
        return CRVDateTimeToText(std::get<double>(value));
    if (const auto* bytes = std::get_if<std::vector<std::byte>>(&value))
        return std::string(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    return CRVValueToText(value);
}

void TCRVField::SetAsString(std::string_view value) {
    SetValue(std::string(value));
}

std::int64_t TCRVField::AsLargeInt() const {
    const TCRVValue value = Value();
    if (const auto* i = std::get_if<std::int64_t>(&value))
        return *i;
    if (const auto* d = std::get_if<double>(&value))
        return static_cast<std::int64_t>(std::llround(*d));
    if (const auto* b = std::get_if<bool>(&value))
        return *b ? 1 : 0;
    if (const auto* s = std::get_if<std::string>(&value)) {
        std::int64_t out = 0;
        if (std::from_chars(s->data(), s->data() + s->size(), out).ec != std::errc{})
            throw EDatabaseError("'" + *s + "' is not a valid integer value");
        return out;
    }
    return 0;
}

double TCRVField::AsFloat() const {
    const TCRVValue value = Value();
    if (const auto* d = std::get_if<double>(&value))
        return *d;
    if (const auto* i = std::get_if<std::int64_t>(&value))
        return static_cast<double>(*i);
    if (const auto* b = std::get_if<bool>(&value))
        return *b ? 1 : 0;
    if (const auto* s = std::get_if<std::string>(&value)) {
        try {
            return std::stod(*s);
        } catch (...) {
            throw EDatabaseError("'" + *s + "' is not a valid floating point value");
        }
    }
    return 0;
}

bool TCRVField::AsBoolean() const {
    const TCRVValue value = Value();
    if (const auto* b = std::get_if<bool>(&value))
        return *b;
    if (const auto* s = std::get_if<std::string>(&value))
        return CRVSameName(*s, "true");
    if (std::holds_alternative<std::monostate>(value))
        return false;
    return AsLargeInt() != 0;
}

// --- Dataset ---

TCRVDataSet::~TCRVDataSet() = default;

TCRVLocalCursor& TCRVDataSet::Cursor() {
    if (!FCursor)
        CRVRaise(10029);
    return *FCursor;
}

void TCRVDataSet::CheckActive() const {
    if (FState == TCRVDataSetState::dsInactive)
        CRVRaise(10029);
}

void TCRVDataSet::CheckBrowseOrInactive(const char* operation) const {
    if (FState != TCRVDataSetState::dsInactive)
        throw EDatabaseError(std::string("Cannot perform '") + operation + "' on an open dataset");
}

void TCRVDataSet::Open() {
    if (Active())
        return;
    auto cursor = CreateCursor();
    try {
        cursor->Open();
    } catch (...) {
        cursor.reset();
        AfterCursorClosed();
        throw;
    }
    const TCRVFieldDefs& defs = cursor->Table().FieldDefs();
    FRecordSize = static_cast<std::size_t>(defs.GetMemoryRecordBufferSize());
    FBuffer.assign(FRecordSize + sizeof(TCRVBookmark), std::byte{0});
    FKeyBuffer.assign(FRecordSize + sizeof(TCRVKeyBufferStatus), std::byte{0});
    cursor->Table().InitRecord({FKeyBuffer.data(), FRecordSize}, false);
    FFields.clear();
    for (const TCRVFieldDef& def : defs)
        FFields.push_back(std::make_unique<TCRVField>(*this, def));
    FCursor = std::move(cursor);
    FState = TCRVDataSetState::dsBrowse;
    First();
}

void TCRVDataSet::Close() {
    if (!Active())
        return;
    CloseBlobStreams();
    if (FCursor && FCursor->Active())
        FCursor->Table().ReleaseBlobCaches(Record());
    FFields.clear();
    FCursor.reset();
    FState = TCRVDataSetState::dsInactive;
    FEof = FBof = true;
    FHasRow = false;
    AfterCursorClosed();
}

void TCRVDataSet::SetBookmark(const TCRVRecordID& id, std::uint8_t flag) {
    const TCRVBookmark bookmark{id, flag};
    std::memcpy(FBuffer.data() + FRecordSize, &bookmark, sizeof bookmark);
}

TCRVBookmark TCRVDataSet::Bookmark() const {
    TCRVBookmark bookmark{};
    if (FBuffer.size() >= FRecordSize + sizeof bookmark)
        std::memcpy(&bookmark, FBuffer.data() + FRecordSize, sizeof bookmark);
    return bookmark;
}

std::span<const std::byte> TCRVDataSet::ActiveRecord() const {
    CheckActive();
    if (FState == TCRVDataSetState::dsSetKey)
        return {FKeyBuffer.data(), FRecordSize};
    return {FBuffer.data(), FRecordSize};
}

std::span<std::byte> TCRVDataSet::ActiveBuffer() {
    if (FState == TCRVDataSetState::dsSetKey)
        return {FKeyBuffer.data(), FRecordSize};
    return Record();
}

void TCRVDataSet::ShowEmpty() {
    Cursor().Table().ReleaseBlobCaches(Record());
    Cursor().Table().InitRecord(Record(), false);
    SetBookmark({KCRVNoPage, 0xFFFF}, KCRVBookmarkRead);
    FHasRow = false;
    FEof = FBof = true;
}

void TCRVDataSet::CheckBrowseMode() {
    CheckActive();
    if (FState == TCRVDataSetState::dsEdit || FState == TCRVDataSetState::dsInsert)
        Post();
    else if (FState == TCRVDataSetState::dsSetKey)
        Cancel();
}

void TCRVDataSet::Fetch(TCRVGetRecordMode mode) {
    TCRVLocalCursor& cursor = Cursor();
    const TCRVIndexCursor saved = cursor.SavePosition();
    std::vector<std::byte> row(FRecordSize);
    const TCRVGetRecordResult result = cursor.GetRecord(row, mode);
    if (result == grrOK) {
        cursor.Table().ReleaseBlobCaches(Record());
        std::copy(row.begin(), row.end(), FBuffer.begin());
        SetBookmark(cursor.CurrentRecordID(), KCRVBookmarkRead);
        FHasRow = true;
        FEof = FBof = false;
        return;
    }
    if (result == grrError)
        CRVRaise(10026);
    if (FHasRow)
        cursor.RestorePosition(saved);
    (mode == grmPrior ? FBof : FEof) = true;
}

void TCRVDataSet::First() {
    CheckBrowseMode();
    Cursor().InternalFirst();
    FHasRow = false;
    Fetch(grmNext);
    if (!FHasRow)
        ShowEmpty();
    else
        FBof = true;
}

void TCRVDataSet::Last() {
    CheckBrowseMode();
    Cursor().InternalLast();
    FHasRow = false;
    Fetch(grmPrior);
    if (!FHasRow)
        ShowEmpty();
    else
        FEof = true;
}

void TCRVDataSet::Next() {
    CheckBrowseMode();
    if (!FEof)
        Fetch(grmNext);
}

void TCRVDataSet::Prior() {
    CheckBrowseMode();
    if (!FBof)
        Fetch(grmPrior);
}

void TCRVDataSet::Resync() {
    if (!FHasRow)
        return;
    std::vector<std::byte> row(FRecordSize);
    if (Cursor().GetRecord(row, grmCurrent) == grrOK) {
        Cursor().Table().ReleaseBlobCaches(Record());
        std::copy(row.begin(), row.end(), FBuffer.begin());
    }
}

std::int64_t TCRVDataSet::RecordCount() {
    return Active() ? Cursor().RecordCount() : 0;
}

void TCRVDataSet::SetKey() {
    CheckBrowseMode();
    FSavedKey = FKeyBuffer;
    std::fill(FKeyBuffer.begin(), FKeyBuffer.end(), std::byte{0});
    Cursor().Table().InitRecord({FKeyBuffer.data(), FRecordSize}, false);
    FState = TCRVDataSetState::dsSetKey;
}

bool TCRVDataSet::GotoKey() {
    CheckActive();
    if (FState == TCRVDataSetState::dsSetKey)
        FState = TCRVDataSetState::dsBrowse;
    CheckBrowseMode();
    std::vector<std::byte> row(FRecordSize);
    if (!Cursor().GotoKey({FKeyBuffer.data(), FRecordSize}, row))
        return false;
    Cursor().Table().ReleaseBlobCaches(Record());
    std::copy(row.begin(), row.end(), FBuffer.begin());
    SetBookmark(Cursor().CurrentRecordID(), KCRVBookmarkRead);
    FHasRow = true;
    FEof = FBof = false;
    return true;
}

bool TCRVDataSet::FindKey(std::span<const TCRVValue> values) {
    SetKey();
    const TCRVIndexDef* index = Cursor().ActiveIndex();
    if (!index || static_cast<std::size_t>(index->ColumnCount()) < values.size()) {
        Cancel();
        CRVRaise(10325, Cursor().IndexName());
    }
    for (std::size_t i = 0; i < values.size(); ++i)
        FieldByName(index->Columns[i].FieldName).SetValue(values[i]);
    return GotoKey();
}

void TCRVDataSet::Append() {
    CheckBrowseMode();
    if (ReadOnly || Cursor().ReadOnly())
        CRVRaise(10032);
    Cursor().Table().ReleaseBlobCaches(Record());
    Cursor().Table().InitRecord(Record(), true);
    SetBookmark({KCRVNoPage, 0xFFFF}, KCRVBookmarkInserted);
    FState = TCRVDataSetState::dsInsert;
}

void TCRVDataSet::Edit() {
    CheckActive();
    if (FState == TCRVDataSetState::dsEdit || FState == TCRVDataSetState::dsInsert)
        return;
    if (ReadOnly || Cursor().ReadOnly())
        CRVRaise(10032);
    if (!FHasRow) {
        Append();
        return;
    }
    FEditCopy.assign(FBuffer.begin(), FBuffer.begin() + static_cast<std::ptrdiff_t>(FRecordSize));
    FState = TCRVDataSetState::dsEdit;
}

void TCRVDataSet::Post() {
    CheckActive();
    if (FState != TCRVDataSetState::dsEdit && FState != TCRVDataSetState::dsInsert)
        CRVRaise(10030);
    if (ReadOnly || Cursor().ReadOnly())
        CRVRaise(10032);
    CloseBlobStreams();
    TCRVLocalCursor& cursor = Cursor();
    if (FState == TCRVDataSetState::dsInsert) {
        cursor.InsertRecord(Record());
        SetBookmark(cursor.CurrentRecordID(), KCRVBookmarkInserted);
    } else {
        cursor.UpdateRecord(FEditCopy, Record());
        FEditCopy.clear();
    }
    cursor.Table().ReleaseBlobCaches(Record());
    FState = TCRVDataSetState::dsBrowse;
    FHasRow = true;
    FEof = FBof = false;
}

void TCRVDataSet::Cancel() {
    CheckActive();
    switch (FState) {
    case TCRVDataSetState::dsSetKey:
        FKeyBuffer = FSavedKey;
        FState = TCRVDataSetState::dsBrowse;
        return;
    case TCRVDataSetState::dsEdit:
    case TCRVDataSetState::dsInsert: {
        CloseBlobStreams();
        Cursor().Table().ReleaseBlobCaches(Record());
        FState = TCRVDataSetState::dsBrowse;
        FEditCopy.clear();
        std::vector<std::byte> row(FRecordSize);
        if (FHasRow && Cursor().GetRecord(row, grmCurrent) == grrOK) {
            std::copy(row.begin(), row.end(), FBuffer.begin());
            SetBookmark(Cursor().CurrentRecordID(), KCRVBookmarkRead);
        } else {
            ShowEmpty();
        }
        return;
    }
    default:
        return;
    }
}

void TCRVDataSet::Delete() {
    CheckActive();
    if (FState == TCRVDataSetState::dsInsert || FState == TCRVDataSetState::dsEdit) {
        const bool inserting = FState == TCRVDataSetState::dsInsert;
        Cancel();
        if (inserting)
            return;
    }
    CheckBrowseMode();
    if (!FHasRow)
        throw EDatabaseError("Cannot perform this operation on an empty dataset");
    if (ReadOnly || Cursor().ReadOnly())
        CRVRaise(10032);
    TCRVLocalCursor& cursor = Cursor();
    const TCRVIndexCursor position = cursor.SavePosition();
    std::vector<std::byte> next(FRecordSize);
    const bool hasNext = cursor.GetRecord(next, grmNext) == grrOK;
    const TCRVRecordID nextID = cursor.CurrentRecordID();
    cursor.RestorePosition(position);
    cursor.DeleteRecord(Record());
    cursor.Table().ReleaseBlobCaches(Record());
    if (hasNext) {
        cursor.SetToRecord(nextID, next);
        std::copy(next.begin(), next.end(), FBuffer.begin());
        SetBookmark(nextID, KCRVBookmarkRead);
        FEof = FBof = false;
        return;
    }
    Last();
}

TCRVField* TCRVDataSet::FindField(std::string_view name) {
    for (auto& field : FFields)
        if (CRVSameName(field->FieldName(), name))
            return field.get();
    return nullptr;
}

TCRVField& TCRVDataSet::FieldByName(std::string_view name) {
    if (TCRVField* field = FindField(name))
        return *field;
    throw EDatabaseError("Field '" + std::string(name) + "' not found");
}

// --- Field values ---

TCRVValue TCRVDataSet::GetFieldValue(const TCRVFieldDef& def) {
    CheckActive();
    if (IsBLOBFieldType(def.BaseFieldType) && FState != TCRVDataSetState::dsSetKey)
        return ReadBlob(def);
    return CRVGetFieldValue(def, ActiveBuffer());
}

void TCRVDataSet::CheckWritable(const TCRVFieldDef& def) const {
    CheckActive();
    if (FState == TCRVDataSetState::dsSetKey) {
        const TCRVIndexDef* index = FCursor->ActiveIndex();
        const bool inIndex =
            index && std::any_of(index->Columns.begin(), index->Columns.end(), [&](const TCRVIndexColumn& c) {
                return CRVSameName(c.FieldName, def.Name);
            });
        if (!inIndex)
            CRVRaise(20019, def.Name);
        return;
    }
    if (FState != TCRVDataSetState::dsEdit && FState != TCRVDataSetState::dsInsert)
        CRVRaise(10007);
}

void TCRVDataSet::SetFieldValue(const TCRVFieldDef& def, const TCRVValue& value) {
    CheckWritable(def);
    if (IsBLOBFieldType(def.BaseFieldType)) {
        WriteBlob(def, value);
        return;
    }
    TCRVValue converted = value;
    if (const auto* text = std::get_if<std::string>(&value)) {
        if (IsWideStringFieldType(def.BaseFieldType))
            converted = CRVUtf8ToUtf16(*text);
        else if (!text->empty() && IsNumericFieldType(def.BaseFieldType)) {
            std::int64_t number = 0;
            const auto end = text->data() + text->size();
            if (std::from_chars(text->data(), end, number).ptr == end)
                converted = number;
            else
                try {
                    converted = std::stod(*text);
                } catch (...) {
                    throw EDatabaseError("'" + *text + "' is not a valid value for field '" + def.Name + "'");
                }
        }
    }
    std::span<std::byte> buffer = ActiveBuffer();
    CRVSetFieldValue(def, buffer, converted);
    if (FState == TCRVDataSetState::dsSetKey)
        FKeyBuffer[FRecordSize] = std::byte{1};
}

TCRVValue TCRVDataSet::ReadBlob(const TCRVFieldDef& def) {
    if (CheckNullFlag(def.FieldNoReference, Record()))
        return std::monostate{};
    TCRVLocalCursor& cursor = Cursor();
    auto stream = cursor.Table().CreateBlobStream(cursor.Session().SessionID(), Record(),
                                                  def.FieldNoReference, bomRead);
    std::vector<std::byte> bytes(static_cast<std::size_t>(stream->GetSize()));
    stream->SetPosition(0);
    if (!bytes.empty())
        stream->Read(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    const bool modified = stream->Modified();
    stream.reset();
    if (!modified)
        cursor.Table().ReleaseBlobCache(Record(), def.FieldNoReference, false);
    if (def.BaseFieldType == TCRVBaseFieldType::bftClob)
        return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (def.BaseFieldType == TCRVBaseFieldType::bftWideClob) {
        std::u16string text(bytes.size() / 2, u'\0');
        std::memcpy(text.data(), bytes.data(), text.size() * 2);
        return CRVUtf16ToUtf8(text);
    }
    return bytes;
}

void TCRVDataSet::WriteBlob(const TCRVFieldDef& def, const TCRVValue& value) {
    std::vector<std::byte> bytes;
    if (const auto* text = std::get_if<std::string>(&value)) {
        if (def.BaseFieldType == TCRVBaseFieldType::bftWideClob) {
            const std::u16string wide = CRVUtf8ToUtf16(*text);
            bytes.resize(wide.size() * 2);
            std::memcpy(bytes.data(), wide.data(), bytes.size());
        } else {
            bytes.assign(reinterpret_cast<const std::byte*>(text->data()),
                         reinterpret_cast<const std::byte*>(text->data()) + text->size());
        }
    } else if (const auto* wide = std::get_if<std::u16string>(&value)) {
        bytes.resize(wide->size() * 2);
        std::memcpy(bytes.data(), wide->data(), bytes.size());
    } else if (const auto* raw = std::get_if<std::vector<std::byte>>(&value)) {
        bytes = *raw;
    } else if (!std::holds_alternative<std::monostate>(value)) {
        CRVRaise(30054);
    }
    TCRVField* field = FindField(def.Name);
    auto stream = CreateBlobStream(*field, TCRVBlobStreamMode::bmWrite);
    if (!bytes.empty())
        stream->Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

std::unique_ptr<TCRVStream> TCRVDataSet::CreateBlobStream(TCRVField& field, TCRVBlobStreamMode mode) {
    CheckActive();
    const TCRVFieldDef& def = field.Def();
    TCRVLocalCursor& cursor = Cursor();
    const std::int32_t count = cursor.Table().FieldDefs().Count();
    if (def.FieldNoReference < 0 || def.FieldNoReference >= count)
        CRVRaise(10110, def.FieldNoReference, count);
    const bool writes = mode != TCRVBlobStreamMode::bmRead;
    if (writes && (ReadOnly || cursor.ReadOnly()))
        CRVRaise(10107);
    if (writes && FState != TCRVDataSetState::dsEdit && FState != TCRVDataSetState::dsInsert)
        CRVRaise(10111);
    if (writes)
        for (const TCRVDataSetBlobStream* open : FBlobStreams)
            if (open->FieldNo() == def.FieldNoReference && open->Writes())
                CRVRaise(10115, def.FieldNoReference, def.Name);
    const TCRVBLOBOpenMode engineMode = mode == TCRVBlobStreamMode::bmRead
                                            ? bomRead
                                            : (mode == TCRVBlobStreamMode::bmWrite ? bomWrite : bomReadWrite);
    auto inner = cursor.Table().CreateBlobStream(cursor.Session().SessionID(), Record(), def.FieldNoReference,
                                                 engineMode);
    if (mode == TCRVBlobStreamMode::bmWrite)
        inner->SetSize(0);
    auto stream = std::make_unique<TCRVDataSetBlobStream>(*this, cursor.Table(), std::move(inner), Record(),
                                                          def.FieldNoReference, mode);
    FBlobStreams.push_back(stream.get());
    return stream;
}

void TCRVDataSet::CloseBlobStream(TCRVDataSetBlobStream& stream) noexcept {
    std::erase(FBlobStreams, &stream);
    stream.Finish();
}

void TCRVDataSet::CloseBlobStreams() noexcept {
    const auto streams = FBlobStreams;
    FBlobStreams.clear();
    for (TCRVDataSetBlobStream* stream : streams)
        stream->Finish();
}
