// Exact-length reads and writes of the table metadata stream. Every item of the stream has its
// own pair of native error codes, so a truncated or unwritable stream names the item it failed
// on: a short write raises the item's write code ("Cannot write to stream. ..."), a short read
// its read code ("Cannot read from stream. ...").
#pragma once

#include "CRVCompression/CRVStream.h"
#include "CRVTypes/CRVVariant.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct TCRVStreamItem {
    int WriteCode;
    int ReadCode;
};

// The items and their codes.
namespace CRVMetadataItem {
// Field definition list.
inline constexpr TCRVStreamItem FieldCount{10158, 10159};
inline constexpr TCRVStreamItem FieldNameLength{10160, 10161};
inline constexpr TCRVStreamItem FieldName{10162, 10163};
inline constexpr TCRVStreamItem FieldObjectID{10164, 10165};
inline constexpr TCRVStreamItem BaseFieldType{10166, 10167};
inline constexpr TCRVStreamItem AdvancedFieldType{10168, 10169};
inline constexpr TCRVStreamItem FieldSize{10170, 10171};
inline constexpr TCRVStreamItem BLOBCompressionAlgorithm{10172, 10173};
inline constexpr TCRVStreamItem BLOBCompressionMode{10174, 10175};
inline constexpr TCRVStreamItem BLOBBlockSize{10176, 10177};
inline constexpr TCRVStreamItem AutoincIncrement{10178, 10179};
inline constexpr TCRVStreamItem AutoincInitialValue{10180, 10181};
inline constexpr TCRVStreamItem AutoincMinValue{10182, 10183};
inline constexpr TCRVStreamItem AutoincMaxValue{10184, 10185};
inline constexpr TCRVStreamItem AutoincCycled{10186, 10187};
// Index definition list.
inline constexpr TCRVStreamItem IndexCount{10188, 10189};
inline constexpr TCRVStreamItem IndexNameLength{10190, 10191};
inline constexpr TCRVStreamItem IndexName{10192, 10193};
inline constexpr TCRVStreamItem IndexObjectID{10194, 10195};
inline constexpr TCRVStreamItem IndexType{10196, 10197};
inline constexpr TCRVStreamItem IndexUnique{10198, 10199};
inline constexpr TCRVStreamItem IndexPrimary{10200, 10201};
inline constexpr TCRVStreamItem IndexColumnCount{10202, 10203};
inline constexpr TCRVStreamItem IndexRootPageNo{10204, 10205};
inline constexpr TCRVStreamItem ColumnNameLength{10206, 10207};
inline constexpr TCRVStreamItem ColumnName{10208, 10209};
inline constexpr TCRVStreamItem ColumnDescending{10210, 10211};
inline constexpr TCRVStreamItem ColumnCaseInsensitive{10212, 10213};
inline constexpr TCRVStreamItem ColumnMaxIndexedSize{10214, 10215};
// Constraint definition list.
inline constexpr TCRVStreamItem ConstraintCount{10216, 10217};
inline constexpr TCRVStreamItem ConstraintType{10218, 10219};
inline constexpr TCRVStreamItem ConstraintNameLength{10220, 10221};
inline constexpr TCRVStreamItem ConstraintName{10222, 10223};
inline constexpr TCRVStreamItem ConstraintObjectID{10224, 10225};
inline constexpr TCRVStreamItem TableSchemaObjectID{10226, 10227};
inline constexpr TCRVStreamItem TableObjectID{10228, 10229};
inline constexpr TCRVStreamItem TargetObjectID{10230, 10231}; // column (not-null, check) or index
inline constexpr TCRVStreamItem TableSchemaNameLength{10232, 10233};
inline constexpr TCRVStreamItem TableSchemaName{10234, 10235};
inline constexpr TCRVStreamItem TableNameLength{10236, 10237};
inline constexpr TCRVStreamItem TableName{10238, 10239};
inline constexpr TCRVStreamItem TargetNameLength{10240, 10241};
inline constexpr TCRVStreamItem TargetName{10242, 10243};
inline constexpr TCRVStreamItem ConstraintColumnCount{10244, 10245};
inline constexpr TCRVStreamItem ConstraintColumnObjectID{10246, 10247};
inline constexpr TCRVStreamItem ConstraintColumnNameLength{10248, 10249};
inline constexpr TCRVStreamItem ConstraintColumnName{10250, 10251};
// Variants (default values, check limits).
inline constexpr TCRVStreamItem VariantDataType{30407, 30408};
inline constexpr TCRVStreamItem VariantIsNull{30409, 30410};
inline constexpr TCRVStreamItem VariantDataSize{30411, 30412};
inline constexpr TCRVStreamItem VariantData{30413, 30414};
} // namespace CRVMetadataItem

// Writes items to a stream, each with one exact-length write.
class TCRVMetadataWriter {
public:
    explicit TCRVMetadataWriter(TCRVStream& stream) : FStream(stream) {}

    void Bytes(const void* data, std::int64_t count, TCRVStreamItem item);
    void U8(std::uint8_t value, TCRVStreamItem item) { Bytes(&value, 1, item); }
    void Bool(bool value, TCRVStreamItem item) { U8(value ? 1 : 0, item); }
    void I32(std::int32_t value, TCRVStreamItem item);
    void I64(std::int64_t value, TCRVStreamItem item);
    // A name as a u8 length and its bytes; a name longer than 255 bytes is refused.
    void ShortName(std::string_view name, TCRVStreamItem length, TCRVStreamItem bytes);

private:
    TCRVStream& FStream;
};

// Reads items from a stream; a short read raises the item's read code.
class TCRVMetadataReader {
public:
    explicit TCRVMetadataReader(TCRVStream& stream) : FStream(stream) {}

    void Bytes(void* data, std::int64_t count, TCRVStreamItem item);
    std::uint8_t U8(TCRVStreamItem item);
    bool Bool(TCRVStreamItem item) { return U8(item) != 0; }
    std::int32_t I32(TCRVStreamItem item);
    std::int64_t I64(TCRVStreamItem item);
    // `count` bytes as text; a count beyond the stream's end (or negative) fails before reading.
    std::string Text(std::int64_t count, TCRVStreamItem item);
    std::vector<std::byte> Data(std::int64_t count, TCRVStreamItem item);
    std::string ShortName(TCRVStreamItem length, TCRVStreamItem bytes);
    // A list count: negative counts fail as a short read of the item.
    std::int32_t Count(TCRVStreamItem item);
    // Raises the item's read error with a text naming what is wrong.
    [[noreturn]] void Corrupt(TCRVStreamItem item, std::string_view what);

private:
    // Fails with the read code unless `count` bytes are left.
    void Require(std::int64_t count, TCRVStreamItem item);

    TCRVStream& FStream;
};

// A variant: u8 DataType, u8 IsNull, and when not null i32 DataSize and DataSize bytes.
void CRVWriteVariant(TCRVMetadataWriter& writer, const TCRVVariant& value);
TCRVVariant CRVReadVariant(TCRVMetadataReader& reader);
