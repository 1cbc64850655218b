// What reads as a date, the numeric value of a text, and rounding to a whole number (en-US).
//
// Dates are read in two steps: the text is cut into elements (numbers, month names, AM/PM)
// and separators, then the elements are given their roles: numbers joined by ":" or "." are
// the time of day, the rest are month, day and year, tried in the order M/D/Y first and the
// other orders after it. Every step looks at each character a bounded number of times, so a
// long or hostile text costs linear time and is rejected early once it has too many elements.

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

#include "settings/run_time_error.h"
#include "settings/system_rules.h"

namespace tallix {
namespace {

// ---------------------------------------------------------------------------------------
// Dates

// More than this many numbers and month names in one text never reads as a date.
constexpr int kMaxElements = 6;
// Numbers are read saturating at this value; nothing larger is a valid hour, day, month or
// year, so the saturated value is rejected the same way the real one would be.
constexpr int kNumberCap = 100000;

constexpr std::array<std::string_view, 12> kMonthNames = {
    "january", "february", "march",     "april",   "may",      "june",
    "july",    "august",   "september", "october", "november", "december"};
constexpr std::array<std::string_view, 7> kDayNames = {"sunday",   "monday", "tuesday", "wednesday",
                                                       "thursday", "friday", "saturday"};

enum class Kind { Number, Month, AmPm, TimeSep, DateSep, Blank };

struct Token {
    Kind kind;
    int value = 0;  // Number: the number; Month: 1..12; AmPm: 1 for PM, 0 for AM
    char sep = 0;   // TimeSep: ':' or '.'
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// A full name or its three-letter abbreviation.
bool NameMatches(std::string_view word, std::string_view name) {
    return word == name || (word.size() == 3 && name.substr(0, 3) == word);
}

// Cuts the text into tokens. False when a character or word cannot be part of a date, or
// when the text holds more elements than any date has.
bool Tokenize(std::string_view text, std::vector<Token>& out) {
    int elements = 0;
    size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (IsBlank(c) || c == ',') {
            while (i < text.size() && (IsBlank(text[i]) || text[i] == ',')) ++i;
            out.push_back({Kind::Blank});
        } else if (c == ':' || c == '.') {
            out.push_back({Kind::TimeSep, 0, c});
            ++i;
        } else if (c == '/' || c == '-') {
            out.push_back({Kind::DateSep});
            ++i;
        } else if (IsDigit(c)) {
            int value = 0;
            while (i < text.size() && IsDigit(text[i])) {
                if (value < kNumberCap) value = value * 10 + (text[i] - '0');
                ++i;
            }
            if (++elements > kMaxElements) return false;
            out.push_back({Kind::Number, value});
        } else if (IsLetter(c)) {
            // The longest word that can mean anything here is "september".
            std::string word;
            while (i < text.size() && IsLetter(text[i])) {
                if (word.size() > 9) return false;
                word += Lower(text[i]);
                ++i;
            }
            if (word == "am" || word == "a" || word == "pm" || word == "p") {
                out.push_back({Kind::AmPm, word[0] == 'p' ? 1 : 0});
                continue;
            }
            // A text that names a weekday is not read as a date.
            for (std::string_view day : kDayNames)
                if (NameMatches(word, day)) return false;
            int month = 0;
            for (size_t m = 0; m < kMonthNames.size(); ++m)
                if (NameMatches(word, kMonthNames[m])) month = static_cast<int>(m) + 1;
            if (month == 0) return false;
            if (++elements > kMaxElements) return false;
            out.push_back({Kind::Month, month});
        } else {
            return false;
        }
    }
    return true;
}

bool IsLeapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Years below 100 written in a text fall in 1930..2029.
int WindowYear(int year) {
    if (year >= 100) return year;
    return year < 30 ? 2000 + year : 1900 + year;
}

struct Ymd {
    int year = 0, month = 0, day = 0;
};

// A calendar date from a year as written, a month and a day; nullopt when there is no such
// day in the range of the date type (years 100 to 9999).
std::optional<Ymd> MakeDate(int writtenYear, int month, int day) {
    int year = WindowYear(writtenYear);
    if (year < 100 || year > 9999) return std::nullopt;
    if (month < 1 || month > 12) return std::nullopt;
    if (day < 1 || day > DaysInMonth(year, month)) return std::nullopt;
    return Ymd{year, month, day};
}

// Gives the date elements their roles. `numbers` are in text order; `month` is 0 when the
// text names no month.
std::optional<Ymd> ResolveDate(const std::vector<int>& numbers, int month, int currentYear) {
    const size_t n = numbers.size();
    if (month != 0) {
        if (n == 1) {
            // "Jan 2": the day of this year; "Jan 35": no such day, so it is the year.
            if (auto d = MakeDate(currentYear, month, numbers[0])) return d;
            return MakeDate(numbers[0], month, 1);
        }
        if (n == 2) {
            // "2 Jan 1970", "Jan 8, 1999": day then year; "29 Feb 01" falls back to year
            // then day (2029-02-01).
            if (auto d = MakeDate(numbers[1], month, numbers[0])) return d;
            return MakeDate(numbers[0], month, numbers[1]);
        }
        return std::nullopt;
    }
    if (n == 2) {
        const int a = numbers[0], b = numbers[1];
        if (auto d = MakeDate(currentYear, a, b)) return d;  // M/D
        if (auto d = MakeDate(currentYear, b, a)) return d;  // D/M
        if (auto d = MakeDate(b, a, 1)) return d;            // M/Y
        return MakeDate(a, b, 1);                            // Y/M
    }
    if (n == 3) {
        const int a = numbers[0], b = numbers[1], c = numbers[2];
        if (auto d = MakeDate(c, a, b)) return d;  // M/D/Y
        if (auto d = MakeDate(a, b, c)) return d;  // Y/M/D
        if (auto d = MakeDate(c, b, a)) return d;  // D/M/Y
        return MakeDate(a, c, b);                  // Y/D/M
    }
    return std::nullopt;
}

struct TimeOfDay {
    int hour = 0, minute = 0, second = 0;
};

// What the tokens of a date text stand for, once each has its role.
struct DateElements {
    std::vector<int> timeParts;  // hours, minutes, seconds as written
    bool timeFound = false;
    bool onlyDots = true;          // the time's separators were all "." (and no AM/PM made it)
    int amPm = -1;                 // -1 none, 0 AM, 1 PM
    std::vector<int> dateNumbers;  // the numbers that are not part of the time, in text order
    int month = 0;                 // a month named in the text, 1..12, or 0
    std::size_t DateCount() const { return dateNumbers.size() + (month != 0 ? 1 : 0); }
};

// Index of the first token from `i` on that is not a blank.
std::size_t SkipBlanks(const std::vector<Token>& tokens, std::size_t i) {
    while (i < tokens.size() && tokens[i].kind == Kind::Blank) ++i;
    return i;
}

bool IsTimeSeparatorAt(const std::vector<Token>& tokens, std::size_t i) {
    return i < tokens.size() && tokens[i].kind == Kind::TimeSep;
}

// Numbers joined by ":" or "." make the time of day: hours, minutes and maybe seconds. Marks
// them in `inTime`. False for a separator that does not stand between two numbers, a second
// time of day, or more than three parts.
bool FindTimeOfDay(const std::vector<Token>& tokens, std::vector<bool>& inTime, DateElements& e) {
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].kind == Kind::TimeSep) return false;
        if (tokens[i].kind != Kind::Number) continue;
        std::size_t sep = SkipBlanks(tokens, i + 1);
        if (!IsTimeSeparatorAt(tokens, sep)) continue;
        if (e.timeFound) return false;
        e.timeFound = true;
        inTime[i] = true;
        e.timeParts.push_back(tokens[i].value);
        std::size_t last = i;
        while (IsTimeSeparatorAt(tokens, sep)) {
            const std::size_t next = SkipBlanks(tokens, sep + 1);
            if (next >= tokens.size() || tokens[next].kind != Kind::Number) return false;
            if (tokens[sep].sep != '.') e.onlyDots = false;
            inTime[next] = true;
            e.timeParts.push_back(tokens[next].value);
            if (e.timeParts.size() > 3) return false;
            last = next;
            sep = SkipBlanks(tokens, next + 1);
        }
        i = last;
    }
    return true;
}

