// The mailbox source over standard mbox files ("FILE_OTHER"): the framing, ">From " unquoting,
// dates, attachments, and files that are damaged or change during the walk.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "settings/run_time_error.h"
#include "settings/text_functions.h"
#include "sources/mailbox_reader.h"
#include "sources/mbox_framing.h"
#include "sources/netscape_source.h"
#include "tests/sources/mailbox_test_support.h"

namespace tallix::sources {
namespace {

using testing::ReadFileBytes;
using testing::WriteFileBytes;

// One message as an mbox writer stores it, in LF form: "From " line, header, blank line, body,
// and the blank line that separates it from the next message.
const std::string kFields =
    "From: Ann <ann@example.org>\nTo: Bob <bob@example.com>\nDate: Fri, 08 Jan 99 12:34:56 -0500\n";

std::string Msg(const std::string& subject, const std::string& body,
                const std::string& fromLine = "From ann@example.org Fri Jan  8 12:34:56 1999") {
    return fromLine + "\n" + kFields + "Subject: " + subject + "\n\n" + body + "\n\n";
}

std::string CrLf(const std::string& text) {
    return ReplaceAll(text, "\n", "\r\n");
}

class MboxFile : public testsupport::MailboxFile {
  protected:
    std::unique_ptr<clsNetscape> OpenMbox(const std::string& bytes) {
        return Open(bytes, kSourceFileOther);
    }
};

struct Expected {
    std::string subject;
    std::string body;  // LF form; the source hands bodies over in CR LF form
};

struct FramingCase {
    const char* name;
    std::string file;  // LF form; every case is run as written and with CR LF line ends
    std::vector<Expected> messages;
};

TEST_F(MboxFile, FramingCases) {
    const FramingCase cases[] = {
        {"one message at the start of the file", Msg("One", "first body"), {{"One", "first body"}}},
        {"a message after a blank line",
         Msg("One", "first") + Msg("Two", "second\nbody"),
         {{"One", "first"}, {"Two", "second\nbody"}}},
        {"no blank line left after the last message",
         Msg("One", "a") + "From b@example.org Sat Jan  9 07:08:09 1999\n" + kFields +
             "Subject: Two\n\nlast",
         {{"One", "a"}, {"Two", "last"}}},
        {"\"From \" inside a body, not after a blank line",
         Msg("One", "line one\nFrom here on a body line\nFrom - too") + Msg("Two", "b"),
         {{"One", "line one\nFrom here on a body line\nFrom - too"}, {"Two", "b"}}},
        {"\"From \" mid-line and \"From:\" after a blank line",
         Msg("One", "see From here\n\nFrom: not a separator"),
         {{"One", "see From here\n\nFrom: not a separator"}}},
        {"quoted \"From \" lines lose one \">\"",
         Msg("One",
             ">From the start\n>>From twice\n>>>From thrice\nx >From mid-line\n>Fromage\n"
             ">> From spaced\n>From"),
         {{"One",
           "From the start\n>From twice\n>>From thrice\nx >From mid-line\n>Fromage\n"
           ">> From spaced\n>From"}}},
        {"a quoted line right after a blank line",
         Msg("One", "para\n\n>From the blank line on") + Msg("Two", "b"),
         {{"One", "para\n\nFrom the blank line on"}, {"Two", "b"}}},
        {"blank lines at the end of a body are kept",
         Msg("One", "text\n\n") + Msg("Two", ""),
         {{"One", "text\n\n"}, {"Two", ""}}},
        {"no \"From \" line at all: one message",
         kFields + "Subject: Lone\n\nbody\nFrom x\n",
         {{"Lone", "body\nFrom x"}}},
        {"text ahead of the first \"From \" line is a message of its own",
         kFields + "Subject: Ahead\n\nstray\n\n" + Msg("One", "a"),
         {{"Ahead", "stray"}, {"One", "a"}}},
        {"blank lines ahead of the first message", "\n\n" + Msg("One", "a"), {{"One", "a"}}},
        {"a web mail export's \"From \" line",
         Msg("One", "a", "From 1797263412345678901@xxx Wed Mar 13 19:54:11 +0000 2019"),
         {{"One", "a"}}},
        {"empty file", "", {}},
        {"only line ends", "\n\n\n", {}},
    };
    for (const FramingCase& c : cases) {
        for (const bool crlf : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (crlf ? ", CR LF" : ", LF"));
            const std::string logBefore = ErrorLog();
            auto source = OpenMbox(crlf ? CrLf(c.file) : c.file);
            EXPECT_TRUE(source->IsConnected());
            EXPECT_EQ(source->ID(), "mbox mail file");
            EXPECT_EQ(source->TotalMessages(), static_cast<std::int32_t>(c.messages.size()));
            const auto messages = Walk(*source);
            ASSERT_EQ(messages.size(), c.messages.size());
            for (std::size_t i = 0; i < messages.size(); ++i) {
                SCOPED_TRACE(i);
                EXPECT_EQ(messages[i]->Subject(), c.messages[i].subject);
                EXPECT_EQ(messages[i]->Body(), CrLf(c.messages[i].body));
            }
            EXPECT_EQ(ErrorLog(), logBefore);
        }
    }
}

// Lines may end with LF in one place and CR LF in another (a file appended to by two
// programs); each message is read in the CR LF form either way.
TEST_F(MboxFile, MixedLineEndsAreReadAsCrLf) {
    auto source = OpenMbox(CrLf(Msg("One", "a\nb")) + Msg("Two", "c\nd") +
                           "From x Sat Jan  9 07:08:09 1999\r\nSubject: Three\n\r\ne\nf\r\n");
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0]->Body(), "a\r\nb");
    EXPECT_EQ(messages[1]->Body(), "c\r\nd");
    EXPECT_EQ(messages[2]->Subject(), "Three");
    EXPECT_EQ(messages[2]->Body(), "e\r\nf");
}

