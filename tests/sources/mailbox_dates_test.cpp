#include "sources/mailbox_dates.h"

#include <gtest/gtest.h>

#include "settings/run_time_error.h"
#include "tests/support/run_time_errors.h"

namespace tallix::sources {
namespace {

using testing::ErrorNumberOf;

struct Case {
    const char* in;
    const char* date;
    const char* time;
};

DateAndTime Sent(const char* value) {
    return ConvertDateText(SentDateText(value));
}

TEST(MailboxDates, SentDateReadsTheCommonForms) {
    const Case cases[] = {
        {"Fri, 08 Jan 99 12:34:56 -0500", "1/8/1999", "12:34"},
        {"Fri, 08 Jan 1999 12:34:56 +0100", "1/8/1999", "12:34"},
        // A run of blanks separates like one blank.
        {"Fri,  8 Jan 1999  23:05:00  -0500", "1/8/1999", "23:05"},
        // A zone name in the last five characters is dropped, numeric or not.
        {"Mon, 1 Feb 2021 07:08:09 -0000 (UTC)", "2/1/2021", "07:08"},
        // No weekday: no comma to cut at.
        {"8 Jan 2001 13:00:00 -0800", "1/8/2001", "13:00"},
        // Two-digit years: 50 and below are this century, 51 and above the last.
        {"Sat, 01 Jan 50 00:00:00 +0000", "1/1/2050", "00:00"},
        {"Sun, 01 Jan 51 00:00:00 +0000", "1/1/1951", "00:00"},
        {"Tue, 02 Mar 04 10:11:12 +0000", "3/2/2004", "10:11"},
        // A numeric month gives month/day/year.
        {"Fri, 8 1 1999 12:34:56 -0500", "1/8/1999", "12:34"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        const DateAndTime got = Sent(c.in);
        EXPECT_EQ(got.date, c.date);
        EXPECT_EQ(got.time, c.time);
    }
}

TEST(MailboxDates, SentDateTokensEndAtTheFirstMissingBlank) {
    EXPECT_EQ(SentDateText("Fri, 08 Jan 99 12:34:56 -0500"), "Jan 08, 1999 12:34:56");
    // The time may be the last token; a zone after it is ignored.
    EXPECT_EQ(SentDateText("Fri, 08 Jan 1999 12:34 -0500"), "Jan 08, 1999 12:34");
    // The year without a blank after it is discarded with everything later.
    EXPECT_EQ(SentDateText("Fri, 08 Jan -0500"), "Jan 08,  ");
    EXPECT_EQ(ErrorNumberOf([] { Sent("yesterday around noon"); }), kErrTypeMismatch);
}

TEST(MailboxDates, ReceiveDateReadsTheSeparatorLine) {
    // The C library pads a one-digit day with a blank.
    EXPECT_EQ(ReceiveDateText("Fri Jan  8 12:34:56 1999", false), "Jan 8, 1999 12:34:56");
    EXPECT_EQ(ReceiveDateText("Fri Jan 08 12:34:56 1999", false), "Jan 08, 1999 12:34:56");
    // Eudora puts a sender placeholder first.
    EXPECT_EQ(ReceiveDateText("???@??? Sat Feb 13 09:08:07 1999", true), "Feb 13, 1999 09:08:07");
    EXPECT_EQ(ReceiveDateText("Mon Jan 04 01:02:03 99", false), "Jan 04, 1999 01:02:03");

    const DateAndTime d = ConvertDateText(ReceiveDateText("Fri Jan  8 12:34:56 1999", false));
    EXPECT_EQ(d.date, "1/8/1999");
    EXPECT_EQ(d.time, "12:34");
}

TEST(MailboxDates, ReceiveDateNeedsFourTokensAndAYear) {
    EXPECT_EQ(ErrorNumberOf([] { ReceiveDateText("Fri Jan 8 12:34:56", false); }), kErrInvalidCall);
    EXPECT_EQ(ErrorNumberOf([] { ReceiveDateText("", false); }), kErrInvalidCall);
    // For Eudora the placeholder does not count as a token.
    EXPECT_EQ(ErrorNumberOf([] { ReceiveDateText("Fri Jan 8 12:34:56 1999", true); }),
              kErrInvalidCall);
}

// The rest of an mbox "From " line after "From ": sender first, the year after the time,
// wherever a zone or other text stands around it.
TEST(MailboxDates, MboxFromLineDates) {
    struct MboxCase {
        const char* rest;
        const char* text;  // empty: error 5
    } cases[] = {
        {"MAILER-DAEMON Fri Jan  8 12:34:56 1999", "Jan 8, 1999 12:34:56"},
        {"ann@example.org Sat Feb 13 09:08:07 2021", "Feb 13, 2021 09:08:07"},
        // A web mail export puts a zone before the year.
        {"1797263412345678901@xxx Wed Mar 13 19:54:11 +0000 2019", "Mar 13, 2019 19:54:11"},
        // Old UUCP lines carry text after the year; a zone name may follow too.
        {"bob Mon Jan  4 01:02:03 1999 remote from host", "Jan 4, 1999 01:02:03"},
        {"bob Mon Jan  4 01:02:03 UTC 1999", "Jan 4, 1999 01:02:03"},
        {"- Mon Jan 04 01:02:03 99", "Jan 04, 1999 01:02:03"},
        // No year, too few tokens, nothing at all.
        {"bob Mon Jan  4 01:02:03 +0000", ""},
        {"bob Mon Jan  4 01:02:03", ""},
        {"Mon Jan  4 01:02:03 1999", ""},
        {"", ""},
    };
    for (const MboxCase& c : cases) {
        SCOPED_TRACE(c.rest);
        if (*c.text) {
            EXPECT_EQ(MboxReceiveDateText(c.rest), c.text);
        } else {
            EXPECT_EQ(ErrorNumberOf([&] { MboxReceiveDateText(c.rest); }), kErrInvalidCall);
        }
    }
    const DateAndTime d = ConvertDateText(MboxReceiveDateText("x Wed Mar 13 19:54:11 +0000 2019"));
    EXPECT_EQ(d.date, "3/13/2019");
    EXPECT_EQ(d.time, "19:54");
}

}  // namespace
}  // namespace tallix::sources