// AM or PM, at most once. Without a written time it makes the number just before it the
// hour ("1 am"); false when there is no such number.
bool FindAmPm(const std::vector<Token>& tokens, std::vector<bool>& inTime, DateElements& e) {
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].kind != Kind::AmPm) continue;
        if (e.amPm != -1) return false;
        e.amPm = tokens[i].value;
        if (e.timeFound) continue;
        std::size_t before = i;
        while (before > 0 && tokens[before - 1].kind == Kind::Blank) --before;
        if (before == 0 || tokens[before - 1].kind != Kind::Number) return false;
        inTime[before - 1] = true;
        e.timeParts.push_back(tokens[before - 1].value);
        e.timeFound = true;
        e.onlyDots = false;
    }
    return true;
}

// The numbers outside the time and the month name, which may be named once.
bool CollectDateElements(const std::vector<Token>& tokens, const std::vector<bool>& inTime,
                         DateElements& e) {
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].kind == Kind::Number && !inTime[i]) {
            e.dateNumbers.push_back(tokens[i].value);
        } else if (tokens[i].kind == Kind::Month) {
            if (e.month != 0) return false;
            e.month = tokens[i].value;
        }
    }
    return true;
}

// The time of day the elements give, in the 24-hour clock; none when it is out of range, or
// when the whole text is a bare "0.0" (a number, not midnight).
std::optional<TimeOfDay> MakeTime(const DateElements& e) {
    TimeOfDay t;
    t.hour = e.timeParts[0];
    if (e.timeParts.size() > 1) t.minute = e.timeParts[1];
    if (e.timeParts.size() > 2) t.second = e.timeParts[2];
    if (t.hour > 23 || t.minute > 59 || t.second > 59) return std::nullopt;
    if (e.DateCount() == 0 && e.onlyDots && t.hour == 0 && t.minute == 0 && t.second == 0)
        return std::nullopt;
    // AM/PM applies to 12-hour times; "13:00 AM" stays 13:00.
    if (e.amPm != -1 && t.hour <= 12) t.hour = t.hour % 12 + (e.amPm == 1 ? 12 : 0);
    return t;
}

