#include "access_dates.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace tarnwick::access {
namespace {

// Access's date text as #...# and CDate read it (US month/day order; two-digit
// years 00-29 are 20xx), in the engine's stored form; "" where Access refuses.
struct DateTextCase {
    const char* name;
    const char* text;
    const char* stored;
};

class DateTextTest : public ::testing::TestWithParam<DateTextCase> {};

TEST_P(DateTextTest, ReadsAsAccess) {
    const std::optional<DateTime> value = ParseAccessDate(GetParam().text);
    EXPECT_EQ(value ? FormatStoredDate(*value) : std::string(), GetParam().stored) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Dates, DateTextTest,
    ::testing::Values(DateTextCase{"iso", "1996-01-31", "1996-01-31 00:00:00"},
                      DateTextCase{"iso_slashes", "1996/1/31", "1996-01-31 00:00:00"},
                      DateTextCase{"stored_form", "2001-12-31 23:59:59", "2001-12-31 23:59:59"},
                      DateTextCase{"iso_t", "1996-01-31T10:30:15", "1996-01-31 10:30:15"},
                      DateTextCase{"us", "1/31/1996", "1996-01-31 00:00:00"},
                      DateTextCase{"us_day_first_when_month_impossible", "31/1/1996", "1996-01-31 00:00:00"},
                      DateTextCase{"us_two_digit_year", "1/31/96", "1996-01-31 00:00:00"},
                      DateTextCase{"two_digit_year_29", "1/1/29", "2029-01-01 00:00:00"},
                      DateTextCase{"two_digit_year_30", "1/1/30", "1930-01-01 00:00:00"},
                      DateTextCase{"us_dashes", "7-4-1996", "1996-07-04 00:00:00"},
                      DateTextCase{"day_month_name_year", "31-Jan-1996", "1996-01-31 00:00:00"},
                      DateTextCase{"month_name_day_year", "January 31, 1996", "1996-01-31 00:00:00"},
                      DateTextCase{"day_full_month_name", "4 August 1994", "1994-08-04 00:00:00"},
                      DateTextCase{"date_and_short_time", "1996-01-31 10:30", "1996-01-31 10:30:00"},
                      DateTextCase{"midnight_am", "1/31/1996 12:00 AM", "1996-01-31 00:00:00"},
                      DateTextCase{"noon_pm", "12:30 PM", "1899-12-30 12:30:00"},
                      DateTextCase{"hour_pm", "10 PM", "1899-12-30 22:00:00"},
                      DateTextCase{"time_alone", "10:30:15", "1899-12-30 10:30:15"},
                      DateTextCase{"fraction_of_second_dropped", "1996-01-31 10:30:15.250", "1996-01-31 10:30:15"},
                      DateTextCase{"leap_day", "2/29/2000", "2000-02-29 00:00:00"},
                      DateTextCase{"no_leap_day_1900", "2/29/1900", ""},
                      DateTextCase{"no_leap_day_1995", "2/29/1995", ""}, DateTextCase{"no_month_13", "13/13/1996", ""},
                      DateTextCase{"month_zero", "0/1/1996", ""}, DateTextCase{"hour_24", "1996-01-31 24:00", ""},
                      DateTextCase{"minute_60", "10:60", ""}, DateTextCase{"pm_after_13", "1/31/1996 13:00 PM", ""},
                      DateTextCase{"year_10000", "1/1/10000", ""}, DateTextCase{"no_year", "1/31", ""},
                      DateTextCase{"words", "tomorrow", ""}, DateTextCase{"empty", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

// Access's serial dates: day 0 is 1899-12-30, the fraction is the time, and
// before day 0 the fraction still counts forward (-1.25 is 1899-12-29 06:00).
struct SerialCase {
    const char* name;
    double serial;
    const char* stored;
};

class SerialDateTest : public ::testing::TestWithParam<SerialCase> {};

TEST_P(SerialDateTest, ConvertsBothWays) {
    const std::optional<DateTime> value = FromSerial(GetParam().serial);
    ASSERT_TRUE(value);
    EXPECT_EQ(FormatStoredDate(*value), GetParam().stored);
    EXPECT_DOUBLE_EQ(ToSerial(*value), GetParam().serial);
}

INSTANTIATE_TEST_SUITE_P(Dates, SerialDateTest,
                         ::testing::Values(SerialCase{"day_zero", 0, "1899-12-30 00:00:00"},
                                           SerialCase{"first_of_1900", 2, "1900-01-01 00:00:00"},
                                           SerialCase{"noon", 35095.5, "1996-01-31 12:00:00"},
                                           SerialCase{"before_day_zero", -1.25, "1899-12-29 06:00:00"},
                                           SerialCase{"last_second", 2958465.9999884259, "9999-12-31 23:59:59"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SerialDate, OutsideAccessRangeIsNoDate) {
    EXPECT_FALSE(FromSerial(2958466.0));
    EXPECT_FALSE(FromSerial(-657435.0));
    EXPECT_FALSE(FromSerial(std::numeric_limits<double>::quiet_NaN()));
}

} // namespace
} // namespace tarnwick::access
