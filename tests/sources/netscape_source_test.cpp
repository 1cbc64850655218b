#include "sources/netscape_source.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/logs.h"
#include "settings/scratch_dir.h"
#include "settings/settings_store.h"
#include "settings/text_functions.h"
#include "sources/attachment_names.h"
#include "tests/sources/mailbox_test_support.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_env.h"

namespace tallix::sources {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileBytes;
using testing::WriteFileBytes;
using testsupport::FakeDecoder;
using testsupport::InsideScratch;
using testsupport::MailboxFile;

// One message in a CR LF Netscape file: separator line, header lines, blank line, body.
std::string Message(const std::string& headers, const std::string& body,
                    const std::string& separator = "From - Fri Jan 08 12:34:56 1999") {
    return separator + "\r\n" + headers + "\r\n" + body + "\r\n";
}

// Messages stand one after another with a blank line between them.
std::string Mailbox(const std::vector<std::string>& messages) {
    std::string out;
    for (std::size_t i = 0; i < messages.size(); ++i) out += (i ? "\r\n" : "") + messages[i];
    return out;
}

std::string Plain(const std::string& subject, const std::string& body = "Hello") {
    return Message(
        "From: \"Doe, Jane\" <jane@example.com>\r\nTo: Bob <bob@example.com>\r\n"
        "Date: Fri, 08 Jan 99 12:34:56 -0500\r\nSubject: " +
            subject + "\r\n",
        body);
}

// ---------------------------------------------------------------------------------------------
// Cutting the file into messages

TEST_F(MailboxFile, NetscapeMessagesEndBeforeTheBlankLineOfTheNextSeparator) {
    auto source = Open(Mailbox({Plain("One", "first body"), Plain("Two", "second\r\nbody")}));
    EXPECT_TRUE(source->IsConnected());
    EXPECT_EQ(source->ID(), "Netscape mail file");
    EXPECT_EQ(source->TotalMessages(), 2);
    source->GetFirstMsg();
    ASSERT_TRUE(source->Message());
    EXPECT_EQ(source->MessageNumber(), 1);
    EXPECT_EQ(source->MessageText().substr(source->MessageText().size() - 14),
              "\r\n\r\nfirst body");
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0]->Body(), "first body");
    EXPECT_EQ(messages[1]->Body(), "second\r\nbody\r\n");
    EXPECT_EQ(messages[1]->Subject(), "Two");
    EXPECT_EQ(source->MessageNumber(), 1);  // not advanced by the walk
    EXPECT_EQ(ErrorLog(), "");
}

TEST_F(MailboxFile, HandsOverEveryHeaderValue) {
    auto source = Open(Mailbox(
        {Message("From: \"Doe, Jane\" <jane@example.com>\r\nReply-To: <replies@example.com>\r\n"
                 "To: Bob O'Neil <bob@example.com>\r\nDate: Fri, 08 Jan 99 12:34:56 -0500\r\n"
                 "Subject:   Order 4711  \r\n",
                 "Body text", "From - Sat Jan 09 07:08:09 1999")}));
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 1u);
    const txMessage& m = *messages[0];
    EXPECT_EQ(m.SenderName(), "Doe, Jane");
    EXPECT_EQ(m.SenderAddress(), "jane@example.com");
    EXPECT_EQ(m.ReplyToName(), "");
    EXPECT_EQ(m.ReplyToAddress(), "replies@example.com");
    EXPECT_EQ(m.ReceipentName(), "Bob ONeil");
    EXPECT_EQ(m.ReceipentAddress(), "bob@example.com");
    EXPECT_EQ(m.Subject(), "Order 4711");
    EXPECT_EQ(m.SentDate(), "1/8/1999");
    EXPECT_EQ(m.SentTime(), "12:34:00 PM");
    EXPECT_EQ(m.ReceiveDate(), "1/9/1999");
    EXPECT_EQ(m.ReceiveTime(), "7:08:00 AM");
    EXPECT_EQ(m.Body(), "Body text\r\n");  // the last message runs to the end of the file
    EXPECT_EQ(m.Header().rfind("From - Sat", 0), 0u);
    EXPECT_EQ(m.Header().back(), '\r');  // ends with the CR of the last header line
    EXPECT_EQ(source->ConvertAddress(), "jane@example.com");
}

TEST_F(MailboxFile, TextBeforeTheFirstSeparatorBelongsToNoMessage) {
    auto source = Open("garbage line\r\n\r\n" + Plain("Only"));
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0]->Subject(), "Only");
    EXPECT_EQ(messages[0]->Header().find("garbage"), std::string::npos);
}

TEST_F(MailboxFile, SeparatorsAreCountedWhereverTheyStand) {
    // The body mentions the separator mid-line: it counts, but ends no message.
    auto source = Open(Mailbox({Plain("One", "see From - here"), Plain("Two")}));
    EXPECT_EQ(source->TotalMessages(), 3);
    EXPECT_EQ(Walk(*source).size(), 2u);
}

TEST_F(MailboxFile, LastMessageKeepsItsLastByte) {
    auto source = Open(Mailbox({Plain("One"), Plain("Two")}) + "tail without line end");
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1]->Body(), "Hello\r\ntail without line end");
}

TEST_F(MailboxFile, LeadingMarkFormIsCutBeforeEveryMark) {
    const std::string file =
        ">" + Plain("One", "a") + ">" + Plain("Two", "b") + ">" + Plain("Three", "c");
    auto source = Open(file);
    EXPECT_TRUE(source->LeadingMark());
    EXPECT_EQ(source->TotalMessages(), 3);
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0]->Body(), "a\r\n");
    EXPECT_EQ(messages[1]->Subject(), "Two");
    EXPECT_EQ(messages[1]->Header().rfind("From - ", 0), 0u);  // no ">" in front
    EXPECT_EQ(messages[2]->Body(), "c\r\n");
}