std::optional<DateValue> ParseDateWithYear(std::string_view text, int currentYear) {
    std::vector<Token> tokens;
    if (!Tokenize(text, tokens)) return std::nullopt;
    DateElements e;
    std::vector<bool> inTime(tokens.size(), false);
    if (!FindTimeOfDay(tokens, inTime, e) || !FindAmPm(tokens, inTime, e) ||
        !CollectDateElements(tokens, inTime, e)) {
        return std::nullopt;
    }
    if (e.DateCount() == 0 && !e.timeFound) return std::nullopt;

    DateValue day = 0;
    if (e.DateCount() > 0) {
        const std::optional<Ymd> ymd = ResolveDate(e.dateNumbers, e.month, currentYear);
        if (!ymd) return std::nullopt;
        day = DateSerial(ymd->year, ymd->month, ymd->day);
    }
    if (!e.timeFound) return day;

    const std::optional<TimeOfDay> t = MakeTime(e);
    if (!t) return std::nullopt;
    const DateValue time = TimeSerial(t->hour, t->minute, t->second);
    // Days before 12/30/1899 carry their time of day as a positive fraction counted away
    // from zero (-1.25 is 12/29/1899 6:00 AM).
    return day < 0 ? day - time : day + time;
}

// The forms the mail sources and the message record hand to the date conversion for every
// message ("12/7/2026", "Dec 7, 2026 21:17:23", "12/7/2026 9:17:23 PM", "21:17"), read
// without cutting them into tokens. Gives a value only for a text of exactly such a form that
// names a valid date and time, with the value the full reading gives; anything else (other
// forms, blanks around it, out-of-range parts) is left to the full reading.
class QuickDateReader {
  public:
    explicit QuickDateReader(std::string_view text) : m_text(text) {}

    std::optional<DateValue> Read() {
        Ymd date;
        const bool hasDate = ReadNumericDate(date) || ReadNamedDate(date);
        if (hasDate && AtEnd()) return DateSerial(date.year, date.month, date.day);
        if (hasDate && !Skip(' ')) return std::nullopt;
        TimeOfDay time;
        if (!ReadTime(time) || !AtEnd()) return std::nullopt;
        const DateValue t = TimeSerial(time.hour, time.minute, time.second);
        if (!hasDate) return t;
        const DateValue day = DateSerial(date.year, date.month, date.day);
        return day < 0 ? day - t : day + t;
    }

