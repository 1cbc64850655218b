// Date serials, the clock, and how dates and times are written (en-US forms).

#include <charconv>
#include <cmath>
#include <ctime>
#include <string>

#include "settings/system_rules.h"

namespace tallix {
namespace {

// Days from 1970-01-01 for a proleptic Gregorian date (H. Hinnant's algorithm).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

// 1899-12-30, day 0 of the serial dates, counted from 1970-01-01.
constexpr long long kSerialEpoch = -25569;

struct Parts {
    long long year;
    unsigned month, day;
    int hour, minute, second;
};

// A serial's day and time of day. Negative serials keep their time as a positive fraction
// (-1.25 is 12/29/1899 6:00 AM), as Automation dates do.
Parts Split(DateValue v) {
    double whole = std::trunc(v);
    double frac = std::fabs(v - whole);
    long long secs = std::llround(frac * 86400.0);
    long long day = static_cast<long long>(whole);
    if (secs >= 86400) {
        secs -= 86400;
        day += (v < 0 ? -1 : 1);
    }
    Parts p{};
    CivilFromDays(day + kSerialEpoch, p.year, p.month, p.day);
    p.hour = static_cast<int>(secs / 3600);
    p.minute = static_cast<int>(secs / 60 % 60);
    p.second = static_cast<int>(secs % 60);
    return p;
}

}  // namespace

DateValue DateSerial(int year, int month, int day) {
    // Months and days out of range roll over into the next or previous year and month
    // (month 13 is January of the next year, day 0 the last day of the month before).
    long long y = year + (month - 1) / 12;
    int m = (month - 1) % 12;
    if (m < 0) {
        m += 12;
        --y;
    }
    long long days = DaysFromCivil(y, static_cast<unsigned>(m + 1), 1) + (day - 1);
    return static_cast<double>(days - kSerialEpoch);
}

DateValue TimeSerial(int hour, int minute, int second) {
    return (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
}

DateValue Now() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return DateSerial(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) +
           TimeSerial(tm.tm_hour, tm.tm_min, tm.tm_sec);
}

DateValue Today() {
    return std::floor(Now());
}

namespace {

// Builds a date or time text in place; the longest (a general date of the most distant
// serial) is far shorter than the buffer.
class DateText {
  public:
    DateText& Number(long long n) {
        m_end = std::to_chars(m_end, m_buffer + sizeof m_buffer, n).ptr;
        return *this;
    }
    DateText& TwoDigits(int n) {
        if (n < 10) *m_end++ = '0';
        return Number(n);
    }
    DateText& Char(char c) {
        *m_end++ = c;
        return *this;
    }
    DateText& ShortDate(const Parts& p) {
        return Number(p.month).Char('/').Number(p.day).Char('/').Number(p.year);
    }
    DateText& LongTime(const Parts& p) {
        const int h12 = p.hour % 12 == 0 ? 12 : p.hour % 12;
        return Number(h12)
            .Char(':')
            .TwoDigits(p.minute)
            .Char(':')
            .TwoDigits(p.second)
            .Char(' ')
            .Char(p.hour < 12 ? 'A' : 'P')
            .Char('M');
    }
    std::string Text() const {
        return std::string(m_buffer, static_cast<std::size_t>(m_end - m_buffer));
    }

  private:
    char m_buffer[128];
    char* m_end = m_buffer;
};

}  // namespace

std::string FormatShortDate(DateValue d) {
    return DateText().ShortDate(Split(d)).Text();
}

std::string FormatLongTime(DateValue d) {
    return DateText().LongTime(Split(d)).Text();
}

std::string FormatShortTime(DateValue d) {
    const Parts p = Split(d);
    return DateText().TwoDigits(p.hour).Char(':').TwoDigits(p.minute).Text();
}

std::string FormatGeneralDate(DateValue d) {
    const Parts p = Split(d);
    const bool hasTime = p.hour != 0 || p.minute != 0 || p.second != 0;
    const bool hasDate = std::trunc(d) != 0.0;
    if (!hasDate) return DateText().LongTime(p).Text();
    if (!hasTime) return DateText().ShortDate(p).Text();
    return DateText().ShortDate(p).Char(' ').LongTime(p).Text();
}

}  // namespace tallix