TEST_F(MailboxFile, EudoraMessagesStartAtEveryFromLine) {
    const std::string file =
        "From ???@??? Fri Jan 08 12:34:56 1999\r\nFrom: a@example.com\r\nTo: b@example.com\r\n"
        "Subject: First\r\n\r\nline one\r\nFrom here on a body line\r\n"
        "From ???@??? Sat Feb 13 09:08:07 1999\r\nFrom: c@example.com\r\nTo: d@example.com\r\n"
        "Subject: Second\r\n\r\nbye\r\n";
    auto source = Open(file, kSourceEudora);
    EXPECT_EQ(source->ID(), "Eudora mail file");
    // The body line starting with "From " counts and ends the first message.
    EXPECT_EQ(source->TotalMessages(), 3);
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0]->Subject(), "First");
    EXPECT_EQ(messages[0]->Body(), "line one");
    EXPECT_EQ(messages[0]->ReceiveDate(), "1/8/1999");
    EXPECT_EQ(messages[0]->SenderAddress(), "a@example.com");
    // The body line became a message of its own without a header.
    EXPECT_EQ(messages[1]->Header(), "");
    EXPECT_EQ(messages[2]->Subject(), "Second");
    EXPECT_EQ(messages[2]->ReceiveDate(), "2/13/1999");
    EXPECT_EQ(messages[2]->ReceiveTime(), "9:08:00 AM");
}

TEST_F(MailboxFile, MessageWithoutBlankLineIsHandedOverEmpty) {
    auto source = Open(Mailbox(
        {"From - Fri Jan 08 12:34:56 1999\r\nFrom: a@b.c\r\nSubject: x\r\n", Plain("After")}));
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 2u);
    const txMessage& m = *messages[0];
    EXPECT_EQ(m.Header() + m.Subject() + m.SenderAddress() + m.Body() + m.SentDate(), "");
    EXPECT_EQ(messages[1]->Subject(), "After");
    EXPECT_EQ(Reports("clsNetscape - GetHeader"), 1u);
}

// A message after the first that has no header is handed over as a fresh record, nothing
// assigned: its times read "" rather than the text an unreadable time assigned gives. The
// first message is filled even then, so the two differ in their times only.
TEST_F(MailboxFile, LaterMessageWithoutHeaderIsHandedOverUnfilled) {
    const std::string noHeader = "From - Fri Jan 08 12:34:56 1999\r\nFrom: a@b.c\r\nSubject: x\r\n";
    auto source = Open(Mailbox({Plain("Before"), noHeader, Plain("After")}));
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 3u);
    const txMessage& m = *messages[1];
    EXPECT_EQ(
        m.Header() + m.Subject() + m.SenderAddress() + m.Body() + m.SentDate() + m.ReceiveDate(),
        "");
    EXPECT_EQ(m.SentTime(), "");
    EXPECT_EQ(m.ReceiveTime(), "");
    EXPECT_EQ(messages[2]->Subject(), "After");

    auto first = Open(Mailbox({noHeader, Plain("After")}));
    const auto firstMessages = Walk(*first);
    ASSERT_EQ(firstMessages.size(), 2u);
    EXPECT_EQ(firstMessages[0]->Header(), "");
    EXPECT_EQ(firstMessages[0]->SentTime(), "00:00:00 AM");
}

TEST_F(MailboxFile, EmptyPathUnreadableFileAndEmptyFile) {
    auto unset = OpenPath("");
    EXPECT_FALSE(unset->IsConnected());

    auto empty = Open("");
    EXPECT_TRUE(empty->IsConnected());
    EXPECT_EQ(empty->TotalMessages(), 0);

    // Only a mailbox that cannot be read ends the run.
    // The report names the file and the system's reason.
    EXPECT_THROW(OpenPath(dir.File("missing")), ProgramEndRequest);
    EXPECT_EQ(Reports("clsNetscape - NSGetMessages\nError# 53  File not found\n" +
                      dir.File("missing") + ": No such file or directory\r\n"),
              1u)
        << ErrorLog();
    // A folder is named with what it holds: a mail profile's file to choose.
    fs::create_directories(dir.File("profile/Mail/Local Folders"));
    WriteFileBytes(dir.File("profile/Mail/Local Folders/Inbox"), "");
    EXPECT_THROW(OpenPath(dir.File("profile")), ProgramEndRequest);
    EXPECT_EQ(
        Reports("Error# 75  Path/File access error\n" + dir.File("profile") +
                ": Is a directory. It looks like a Thunderbird profile folder: choose one "
                "of its mail files, such as \"" +
                dir.File("profile/Mail/Local Folders/Inbox") + "\", with the format \"Netscape\"."),
        1u)
        << ErrorLog();
}

// ---------------------------------------------------------------------------------------------
// Header fields

TEST_F(MailboxFile, FieldOnTheLastHeaderLineIsRead) {
    auto source = Open(Mailbox({
        Message(
            "To: b@example.com\r\nDate: Fri, 08 Jan 99 12:34:56 -0500\r\nSubject: last line\r\n",
            "x"),
        Message("To: b@example.com\r\nFrom: Last <last@example.com>\r\n", "y"),
    }));
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0]->Subject(), "last line");
    EXPECT_EQ(messages[1]->SenderName(), "Last");
    EXPECT_EQ(messages[1]->SenderAddress(), "last@example.com");
    EXPECT_EQ(Reports("clsNetscape - GetSubject"), 0u);
}

// A field continued on lines that start with a blank is read whole, the line ends taken out
// and the blanks kept, as the other sources unfold it; an encoded subject folded between its
// words is decoded as one.
TEST_F(MailboxFile, FoldedFieldsAreUnfolded) {
    auto source = Open(Mailbox({Message(
        "From: \"Doe,\r\n Jane\" <jane@example.com>\r\nTo: b@example.com\r\n"
        "Subject: =?UTF-8?Q?Bestellung_f=C3=BCr?=\r\n =?UTF-8?Q?_J=C3=BCrgen?=\r\n\tend\r\n"
        "Date: Fri, 08 Jan 99 12:34:56 -0500\r\n",
        "x")}));
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0]->Subject(), "Bestellung f\xc3\xbcr J\xc3\xbcrgen\tend");
    EXPECT_EQ(messages[0]->SenderName(), "Doe, Jane");
    EXPECT_EQ(messages[0]->SenderAddress(), "jane@example.com");
    EXPECT_EQ(messages[0]->SentDate(), "1/8/1999");
}