  private:
    bool AtEnd() const { return m_at == m_text.size(); }
    bool Skip(char c) {
        if (AtEnd() || m_text[m_at] != c) return false;
        ++m_at;
        return true;
    }
    // Between `min` and `max` digits; a number of four digits must not start with 0 (a year
    // written "0099" is read by the full reading as 1999).
    bool Number(std::size_t min, std::size_t max, int& value) {
        std::size_t n = 0;
        value = 0;
        while (n < max && m_at < m_text.size() && IsDigit(m_text[m_at])) {
            value = value * 10 + (m_text[m_at++] - '0');
            ++n;
        }
        return n >= min && !(n == 4 && m_text[m_at - 4] == '0');
    }
    // M/D/YYYY
    bool ReadNumericDate(Ymd& date) {
        const std::size_t start = m_at;
        int month, day, year;
        if (Number(1, 2, month) && Skip('/') && Number(1, 2, day) && Skip('/') &&
            Number(4, 4, year) && (AtEnd() || m_text[m_at] == ' ')) {
            if (auto d = MakeDate(year, month, day)) {
                date = *d;
                return true;
            }
        }
        m_at = start;
        return false;
    }
    // Mmm D, YYYY
    bool ReadNamedDate(Ymd& date) {
        static constexpr std::string_view kAbbreviations = "JanFebMarAprMayJunJulAugSepOctNovDec";
        if (m_text.size() - m_at < 3) return false;
        const std::size_t found = kAbbreviations.find(m_text.substr(m_at, 3));
        if (found == std::string_view::npos || found % 3 != 0) return false;
        const std::size_t start = m_at;
        m_at += 3;
        int day, year;
        if (Skip(' ') && Number(1, 2, day) && Skip(',') && Skip(' ') && Number(4, 4, year) &&
            (AtEnd() || m_text[m_at] == ' ')) {
            if (auto d = MakeDate(year, static_cast<int>(found / 3) + 1, day)) {
                date = *d;
                return true;
            }
        }
        m_at = start;
        return false;
    }
    // H:MM, H:MM:SS, either followed by " AM" or " PM"
    bool ReadTime(TimeOfDay& time) {
        if (!Number(1, 2, time.hour) || !Skip(':') || !Number(2, 2, time.minute)) return false;
        if (Skip(':') && !Number(2, 2, time.second)) return false;
        if (time.hour > 23 || time.minute > 59 || time.second > 59) return false;
        if (!Skip(' ')) return true;
        if (m_text.size() - m_at != 2 || m_text[m_at + 1] != 'M') return false;
        const char half = m_text[m_at];
        if (half != 'A' && half != 'P') return false;
        m_at += 2;
        // AM/PM applies to 12-hour times; "13:00 AM" stays 13:00.
        if (time.hour <= 12) time.hour = time.hour % 12 + (half == 'P' ? 12 : 0);
        return true;
    }

    std::string_view m_text;
    std::size_t m_at = 0;
};

int CurrentLocalYear() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return tm.tm_year + 1900;
}

// ---------------------------------------------------------------------------------------
// Numbers

bool IsValBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Walks a text the way Val reads it: blanks, tabs and line feeds do not count.
class ValReader {
  public:
    explicit ValReader(std::string_view text) : m_text(text) { SkipBlanks(); }

    bool AtEnd() const { return m_pos >= m_text.size(); }
    char Peek() const { return AtEnd() ? '\0' : m_text[m_pos]; }
    void Advance() {
        ++m_pos;
        SkipBlanks();
    }

  private:
    void SkipBlanks() {
        while (m_pos < m_text.size() && IsValBlank(m_text[m_pos])) ++m_pos;
    }

    std::string_view m_text;
    size_t m_pos = 0;
};

// "&H" and "&O" numbers. Up to 16 bits they are a signed 16-bit number ("&HFFFF" is -1), up
// to 32 bits (or with the "&" long suffix) a signed 32-bit number; wider ones keep their
// unsigned value.
double ReadRadix(ValReader& r, int radix) {
    std::uint64_t value = 0;
    double wide = 0;  // used once the value no longer fits 64 bits
    bool overflowed = false;
    for (;;) {
        int d = HexDigitValue(r.Peek());
        if (d < 0 || d >= radix) break;
        if (!overflowed && value > (std::numeric_limits<std::uint64_t>::max() >> 4)) {
            overflowed = true;
            wide = static_cast<double>(value);
        }
        if (overflowed)
            wide = wide * radix + d;
        else
            value = value * static_cast<unsigned>(radix) + static_cast<unsigned>(d);
        r.Advance();
    }
    if (overflowed) return wide;
    const bool longSuffix = r.Peek() == '&';
    if (!longSuffix && value <= 0xFFFF) return static_cast<std::int16_t>(value);
    if (value <= 0xFFFFFFFFu) return static_cast<std::int32_t>(value);
    return static_cast<double>(value);
}

