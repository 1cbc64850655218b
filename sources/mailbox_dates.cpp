#include "sources/mailbox_dates.h"

#include <cctype>

#include "settings/run_time_error.h"
#include "settings/system_rules.h"
#include "settings/text_functions.h"

namespace tallix::sources {
namespace {

// A numeric zone such as -0500 is kept; anything else in the last five characters (a zone
// name, a comment) is dropped before the date is read.
constexpr std::size_t kZoneLength = 5;

bool IsNumber(std::string_view s) {
    s = TrimView(s);
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) s.remove_prefix(1);
    bool digit = false;
    bool point = false;
    for (const char c : s) {
        if (std::isdigit(static_cast<unsigned char>(c))) {
            digit = true;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    return digit;
}

// Splits off the next token ended by a blank. The date line of the C library pads a one-digit
// day with a blank ("Jan  8"), so a run of blanks counts as one separator. False when the
// rest holds no blank.
bool TakeToken(std::string_view& rest, std::string& token) {
    rest = TrimView(rest);
    const std::size_t blank = rest.find(' ');
    if (blank == std::string_view::npos) return false;
    token = std::string(rest.substr(0, blank));
    rest = TrimView(rest.substr(blank + 1));
    return true;
}

// A two-digit year gets its century: 51 to 99 (and anything negative) are 19xx.
std::string WithCentury(const std::string& year) {
    if (year.size() != 2) return year;
    const double v = Val(year);
    return (v < 0 || v > 50 ? "19" : "20") + year;
}

std::string Assemble(const std::string& month, const std::string& day, const std::string& year,
                     const std::string& time) {
    const std::string fullYear = WithCentury(year);
    if (Val(month) != 0) return month + "/" + day + "/" + fullYear + " " + time;
    return month + " " + day + ", " + fullYear + " " + time;
}

}  // namespace

std::string SentDateText(std::string_view value) {
    std::string v = Trim(value);
    if (!IsNumber(Right(v, kZoneLength))) {
        v = Trim(v.substr(0, v.size() > kZoneLength ? v.size() - kZoneLength : 0));
    }
    if (const std::size_t comma = v.find(','); comma != std::string::npos) {
        v = Trim(v.substr(comma + 1));
    }
    std::string_view rest = v;
    std::string day, month, year, time;
    // A token without a blank after it (before the time) ends the reading: it and every
    // later token stay empty. The time may be the last thing on the line.
    if (TakeToken(rest, day) && TakeToken(rest, month) && TakeToken(rest, year)) {
        if (!TakeToken(rest, time)) time = Trim(rest);
    }
    return Assemble(month, day, year, time);
}

std::string ReceiveDateText(std::string_view rest, bool eudora) {
    rest = TrimView(rest);
    if (eudora) {
        std::string placeholder;
        if (!TakeToken(rest, placeholder)) rest = {};
    }
    std::string weekday, month, day, time;
    if (!TakeToken(rest, weekday) || !TakeToken(rest, month) || !TakeToken(rest, day) ||
        !TakeToken(rest, time)) {
        Raise(kErrInvalidCall);
    }
    return Assemble(month, day, Trim(rest), time);
}

std::string MboxReceiveDateText(std::string_view rest) {
    std::string sender, weekday, month, day, time;
    if (!TakeToken(rest, sender) || !TakeToken(rest, weekday) || !TakeToken(rest, month) ||
        !TakeToken(rest, day) || !TakeToken(rest, time)) {
        Raise(kErrInvalidCall);
    }
    for (;;) {
        std::string token;
        const bool more = TakeToken(rest, token);
        if (!more) token = Trim(rest);
        if (!token.empty() && token.find_first_not_of("0123456789") == std::string::npos) {
            return ReceiveDateText(weekday + " " + month + " " + day + " " + time + " " + token,
                                   false);
        }
        if (!more) Raise(kErrInvalidCall);
    }
}

DateAndTime ConvertDateText(std::string_view text) {
    const DateValue d = CDate(text);
    return {FormatShortDate(d), FormatShortTime(d)};
}

}  // namespace tallix::sources