TEST_F(MailboxFile, RecipientOnlyInsideReplyToIsUnknown) {
    auto source =
        Open(Mailbox({Message("From: a@example.com\r\nReply-To: r@example.com\r\n"
                              "Delivered-To: x@example.com\r\n",
                              "x")}));
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0]->ReceipentName(), "Unknown");
    EXPECT_EQ(messages[0]->ReceipentAddress(), "Unknown");
    EXPECT_EQ(messages[0]->ReplyToAddress(), "r@example.com");
    EXPECT_EQ(Reports("clsNetscape - GetReceipent"), 1u);
}

TEST_F(MailboxFile, MissingFromIsReportedWithTheMessageNumberAndTheWalkGoesOn) {
    auto source =
        Open(Mailbox({Plain("One"), Message("To: b@example.com\r\nSubject: no sender\r\n", "x"),
                      Plain("Three")}));
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[1]->Subject(), "no sender");
    EXPECT_EQ(messages[1]->SenderName() + messages[1]->SenderAddress(), "");
    EXPECT_EQ(messages[2]->Subject(), "Three");
    EXPECT_EQ(messages[2]->SenderAddress(), "jane@example.com");
    EXPECT_EQ(Reports("clsNetscape - GetSender\nIn message number: 2"), 1u);
    // The missing date of the same message names the same number.
    EXPECT_EQ(Reports("Unable to find the sent date in the message header.\nIn message number: 2"),
              1u);
}

TEST_F(MailboxFile, UnreadableDatesLeaveTheDatesEmpty) {
    auto source = Open(Mailbox({Message(
        "From: a@example.com\r\nTo: b@example.com\r\nDate: soon\r\n", "x", "From - whenever")}));
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0]->SentDate() + messages[0]->ReceiveDate(), "");
    EXPECT_EQ(Reports("clsNetscape - GetSentDate"), 1u);
    EXPECT_EQ(Reports("clsNetscape - GetReceiveDate"), 1u);
}

// ---------------------------------------------------------------------------------------------
// Linux mail folders

TEST_F(MailboxFile, ThunderbirdFolderWithLineFeedsIsRead) {
    const char* data = std::getenv("TALLIX_TEST_DATA");
    auto source = OpenPath(std::string(data && *data ? data : TALLIX_TEST_DATA_DIR) +
                           "/sources/thunderbird_lf.mbox");
    EXPECT_TRUE(source->LineFeedOnly());
    EXPECT_EQ(source->TotalMessages(), 3);
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 3u);

    const txMessage& first = *messages[0];
    EXPECT_EQ(first.Subject(), "Your order 1001");
    EXPECT_EQ(first.SenderName(), "Shop");
    EXPECT_EQ(first.SenderAddress(), "orders@shop.example");
    EXPECT_EQ(first.ReceipentAddress(), "me@example.org");
    // "From - Fri Jan  8 ..." with the blank-padded day.
    EXPECT_EQ(first.ReceiveDate(), "1/8/2021");
    EXPECT_EQ(first.ReceiveTime(), "9:15:00 AM");  // short time: no seconds
    EXPECT_EQ(first.SentDate(), "1/8/2021");
    EXPECT_EQ(first.Body(), "Order: 1001\r\nTotal: 12.50\r\n>From the shop with thanks");
    EXPECT_NE(first.Header().find("X-Mozilla-Status: 0001\r\n"), std::string::npos);

    EXPECT_EQ(messages[1]->Subject(), "Second");
    EXPECT_EQ(messages[1]->ReceiveDate(), "2/15/2021");
    // A CR LF inside a line-feed file is not doubled.
    EXPECT_EQ(messages[1]->Body(), "kept\r\nas is");
    EXPECT_EQ(messages[2]->Subject(), "Third");
    EXPECT_EQ(ErrorLog(), "");
}

TEST_F(MailboxFile, EudoraWithLineFeeds) {
    auto source = Open(
        "From ???@??? Fri Jan  8 12:34:56 1999\nFrom: a@example.com\nTo: b@example.com\n"
        "Subject: One\n\nbody\nFrom ???@??? Sat Jan  9 12:34:56 1999\nFrom: c@example.com\n"
        "To: d@example.com\nSubject: Two\n\nbye\n",
        kSourceEudora);
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0]->Body(), "body");
    EXPECT_EQ(messages[0]->ReceiveDate(), "1/8/1999");
    EXPECT_EQ(messages[1]->Subject(), "Two");
    EXPECT_EQ(messages[1]->ReceiveDate(), "1/9/1999");
}

// ---------------------------------------------------------------------------------------------
// Multipart messages and attachments

std::string Multipart(const std::string& boundaryParam, const std::string& boundary,
                      const std::vector<std::string>& parts, const std::string& subject = "Parts") {
    std::string body = "This is a multi-part message in MIME format.\r\n";
    for (const std::string& p : parts) body += "--" + boundary + "\r\n" + p + "\r\n";
    body += "--" + boundary + "--";
    return Message("From: a@example.com\r\nTo: b@example.com\r\nSubject: " + subject +
                       "\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=" +
                       boundaryParam + "\r\n",
                   body);
}

std::string TextPart(const std::string& text) {
    return "Content-Type: text/plain; charset=us-ascii\r\nContent-Transfer-Encoding: 7bit\r\n\r\n" +
           text;
}

