#pragma once
// The system's date and number rules (en-US): what reads as a date, how a date and a time
// are written, the numeric value of a text, and rounding to a whole number. Everything in
// the product that needs "the system's date rules" or "the numeric value of a text" calls
// this module.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tallix {

// An Automation date: whole days since 12/30/1899; the fraction is the time of day.
using DateValue = double;

// Reads a text as a date and time the way the system's date conversion does (month names,
// M/D/Y order with the fallbacks, two-digit years 1930 to 2029, "." and ":" as time
// separators, AM/PM). nullopt when the text does not read as a date. Two numbers or a
// month name and a day without a year take `currentYear`.
std::optional<DateValue> ParseDate(std::string_view text, int currentYear);
std::optional<DateValue> ParseDate(std::string_view text);  // the current year
// ParseDate without its quick path for the forms the mail sources write; for tests that hold
// the two readings side by side.
std::optional<DateValue> ParseDateFully(std::string_view text, int currentYear);
bool IsDate(std::string_view text);
// ParseDate or run-time error 13 (type mismatch).
DateValue CDate(std::string_view text);

DateValue DateSerial(int year, int month, int day);
DateValue TimeSerial(int hour, int minute, int second);
// The local date and time now, and today's date at midnight.
DateValue Now();
DateValue Today();

std::string FormatShortDate(DateValue d);    // M/d/yyyy
std::string FormatLongTime(DateValue d);     // h:mm:ss AM
std::string FormatShortTime(DateValue d);    // HH:mm
std::string FormatGeneralDate(DateValue d);  // short date, then " " + long time unless midnight;
                                             // the time alone for day 0

// Val: reads from the left, blanks, tabs and line feeds ignored anywhere, "." as the
// decimal point, &H and &O prefixes; stops at the first character it cannot use.
double Val(std::string_view text);

// Round half to even, to a whole number.
double RoundHalfEven(double value);
// Rounded to a 16-bit or 32-bit integer; run-time error 6 (overflow) when out of range.
std::int16_t CInt(double value);
std::int32_t CLng(double value);

}  // namespace tallix