// A decimal number with an optional sign, decimal point and E or D exponent. The digits are
// brought into a short canonical form first so that a text of any length converts in linear
// time and without overflow.
double ReadDecimal(ValReader& r) {
    bool negative = false;
    if (r.Peek() == '+' || r.Peek() == '-') {
        negative = r.Peek() == '-';
        r.Advance();
    }

    // Significant digits (leading zeros dropped) and the decimal exponent of the first one.
    constexpr size_t kKeptDigits = 800;  // more than any double needs to round correctly
    std::string digits;
    bool dropped = false;      // a non-zero digit past kKeptDigits
    long long pointShift = 0;  // digits before the point, counted from the first significant
    bool sawPoint = false;
    bool sawDigit = false;
    for (;;) {
        char c = r.Peek();
        if (IsDigit(c)) {
            sawDigit = true;
            if (digits.empty() && c == '0') {
                if (sawPoint) --pointShift;
            } else {
                if (digits.size() < kKeptDigits)
                    digits += c;
                else if (c != '0')
                    dropped = true;
                if (!sawPoint && pointShift < std::numeric_limits<int>::max()) ++pointShift;
            }
            r.Advance();
        } else if (c == '.' && !sawPoint) {
            sawPoint = true;
            r.Advance();
        } else {
            break;
        }
    }
    if (!sawDigit) return 0;

    // An E or D exponent; without digits after it ("1e", "1e+") it adds nothing, and
    // nothing after it is read either way.
    long long exponent = 0;
    if (const char e = Lower(r.Peek()); e == 'e' || e == 'd') {
        r.Advance();
        bool expNegative = false;
        if (r.Peek() == '+' || r.Peek() == '-') {
            expNegative = r.Peek() == '-';
            r.Advance();
        }
        while (IsDigit(r.Peek())) {
            if (exponent < 1000000) exponent = exponent * 10 + (r.Peek() - '0');
            r.Advance();
        }
        if (expNegative) exponent = -exponent;
    }

    if (digits.empty()) return 0;
    // The value is 0.d1d2d3... * 10^(pointShift + exponent).
    const long long magnitude = pointShift + exponent;
    double value;
    if (magnitude > 400) {
        value = std::numeric_limits<double>::infinity();
    } else if (magnitude < -400) {
        value = 0;
    } else {
        if (dropped) digits += '1';  // keeps a value just above a rounding midpoint above it
        std::string canonical = "0." + digits + "e" + std::to_string(magnitude);
        value = 0;
        auto res = std::from_chars(canonical.data(), canonical.data() + canonical.size(), value);
        if (res.ec == std::errc::result_out_of_range)
            value = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return negative ? -value : value;
}

}  // namespace

std::optional<DateValue> ParseDate(std::string_view text, int currentYear) {
    if (std::optional<DateValue> quick = QuickDateReader(text).Read()) return quick;
    return ParseDateWithYear(text, currentYear);
}

std::optional<DateValue> ParseDate(std::string_view text) {
    if (std::optional<DateValue> quick = QuickDateReader(text).Read()) return quick;
    return ParseDateWithYear(text, CurrentLocalYear());
}

std::optional<DateValue> ParseDateFully(std::string_view text, int currentYear) {
    return ParseDateWithYear(text, currentYear);
}

bool IsDate(std::string_view text) {
    return ParseDate(text).has_value();
}

DateValue CDate(std::string_view text) {
    auto value = ParseDate(text);
    if (!value) Raise(kErrTypeMismatch);
    return *value;
}

double Val(std::string_view text) {
    ValReader r(text);
    if (r.Peek() == '&') {
        r.Advance();
        char prefix = Lower(r.Peek());
        if (prefix == 'h' || prefix == 'o') {
            r.Advance();
            return ReadRadix(r, prefix == 'h' ? 16 : 8);
        }
        return 0;
    }
    return ReadDecimal(r);
}

double RoundHalfEven(double value) {
    // Beyond 2^52 every double is already whole; NaN and infinities stay as they are.
    if (!(std::fabs(value) < 4503599627370496.0)) return value;
    const double below = std::floor(value);
    const double fraction = value - below;  // exact for these magnitudes
    if (fraction > 0.5) return below + 1;
    if (fraction < 0.5) return below;
    return std::fmod(below, 2.0) == 0 ? below : below + 1;
}

std::int16_t CInt(double value) {
    const double r = RoundHalfEven(value);
    if (!(r >= -32768.0 && r <= 32767.0)) Raise(kErrOverflow);
    return static_cast<std::int16_t>(r);
}

std::int32_t CLng(double value) {
    const double r = RoundHalfEven(value);
    if (!(r >= -2147483648.0 && r <= 2147483647.0)) Raise(kErrOverflow);
    return static_cast<std::int32_t>(r);
}

}  // namespace tallix
