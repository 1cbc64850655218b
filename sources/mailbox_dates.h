#pragma once
// The dates of a mailbox message: the sent date from its "Date:" field and the receive date
// from the separator line that starts it. Both are rebuilt into a text the system's date
// rules read, then written in the short date and short time forms.

#include <string>
#include <string_view>

namespace tallix::sources {

struct DateAndTime {
    std::string date;  // short date, M/d/yyyy
    std::string time;  // short time, HH:mm
};

// The date text built from a "Date:" value ("Fri, 08 Jan 99 12:34:56 -0500" gives
// "Jan 08, 1999 12:34:56"). Tokens are separated by runs of blanks.
std::string SentDateText(std::string_view value);

// The date text built from the rest of a separator line after its marker
// ("Fri Jan  8 12:34:56 1999" gives "Jan 8, 1999 12:34:56"). A Eudora line carries a sender
// placeholder first, which is skipped. Raises error 5 when the line has too few tokens.
std::string ReceiveDateText(std::string_view rest, bool eudora);

// The date text built from the rest of an mbox "From " line after "From "
// ("MAILER-DAEMON Fri Jan  8 12:34:56 1999" gives "Jan 8, 1999 12:34:56"): the sender, then
// weekday, month, day and time; the year is the first all-digit token after the time, so a
// zone written before it ("+0000 2019", as some web mail exports do) or text after it
// ("remote from ...") is passed over. Raises error 5 when there is no such year or too few
// tokens.
std::string MboxReceiveDateText(std::string_view rest);

// The text read as a date and time; raises error 13 when it does not read as one.
DateAndTime ConvertDateText(std::string_view text);

}  // namespace tallix::sources
