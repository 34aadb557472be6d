#include "CRVBTree/CRVCollation.h"

#include <unicode/ucol.h>
#include <unicode/utf8.h>

#include <array>
#include <cstring>
#include <stdexcept>

namespace {

// Primary weight of an ASCII digit or letter in the root collation's order (digits, then
// letters case-folded); 0 for every other byte, which sends the comparison to ICU.
constexpr std::array<std::uint8_t, 256> MakePrimaryTable() {
    std::array<std::uint8_t, 256> t{};
    for (int c = '0'; c <= '9'; ++c)
        t[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(1 + c - '0');
    for (int c = 'a'; c <= 'z'; ++c) {
        t[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(11 + c - 'a');
        t[static_cast<std::size_t>(c - 'a' + 'A')] = static_cast<std::uint8_t>(11 + c - 'a');
    }
    return t;
}
constexpr auto KPrimary = MakePrimaryTable();

std::string_view UpToZero(std::string_view s) {
    const auto z = s.find('\0');
    return z == std::string_view::npos ? s : s.substr(0, z);
}

std::u16string_view UpToZero(std::u16string_view s) {
    const auto z = s.find(u'\0');
    return z == std::u16string_view::npos ? s : s.substr(0, z);
}

// The first n code points of a UTF-8 text (all of it when n < 0).
std::string_view FirstCharacters(std::string_view s, std::ptrdiff_t n) {
    if (n < 0)
        return s;
    std::size_t pos = 0;
    for (std::ptrdiff_t i = 0; i < n && pos < s.size(); ++i) {
        UChar32 c;
        std::int32_t p = static_cast<std::int32_t>(pos);
        U8_NEXT(reinterpret_cast<const std::uint8_t*>(s.data()), p, static_cast<std::int32_t>(s.size()), c);
        (void)c;
        pos = static_cast<std::size_t>(p);
    }
    return s.substr(0, pos);
}

// The table index of a character: itself below 0x80, 0x80 (no weight in the table) above.
template <typename TChar> std::uint8_t TableIndex(TChar ch) {
    const auto c = static_cast<std::make_unsigned_t<TChar>>(ch);
    return c > 0x7F ? std::uint8_t{0x80} : static_cast<std::uint8_t>(c);
}

// The length of the identical prefix of two arrays of n characters, eight bytes at a time.
template <typename TChar> std::size_t CommonPrefixLength(const TChar* a, const TChar* b, std::size_t n) {
    std::size_t i = 0;
    constexpr std::size_t KStep = 8 / sizeof(TChar);
    for (; i + KStep <= n; i += KStep) {
        std::uint64_t wa, wb;
        std::memcpy(&wa, a + i, 8);
        std::memcpy(&wb, b + i, 8);
        if (wa != wb)
            break;
    }
    while (i < n && a[i] == b[i])
        ++i;
    return i;
}

template <typename TChar> bool IsAsciiAlphanumeric(std::basic_string_view<TChar> s) {
    for (const TChar ch : s)
        if (KPrimary[TableIndex(ch)] == 0)
            return false;
    return true;
}

// Compares as the root collation does, for the common case; false (ask the collator) otherwise.
// An identical prefix gives identical weights at every level, so the answer lies in what
// follows it, provided the prefix ends in a character that no contraction can join with the next
// one (an ASCII digit or letter). From there, while both strings hold ASCII digits and letters
// (single primary weights, no contractions), the first primary difference decides; without one,
// a proper prefix sorts first, then (case-sensitively) the first position whose case differs,
// lower case first.
template <typename TChar>
bool FastCompare(std::basic_string_view<TChar> a, std::basic_string_view<TChar> b, bool caseInsensitive,
                 int& result) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    std::size_t i = CommonPrefixLength(a.data(), b.data(), n);
    if (i == a.size() && i == b.size()) {
        result = 0;
        return true;
    }
    if (i > 0 && KPrimary[TableIndex(a[i - 1])] == 0)
        return false;
    int caseDiff = 0;
    for (; i < n; ++i) {
        const std::uint8_t ca = TableIndex(a[i]), cb = TableIndex(b[i]);
        const std::uint8_t pa = KPrimary[ca], pb = KPrimary[cb];
        if (pa == 0 || pb == 0)
            return false;
        if (pa != pb) {
            result = pa < pb ? -1 : 1;
            return true;
        }
        if (caseDiff == 0 && ca != cb)
            caseDiff = ca > cb ? -1 : 1; // the same letter: lower case (the greater code) sorts first
    }
    if (a.size() != b.size()) {
        // Only a tail of real characters makes the longer string greater (an ignorable one would not).
        if (!IsAsciiAlphanumeric(a.size() > n ? a.substr(n) : b.substr(n)))
            return false;
        result = a.size() < b.size() ? -1 : 1;
    } else {
        result = caseInsensitive ? 0 : caseDiff;
    }
    return true;
}

int Sign(UCollationResult r) {
    return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
}

UCollator* OpenRoot(UCollationStrength strength) {
    UErrorCode status = U_ZERO_ERROR;
    UCollator* c = ucol_open("", &status);
    if (U_FAILURE(status) || !c)
        throw std::runtime_error(std::string("cannot open the root collation: ") + u_errorName(status));
    ucol_setAttribute(c, UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
    ucol_setStrength(c, strength);
    if (U_FAILURE(status)) {
        ucol_close(c);
        throw std::runtime_error(std::string("cannot set up the root collation: ") + u_errorName(status));
    }
    return c;
}

} // namespace

void TCRVCollation::TCloser::operator()(UCollator* c) const {
    ucol_close(c);
}

TCRVCollation::TCRVCollation() : FTertiary(OpenRoot(UCOL_TERTIARY)), FSecondary(OpenRoot(UCOL_SECONDARY)) {}

TCRVCollation::~TCRVCollation() = default;

int TCRVCollation::Compare(std::string_view left, std::string_view right, bool caseInsensitive,
                           std::ptrdiff_t compareLength) const {
    left = FirstCharacters(UpToZero(left), compareLength);
    right = FirstCharacters(UpToZero(right), compareLength);
    int result = 0;
    if (FastCompare(left, right, caseInsensitive, result))
        return result;
    return CompareWithCollator(left, right, caseInsensitive);
}

int TCRVCollation::CompareWithCollator(std::string_view left, std::string_view right,
                                       bool caseInsensitive) const {
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult r =
        ucol_strcollUTF8(caseInsensitive ? FSecondary.get() : FTertiary.get(), left.data(),
                         static_cast<std::int32_t>(left.size()), right.data(),
                         static_cast<std::int32_t>(right.size()), &status);
    if (U_FAILURE(status)) // malformed UTF-8 and the like: fall back to byte order
        return left < right ? -1 : (left == right ? 0 : 1);
    return Sign(r);
}

int TCRVCollation::CompareWide(std::u16string_view left, std::u16string_view right, bool caseInsensitive,
                               std::ptrdiff_t compareLength) const {
    left = UpToZero(left);
    right = UpToZero(right);
    if (compareLength >= 0) {
        left = left.substr(0, static_cast<std::size_t>(compareLength));
        right = right.substr(0, static_cast<std::size_t>(compareLength));
    }
    int result = 0;
    if (FastCompare(left, right, caseInsensitive, result))
        return result;
    return Sign(ucol_strcoll(caseInsensitive ? FSecondary.get() : FTertiary.get(), left.data(),
                             static_cast<std::int32_t>(left.size()), right.data(),
                             static_cast<std::int32_t>(right.size())));
}
