#include "CRVBase/CRVMetadataStream.h"

#include "CRVExcept/CRVExcept.h"

#include <cstring>

namespace {

template <typename T> void ToLittleEndian(T value, std::uint8_t (&out)[sizeof(T)]) {
    using U = std::make_unsigned_t<T>;
    const auto u = static_cast<U>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i)
        out[i] = static_cast<std::uint8_t>(u >> (8 * i));
}

template <typename T> T FromLittleEndian(const std::uint8_t (&in)[sizeof(T)]) {
    using U = std::make_unsigned_t<T>;
    U u = 0;
    for (std::size_t i = sizeof(T); i-- > 0;)
        u = static_cast<U>((u << 8) | in[i]);
    return static_cast<T>(u);
}

} // namespace

void TCRVMetadataWriter::Bytes(const void* data, std::int64_t count, TCRVStreamItem item) {
    const std::int64_t position = FStream.GetPosition();
    const std::int64_t written = count > 0 ? FStream.Write(data, count) : 0;
    if (written != count)
        CRVRaise(item.WriteCode, position, FStream.GetSize(), count, written);
}

void TCRVMetadataWriter::I32(std::int32_t value, TCRVStreamItem item) {
    std::uint8_t bytes[4];
    ToLittleEndian(value, bytes);
    Bytes(bytes, 4, item);
}

void TCRVMetadataWriter::I64(std::int64_t value, TCRVStreamItem item) {
    std::uint8_t bytes[8];
    ToLittleEndian(value, bytes);
    Bytes(bytes, 8, item);
}

void TCRVMetadataWriter::ShortName(std::string_view name, TCRVStreamItem length, TCRVStreamItem bytes) {
    if (name.size() > 255)
        CRVRaiseText(length.WriteCode, "Name '%s' is longer than 255 characters", name);
    U8(static_cast<std::uint8_t>(name.size()), length);
    Bytes(name.data(), static_cast<std::int64_t>(name.size()), bytes);
}

void TCRVMetadataReader::Bytes(void* data, std::int64_t count, TCRVStreamItem item) {
    const std::int64_t position = FStream.GetPosition();
    const std::int64_t read = count > 0 ? FStream.Read(data, count) : 0;
    if (read != count)
        CRVRaise(item.ReadCode, position, FStream.GetSize(), count, read);
}

std::uint8_t TCRVMetadataReader::U8(TCRVStreamItem item) {
    std::uint8_t value = 0;
    Bytes(&value, 1, item);
    return value;
}

std::int32_t TCRVMetadataReader::I32(TCRVStreamItem item) {
    std::uint8_t bytes[4];
    Bytes(bytes, 4, item);
    return FromLittleEndian<std::int32_t>(bytes);
}

std::int64_t TCRVMetadataReader::I64(TCRVStreamItem item) {
    std::uint8_t bytes[8];
    Bytes(bytes, 8, item);
    return FromLittleEndian<std::int64_t>(bytes);
}

void TCRVMetadataReader::Require(std::int64_t count, TCRVStreamItem item) {
    const std::int64_t position = FStream.GetPosition();
    const std::int64_t size = FStream.GetSize();
    const std::int64_t left = size > position ? size - position : 0;
    if (count < 0 || count > left)
        CRVRaise(item.ReadCode, position, size, count, count < 0 ? 0 : left);
}

std::string TCRVMetadataReader::Text(std::int64_t count, TCRVStreamItem item) {
    Require(count, item);
    std::string text(static_cast<std::size_t>(count), '\0');
    Bytes(text.data(), count, item);
    return text;
}

std::vector<std::byte> TCRVMetadataReader::Data(std::int64_t count, TCRVStreamItem item) {
    Require(count, item);
    std::vector<std::byte> data(static_cast<std::size_t>(count));
    Bytes(data.data(), count, item);
    return data;
}

std::string TCRVMetadataReader::ShortName(TCRVStreamItem length, TCRVStreamItem bytes) {
    const std::uint8_t n = U8(length);
    return Text(n, bytes);
}

std::int32_t TCRVMetadataReader::Count(TCRVStreamItem item) {
    const std::int64_t position = FStream.GetPosition();
    const std::int32_t count = I32(item);
    if (count < 0)
        CRVRaiseText(item.ReadCode, "Invalid count %d in stream. Position = %d", count, position);
    return count;
}

void TCRVMetadataReader::Corrupt(TCRVStreamItem item, std::string_view what) {
    CRVRaiseText(item.ReadCode, "Invalid table metadata: %s. Position = %d", what, FStream.GetPosition());
}

void CRVWriteVariant(TCRVMetadataWriter& writer, const TCRVVariant& value) {
    writer.U8(static_cast<std::uint8_t>(value.DataType), CRVMetadataItem::VariantDataType);
    writer.Bool(value.IsNull, CRVMetadataItem::VariantIsNull);
    if (value.IsNull)
        return;
    writer.I32(value.DataSize(), CRVMetadataItem::VariantDataSize);
    writer.Bytes(value.Data.data(), value.DataSize(), CRVMetadataItem::VariantData);
}

TCRVVariant CRVReadVariant(TCRVMetadataReader& reader) {
    TCRVVariant value;
    value.DataType = static_cast<TCRVBaseFieldType>(reader.U8(CRVMetadataItem::VariantDataType));
    value.IsNull = reader.Bool(CRVMetadataItem::VariantIsNull);
    if (value.IsNull)
        return value;
    const std::int32_t size = reader.I32(CRVMetadataItem::VariantDataSize);
    value.Data = reader.Data(size, CRVMetadataItem::VariantData);
    return value;
}
