// The date, time and date-time encodings of records.
//
// The dataset layer gives a moment as a day count (a double: the whole part counts days since
// 1899-12-30, the fraction is the part of the day). Records store:
//   bftDate      i32  day number: whole days since 0001-01-01, plus 1 (1899-12-30 is 693594)
//   bftTime      i32  milliseconds since midnight
//   bftDateTime  8    the date (i32) followed by the time (i32)
// A day count is cut to date = trunc(value) + 693594 and time = round(frac(value) * 86400000);
// back, value = date - 693594 + frac(time / 86400000). Moments before 1899-12-30 follow the same
// formulas (their fraction, and so their stored time, is negative). A time that rounds up to
// 86400000 reads back as time 0 of the same day.
#pragma once

#include <cstdint>

// Days between 0001-01-01 (day number 1) and 1899-12-30 (day count 0).
constexpr std::int32_t CRVDateDelta = 693594;
constexpr std::int32_t CRVMSecsPerDay = 86400000;

#pragma pack(push, 1)
// TCRVDateTime, 8 bytes:
//   OFFSET  SIZE  FIELD
//   0       4     Date   day number (as bftDate)
//   4       4     Time   milliseconds (as bftTime)
struct TCRVDateTime {
    std::int32_t Date;
    std::int32_t Time;
};
#pragma pack(pop)
static_assert(sizeof(TCRVDateTime) == 8, "a date-time is 8 bytes");

std::int32_t DateToCRVDate(double value);
double CRVDateToDate(std::int32_t date);
std::int32_t TimeToCRVTime(double value);
double CRVTimeToTime(std::int32_t time);
TCRVDateTime DateTimeToCRVDateTime(double value);
double CRVDateTimeToDateTime(const TCRVDateTime& dateTime);

// Calendar helpers (proleptic Gregorian calendar) for the day count; false for an invalid date.
bool CRVTryEncodeDate(int year, int month, int day, double& value);
// The calendar date of a day count's whole part (towards minus infinity for negative counts).
void CRVDecodeDate(double value, int& year, int& month, int& day);
