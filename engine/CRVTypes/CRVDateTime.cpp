#include "CRVTypes/CRVDateTime.h"

#include <cmath>

namespace {

double Frac(double value) {
    return value - std::trunc(value);
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr int KDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : KDays[month - 1];
}

// Day number (0001-01-01 = 1) of a valid date.
std::int64_t DayNumber(int year, int month, int day) {
    std::int64_t days = day;
    for (int m = 1; m < month; ++m)
        days += DaysInMonth(year, m);
    const std::int64_t y = year - 1;
    return days + y * 365 + y / 4 - y / 100 + y / 400;
}

} // namespace

std::int32_t DateToCRVDate(double value) {
    return static_cast<std::int32_t>(std::trunc(value)) + CRVDateDelta;
}

double CRVDateToDate(std::int32_t date) {
    return static_cast<double>(date) - CRVDateDelta;
}

std::int32_t TimeToCRVTime(double value) {
    return static_cast<std::int32_t>(std::round(Frac(value) * CRVMSecsPerDay));
}

double CRVTimeToTime(std::int32_t time) {
    return Frac(static_cast<double>(time) / CRVMSecsPerDay);
}

TCRVDateTime DateTimeToCRVDateTime(double value) {
    return {DateToCRVDate(value), TimeToCRVTime(value)};
}

double CRVDateTimeToDateTime(const TCRVDateTime& dateTime) {
    return CRVDateToDate(dateTime.Date) + CRVTimeToTime(dateTime.Time);
}

bool CRVTryEncodeDate(int year, int month, int day, double& value) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
        return false;
    value = static_cast<double>(DayNumber(year, month, day) - CRVDateDelta);
    return true;
}

void CRVDecodeDate(double value, int& year, int& month, int& day) {
    // Day number to civil date (days counted from 0001-01-01 = 1).
    std::int64_t n = static_cast<std::int64_t>(std::floor(value)) + CRVDateDelta - 1; // 0-based
    const std::int64_t era = (n >= 0 ? n : n - 146096) / 146097;
    const std::int64_t doe = n - era * 146097; // [0, 146096]
    std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    year = static_cast<int>(yoe + era * 400 + 1);
    month = 1;
    while (doy >= DaysInMonth(year, month)) {
        doy -= DaysInMonth(year, month);
        ++month;
    }
    day = static_cast<int>(doy) + 1;
}
