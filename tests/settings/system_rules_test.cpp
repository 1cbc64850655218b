// The system's date and number rules: what reads as a date, Val, rounding and the
// conversions to whole numbers.

#include "settings/system_rules.h"

#include <gtest/gtest.h>

#include "tests/support/run_time_errors.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

#include "settings/run_time_error.h"

namespace tallix {
namespace {

// Times of day are compared to well below one second (1/86400 is about 1.2e-5).
constexpr double kTimeTolerance = 1e-9;

using testing::ErrorNumberOf;

// A fixed current year for texts without a year, not a leap year.
constexpr int kYear = 2023;

std::optional<DateValue> P(std::string_view text) {
    return ParseDate(text, kYear);
}

// ---------------------------------------------------------------------------------------
// Dates

TEST(DateRules, NumbersReadMonthDayYear) {
    EXPECT_EQ(P("1/2/1970"), 25570.0);
    EXPECT_EQ(P("1-2-1970"), 25570.0);
    EXPECT_EQ(P("1 2 1970"), 25570.0);
    EXPECT_EQ(P("1 2 3"), 37623.0);   // 2003-01-02
    EXPECT_EQ(P("2 14 3"), 37666.0);  // 2003-02-14
    EXPECT_EQ(P("12/31/9999"), 2958465.0);
    EXPECT_EQ(P("1/1/100"), -657434.0);
    // Mixed date separators and repeated blanks are fine.
    EXPECT_EQ(P("1/2-1970"), 25570.0);
    EXPECT_EQ(P("1 ,  2,1970"), 25570.0);
}

TEST(DateRules, OtherOrdersWhenMonthDayYearIsNoDate) {
    EXPECT_EQ(P("1970-1-13"), 25581.0);  // Y/M/D
    EXPECT_EQ(P("14 2 3"), 41673.0);     // 2014-02-03
    EXPECT_EQ(P("2 3 14"), 41673.0);
    EXPECT_EQ(P("32 2 3"), 11722.0);  // 1932-02-03
    EXPECT_EQ(P("2 3 32"), 11722.0);
    // Day before month when neither year-first reading works.
    EXPECT_EQ(P("13 2 2003"), DateSerial(2003, 2, 13));
    // February 29 only in leap years: 2/29/2001 is no date, 2/29/2000 is.
    EXPECT_EQ(P("2/29/2000"), DateSerial(2000, 2, 29));
    EXPECT_EQ(P("2/29/2001"), std::nullopt);
    EXPECT_EQ(P("13/13/2001"), std::nullopt);
}

TEST(DateRules, TwoNumbersTakeTheCurrentYearOrAreMonthAndYear) {
    EXPECT_EQ(P("1 2"), DateSerial(kYear, 1, 2));
    EXPECT_EQ(P("1/2"), DateSerial(kYear, 1, 2));
    EXPECT_EQ(P("14 1"), DateSerial(kYear, 1, 14));
    EXPECT_EQ(P("1 14"), DateSerial(kYear, 1, 14));
    EXPECT_EQ(P("30 2"), 10990.0);  // February 1930
    EXPECT_EQ(P("2 30"), 10990.0);
    // Whether a day exists depends on the current year.
    EXPECT_EQ(ParseDate("2 29", 2024), DateSerial(2024, 2, 29));
    EXPECT_EQ(ParseDate("2 29", 2023), DateSerial(2029, 2, 1));
    EXPECT_EQ(ParseDate("1 2", 1999), DateSerial(1999, 1, 2));
}

TEST(DateRules, MonthNamesFullAndAbbreviated) {
    EXPECT_EQ(P("2 Jan 1970"), 25570.0);
    EXPECT_EQ(P("2-Jan-1970"), 25570.0);
    EXPECT_EQ(P("2/Jan/1970"), 25570.0);
    EXPECT_EQ(P("2 January, 1970"), 25570.0);
    EXPECT_EQ(P("2 January 1970"), 25570.0);
    EXPECT_EQ(P("2 JANUARY 1970"), 25570.0);
    EXPECT_EQ(P("january 2 1970"), 25570.0);
    EXPECT_EQ(P("08 Jan 1999"), 36168.0);
    EXPECT_EQ(P("Sep 1, 2000"), DateSerial(2000, 9, 1));
    EXPECT_EQ(P("September 1, 2000"), DateSerial(2000, 9, 1));
    EXPECT_EQ(P("1 May 2000"), DateSerial(2000, 5, 1));
    // Neither a longer abbreviation nor a misspelling is a month.
    EXPECT_EQ(P("Sept 1, 2000"), std::nullopt);
    EXPECT_EQ(P("Janu 1, 2000"), std::nullopt);
    EXPECT_EQ(P("Jan Feb 2000"), std::nullopt);
}

TEST(DateRules, MonthNameWithOneOrTwoNumbers) {
    EXPECT_EQ(P("Jan 2"), DateSerial(kYear, 1, 2));
    EXPECT_EQ(P("2 Jan"), DateSerial(kYear, 1, 2));
    EXPECT_EQ(P("Jan 35"), 12785.0);  // no 35th: the year 1935
    EXPECT_EQ(P("Feb 29"), DateSerial(2029, 2, 1));
    EXPECT_EQ(ParseDate("Feb 29", 2024), DateSerial(2024, 2, 29));
    // Day and year, or year and day when that fails: 2001 has no February 29.
    EXPECT_EQ(P("29Feb01"), DateSerial(2029, 2, 1));
    EXPECT_EQ(P("1999 Jan 8"), 36168.0);
    EXPECT_EQ(P("Jan"), std::nullopt);
    EXPECT_EQ(P("Jan 1 2 3"), std::nullopt);
}

TEST(DateRules, TwoDigitYearsFrom1930To2029) {
    EXPECT_EQ(P("1 2 29"), 47120.0);
    EXPECT_EQ(P("1 2 30"), 10960.0);
    EXPECT_EQ(P("1/2/00"), DateSerial(2000, 1, 2));
    EXPECT_EQ(P("1/2/99"), DateSerial(1999, 1, 2));
    EXPECT_EQ(P("Jan 2, 70"), 25570.0);
    // Three digits are a year as written; years before 100 do not exist.
    EXPECT_EQ(P("1/1/101"), -657434.0 + 365);
    EXPECT_EQ(P("12/31/10000"), std::nullopt);
}

TEST(DateRules, TimesWithColonsAndDots) {
    EXPECT_NEAR(*P("13:05"), 0.545138888888889, kTimeTolerance);
    EXPECT_NEAR(*P("3:5"), (3 * 60 + 5) / 1440.0, kTimeTolerance);
    EXPECT_NEAR(*P("23:59:59"), 86399 / 86400.0, kTimeTolerance);
    // A dot separates hours and minutes: these are times, not fractions.
    EXPECT_NEAR(*P("2.5"), 0.086805555555556, kTimeTolerance);
    EXPECT_NEAR(*P("0.1"), 1 / 1440.0, kTimeTolerance);
    EXPECT_NEAR(*P("1.6"), 66 / 1440.0, kTimeTolerance);
    EXPECT_NEAR(*P("1.2.3"), 3723 / 86400.0, kTimeTolerance);
    EXPECT_TRUE(IsDate("1.6"));
    EXPECT_EQ(FormatLongTime(CDate("1.6")), "1:06:00 AM");
}

TEST(DateRules, AmAndPm) {
    EXPECT_NEAR(*P("1:05 PM"), 0.545138888888889, kTimeTolerance);
    EXPECT_NEAR(*P("12:59 pm"), 0.540972222222222, kTimeTolerance);
    EXPECT_NEAR(*P("00:00 pm"), 0.5, kTimeTolerance);
    EXPECT_NEAR(*P("12:59 AM"), 59 / 1440.0, kTimeTolerance);
    EXPECT_NEAR(*P("13:00 AM"), 0.541666666666667, kTimeTolerance);  // past 12, AM/PM ignored
    EXPECT_NEAR(*P("1 am"), 1 / 24.0, kTimeTolerance);
    EXPECT_NEAR(*P("1 pm"), 13 / 24.0, kTimeTolerance);
    EXPECT_NEAR(*P("1:05p"), 0.545138888888889, kTimeTolerance);
    EXPECT_NEAR(*P("1:05 a"), 65 / 1440.0, kTimeTolerance);
    EXPECT_EQ(P("am"), std::nullopt);
    EXPECT_EQ(P("1:05 pm am"), std::nullopt);
    EXPECT_EQ(P("24 pm"), std::nullopt);
}

TEST(DateRules, DateAndTimeTogether) {
    EXPECT_NEAR(*P("6/30/2011 01:20:34 PM"), 40724.55594907407, kTimeTolerance);
    EXPECT_NEAR(*P("6/30/2011 01:20:34"), 40724.05594907407, kTimeTolerance);
    EXPECT_NEAR(*P("6/30/2011 01:20:34 AM"), 40724.05594907407, kTimeTolerance);
    EXPECT_NEAR(*P("Jan 08, 1999 12:34:56"), 36168.524259259259, kTimeTolerance);
    EXPECT_NEAR(*P("1/8/1999 12:34"), 36168.523611111111, kTimeTolerance);
    EXPECT_NEAR(*P("2013-05-14 02:04:12"), DateSerial(2013, 5, 14) + 7452 / 86400.0,
                kTimeTolerance);
    EXPECT_NEAR(*P("12:34 1/8/1999"), 36168.523611111111, kTimeTolerance);
    EXPECT_NEAR(*P("1/2/1970 3 pm"), 25570.625, kTimeTolerance);
    // Before 12/30/1899 the time still counts forward within its day.
    EXPECT_NEAR(*P("12/29/1899 6:00 AM"), -1.25, kTimeTolerance);
    EXPECT_EQ(FormatGeneralDate(*P("12/29/1899 6:00 AM")), "12/29/1899 6:00:00 AM");
    EXPECT_EQ(FormatGeneralDate(*P("4/24/1765 5:45:36 AM")), "4/24/1765 5:45:36 AM");
    // One date and one time at most.
    EXPECT_EQ(P("1:00 2:00"), std::nullopt);
}

TEST(DateRules, TextsThatAreNoDate) {
    for (const char* text :
         {"0",          "1",          "4",          "0.0",       "24:00",
          "0:60",       "0.60",       "24.00",      "1;2;3",     "2013-05-14 02:04:12.017000000",
          "02.01.1970", "",           "   ",        ",",         "/",
          "1:",         ":30",        "1:2:3:4",    "Jan.",      "1*2",
          "@1/2/1970",  "(1/2/1970)", "<1/2/1970>", "1|2|3",     "1/2/1970 x",
          "2/30/2001",  "0/1/2001",   "1/0/2001",   "1/32/2001", "1 2 3 4"}) {
        EXPECT_EQ(P(text), std::nullopt) << '"' << text << '"';
        EXPECT_FALSE(IsDate(text)) << '"' << text << '"';
    }
}

TEST(DateRules, WeekdayNamesAreNoDate) {
    EXPECT_EQ(P("Fri, 08 Jan 1999 12:34:56 -0500"), std::nullopt);
    EXPECT_EQ(P("Fri, 08 Jan 1999 12:34:56"), std::nullopt);
    EXPECT_EQ(P("Friday 08 Jan 1999"), std::nullopt);
    EXPECT_EQ(P("08 Jan 1999 Fri"), std::nullopt);
    EXPECT_EQ(P("Fri"), std::nullopt);
    EXPECT_EQ(P("Saturday"), std::nullopt);
    EXPECT_EQ(P("sun"), std::nullopt);
    // The same texts without the weekday read fine.
    EXPECT_NEAR(*P("08 Jan 1999 12:34:56"), 36168.524259259259, kTimeTolerance);
    // Seven numbers and names are too many even without a weekday.
    EXPECT_EQ(P("08 Jan 1999 12:34:56 -0500"), std::nullopt);
}

TEST(DateRules, BlanksAroundTheText) {
    EXPECT_EQ(P("  1/2/1970  "), 25570.0);
    EXPECT_EQ(P("\t1/2/1970\r\n"), 25570.0);
    EXPECT_EQ(P("\n 2 Jan 1970 \t"), 25570.0);
    EXPECT_NEAR(*P("  13:05  "), 0.545138888888889, kTimeTolerance);
}

TEST(DateRules, CurrentYearWhenNoneIsGiven) {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    const int year = tm.tm_year + 1900;
    EXPECT_EQ(ParseDate("Jan 2"), DateSerial(year, 1, 2));
    EXPECT_EQ(ParseDate("7/4"), DateSerial(year, 7, 4));
    EXPECT_EQ(ParseDate("1/2/1970"), 25570.0);
}

TEST(DateRules, CDateAndIsDate) {
    EXPECT_EQ(CDate("1/2/1970"), 25570.0);
    EXPECT_TRUE(IsDate("2 January, 1970"));
    EXPECT_TRUE(IsDate("13:05"));
    EXPECT_FALSE(IsDate("4"));
    EXPECT_EQ(ErrorNumberOf([] { CDate("0"); }), kErrTypeMismatch);
    EXPECT_EQ(ErrorNumberOf([] { CDate("Fri"); }), kErrTypeMismatch);
    EXPECT_EQ(ErrorNumberOf([] { CDate(""); }), kErrTypeMismatch);
    EXPECT_EQ(ErrorNumberOf([] { CDate("1;2;3"); }), 13);
}

TEST(DateRules, ParsedDatesWriteBackInGeneralDateForm) {
    EXPECT_EQ(FormatGeneralDate(CDate("Jan 08, 1999 12:34:56")), "1/8/1999 12:34:56 PM");
    EXPECT_EQ(FormatGeneralDate(CDate("13:05")), "1:05:00 PM");
    EXPECT_EQ(FormatGeneralDate(CDate("1:05 PM")), "1:05:00 PM");
    EXPECT_EQ(FormatGeneralDate(CDate("08 Jan 1999")), "1/8/1999");
    EXPECT_EQ(FormatGeneralDate(CDate("6/30/2011 01:20:34 PM")), "6/30/2011 1:20:34 PM");
}

TEST(DateRules, DatesWrittenAsText) {
    EXPECT_EQ(FormatGeneralDate(0.0), "12:00:00 AM");
    EXPECT_EQ(FormatGeneralDate(365.0), "12/30/1900");
    EXPECT_EQ(FormatGeneralDate(365.25), "12/30/1900 6:00:00 AM");
    EXPECT_EQ(FormatGeneralDate(3.34), "1/2/1900 8:09:36 AM");
    EXPECT_EQ(FormatGeneralDate(1461.5), "12/31/1903 12:00:00 PM");
    EXPECT_EQ(FormatGeneralDate(-49192.24), "4/24/1765 5:45:36 AM");
    EXPECT_EQ(FormatGeneralDate(-657434.0), "1/1/100");
    EXPECT_EQ(FormatGeneralDate(2958465.0), "12/31/9999");
    EXPECT_EQ(FormatGeneralDate(36168.524259259259), "1/8/1999 12:34:56 PM");
    EXPECT_EQ(FormatGeneralDate(0.545138888888889), "1:05:00 PM");
    EXPECT_EQ(FormatLongTime(2.525), "12:36:00 PM");
    EXPECT_EQ(FormatShortTime(2.525), "12:36");
}

// The quick reading of the forms the mail sources write must give exactly what the full
// reading gives, for valid and invalid parts alike, and for near misses of those forms.
TEST(DateRules, QuickFormsReadAsTheFullReadingDoes) {
    std::vector<std::string> dates;
    for (const char* year : {"1000", "1899", "1900", "2024", "2026", "9999", "0099", "10000"}) {
        for (int month : {0, 1, 2, 9, 12, 13}) {
            for (int day : {0, 1, 7, 28, 29, 30, 31, 32}) {
                const std::string m = std::to_string(month), d = std::to_string(day);
                dates.push_back(m + "/" + d + "/" + year);
                dates.push_back((month < 10 ? "0" : "") + m + "/" + d + "/" + year);
                static constexpr const char* kNames[] = {"Jan", "Feb", "Sep", "Dec", "Fe", "DEC"};
                dates.push_back(std::string(kNames[month % 6]) + " " + d + ", " + year);
            }
        }
    }
    dates.push_back("12/30/1899");
    const std::vector<std::string> times = {
        "",        "0:00",        "00:00",      "9:05",       "21:17:23",    "23:59:59",
        "24:00",   "12:60",       "1:2",        "9:17:23 PM", "12:00:00 AM", "12:30 PM",
        "0:30 PM", "13:00:00 AM", "9:17:23 pm", "9:17:23 XM", "9:17:23 P",   "9:17:23  PM"};
    std::size_t compared = 0;
    auto check = [&](const std::string& text) {
        const std::optional<DateValue> full = ParseDateFully(text, kYear);
        const std::optional<DateValue> quick = ParseDate(text, kYear);
        ASSERT_EQ(quick.has_value(), full.has_value()) << '"' << text << '"';
        if (full) {
            EXPECT_EQ(*quick, *full) << '"' << text << '"';
        }
        ++compared;
    };
    for (const std::string& time : times) check(time);
    for (const std::string& date : dates) {
        for (const std::string& time : times) {
            check(time.empty() ? date : date + " " + time);
            if (!time.empty()) check(date + "  " + time);
        }
        check(date + " ");
        check(" " + date);
        check(date + ",");
    }
    EXPECT_GT(compared, 10000u);
}

TEST(DateRules, HostileTextsAreRejectedQuickly) {
    const auto start = std::chrono::steady_clock::now();
    const size_t big = 1 << 20;
    EXPECT_EQ(P(std::string(big, '9')), std::nullopt);
    EXPECT_EQ(P(std::string(big, ' ')), std::nullopt);
    EXPECT_EQ(P(std::string(big, '/')), std::nullopt);
    EXPECT_EQ(P(std::string(big, 'j')), std::nullopt);
    std::string manyNumbers;
    for (size_t i = 0; i < big / 2; ++i) manyNumbers += "1 ";
    EXPECT_EQ(P(manyNumbers), std::nullopt);
    std::string manyColons;
    for (size_t i = 0; i < big / 2; ++i) manyColons += "1:";
    EXPECT_EQ(P(manyColons), std::nullopt);
    // Long runs of leading zeros and blanks do not change a valid text.
    EXPECT_EQ(P(std::string(big, '0') + "1/2/1970"), 25570.0);
    EXPECT_EQ(P(std::string(big, ' ') + "1/2/1970" + std::string(big, '\t')), 25570.0);
    // A number far too large for any part of a date.
    EXPECT_EQ(P("99999999999999999999999999/1/1970"), std::nullopt);
    EXPECT_EQ(P("1/2/99999999999999999999999"), std::nullopt);
    EXPECT_EQ(P("99999999999999999999:00"), std::nullopt);
    // NUL bytes and bytes above 127 are not part of a date.
    EXPECT_EQ(P(std::string("1/2\0/1970", 9)), std::nullopt);
    EXPECT_EQ(P(std::string("1/2/1970\0", 9)), std::nullopt);
    EXPECT_EQ(P("1/2/1970\xA0"), std::nullopt);
    EXPECT_EQ(P("J\xE4n 2 1970"), std::nullopt);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(5));
}

// ---------------------------------------------------------------------------------------
// Numbers

TEST(NumberRules, RoundHalfToEven) {
    EXPECT_EQ(RoundHalfEven(0.5), 0.0);
    EXPECT_EQ(RoundHalfEven(1.5), 2.0);
    EXPECT_EQ(RoundHalfEven(2.5), 2.0);
    EXPECT_EQ(RoundHalfEven(3.5), 4.0);
    EXPECT_EQ(RoundHalfEven(-0.5), 0.0);
    EXPECT_EQ(RoundHalfEven(-1.5), -2.0);
    EXPECT_EQ(RoundHalfEven(-2.5), -2.0);
    EXPECT_EQ(RoundHalfEven(0.5001), 1.0);
    EXPECT_EQ(RoundHalfEven(0.4999), 0.0);
    EXPECT_EQ(RoundHalfEven(-0.6), -1.0);
    EXPECT_EQ(RoundHalfEven(7.0), 7.0);
    // The largest doubles below one half and above 2^52 stay exact.
    EXPECT_EQ(RoundHalfEven(std::nextafter(0.5, 0.0)), 0.0);
    EXPECT_EQ(RoundHalfEven(4503599627370497.0), 4503599627370497.0);
    EXPECT_EQ(RoundHalfEven(4503599627370495.5), 4503599627370496.0);
    EXPECT_EQ(RoundHalfEven(-1e300), -1e300);
    EXPECT_TRUE(std::isnan(RoundHalfEven(std::numeric_limits<double>::quiet_NaN())));
}

TEST(NumberRules, CIntRoundsHalfToEven) {
    EXPECT_EQ(CInt(0.5), 0);
    EXPECT_EQ(CInt(1.5), 2);
    EXPECT_EQ(CInt(2.5), 2);
    EXPECT_EQ(CInt(3.5), 4);
    EXPECT_EQ(CInt(-0.5), 0);
    EXPECT_EQ(CInt(-1.5), -2);
    EXPECT_EQ(CInt(36.5), 36);
    EXPECT_EQ(CInt(-36.5), -36);
    EXPECT_EQ(CInt(36.75), 37);
    EXPECT_EQ(CInt(-36.75), -37);
}

TEST(NumberRules, CIntOverflowsOutside16Bits) {
    EXPECT_EQ(CInt(32767.49), 32767);
    EXPECT_EQ(CInt(-32768.5), -32768);
    EXPECT_EQ(ErrorNumberOf([] { CInt(32767.5); }), kErrOverflow);
    EXPECT_EQ(ErrorNumberOf([] { CInt(-32768.51); }), kErrOverflow);
    EXPECT_EQ(ErrorNumberOf([] { CInt(1e300); }), 6);
    EXPECT_EQ(ErrorNumberOf([] { CInt(std::numeric_limits<double>::infinity()); }), 6);
    EXPECT_EQ(ErrorNumberOf([] { CInt(std::numeric_limits<double>::quiet_NaN()); }), 6);
}

TEST(NumberRules, CLngOverflowsOutside32Bits) {
    EXPECT_EQ(CLng(1.5), 2);
    EXPECT_EQ(CLng(-2.5), -2);
    EXPECT_EQ(CLng(32768.0), 32768);
    EXPECT_EQ(CLng(2147483647.49), 2147483647);
    EXPECT_EQ(CLng(-2147483648.5), -2147483647 - 1);
    EXPECT_EQ(ErrorNumberOf([] { CLng(2147483647.5); }), kErrOverflow);
    EXPECT_EQ(ErrorNumberOf([] { CLng(-2147483648.51); }), kErrOverflow);
    EXPECT_EQ(ErrorNumberOf([] { CLng(-1e300); }), 6);
    EXPECT_EQ(ErrorNumberOf([] { CLng(std::numeric_limits<double>::quiet_NaN()); }), 6);
}

TEST(NumberRules, WholeNumberOfATextRoundsTheSameWay) {
    EXPECT_EQ(CInt(Val("1.5")), 2);
    EXPECT_EQ(CInt(Val("-0.6")), -1);
    EXPECT_EQ(CInt(Val("0.4")), 0);
    EXPECT_EQ(CInt(Val("0.5")), 0);
    EXPECT_EQ(CInt(Val("-1.5")), -2);
    EXPECT_EQ(ErrorNumberOf([] { CInt(Val("40000")); }), kErrOverflow);
}

TEST(NumberRules, ValReadsFromTheLeftIgnoringBlanks) {
    EXPECT_EQ(Val("    1615 198th Street N.E."), 1615198.0);
    EXPECT_EQ(Val(" 2 45 7"), 2457.0);
    EXPECT_EQ(Val("2457"), 2457.0);
    EXPECT_EQ(Val("24 and 57"), 24.0);
    EXPECT_EQ(Val("1\t2\n3"), 123.0);
    EXPECT_EQ(Val(" - 1 . 5"), -1.5);
    // Only blanks, tabs and line feeds are skipped: a carriage return ends the number.
    EXPECT_EQ(Val("1\r2"), 1.0);
}

TEST(NumberRules, ValDecimalPointAndSign) {
    EXPECT_EQ(Val("1.6"), 1.6);
    EXPECT_EQ(Val(".5"), 0.5);
    EXPECT_EQ(Val("-1.5"), -1.5);
    EXPECT_EQ(Val("+2"), 2.0);
    EXPECT_EQ(Val(" - .1"), -0.1);
    EXPECT_EQ(Val("1.2.3"), 1.2);
    EXPECT_EQ(Val("007.50"), 7.5);
    EXPECT_EQ(Val("0.000123"), 0.000123);
    EXPECT_EQ(Val("123456789012345678901234567890"), 123456789012345678901234567890.0);
    EXPECT_EQ(Val("--5"), 0.0);
    EXPECT_EQ(Val("-"), 0.0);
    EXPECT_EQ(Val("."), 0.0);
    EXPECT_FALSE(std::signbit(Val("-0")));
}

TEST(NumberRules, ValExponents) {
    EXPECT_EQ(Val("1e3"), 1000.0);
    EXPECT_EQ(Val("1E3"), 1000.0);
    EXPECT_EQ(Val("1d2"), 100.0);
    EXPECT_EQ(Val("1D+2"), 100.0);
    EXPECT_EQ(Val("1.5e-2"), 0.015);
    EXPECT_EQ(Val("2 e 3"), 2000.0);
    EXPECT_EQ(Val(".5e1"), 5.0);
    // Without digits after it the letter is not an exponent.
    EXPECT_EQ(Val("1e"), 1.0);
    EXPECT_EQ(Val("1e+"), 1.0);
    EXPECT_EQ(Val("1ex"), 1.0);
    EXPECT_EQ(Val("e3"), 0.0);
    // Out of the range of a double.
    EXPECT_EQ(Val("1e400"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(Val("-1e400"), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(Val("1e-400"), 0.0);
    EXPECT_EQ(Val("1.7976931348623157e308"), std::numeric_limits<double>::max());
}

TEST(NumberRules, ValHexAndOctal) {
    EXPECT_EQ(Val("&HFFFF"), -1.0);
    EXPECT_EQ(Val("&hffff"), -1.0);
    EXPECT_EQ(Val("&H7FFF"), 32767.0);
    EXPECT_EQ(Val("&H8000"), -32768.0);
    EXPECT_EQ(Val("&H10000"), 65536.0);
    EXPECT_EQ(Val("&HFFFFFFFF"), -1.0);
    EXPECT_EQ(Val("&H80000000"), -2147483648.0);
    EXPECT_EQ(Val("&HFFFF&"), 65535.0);
    EXPECT_EQ(Val("&H1F"), 31.0);
    EXPECT_EQ(Val(" & H 1 F"), 31.0);
    EXPECT_EQ(Val("&H1G"), 1.0);
    EXPECT_EQ(Val("&O17"), 15.0);
    EXPECT_EQ(Val("&o177777"), -1.0);
    EXPECT_EQ(Val("&O18"), 1.0);
    EXPECT_EQ(Val("&H"), 0.0);
    EXPECT_EQ(Val("&"), 0.0);
    EXPECT_EQ(Val("&17"), 0.0);
    // Wider than 32 bits keeps the unsigned value.
    EXPECT_EQ(Val("&H100000000"), 4294967296.0);
}

TEST(NumberRules, ValStopsAtTheFirstUnusableCharacter) {
    EXPECT_EQ(Val("abc"), 0.0);
    EXPECT_EQ(Val(""), 0.0);
    EXPECT_EQ(Val("1,000"), 1.0);
    EXPECT_EQ(Val("$5"), 0.0);
    EXPECT_EQ(Val("50%"), 50.0);
    EXPECT_EQ(Val("12abc34"), 12.0);
    EXPECT_EQ(Val(std::string("7\0"
                              "8",
                              3)),
              7.0);
    EXPECT_EQ(Val(std::string("\0"
                              "8",
                              2)),
              0.0);
}

TEST(NumberRules, ValOnHostileTexts) {
    const auto start = std::chrono::steady_clock::now();
    const size_t big = 1 << 20;
    EXPECT_EQ(Val(std::string(big, '9')), std::numeric_limits<double>::infinity());
    EXPECT_EQ(Val(std::string(big, '0') + "5"), 5.0);
    EXPECT_EQ(Val("0." + std::string(big, '0') + "5"), 0.0);
    EXPECT_EQ(Val(std::string(big, ' ') + "42"), 42.0);
    EXPECT_EQ(Val("1e" + std::string(big, '9')), std::numeric_limits<double>::infinity());
    EXPECT_EQ(Val("1e-" + std::string(big, '9')), 0.0);
    EXPECT_EQ(Val("&H" + std::string(big, 'F')), std::numeric_limits<double>::infinity());
    EXPECT_EQ(Val("&H" + std::string(big, '0') + "FFFF"), -1.0);
    // A value just above a rounding midpoint stays above it even when the digit that makes
    // the difference comes after many zeros: 2^53 + 1 + tiny rounds up to 2^53 + 2.
    EXPECT_EQ(Val("9007199254740993." + std::string(2000, '0') + "1"), 9007199254740994.0);
    EXPECT_EQ(Val("9007199254740993"), 9007199254740992.0);
    // A midpoint digit string longer than the kept digits, then a non-zero digit.
    EXPECT_EQ(Val("9007199254740993" + std::string(1000, '0') + "1e-1001"), 9007199254740994.0);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(5));
}

}  // namespace
}  // namespace tallix