// An attachment part; the disposition's file name follows the Content-Type's name.
std::string FilePart(const std::string& nameParams, const std::string& content) {
    return "Content-Type: application/octet-stream" + nameParams +
           "\r\nContent-Transfer-Encoding: base64\r\n"
           "Content-Disposition: attachment; filename=\"f\"\r\n\r\n" +
           content;
}

// With the read-ahead, a walk hands over what it hands over without it, reports the same in
// the same order, decodes the same attachments on its own thread, and can be left at any
// message: over many plain messages (more than it reads ahead), attachments, a message without
// a blank line, one without a sender and one without a header.
TEST_F(MailboxFile, ReadAheadHandsOverAndReportsWhatTheWalkAloneDoes) {
    std::vector<std::string> messages;
    for (int i = 0; i < 150; ++i) {
        messages.push_back(Plain("Plain " + std::to_string(i), std::string(i * 37 % 500, 'b')));
        if (i % 40 == 5)
            messages.push_back(Multipart(
                "\"b\"", "b",
                {TextPart("Part " + std::to_string(i)), FilePart("; name=\"o.csv\"", "QUJD")}));
        if (i == 60) messages.push_back("From - Fri Jan 08 12:34:56 1999\r\nFrom: a@b.c\r\n");
        if (i == 70) messages.push_back(Message("To: b@example.com\r\nSubject: none\r\n", "x"));
    }
    const std::string mailbox = Mailbox(messages);
    const auto walk = [&](bool ahead, std::size_t stopAfter) {
        auto source = Open(mailbox);
        source->SetReadAhead(ahead);
        std::string seen;
        source->GetFirstMsg();
        for (std::size_t n = 0; source->Message() && n < stopAfter; ++n) {
            const txMessage& m = *source->Message();
            seen += m.Subject() + "|" + m.Body() + "|" + m.SenderName() + "|" + m.SentDate() +
                    m.SentTime() + "|" + m.ReceiveDate() + "|" + source->ConvertAddress() + "|";
            for (std::int32_t a = 1; a <= m.Attachments()->Count(); ++a)
                seen += ReadFileBytes(m.Attachments()->Item(a)) + "|";
            source->Cleanup();
            source->GetNextMsg();
            seen += "\n";
        }
        return seen + ErrorLog();
    };
    const std::string alone = walk(false, SIZE_MAX);
    std::filesystem::remove(env.ProgramDir() + "/" + std::string(kErrorLog));
    EXPECT_EQ(walk(true, SIZE_MAX), alone);
    EXPECT_EQ(decoder.inputs.size(), 8u) << "each attachment decoded once per walk";
    std::filesystem::remove(env.ProgramDir() + "/" + std::string(kErrorLog));
    // Left after a few messages, with the read-ahead's thread busy or waiting.
    EXPECT_EQ(walk(true, 3).substr(0, 20), alone.substr(0, 20));
}

TEST_F(MailboxFile, MultipartBodyAndAttachment) {
    auto source =
        Open(Mailbox({Multipart("\"----=_Part_1\"", "----=_Part_1",
                                {TextPart("Hello part"), FilePart("; name=\"order.csv\"", "QUJD"),
                                 TextPart("Second text")})}));
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 1u);
    const txMessage& m = *messages[0];
    EXPECT_EQ(source->Boundary(), "----=_Part_1");
    EXPECT_EQ(m.Body(), "Hello part\r\nSecond text\r\n");
    ASSERT_EQ(m.Attachments()->Count(), 1);
    const std::string path = m.Attachments()->Item(1);
    EXPECT_EQ(path, ScratchFile("$$order.csv"));
    EXPECT_TRUE(InsideScratch(path));
    EXPECT_EQ(ReadFileBytes(path), "QUJD\r\n\r\n");
    // The part the decoder read: the rebuilt header (its lines kept apart), then the content.
    ASSERT_EQ(decoder.inputs.size(), 1u);
    EXPECT_EQ(decoder.inputs[0],
              "Content-Type: application/octet-stream; name=\"$$order.csv\"\r\n"
              "Content-Transfer-Encoding: base64\r\n"
              "Content-Disposition: attachment; filename=\"f\"\r\n\r\nQUJD\r\n\r\n");
    EXPECT_EQ(ReadFileBytes(ScratchFile("$$tallix.tmp")), decoder.inputs[0]);

    source->Cleanup();
    EXPECT_FALSE(fs::exists(path));
    EXPECT_FALSE(fs::exists(ScratchFile("$$tallix.tmp")));
}

// A multipart/alternative inside a multipart/mixed: its plain part is the body, as every
// other source takes it, and its HTML part is not; the attachment beside it is kept. Without a
// plain part the nested HTML part's text is the body.
TEST_F(MailboxFile, AlternativeInsideMixedGivesItsPlainPart) {
    const auto alternative = [](const std::string& plain) {
        std::string inner = "Content-Type: multipart/alternative; boundary=\"alt\"\r\n\r\n";
        if (!plain.empty()) {
            inner +=
                "--alt\r\nContent-Type: text/plain; charset=utf-8\r\n"
                "Content-Transfer-Encoding: quoted-printable\r\n\r\n" +
                plain + "\r\n";
        }
        return inner +
               "--alt\r\nContent-Type: text/html; charset=utf-8\r\n\r\n"
               "<p>Code: H-1 &amp; more</p>\r\n--alt--\r\n";
    };
    auto source = Open(Mailbox(
        {Multipart("\"mix\"", "mix",
                   {alternative("Code: P-1 f=C3=BCr"), FilePart("; name=\"order.csv\"", "QUJD")}),
         Multipart("\"mix\"", "mix", {alternative("")})}));
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 2u);
    // The line end before a boundary line belongs to the boundary.
    EXPECT_EQ(messages[0]->Body(), "Code: P-1 f\xc3\xbcr");
    EXPECT_EQ(messages[0]->Attachments()->Count(), 1);
    // 7-bit HTML as written: the record's own tag stripping, "&amp;" kept.
    EXPECT_EQ(messages[1]->Body(), "Code: H-1 &amp; more");
}