TEST_F(MboxFile, HandsOverTheMailboxSourcesValues) {
    auto source = OpenMbox(
        "From MAILER-DAEMON Sat Jan  9 07:08:09 1999\n"
        "From: \"Doe, Jane\" <jane@example.com>\nReply-To: <replies@example.com>\n"
        "To: Bob O'Neil <bob@example.com>\nDate: Fri, 08 Jan 99 12:34:56 -0500\n"
        "Subject:   Order 4711  \n\nBody text\n");
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 1u);
    const txMessage& m = *messages[0];
    EXPECT_EQ(m.SenderName(), "Doe, Jane");
    EXPECT_EQ(m.SenderAddress(), "jane@example.com");
    EXPECT_EQ(m.ReplyToAddress(), "replies@example.com");
    EXPECT_EQ(m.ReceipentName(), "Bob ONeil");
    EXPECT_EQ(m.ReceipentAddress(), "bob@example.com");
    EXPECT_EQ(m.Subject(), "Order 4711");
    EXPECT_EQ(m.SentDate(), "1/8/1999");
    EXPECT_EQ(m.SentTime(), "12:34:00 PM");
    EXPECT_EQ(m.ReceiveDate(), "1/9/1999");
    EXPECT_EQ(m.ReceiveTime(), "7:08:00 AM");
    EXPECT_EQ(m.Body(), "Body text");
    EXPECT_EQ(m.Header().rfind("From MAILER-DAEMON Sat", 0), 0u);
    EXPECT_EQ(m.Header().back(), '\r');
    EXPECT_EQ(source->ConvertAddress(), "jane@example.com");
    source->DoDeleteMessage();  // the file is only read
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Delete feature not yet implemented.");
}

// A lone message has no "From " line and so no delivery date: the receive date stays empty and
// nothing is reported. An unreadable "From " line date is reported as for the other formats.
TEST_F(MboxFile, ReceiveDateComesOnlyFromTheMessagesOwnFromLine) {
    auto lone = OpenMbox(
        "From: a@example.org\nTo: b@example.com\nSubject: Lone\n"
        "X-Note: From somewhere\n\nbody\n");
    auto messages = Walk(*lone);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0]->ReceiveDate(), "");
    EXPECT_EQ(messages[0]->ReceiveTime(), "00:00:00 AM");  // the record's reading of no time
    EXPECT_EQ(Reports("GetReceiveDate"), 0u);

    auto bad = OpenMbox(Msg("One", "a", "From someone yesterday") + Msg("Two", "b"));
    messages = Walk(*bad);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0]->ReceiveDate(), "");
    EXPECT_EQ(messages[1]->ReceiveDate(), "1/8/1999");
    EXPECT_EQ(Reports("clsNetscape - GetReceiveDate"), 1u);
}

