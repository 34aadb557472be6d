#include "CRVBTree/CRVCollation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

class CRVCollationTest : public ::testing::Test {
protected:
    TCRVCollation FColl;
};

// The ASCII fast path must give ICU's answer exactly, for every pair and both case rules.
TEST_F(CRVCollationTest, FastPathAgreesWithTheCollator) {
    const std::string alphabet = "0129AaBbFfZz";
    std::mt19937 rng(42);
    auto randomString = [&] {
        std::string s(rng() % 6, ' ');
        for (char& c : s)
            c = alphabet[rng() % alphabet.size()];
        return s;
    };
    for (int i = 0; i < 20000; ++i) {
        const std::string a = randomString(), b = randomString();
        for (bool ci : {false, true})
            ASSERT_EQ(FColl.Compare(a, b, ci), FColl.CompareWithCollator(a, b, ci))
                << "'" << a << "' vs '" << b << "' ci=" << ci;
    }
}

// Strings that agree in an alphanumeric prefix and go on with anything at all (punctuation,
// control characters, combining marks, other scripts): the fast path answers only where the
// collator gives the same answer.
TEST_F(CRVCollationTest, FastPathAgreesWhenTailsHoldAnything) {
    const std::vector<std::string> pieces = {
        "a",        "B",    "0",       "9",        "z",        "Z",        "-",
        " ",        "\x01", ".",       "\xCC\x81", "\xC3\xA9", "\xC3\x89", "\xE4\xB8\xAD",
        "\xD0\xB4", "ss",   "\xC3\x9F"};
    std::mt19937 rng(3);
    auto randomString = [&] {
        std::string s;
        for (int k = static_cast<int>(rng() % 5); k > 0; --k)
            s += pieces[rng() % pieces.size()];
        return s;
    };
    for (int i = 0; i < 20000; ++i) {
        const std::string prefix = randomString();
        const std::string a = prefix + randomString(), b = prefix + randomString();
        for (bool ci : {false, true})
            ASSERT_EQ(FColl.Compare(a, b, ci), FColl.CompareWithCollator(a, b, ci))
                << "'" << a << "' vs '" << b << "' ci=" << ci;
    }
}

TEST_F(CRVCollationTest, RootOrderFacts) {
    struct TCase {
        const char *Left, *Right;
        bool CaseInsensitive;
        int Expected;
    };
    const TCase cases[] = {
        {"0", "9", false, -1},
        {"9", "A", false, -1},
        {"a", "A", false, -1},
        {"A", "b", false, -1},
        {"ab", "AB", true, 0},
        {"ab", "ABC", true, -1},
        {"", "0", false, -1},
        {"abc", "abc", false, 0},
        {"a-b", "ab", false, -1},     // punctuation counts: '-' sorts before letters
        {"a b", "a-b", false, -1},    // and is not ignored
        {"aa", "ab", false, -1},      // no Danish "aa"
        {"ch", "ci", false, -1},      // no Czech "ch"
        {"y", "z", false, -1},        // no Lithuanian "y"
        {"\xC3\xA9", "f", false, -1}, // e-acute sorts with e
        {"\xC3\x89", "\xC3\xA9", true, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FColl.Compare(c.Left, c.Right, c.CaseInsensitive), c.Expected)
            << c.Left << " vs " << c.Right;
}

// Upper-case hexadecimal keys of one length sort in plain byte order.
TEST_F(CRVCollationTest, HexKeysSortInByteOrder) {
    std::mt19937 rng(7);
    std::vector<std::string> keys;
    for (int i = 0; i < 500; ++i) {
        std::string k(32, '0');
        for (char& c : k)
            c = "0123456789ABCDEF"[rng() % 16];
        keys.push_back(k);
    }
    auto viaCollator = keys;
    std::sort(viaCollator.begin(), viaCollator.end(), [&](const std::string& a, const std::string& b) {
        return FColl.CompareWithCollator(a, b, false) < 0;
    });
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(viaCollator, keys);
}

TEST_F(CRVCollationTest, ZeroTerminationAndCompareLength) {
    using namespace std::string_view_literals;
    EXPECT_EQ(FColl.Compare("abc\0zzz"sv, "abc\0aaa"sv, false), 0);
    EXPECT_EQ(FColl.Compare("abcdef", "abcxyz", false, 3), 0);
    EXPECT_EQ(FColl.Compare("abcdef", "abcxyz", false, 4), -1);
    EXPECT_EQ(FColl.Compare("\xC3\xA9tat", "\xC3\xA9tre", false, 2), 0); // characters, not bytes
    EXPECT_EQ(FColl.Compare("ab\xC3\xA9x", "ab\xC3\xA9y", false, 3), 0); // single- and multi-byte mixed
    EXPECT_EQ(FColl.Compare("ab\xC3\xA9x", "ab\xC3\xA9y", false, 4), -1);
    EXPECT_EQ(FColl.CompareWide(u"Abc", u"abd", true), -1);
    EXPECT_EQ(FColl.CompareWide(u"\u00C9t\u00E9", u"\u00E9T\u00C9", true), 0);
    EXPECT_EQ(FColl.CompareWide(u"ab\u4E2D", u"ab\u4E2E", false, 2), 0);
}

} // namespace
