#include "CRVExcept/CRVFormat.h"

#include <cinttypes>
#include <cstdio>

namespace {

struct TDirective {
    bool LeftAlign = false;
    int Width = -1;
    int Precision = -1;
    char Type = 0;
};

// Parses the directive that starts after the '%' at format[pos]; advances pos past it.
bool ParseDirective(std::string_view format, std::size_t& pos, TDirective& d) {
    if (pos < format.size() && format[pos] == '-') {
        d.LeftAlign = true;
        ++pos;
    }
    auto readNumber = [&](int& out) {
        if (pos >= format.size() || format[pos] < '0' || format[pos] > '9')
            return;
        out = 0;
        while (pos < format.size() && format[pos] >= '0' && format[pos] <= '9') {
            if (out > 10000)
                return;
            out = out * 10 + (format[pos++] - '0');
        }
    };
    readNumber(d.Width);
    if (pos < format.size() && format[pos] == '.') {
        ++pos;
        d.Precision = 0;
        readNumber(d.Precision);
    }
    if (pos >= format.size())
        return false;
    d.Type = format[pos++];
    return true;
}

std::string Pad(std::string text, const TDirective& d) {
    if (d.Width > 0 && static_cast<int>(text.size()) < d.Width) {
        std::string fill(static_cast<std::size_t>(d.Width) - text.size(), ' ');
        text = d.LeftAlign ? text + fill : fill + text;
    }
    return text;
}

std::optional<std::string> FormatInteger(const TCRVFormatArg::TValue& v, const TDirective& d) {
    char buf[64];
    const bool hex = d.Type == 'x' || d.Type == 'X';
    if (const auto* i = std::get_if<std::int64_t>(&v)) {
        if (hex)
            std::snprintf(buf, sizeof buf, d.Type == 'x' ? "%" PRIx64 : "%" PRIX64,
                          static_cast<std::uint64_t>(*i));
        else if (d.Type == 'u')
            std::snprintf(buf, sizeof buf, "%" PRIu64, static_cast<std::uint64_t>(*i));
        else
            std::snprintf(buf, sizeof buf, "%" PRId64, *i);
    } else if (const auto* u = std::get_if<std::uint64_t>(&v)) {
        if (hex)
            std::snprintf(buf, sizeof buf, d.Type == 'x' ? "%" PRIx64 : "%" PRIX64, *u);
        else
            std::snprintf(buf, sizeof buf, "%" PRIu64, *u);
    } else {
        return std::nullopt;
    }
    std::string digits = buf;
    // A precision on an integer is its minimum number of digits, zero-padded.
    if (d.Precision > 0) {
        const bool negative = !digits.empty() && digits[0] == '-';
        std::string body = negative ? digits.substr(1) : digits;
        if (static_cast<int>(body.size()) < d.Precision)
            body.insert(0, static_cast<std::size_t>(d.Precision) - body.size(), '0');
        digits = negative ? "-" + body : body;
    }
    return Pad(digits, d);
}

std::optional<std::string> FormatFloat(const TCRVFormatArg::TValue& v, const TDirective& d) {
    const auto* f = std::get_if<double>(&v);
    if (!f)
        return std::nullopt;
    const int precision = d.Precision >= 0 ? d.Precision : (d.Type == 'f' ? 2 : 15);
    char spec[8] = {'%', '.', '*', d.Type, 0};
    char buf[512];
    std::snprintf(buf, sizeof buf, spec, precision, *f);
    return Pad(buf, d);
}

std::optional<std::string> FormatString(const TCRVFormatArg::TValue& v, const TDirective& d) {
    const auto* s = std::get_if<std::string>(&v);
    if (!s)
        return std::nullopt;
    std::string text = *s;
    if (d.Precision >= 0 && static_cast<std::size_t>(d.Precision) < text.size())
        text.resize(static_cast<std::size_t>(d.Precision));
    return Pad(text, d);
}

} // namespace

std::optional<std::string> CRVTryFormat(std::string_view format, std::span<const TCRVFormatArg> args) {
    std::string out;
    out.reserve(format.size() + 32);
    std::size_t next = 0;
    for (std::size_t pos = 0; pos < format.size();) {
        const char c = format[pos++];
        if (c != '%') {
            out += c;
            continue;
        }
        if (pos < format.size() && format[pos] == '%') {
            out += '%';
            ++pos;
            continue;
        }
        TDirective d;
        if (!ParseDirective(format, pos, d) || next >= args.size())
            return std::nullopt;
        const auto& value = args[next++].Value();
        std::optional<std::string> piece;
        switch (d.Type) {
        case 'd':
        case 'u':
        case 'x':
        case 'X':
            piece = FormatInteger(value, d);
            break;
        case 'f':
        case 'g':
        case 'e':
            piece = FormatFloat(value, d);
            break;
        case 's':
            piece = FormatString(value, d);
            break;
        default:
            return std::nullopt;
        }
        if (!piece)
            return std::nullopt;
        out += *piece;
    }
    return out;
}