// A message whose attachment is its last part, wherever it stands, with or without the blank
// line after it, LF or CR LF: it keeps its attachment and its text part.
TEST_F(MboxFile, AttachmentIsKeptInTheLastMessage) {
    const std::string attached =
        "From form@example.org Sat Mar  7 08:00:00 2026\nFrom: Form <form@example.org>\n"
        "To: Shop <shop@example.com>\nSubject: Attached\nDate: Sat, 07 Mar 2026 08:00:00 +0100\n"
        "MIME-Version: 1.0\n"
        "Content-Type: multipart/mixed; boundary=\"xyz\"\n\n--xyz\nContent-Type: text/plain\n\n"
        "See the file.\n>From the quoted line\n--xyz\n"
        "Content-Type: application/octet-stream; name=\"code.txt\"\n"
        "Content-Transfer-Encoding: base64\nContent-Disposition: attachment; "
        "filename=\"code.txt\"\n\n"
        "Q29kZTogNzc3\n--xyz--\n";
    for (const bool last : {true, false}) {
        for (const char* tail : {"", "\n", "\n\n"}) {
            for (const bool crlf : {false, true}) {
                SCOPED_TRACE(std::string(last ? "last" : "only") + ", tail " +
                             std::to_string(std::string(tail).size()) +
                             (crlf ? ", CR LF" : ", LF"));
                const std::string file =
                    (last ? Msg("Plain", "no attachment") : "") + attached + tail;
                auto source = OpenMbox(crlf ? CrLf(file) : file);
                const auto messages = Walk(*source);
                ASSERT_EQ(messages.size(), last ? 2u : 1u);
                const txMessage& m = *messages.back();
                EXPECT_EQ(m.Subject(), "Attached");
                EXPECT_EQ(m.Body(), "See the file.\r\nFrom the quoted line\r\n");
                ASSERT_EQ(m.Attachments()->Count(), 1);
                EXPECT_EQ(m.Attachments()->Item(1), ScratchFile("$$code.txt"));
                EXPECT_TRUE(testsupport::InsideScratch(m.Attachments()->Item(1)));
                EXPECT_EQ(ReadFileBytes(m.Attachments()->Item(1)).substr(0, 12), "Q29kZTogNzc3");
                EXPECT_EQ(ErrorLog(), "");
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Damaged files

// A file cut off in the middle of its last message (a download or copy that stopped): what is
// there is read, a header without its blank line is reported, and the walk ends.
TEST_F(MboxFile, FileCutOffInTheLastMessage) {
    const std::string whole = Msg("One", "a") + Msg("Two", "second body");
    struct Cut {
        const char* name;
        std::size_t keep;  // bytes of `whole` kept
        const char* lastBody;
        bool headerReported;
    } cuts[] = {
        {"in the body", whole.size() - 5, "second b", false},
        {"in the header", whole.rfind("Subject: Two"), "", true},
        {"in the \"From \" line", whole.rfind("From ann") + 8, "", true},
    };
    for (const Cut& c : cuts) {
        SCOPED_TRACE(c.name);
        const std::size_t before = Reports("clsNetscape - GetHeader");
        auto source = OpenMbox(whole.substr(0, c.keep));
        EXPECT_EQ(source->TotalMessages(), 2);
        const auto messages = Walk(*source);
        ASSERT_EQ(messages.size(), 2u);
        EXPECT_EQ(messages[0]->Body(), "a");
        EXPECT_EQ(messages[1]->Body(), c.lastBody);
        EXPECT_EQ(Reports("clsNetscape - GetHeader") - before, c.headerReported ? 1u : 0u);
    }
}

std::string LongBody(std::size_t bytes) {
    std::string body;
    while (body.size() < bytes) body += std::string(70, 'x') + "\n";
    return body;
}

// Another program cuts the file short between two messages: the walk ends with the reader's
// report instead of reading past the end.
TEST_F(MboxFile, FileCutShorterDuringTheWalkEndsTheWalkWithAReport) {
    const std::string first = Msg("One", LongBody(kMailboxWindowBytes + kMailboxWindowBytes / 4));
    auto source =
        OpenMbox(first + Msg("Two", LongBody(3 * kMailboxWindowBytes)) + Msg("Three", "c"));
    EXPECT_EQ(source->TotalMessages(), 3);
    source->GetFirstMsg();
    ASSERT_TRUE(source->Message());
    EXPECT_EQ(source->Message()->Subject(), "One");
    const std::string cut =
        "truncate -s " + std::to_string(first.size() / 2) + " '" + dir.File("mailbox") + "'";
    ASSERT_EQ(std::system(cut.c_str()), 0);
    source->GetNextMsg();
    EXPECT_FALSE(source->Message());
    EXPECT_EQ(Reports("clsNetscape - GetMessage"), 1u);
    EXPECT_EQ(Reports(std::string(kMailboxShrank)), 1u);
    source->GetNextMsg();
    EXPECT_FALSE(source->Message());
    EXPECT_EQ(Reports(std::string(kMailboxShrank)), 1u);
}

// "From " lines and their blank lines that straddle the end of the reading window, and
// messages larger than the window, are found as anywhere else.
TEST_F(MboxFile, MessagesAcrossTheReadingWindowAreCutWhole) {
    for (const std::size_t offset : {0, 1, 2, 3, 4, 5, 6, 9}) {
        for (const bool crlf : {false, true}) {
            SCOPED_TRACE(std::to_string(offset) + (crlf ? ", CR LF" : ", LF"));
            // The second "From " line starts `offset` bytes before the window's end.
            std::string first = Msg("One", "");
            const std::size_t fill = kMailboxWindowBytes - offset - first.size() -
                                     (crlf ? std::count(first.begin(), first.end(), '\n') : 0);
            first = Msg("One", std::string(fill, 'y'));
            const std::string file =
                (crlf ? CrLf(first) : first) + (crlf ? CrLf(Msg("Two", "b")) : Msg("Two", "b"));
            ASSERT_EQ(file.find("From ann", 10), kMailboxWindowBytes - offset);
            auto source = OpenMbox(file);
            const auto messages = Walk(*source);
            ASSERT_EQ(messages.size(), 2u);
            EXPECT_EQ(messages[0]->Body(), std::string(fill, 'y'));
            EXPECT_EQ(messages[1]->Subject(), "Two");
        }
    }
    const std::string big = LongBody(kMailboxWindowBytes * 5 / 2);
    auto source = OpenMbox(Msg("Big", big) + Msg("Two", "b") + Msg("Three", big));
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0]->Body(), CrLf(big));
    EXPECT_EQ(messages[2]->Body(), CrLf(big));
}

// Limits and one bad message behave as in the other mailbox formats: reported with the
// message's number, and the walk goes on.
TEST_F(MboxFile, BadMessageIsReportedAndTheWalkGoesOn) {
    auto source =
        OpenMbox(Msg("One", "a") +
                 "From x Fri Jan  8 12:34:56 1999\nTo: b@example.com\nSubject: No sender\n\nb\n\n" +
                 "From x Fri Jan  8 12:34:56 1999\nFrom: c@example.com\nSubject: " +
                 std::string(kMaxFieldValueBytes + 10, 's') + "\n\nc\n\n" + Msg("Four", "d"));
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[1]->SenderAddress(), "");
    EXPECT_EQ(messages[1]->Body(), "b");
    EXPECT_EQ(messages[2]->Subject().size(), kMaxFieldValueBytes);
    EXPECT_EQ(messages[3]->Subject(), "Four");
    EXPECT_EQ(Reports("clsNetscape - GetSender\nIn message number: 2"), 1u);
    EXPECT_EQ(Reports(std::string(kFieldTooLong)), 1u);
}

// ---------------------------------------------------------------------------------------------
// Counting a separator in a large file, in two halves at once

TEST(MailboxCount, LargeFileCountsEachOccurrenceOnceWhereverTheHalvesMeet) {
    testing::TempDir dir;
    const std::size_t size = std::size_t{20} << 20;
    const std::string_view sep = "From - ";
    std::string file(size, 'x');
    std::size_t placed = 0;
    const auto put = [&](std::size_t at) {
        file.replace(at, sep.size(), sep);
        ++placed;
    };
    // Across the middle, at it, just before it, and across a read window's end.
    for (std::size_t at : {std::size_t{0}, size / 2 - 3, size / 2 + 7, (std::size_t{1} << 20) - 2,
                           size / 2 - sep.size() - 4, size - sep.size()})
        put(at);
    for (std::size_t at = 4096; at < size / 2 - 64; at += 999'983) put(at);
    WriteFileBytes(dir.File("box"), file);
    MailboxReader reader;
    reader.Open(dir.File("box"));
    EXPECT_EQ(reader.Count(sep), placed);
    // A separator that overlaps itself is counted from the front: "aaaa" holds "aa" twice.
    WriteFileBytes(dir.File("aa"), std::string(size + 3, 'a'));
    reader.Open(dir.File("aa"));
    EXPECT_EQ(reader.Count("aa"), (size + 3) / 2);
    // A file cut shorter after it was opened fails the count here, whichever half saw it.
    reader.Open(dir.File("box"));
    std::filesystem::resize_file(dir.File("box"), size / 4);
    std::size_t counted = 0;
    EXPECT_FALSE(RunCatching([&] { counted = reader.Count(sep); }));
    Err().Clear();
}

// ---------------------------------------------------------------------------------------------
// The framing on its own

// Every byte of the file lies in exactly one message or is a line end between messages, in
// order, whatever the bytes: no text is dropped and no message overlaps another.
TEST(MboxFraming, EveryByteButLineEndsBetweenMessagesIsInAMessage) {
    testing::TempDir dir;
    const std::string pieces[] = {"From ", "\n", "\r\n", ">", "x", " ", "From: y\n", "\n\n"};
    std::uint32_t seed = 12345;
    for (int round = 0; round < 400; ++round) {
        std::string file;
        const int length = round % 40;
        for (int i = 0; i < length; ++i) {
            seed = seed * 1103515245u + 12345u;
            file += pieces[(seed >> 16) % std::size(pieces)];
        }
        SCOPED_TRACE(file);
        WriteFileBytes(dir.File("box"), file);
        MailboxReader reader;
        reader.Open(dir.File("box"));
        MboxFraming framing(reader);
        std::string covered(file.size(), '.');
        std::size_t count = 0;
        std::size_t at = 0;
        while (const auto span = framing.Next(at)) {
            ASSERT_LE(at, span->start);
            ASSERT_LT(span->start, span->end);
            ASSERT_LE(span->end, file.size());
            for (std::size_t i = span->start; i < span->end; ++i) covered[i] = 'm';
            at = span->end;
            ++count;
            ASSERT_LE(count, file.size());
        }
        EXPECT_EQ(count, framing.Count());
        for (std::size_t i = 0; i < file.size(); ++i) {
            if (covered[i] == '.') {
                EXPECT_TRUE(file[i] == '\n' || file[i] == '\r') << i;
            }
        }
    }
}

TEST(MboxFraming, UnquotingTakesOffOneMarkFromLineStartsOnly) {
    struct Case {
        const char* in;
        std::size_t from;
        const char* out;
    } cases[] = {
        {">From a\r\n>>From b\r\n", 0, "From a\r\n>From b\r\n"},
        {"From x\r\n>From a", 8, "From x\r\nFrom a"},
        {"a>From b\r\n >From c\r\n>From", 0, "a>From b\r\n >From c\r\n>From"},
        {">>From", 0, ">>From"},
        {">Fro\r\n>From \r\n", 0, ">Fro\r\nFrom \r\n"},
        {"", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        std::string text = c.in;
        UnquoteFromLines(text, c.from);
        EXPECT_EQ(text, c.out);
    }
}

}  // namespace
}  // namespace tallix::sources