// The attachment message wherever it stands in the file, with or without the blank line that
// mail clients leave after the last message, in CR LF and LF files: it always keeps its
// attachment and its text part.
TEST_F(MailboxFile, AttachmentIsKeptInTheLastAndOnlyMessage) {
    const std::string withAttachment = Multipart(
        "\"=_sep_7\"", "=_sep_7",
        {TextPart("See the file."), FilePart("; name=\"code.txt\"", "Q29kZTogNzc3")}, "Attached");
    struct Layout {
        const char* name;
        std::vector<std::string> messages;
        std::size_t at;  // index of the attachment message
    } layouts[] = {
        {"last of two", {Plain("Plain"), withAttachment}, 1},
        {"only", {withAttachment}, 0},
        {"first of two", {withAttachment, Plain("Plain")}, 0},
    };
    struct Ending {
        const char* name;
        std::string tail;  // after the last message's final line end
    } endings[] = {{"no blank line", ""}, {"blank line", "\r\n"}, {"two blank lines", "\r\n\r\n"}};
    for (const Layout& layout : layouts) {
        for (const Ending& ending : endings) {
            for (const bool lineFeeds : {false, true}) {
                SCOPED_TRACE(std::string(layout.name) + ", " + ending.name +
                             (lineFeeds ? ", LF" : ", CR LF"));
                std::string box = Mailbox(layout.messages) + ending.tail;
                if (lineFeeds) box = ReplaceAll(box, "\r\n", "\n");
                auto source = Open(box);
                const auto messages = Walk(*source);
                ASSERT_EQ(messages.size(), layout.messages.size());
                const txMessage& m = *messages[layout.at];
                EXPECT_EQ(m.Subject(), "Attached");
                EXPECT_EQ(m.Body(), "See the file.\r\n");
                ASSERT_EQ(m.Attachments()->Count(), 1);
                EXPECT_EQ(m.Attachments()->Item(1), ScratchFile("$$code.txt"));
                EXPECT_EQ(ReadFileBytes(m.Attachments()->Item(1)).substr(0, 12), "Q29kZTogNzc3");
                EXPECT_EQ(Reports("GetAttachment"), 0u);
            }
        }
    }
}

TEST_F(MailboxFile, FoldedContentTypeIsJoinedAndNameGoesIntoTheContentType) {
    auto source = Open(
        Mailbox({Multipart("\"=_sep_7\"", "=_sep_7",
                           {"Content-Type: application/pdf;\r\n "
                            "name=\"a.pdf\"\r\nContent-Transfer-Encoding: base64\r\n"
                            "Content-Disposition: attachment;\r\n filename=\"a.pdf\"\r\n\r\nUERG",
                            "Content-Type: application/pdf\r\nContent-Transfer-Encoding: base64\r\n"
                            "Content-Disposition: attachment; filename=\"b.pdf\"\r\n\r\nQg=="})}));
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 1u);
    ASSERT_EQ(messages[0]->Attachments()->Count(), 2);
    EXPECT_EQ(messages[0]->Attachments()->Item(1), ScratchFile("$$a.pdf"));
    EXPECT_EQ(messages[0]->Attachments()->Item(2), ScratchFile("$$b.pdf"));
    ASSERT_EQ(decoder.inputs.size(), 2u);
    EXPECT_EQ(decoder.inputs[0].substr(0, decoder.inputs[0].find("\r\n")),
              "Content-Type: application/pdf; name=\"$$a.pdf\"");
    EXPECT_EQ(decoder.inputs[1].substr(0, decoder.inputs[1].find("\r\n")),
              "Content-Type: application/pdf; name=\"$$b.pdf\"");
    EXPECT_NE(decoder.inputs[1].find("filename=\"$$b.pdf\""), std::string::npos);
}

TEST_F(MailboxFile, SameNamedAttachmentsStayApart) {
    auto source = Open(Mailbox({Multipart(
        "\"=_sep_7\"", "=_sep_7",
        {FilePart("; name=\"data.txt\"", "Rmlyc3Q="), FilePart("; name=\"data.txt\"", "U2Vjb25k"),
         FilePart("; name=\"sub/data.txt\"", "VGhpcmQ=")})}));
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 1u);
    const auto& files = *messages[0]->Attachments();
    ASSERT_EQ(files.Count(), 3);
    EXPECT_EQ(files.Item(1), ScratchFile("$$data.txt"));
    EXPECT_EQ(files.Item(2), ScratchFile("$$data-2.txt"));
    EXPECT_EQ(files.Item(3), ScratchFile("$$data-3.txt"));
    EXPECT_EQ(ReadFileBytes(files.Item(1)), "Rmlyc3Q=\r\n\r\n");
    EXPECT_EQ(ReadFileBytes(files.Item(2)), "U2Vjb25k\r\n\r\n");
    EXPECT_EQ(ReadFileBytes(files.Item(3)), "VGhpcmQ=\r\n\r\n");
}

TEST_F(MailboxFile, HostileAttachmentNamesStayInTheScratchDirectory) {
    auto source = Open(Mailbox(
        {Multipart("\"=_sep_7\"", "=_sep_7",
                   {FilePart("; name=\"../x\"", "MQ=="), FilePart("; name=\"/etc/passwd\"", "Mg=="),
                    FilePart("; name=\"a\x01\tb\x1b.txt\"", "Mw=="),
                    FilePart("; name=\"\"", "NA=="), FilePart("; name=\"..\"", "NQ=="),
                    FilePart("; name=\"..\\\\..\\\\evil.htm\"", "Ng==")})}));
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 1u);
    const auto files = messages[0]->Attachments()->Snapshot();
    ASSERT_EQ(files.size(), 6u);
    const std::vector<std::string> names = {"$$x",          "$$passwd",       "$$ab.txt",
                                            "$$attachment", "$$attachment-2", "$$evil.htm"};
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i]);
        EXPECT_EQ(files[i], ScratchFile(names[i]));
        EXPECT_TRUE(InsideScratch(files[i]));
    }
    // Nothing was written beside the mailbox either.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST_F(MailboxFile, PartsWithTheSameHeaderReadTheirOwnContent) {
    auto source =
        Open(Mailbox({Multipart("\"=_sep_7\"", "=_sep_7", {TextPart("one"), TextPart("two")})}));
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0]->Body(), "one\r\ntwo\r\n");
}

