// Message formatting in the engine's own dialect: the printf-like directives the engine's
// message texts use (%d %u %x %X %s %f %g %e %%, with optional '-', width and precision).
//
// A directive whose argument is missing or of the wrong kind makes the whole format fail;
// surplus arguments are ignored. Callers decide what a failed format turns into (the
// engine's exceptions append " Arguments are invalid!" to the unformatted text).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

class TCRVFormatArg {
public:
    using TValue = std::variant<std::int64_t, std::uint64_t, double, std::string>;

    template <typename T>
    requires(std::is_integral_v<T>&& std::is_signed_v<T>) TCRVFormatArg(T v)
        : FValue(static_cast<std::int64_t>(v)) {}
    template <typename T>
    requires(std::is_integral_v<T>&& std::is_unsigned_v<T> && !std::is_same_v<T, bool>) TCRVFormatArg(T v)
        : FValue(static_cast<std::uint64_t>(v)) {}
    TCRVFormatArg(bool v) : FValue(static_cast<std::int64_t>(v ? 1 : 0)) {}
    TCRVFormatArg(double v) : FValue(v) {}
    TCRVFormatArg(std::string v) : FValue(std::move(v)) {}
    TCRVFormatArg(std::string_view v) : FValue(std::string(v)) {}
    TCRVFormatArg(const char* v) : FValue(std::string(v ? v : "")) {}

    const TValue& Value() const { return FValue; }

private:
    TValue FValue;
};

// Formats `format` with `args`; std::nullopt when the arguments do not fit the format.
std::optional<std::string> CRVTryFormat(std::string_view format, std::span<const TCRVFormatArg> args);
