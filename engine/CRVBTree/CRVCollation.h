// Text order of index keys.
//
// Keys are sorted in the B-trees of the file, so the order must be the same on every machine and
// under every locale: it is ICU's root (language-neutral) collation at tertiary strength with
// punctuation and symbols as ordinary characters (non-ignorable), or at secondary strength for
// case-insensitive columns. Locale tailorings are deliberately not used: some (Danish "aa",
// Czech "ch", Lithuanian "y") reorder even hexadecimal keys.
//
// Strings made only of ASCII digits and letters (the program's hash keys) are compared without
// calling ICU, giving exactly ICU's answer: digits before letters, letters by their case-folded
// value, and only when all of those agree, lower case before upper case at the first difference.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

struct UCollator;

class TCRVCollation {
public:
    TCRVCollation();
    ~TCRVCollation();
    TCRVCollation(const TCRVCollation&) = delete;
    TCRVCollation& operator=(const TCRVCollation&) = delete;

    // -1, 0 or 1. Single-byte text is UTF-8; each side ends at its first zero byte or its length.
    // A compare length n >= 0 compares only the first n characters (code points) of each side.
    int Compare(std::string_view left, std::string_view right, bool caseInsensitive,
                std::ptrdiff_t compareLength = -1) const;
    // The same for UTF-16 text (code units; a compare length counts code units).
    int CompareWide(std::u16string_view left, std::u16string_view right, bool caseInsensitive,
                    std::ptrdiff_t compareLength = -1) const;

    // ICU's answer alone, without the ASCII fast path (for tests and benchmarks).
    int CompareWithCollator(std::string_view left, std::string_view right, bool caseInsensitive) const;

private:
    struct TCloser {
        void operator()(UCollator* c) const;
    };
    std::unique_ptr<UCollator, TCloser> FTertiary;  // case-sensitive columns
    std::unique_ptr<UCollator, TCloser> FSecondary; // case-insensitive columns
};