// Only delimiter lines divide a message: the letters of a short boundary ("b") inside a part
// (in base64 text, in a header line before the Content-Type, in a line that begins "--b") are
// content, so no part is cut short or lost.
TEST_F(MailboxFile, BoundaryLettersInsidePartsAreContent) {
    auto source = Open(Mailbox({Multipart(
        "\"b\"", "b",
        {"Content-Transfer-Encoding: base64\r\nContent-Type: text/plain\r\n\r\nSGVsbG8gQm9iDQo=",
         TextPart("Thanks\r\n--best wishes"), FilePart("; name=\"one.txt\"", "Zmlyc3Q="),
         FilePart("; name=\"two.txt\"", "c2Vjb25k")})}));
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 1u);
    const txMessage& m = *messages[0];
    EXPECT_EQ(m.Body(), "Hello Bob\r\nThanks\r\n--best wishes\r\n");
    ASSERT_EQ(m.Attachments()->Count(), 2);
    EXPECT_EQ(ReadFileBytes(m.Attachments()->Item(1)), "Zmlyc3Q=\r\n\r\n");
    EXPECT_EQ(ReadFileBytes(m.Attachments()->Item(2)), "c2Vjb25k\r\n\r\n");
}

TEST_F(MailboxFile, BoundaryQuotesAreDroppedOnlyWhenPresent) {
    struct Case {
        std::string param, boundary;
    } cases[] = {{"=_abc", "=_abc"},
                 {"\"=_abc\"", "=_abc"},
                 {"\"=_abc\"; charset=x", "=_abc"},
                 {"=_abc; type=x", "=_abc"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.param);
        auto source = Open(Mailbox({Multipart(c.param, c.boundary, {TextPart("plain text")})}));
        const auto messages = Walk(*source);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(source->Boundary(), c.boundary);
        EXPECT_EQ(messages[0]->Body(), "plain text\r\n");
    }
}

TEST_F(MailboxFile, BadAttachmentsAreReportedAndSkipped) {
    auto source = Open(Mailbox({
        Multipart("\"=_sep_7\"", "=_sep_7",
                  {TextPart("kept"), FilePart("; name=unquoted.txt", "MQ=="),
                   FilePart("; name=\"good.txt\"", "Mg==")}),
        Multipart("\"=_sep_7\"", "=_sep_7",
                  {"Content-Type: text/csv; charset=x\r\nContent-Disposition: attachment;"
                   " filename=\r\n\r\nMw=="}),
        Plain("After"),
    }));
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0]->Body(), "kept\r\n");
    ASSERT_EQ(messages[0]->Attachments()->Count(), 1);
    EXPECT_EQ(messages[0]->Attachments()->Item(1), ScratchFile("$$good.txt"));
    EXPECT_EQ(messages[1]->Attachments()->Count(), 0);
    EXPECT_EQ(messages[2]->Subject(), "After");
    EXPECT_EQ(Reports("clsNetscape - GetAttachment\nIn message number: 1"), 1u);
    EXPECT_EQ(Reports("clsNetscape - GetAttachment\nIn message number: 2"), 1u);
}

TEST_F(MailboxFile, FailedOrMissingDecoderLosesOnlyTheAttachment) {
    decoder.succeed = false;
    const std::string box = Mailbox(
        {Multipart("\"=_sep_7\"", "=_sep_7", {TextPart("t"), FilePart("; name=\"a.txt\"", "MQ==")}),
         Plain("After")});
    auto failing = Open(box);
    auto messages = Walk(*failing);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0]->Attachments()->Count(), 0);
    EXPECT_EQ(messages[0]->Body(), "t\r\n");
    EXPECT_EQ(Reports("clsNetscape - GetAttachment"), 1u);

    failing->SetAttachmentDecoder(nullptr);
    messages = Walk(*failing);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0]->Attachments()->Count(), 0);
    EXPECT_EQ(Reports("clsNetscape - GetAttachment"), 2u);
    EXPECT_EQ(decoder.inputs.size(), 1u);
}

// A decode the decoder refuses (it returns false) is no error of the program: the attachment
// is left out and the refusal is noted in the error log with the attachment's name and the
// message number, never in a box, also when the run is not silent.
TEST_F(MailboxFile, RefusedDecodeIsNotedInTheLogWithoutABox) {
    SetSilentMode(false);
    decoder.succeed = false;
    auto source = Open(Mailbox(
        {Multipart("\"=_sep_7\"", "=_sep_7", {TextPart("t"), FilePart("; name=\"a.txt\"", "MQ==")}),
         Plain("After")}));
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0]->Attachments()->Count(), 0);
    EXPECT_EQ(messages[0]->Body(), "t\r\n");
    EXPECT_EQ(messages[1]->Subject(), "After");
    for (const auto& box : ui.boxes)
        EXPECT_EQ(box.text.find("GetAttachment"), std::string::npos) << box.text;
    EXPECT_EQ(Reports("clsNetscape - GetAttachment\n" + std::string(kDecodeRefused) +
                      " $$a.txt\nIn message number: 1"),
              1u);
}

TEST_F(MailboxFile, BoundaryWithoutLineEndDoesNotEndTheWalk) {
    auto source = Open(Mailbox(
        {Plain("One"), "From - Fri Jan 08 12:34:56 1999\r\nFrom: a@b.c\r\n\r\nbody boundary=\r\n",
         Plain("Three")}));
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[2]->Subject(), "Three");
    EXPECT_EQ(Reports("clsNetscape - GetBoundaryMarker\nIn message number: 2"), 1u);
}

