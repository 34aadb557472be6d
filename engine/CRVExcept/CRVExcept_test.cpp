#include "CRVConst/CRVConst.h"
#include "CRVExcept/CRVExcept.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

template <typename F> ECRVException Catch(F&& f) {
    try {
        f();
    } catch (const ECRVException& e) {
        return e;
    }
    ADD_FAILURE() << "no ECRVException raised";
    return ECRVException(0, "");
}

TEST(CRVExcept, MessageCarriesTextAndFiveDigitCode) {
    const auto e = Catch([] { CRVRaise(10081, 12, 40); });
    EXPECT_EQ(e.NativeErrorCode(), 10081);
    EXPECT_STREQ(e.what(), "Stream size = 12 too small. Should be at least = 40 - Native error: 10081");
    EXPECT_EQ(e.Text(), "Stream size = 12 too small. Should be at least = 40");
}

TEST(CRVExcept, ArgumentsThatDoNotFitGiveTheBareText) {
    struct TCase {
        const char* Name;
        std::function<void()> Raise;
    };
    const std::string bare = "Stream size = %d too small. Should be at least = %d Arguments are invalid!";
    const TCase cases[] = {
        {"too few", [] { CRVRaise(10081, 12); }},
        {"none", [] { CRVRaise(10081); }},
        {"string for %d", [] { CRVRaise(10081, "12", 40); }},
        {"float for %d", [] { CRVRaise(10081, 1.5, 40); }},
    };
    for (const auto& c : cases) {
        const auto e = Catch(c.Raise);
        EXPECT_EQ(e.Text(), bare) << c.Name;
        EXPECT_EQ(e.NativeErrorCode(), 10081) << c.Name;
    }
    // Surplus arguments are ignored, as are integer kinds of any width.
    EXPECT_EQ(Catch([] { CRVRaise(10081, std::int64_t{1} << 40, 2u, 3); }).Text(),
              "Stream size = 1099511627776 too small. Should be at least = 2");
}

TEST(CRVExcept, CallerTextAndStringArguments) {
    const auto e =
        Catch([] { CRVRaiseText(10474, "Cannot Read from file: '%s' Position = %d", "a.crv", -1); });
    EXPECT_STREQ(e.what(), "Cannot Read from file: 'a.crv' Position = -1 - Native error: 10474");
    EXPECT_EQ(Catch([] { CRVRaiseText(5, "%s %d%%", 1, 2); }).Text(), "%s %d%% Arguments are invalid!");
    EXPECT_STREQ(Catch([] { CRVRaiseText(7, "x"); }).what(), "x - Native error: 00007");
}

TEST(CRVExcept, EngineErrors) {
    try {
        CRVRaiseEngineError(-4);
    } catch (const ECRVEngineError& e) {
        EXPECT_EQ(e.ErrorCode(), -4);
        EXPECT_STREQ(
            e.what(),
            "Corvista Engine Error # -4 Error updating record - record was modified by other process");
    }
    try {
        CRVRaiseEngineError(-8, "Constraint unique 'C_Unique$a' violated. Duplicate found.");
    } catch (const ECRVEngineError& e) {
        EXPECT_STREQ(e.what(),
                     "Corvista Engine Error # -8 Constraint unique 'C_Unique$a' violated. Duplicate found.");
    }
}

TEST(CRVConst, ErrorTableLookups) {
    EXPECT_EQ(CRVErrorText(30445), "Cannot open database - incorrect password");
    EXPECT_TRUE(CRVHasErrorText(10089));
    EXPECT_FALSE(CRVHasErrorText(99999));
    EXPECT_EQ(CRVErrorText(99999), "Unknown error");
}

TEST(CRVFormat, Directives) {
    const TCRVFormatArg args[] = {TCRVFormatArg(255), TCRVFormatArg(255), TCRVFormatArg("ab"),
                                  TCRVFormatArg(2.5)};
    EXPECT_EQ(CRVTryFormat("%x|%5d|%-4s|%.1f", args).value(), "ff|  255|ab  |2.5");
    EXPECT_EQ(CRVTryFormat("%.5d", std::span(args, 1)).value(), "00255");
    EXPECT_FALSE(CRVTryFormat("%q", std::span(args, 1)).has_value());
    EXPECT_FALSE(CRVTryFormat("trailing %", std::span(args, 1)).has_value());
}

} // namespace
