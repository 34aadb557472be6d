#include "CRVTypes/CRVDateTime.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

double Date(int y, int m, int d) {
    double value = 0;
    EXPECT_TRUE(CRVTryEncodeDate(y, m, d, value)) << y << "-" << m << "-" << d;
    return value;
}

TEST(CRVDateTime, DayNumbers) {
    EXPECT_EQ(DateToCRVDate(Date(1899, 12, 30)), 693594);
    EXPECT_EQ(DateToCRVDate(Date(1, 1, 1)), 1);
    EXPECT_EQ(DateToCRVDate(Date(2000, 1, 1)), 730120);
    EXPECT_EQ(CRVDateToDate(693594), 0.0);
    double value = 0;
    EXPECT_TRUE(CRVTryEncodeDate(2000, 2, 29, value));
    EXPECT_FALSE(CRVTryEncodeDate(1900, 2, 29, value));
    EXPECT_FALSE(CRVTryEncodeDate(2023, 4, 31, value));
    EXPECT_FALSE(CRVTryEncodeDate(0, 1, 1, value));
}

TEST(CRVDateTime, CalendarRoundTripsOverCenturies) {
    for (std::int32_t dayNumber = 1; dayNumber < 3000000; dayNumber += 7) {
        int y = 0, m = 0, d = 0;
        CRVDecodeDate(CRVDateToDate(dayNumber), y, m, d);
        double value = 0;
        ASSERT_TRUE(CRVTryEncodeDate(y, m, d, value)) << dayNumber;
        ASSERT_EQ(DateToCRVDate(value), dayNumber);
    }
}

TEST(CRVDateTime, TimesAndTheirRounding) {
    EXPECT_EQ(TimeToCRVTime(0.5), 43200000);
    EXPECT_EQ(TimeToCRVTime(Date(2024, 5, 17) + 0.5), 43200000);
    // 23:59:59.9996 rounds up to a whole day of milliseconds ...
    const double lateInDay = Date(2024, 5, 17) + (86399999.6 / 86400000.0);
    const TCRVDateTime stored = DateTimeToCRVDateTime(lateInDay);
    EXPECT_EQ(stored.Time, 86400000);
    EXPECT_EQ(stored.Date, DateToCRVDate(Date(2024, 5, 17)));
    // ... which reads back as time 0 of the same day.
    EXPECT_EQ(CRVTimeToTime(86400000), 0.0);
    EXPECT_EQ(CRVDateTimeToDateTime(stored), Date(2024, 5, 17));
}

TEST(CRVDateTime, MomentsBeforeTheBaseDayFollowTheFormulas) {
    const TCRVDateTime stored = DateTimeToCRVDateTime(-1.25);
    EXPECT_EQ(stored.Date, 693593);
    EXPECT_EQ(stored.Time, -21600000);
    EXPECT_DOUBLE_EQ(CRVDateTimeToDateTime(stored), -1.25);
}

TEST(CRVDateTime, DateTimesRoundTripToTheMillisecond) {
    for (double value = -700000.0; value < 3000000.0; value += 12345.678901) {
        const TCRVDateTime stored = DateTimeToCRVDateTime(value);
        const double back = CRVDateTimeToDateTime(stored);
        ASSERT_NEAR(back, value, 0.5 / 86400000.0 + 1e-9) << value;
    }
}

} // namespace