// ---------------------------------------------------------------------------------------------
// The file changing under the walk, and files larger than the reading window

// A body of about `bytes` bytes in lines of 70 characters.
std::string LongBody(std::size_t bytes, char fill = 'x') {
    std::string body;
    while (body.size() < bytes) body += std::string(70, fill) + "\r\n";
    return body;
}

// Another program cuts the mailbox short (a mail client compacting the folder in place)
// between two messages: the walk ends with a report that says so; the messages read before
// stay as they were. The messages are larger than the reading window, so the second one is
// not yet in memory when the file is cut.
TEST_F(MailboxFile, MailboxCutShorterDuringTheWalkEndsTheWalkWithAReport) {
    const std::string first = Plain("One", LongBody(kMailboxWindowBytes + kMailboxWindowBytes / 4));
    auto source =
        Open(Mailbox({first, Plain("Two", LongBody(3 * kMailboxWindowBytes)), Plain("Three")}));
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
    // Nothing more is read, and nothing more is reported.
    source->GetNextMsg();
    EXPECT_FALSE(source->Message());
    EXPECT_EQ(Reports(std::string(kMailboxShrank)), 1u);
}

// A folder rewritten into a new file that replaces the old one is read as it was at Connect,
// and so is a file that grows: what was appended after Connect is not seen.
TEST_F(MailboxFile, ReplacedOrGrownMailboxIsReadAsItWasAtConnect) {
    auto source = Open(Mailbox({Plain("One"), Plain("Two")}));
    source->GetFirstMsg();
    ASSERT_TRUE(source->Message());
    WriteFileBytes(dir.File("replacement"), Mailbox({Plain("Other")}));
    fs::rename(dir.File("replacement"), dir.File("mailbox"));
    source->GetNextMsg();
    ASSERT_TRUE(source->Message());
    EXPECT_EQ(source->Message()->Subject(), "Two");

    auto growing = Open(Mailbox({Plain("One")}));
    std::FILE* f = std::fopen(dir.File("mailbox").c_str(), "ab");
    ASSERT_TRUE(f);
    const std::string more = "\r\n" + Plain("Appended");
    std::fwrite(more.data(), 1, more.size(), f);
    std::fclose(f);
    const auto messages = Walk(*growing);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0]->Subject(), "One");
    EXPECT_EQ(ErrorLog().find(kMailboxShrank), std::string::npos);
}

// The file is read through a window of kMailboxWindowBytes: separators and end markers that
// straddle the window's end, and messages larger than the window, are cut as anywhere else.
TEST_F(MailboxFile, MessagesAcrossTheReadingWindowAreCutWhole) {
    const std::string second = Plain("Two", "second body");
    for (const std::size_t offset : {std::size_t{0}, std::size_t{1}, std::size_t{3}, std::size_t{5},
                                     std::size_t{9}, std::size_t{12}}) {
        SCOPED_TRACE(offset);
        // The end marker of the first message starts `offset` bytes before the window's end.
        std::string first = Plain("One", "");
        const std::size_t want = kMailboxWindowBytes - offset;
        first.insert(first.size() - 2, std::string(want - first.size(), 'y'));
        auto source = Open(Mailbox({first, second}));
        const auto messages = Walk(*source);
        ASSERT_EQ(messages.size(), 2u);
        EXPECT_EQ(messages[0]->Body().size(), want - first.find("\r\n\r\n") - 4 - 2);
        EXPECT_EQ(messages[1]->Subject(), "Two");
        EXPECT_EQ(messages[1]->Body(), "second body\r\n");
    }
    // Larger than the window, in a CR LF and in an LF file.
    const std::string big = LongBody(kMailboxWindowBytes * 5 / 2, 'z');
    for (const bool lineFeeds : {false, true}) {
        SCOPED_TRACE(lineFeeds ? "LF" : "CR LF");
        std::string box = Mailbox({Plain("Big", big), second, Plain("Three", big)});
        if (lineFeeds) box = ReplaceAll(box, "\r\n", "\n");
        auto source = Open(box);
        EXPECT_EQ(source->TotalMessages(), 3);
        const auto messages = Walk(*source);
        ASSERT_EQ(messages.size(), 3u);
        EXPECT_EQ(messages[0]->Body(), big);
        EXPECT_EQ(messages[1]->Body(), "second body");
        EXPECT_EQ(messages[2]->Body(), big + "\r\n");
    }
}

// ---------------------------------------------------------------------------------------------
// The rest of the contract

TEST_F(MailboxFile, DeleteOnlyTellsTheUser) {
    const std::string box = Mailbox({Plain("One")});
    auto source = Open(box);
    source->GetFirstMsg();
    // The box carries the program's title (its product name), not the executable's name.
    SetProgramIdentity("txengine", "txEngine");
    source->DoDeleteMessage();
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Delete feature not yet implemented.");
    EXPECT_EQ(ui.boxes[0].title, "txEngine");
    EXPECT_EQ(ui.boxes[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(ReadFileBytes(dir.File("mailbox")), box);
}

TEST_F(MailboxFile, CollectionReportsAMissingItem) {
    Settings().useSource = kSourceNetscape;
    auto col = NewColNetscape();
    clsNetscape* added = col->Add();
    EXPECT_EQ(col->Count(), 1);
    EXPECT_EQ(col->Item(1), added);
    EXPECT_EQ(col->Item(2), nullptr);
    EXPECT_EQ(Reports("colNetscape - Get Item\nError# 9"), 1u);
}

// Damaged mailboxes: every walk ends, within the number of separators plus one, and never
// crashes. Cuts and flipped bytes land in separators, headers, boundaries and names.
TEST_F(MailboxFile, DamagedMailboxesNeverStallTheWalk) {
    const std::string sample = Mailbox(
        {Plain("One"),
         Multipart("\"=_sep_7\"", "=_sep_7", {TextPart("t"), FilePart("; name=\"a.txt\"", "MQ==")}),
         ">" + Plain("Two"), Message("To: x\r\nDate: Fri, 8 Jan\r\n", "From - \r\nboundary=\"")});
    std::mt19937 rng(7);
    const std::string alphabet = "\r\n\">-: =;FromTo";
    for (int round = 0; round < 300; ++round) {
        std::string damaged = sample;
        const int edits = 1 + static_cast<int>(rng() % 6);
        for (int e = 0; e < edits && !damaged.empty(); ++e) {
            const std::size_t at = rng() % damaged.size();
            switch (rng() % 3) {
                case 0:
                    damaged[at] = alphabet[rng() % alphabet.size()];
                    break;
                case 1:
                    damaged.erase(at, rng() % 8);
                    break;
                default:
                    damaged.insert(at, std::string(1, alphabet[rng() % alphabet.size()]));
                    break;
            }
        }
        if (round % 50 == 0) damaged = damaged.substr(0, rng() % (damaged.size() + 1));
        SCOPED_TRACE(round);
        auto source = Open(damaged, round % 2 ? kSourceEudora : kSourceNetscape);
        ASSERT_TRUE(source->IsConnected());
        const auto messages = Walk(*source);
        EXPECT_LE(static_cast<std::int32_t>(messages.size()), source->TotalMessages() + 1);
        for (const auto& m : messages) {
            for (const std::string& path : m->Attachments()->Snapshot())
                EXPECT_TRUE(InsideScratch(path));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Limits: each one reached is reported, the message is read as far as the limit allows, and
// the next message is read as usual.

TEST_F(MailboxFile, HeaderPastTheLimitIsCutAtALineEndAndReported) {
    std::string junk;
    const std::string line = "X-Junk: " + std::string(90, 'j') + "\r\n";
    while (junk.size() <= kMaxMessageHeaderBytes) junk += line;
    auto source = Open(Mailbox(
        {Message("From: a@example.com\r\nSubject: Big\r\n" + junk + "To: late@example.com\r\n",
                 "big body"),
         Plain("After")}));
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0]->Subject(), "Big");
    EXPECT_EQ(messages[0]->Body(), "big body");
    EXPECT_LE(messages[0]->Header().size(), kMaxMessageHeaderBytes);
    EXPECT_TRUE(messages[0]->Header().ends_with("\r\n" + line.substr(0, line.size() - 1)));
    EXPECT_EQ(messages[0]->ReceipentAddress(), "Unknown");  // the To: line lies past the limit
    EXPECT_EQ(Reports(std::string(kHeaderTooLong)), 1u);
    EXPECT_EQ(messages[1]->Subject(), "After");
    EXPECT_EQ(messages[1]->Header().size(), source->HeaderText().size());
}

TEST_F(MailboxFile, FieldValuePastTheLimitIsCutWithoutSplittingACharacter) {
    // A two-byte character straddles the limit.
    const std::string subject =
        std::string(kMaxFieldValueBytes - 1, 's') + "\xC3\xA9" + std::string(1000, 't');
    auto source = Open(Mailbox({Plain(subject), Plain("Short")}));
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0]->Subject(), std::string(kMaxFieldValueBytes - 1, 's'));
    EXPECT_EQ(messages[1]->Subject(), "Short");
    EXPECT_EQ(Reports(std::string(kFieldTooLong)), 1u);

    // Exactly at the limit nothing is cut or reported.
    auto exact = Open(Mailbox({Plain(std::string(kMaxFieldValueBytes, 'e'))}));
    const auto one = Walk(*exact);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0]->Subject().size(), kMaxFieldValueBytes);
    EXPECT_EQ(Reports(std::string(kFieldTooLong)), 1u);
}

TEST_F(MailboxFile, PartsPastTheLimitAreSkippedAndReported) {
    std::vector<std::string> parts;
    for (std::size_t i = 0; i < kMaxMessageParts + 5; ++i)
        parts.push_back(TextPart("p" + std::to_string(i) + ";"));
    auto source = Open(Mailbox({Multipart("\"=_many\"", "=_many", parts), Plain("After")}));
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 2u);
    const std::string body = messages[0]->Body();
    // The message's own Content-Type block counts as the first.
    EXPECT_NE(body.find("\np" + std::to_string(kMaxMessageParts - 2) + ";"), std::string::npos);
    EXPECT_EQ(body.find("\np" + std::to_string(kMaxMessageParts - 1) + ";"), std::string::npos);
    EXPECT_EQ(Reports(std::string(kTooManyParts)), 1u);
    EXPECT_EQ(messages[1]->Subject(), "After");
}

TEST_F(MailboxFile, LongAttachmentNameIsShortenedAndReported) {
    const std::string longName = "../" + std::string(kMaxAttachmentNameBytes + 50, 'n') + ".txt";
    const std::string fitting = "dir/" + std::string(kMaxAttachmentNameBytes - 4, 'f') + ".txt";
    auto source = Open(Mailbox({Multipart("\"=_n\"", "=_n",
                                          {FilePart("; name=\"" + longName + "\"", "QQ=="),
                                           FilePart("; name=\"" + fitting + "\"", "Qg==")})}));
    const auto messages = Walk(*source);
    ASSERT_EQ(messages.size(), 1u);
    const auto& files = *messages[0]->Attachments();
    ASSERT_EQ(files.Count(), 2);
    EXPECT_TRUE(InsideScratch(files.Item(1)));
    EXPECT_LE(fs::path(files.Item(1)).filename().string().size(), kMaxAttachmentNameBytes + 2);
    EXPECT_EQ(fs::path(files.Item(2)).filename().string(), "$$" + fitting.substr(4));
    EXPECT_EQ(Reports(std::string(kNameTooLong)), 1u);  // the one that fits is not reported
}

}  // namespace
}  // namespace tallix::sources
