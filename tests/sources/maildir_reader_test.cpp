#include "sources/maildir_reader.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <string>
#include <vector>

#include "sources/maildir_inbox.h"
#include "sources/maildir_store.h"
#include "sources/mime_text.h"
#include "tests/support/maildir_fixture.h"
#include "tests/support/test_env.h"

namespace tallix::sources::maildir {
namespace {

using testing::FixtureMessages;
using testing::TempDir;
using testing::WriteFileBytes;

std::vector<std::string> Sources(const ParsedMessage& m) {
    std::vector<std::string> out;
    for (const MailAttachment& a : m.attachments) out.push_back(a.source);
    return out;
}

// Every fixture message as the reader takes it apart: the values the two sources pass on.
TEST(MaildirReader, FixtureMessagesGiveTheirValuesInUtf8) {
    struct Expect {
        std::string subject, senderName, senderAddress, firstRecipient, text;
        bool hasDate;
        std::vector<std::string> attachments;
    };
    const std::vector<Expect> expected = {
        {"Order A-11",
         "Ann Smith",
         "ann@example.org",
         "Shop Orders",
         "Hello,\r\nCode: A-11\r\nThanks\r\n",
         true,
         {}},
        {"Order f\xc3\xbcr J\xc3\xbcrgen",
         "J\xc3\xbcrgen M\xc3\xbcller",
         "juergen@example.de",
         "orders@shop.example",
         "Code: \xc3\x9c-12\r\n",
         true,
         {}},
        {"order latin",
         "Bob",
         "bob@example.net",
         "Shop",
         "Code: B-13 Gr\xc3\xb6\xc3\x9f"
         "e\r\n",
         true,
         {}},
        {"Order html",
         "Web Shop",
         "web@shop.example",
         "Orders",
         "Code: H-14\r\nBye & thanks",
         false,
         {}},
        {"Order no recipient", "Carol", "carol@example.com", "", "Code: N-15\r\n", true, {}},
        {"Attachments",
         "Dan",
         "dan@example.org",
         "Shop",
         "See the attached files.",
         true,
         {"codes.txt",
          "\xc3\xbc"
          "bersicht refs.txt",
          "codes.txt", "../../evil.txt"}},
        {"", "", "", "", "", false, {}},  // junk: checked below
        {"Order truncated",
         "Tom",
         "tom@example.org",
         "Shop",
         "Code: T-18\r\nThe rest is miss",
         true,
         {}},
        {"Weekly news",
         "News",
         "news@list.example",
         "orders@shop.example",
         "Nothing to see here.\r\n",
         true,
         {}},
    };
    ASSERT_EQ(FixtureMessages().size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (i == 6) continue;
        SCOPED_TRACE(FixtureMessages()[i].file);
        const ParsedMessage m = ParseMessageBytes(FixtureMessages()[i].bytes);
        const Expect& e = expected[i];
        EXPECT_TRUE(m.parsed);
        EXPECT_EQ(m.subject, e.subject);
        ASSERT_TRUE(m.sender.has_value());
        EXPECT_EQ(m.sender->name, e.senderName);
        EXPECT_EQ(m.sender->address, e.senderAddress);
        EXPECT_EQ(m.recipients.empty() ? std::string() : m.recipients.front().name,
                  e.firstRecipient);
        EXPECT_EQ(m.text, e.text);
        EXPECT_EQ(m.sentTime.has_value(), e.hasDate);
        EXPECT_EQ(Sources(m), e.attachments);
    }
}

TEST(MaildirReader, DateFieldGivesTheSendingInstant) {
    // +0100 in the header: 07:00 UTC.
    const ParsedMessage m = ParseMessageBytes(FixtureMessages()[1].bytes);
    ASSERT_TRUE(m.sentTime.has_value());
    EXPECT_EQ(*m.sentTime, testing::kFixtureFirstDelivery - 3 * 3600);
}

TEST(MaildirReader, AttachmentContentIsDecoded) {
    const ParsedMessage m = ParseMessageBytes(FixtureMessages()[5].bytes);
    ASSERT_EQ(m.attachments.size(), 4u);
    EXPECT_EQ(m.attachments[0].content, "first: F-1");
    EXPECT_EQ(m.attachments[1].content, "ref: R-2231\n");  // base64
    EXPECT_EQ(m.attachments[2].content, "dup: D-2");
    EXPECT_EQ(m.attachments[3].content, "evil: E-1");
}

TEST(MaildirReader, WhatIsNotAMessageIsHandedBackAsText) {
    for (const std::string& bytes :
         {FixtureMessages()[6].bytes, std::string(), std::string("\0\0\0", 3),
          std::string("no header here at all"), std::string(5000, '\xff')}) {
        const ParsedMessage m = ParseMessageBytes(bytes);
        EXPECT_TRUE(m.subject.empty());
        EXPECT_FALSE(m.sender.has_value());
        // Whatever came back is UTF-8 the record can hold.
        EXPECT_TRUE(m.text.empty() || ToUtf8(m.text, "utf-8") == m.text);
    }
}

TEST(MaildirReader, MessageAttachedToAMessageIsOneAttachment) {
    const std::string bytes =
        "From: a@example.org\nSubject: fwd\nMIME-Version: 1.0\nContent-Type: multipart/mixed; "
        "boundary=x\n\n"
        "--x\nContent-Type: text/plain\n\nsee below\n"
        "--x\nContent-Type: message/rfc822\n\nFrom: b@example.org\nSubject: inner\n\ninner "
        "body\n--x--\n";
    const ParsedMessage m = ParseMessageBytes(bytes);
    EXPECT_EQ(m.text, "see below");  // the line end before a boundary is the boundary's
    ASSERT_EQ(m.attachments.size(), 1u);
    EXPECT_EQ(m.attachments[0].source, "message.eml");
    EXPECT_NE(m.attachments[0].content.find("inner body"), std::string::npos);
}

TEST(MaildirReader, PartsPastTheLimitsAreSkippedAndNoted) {
    std::string many =
        "From: a@example.org\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=x\n\n";
    for (std::size_t i = 0; i < kMaxMessageParts + 50; ++i) {
        many += "--x\nContent-Type: application/octet-stream; name=\"p.bin\"\n\nz\n";
    }
    many += "--x--\n";
    const ParsedMessage wide = ParseMessageBytes(many);
    EXPECT_LT(wide.attachments.size(), kMaxMessageParts);
    EXPECT_EQ(wide.notes, std::vector<std::string_view>{kNoteTooManyParts});

    std::string deep = "From: a@example.org\nMIME-Version: 1.0\n";
    for (int i = 0; i < kMaxPartDepth + 10; ++i) {
        deep += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\n\n--b" +
                std::to_string(i) + "\n";
    }
    deep += "Content-Type: text/plain\n\nbottom\n";
    const ParsedMessage nested = ParseMessageBytes(deep);
    EXPECT_EQ(nested.notes, std::vector<std::string_view>{kNoteTooDeep});
    EXPECT_TRUE(nested.text.empty());
}

TEST(MaildirText, CharacterSetsBecomeUtf8) {
    struct Case {
        std::string bytes, charset, expected;
    };
    const std::vector<Case> cases = {
        {"Gr\xf6\xdf"
         "e",
         "ISO-8859-1",
         "Gr\xc3\xb6\xc3\x9f"
         "e"},
        {"Gr\xf6\xdf"
         "e",
         "latin1",
         "Gr\xc3\xb6\xc3\x9f"
         "e"},
        {"\x80 sign", "windows-1252", "\xe2\x82\xac sign"},
        {"\xa4", "iso-8859-15", "\xe2\x82\xac"},
        {"already \xc3\xbc", "utf-8", "already \xc3\xbc"},
        {"already \xc3\xbc", "", "already \xc3\xbc"},
        // Labelled UTF-8 but not: each byte that starts no character is U+FFFD, the rest kept.
        {"bad \xfc", "utf-8", "bad \xef\xbf\xbd"},
        {"plain", "x-no-such-charset", "plain"},
        {std::string("nul\0 \xc3\xbc", 7), "", std::string("nul\0 \xc3\xbc", 7)},
        {"\xc0\xaf overlong", "utf-8", "\xef\xbf\xbd\xef\xbf\xbd overlong"},
        // Undeclared and not UTF-8: Windows-1252, whose 0x80 is the euro sign.
        {"\xed\xa0\x80 surrogate", "", "\xc3\xad\xc2\xa0\xe2\x82\xac surrogate"},
        {"\xfc", "x-no-such-charset", "\xc3\xbc"},
        {"", "utf-8", ""},
        // NUL stays one byte: every byte of ISO-8859-1 is one character, at most two bytes.
        {std::string("a\0\xff", 3), "iso-8859-1", std::string("a\0\xc3\xbf", 4)},
    };
    for (const Case& c : cases) EXPECT_EQ(ToUtf8(c.bytes, c.charset), c.expected) << c.charset;
}

TEST(MaildirText, LineEndsBecomeCrLf) {
    EXPECT_EQ(ToCrLf("a\nb\r\nc\rd\n\n"), "a\r\nb\r\nc\r\nd\r\n\r\n");
    EXPECT_EQ(ToCrLf(""), "");
}

TEST(MaildirStore, WhatIsAMaildir) {
    TempDir dir;
    const std::string md = dir.File("md");
    testing::WriteMaildirFixture(md);
    ::mkdir(dir.File("nocur").c_str(), 0700);
    ::mkdir(dir.File("nocur/new").c_str(), 0700);
    WriteFileBytes(dir.File("file"), "x");
    EXPECT_TRUE(IsMaildir(md));
    EXPECT_TRUE(IsMaildir(md + "/"));
    EXPECT_FALSE(IsMaildir(dir.File("nocur")));
    EXPECT_FALSE(IsMaildir(dir.File("file")));
    EXPECT_FALSE(IsMaildir(dir.File("missing")));
    EXPECT_FALSE(IsMaildir(""));
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    EXPECT_FALSE(IsMaildir("md"));  // a profile names the store by its full path
}

TEST(MaildirStore, DeliveryTimeFromTheName) {
    const std::vector<std::pair<std::string, std::int64_t>> cases = {
        {"1772445600.M1P100.host", 1772445600},
        {"1.x", 1},
        {"1772445600.M1P100.host:2,S", 1772445600},
        {"abc.def", -1},
        {"1772445600", -1},
        {".1772445600.x", -1},
        {"1234567890123.x", -1},
        {"", -1},
    };
    for (const auto& [name, time] : cases) EXPECT_EQ(DeliveryTimeFromName(name), time) << name;
}

TEST(MaildirStore, InboxIsNewAndCurOldestDeliveryFirst) {
    TempDir dir;
    const std::string md = dir.File("md");
    testing::WriteMaildirFixture(md);
    // A name without a delivery time is placed by its modification time.
    WriteFileBytes(md + "/cur/handmade", "Subject: x\n\n");
    struct utimbuf times {};
    times.actime = times.modtime = testing::kFixtureFirstDelivery + 90;  // between 2 and 3
    ASSERT_EQ(::utime((md + "/cur/handmade").c_str(), &times), 0);
    ::mkdir((md + "/new/subdir").c_str(), 0700);

    const std::vector<InboxEntry> entries = ListInbox(md);
    std::vector<std::string> names;
    for (const InboxEntry& e : entries) names.push_back(e.path.substr(md.size() + 1));
    std::vector<std::string> expected;
    for (const auto& m : FixtureMessages()) expected.push_back(m.file);
    expected.insert(expected.begin() + 2, "cur/handmade");
    EXPECT_EQ(names, expected);
    EXPECT_EQ(entries.front().delivered, testing::kFixtureFirstDelivery);
}

TEST(MaildirStore, VanishedUnreadableAndRefusedFiles) {
    TempDir dir;
    std::string bytes, failure;
    EXPECT_EQ(ReadMessageFile(dir.File("gone"), bytes, failure), ReadOutcome::Vanished);
    ::mkdir(dir.File("adir").c_str(), 0700);
    EXPECT_EQ(ReadMessageFile(dir.File("adir"), bytes, failure), ReadOutcome::NotAFile);
    WriteFileBytes(dir.File("secret"), "From: a@example.org\n\nx\n");
    // A link is never followed, even to a readable message.
    ASSERT_EQ(::symlink(dir.File("secret").c_str(), dir.File("link").c_str()), 0);
    EXPECT_EQ(ReadMessageFile(dir.File("link"), bytes, failure), ReadOutcome::NotAFile);
    EXPECT_EQ(RefusalOf(dir.File("link")), kRefusedNotAFile);
    // One byte past the limit is not read at all (the file is sparse: nothing is written).
    WriteFileBytes(dir.File("huge"), "From: a@example.org\n\n");
    ASSERT_EQ(::truncate(dir.File("huge").c_str(), kMaxMessageFileBytes + 1), 0);
    EXPECT_EQ(ReadMessageFile(dir.File("huge"), bytes, failure), ReadOutcome::TooLong);
    EXPECT_EQ(bytes, "");
    EXPECT_EQ(RefusalOf(dir.File("huge")), kRefusedTooLong);
    const auto huge = MaildirInbox::Load(InboxEntry{dir.File("huge"), "huge", 1});
    ASSERT_NE(huge, nullptr);
    EXPECT_EQ(huge->refused, kRefusedTooLong);
    EXPECT_FALSE(huge->parsed.parsed);
    ASSERT_EQ(::truncate(dir.File("huge").c_str(), kMaxMessageFileBytes), 0);
    EXPECT_EQ(ReadMessageFile(dir.File("huge"), bytes, failure), ReadOutcome::Read);
    EXPECT_EQ(bytes.size(), kMaxMessageFileBytes);
    EXPECT_EQ(RefusalOf(dir.File("huge")), "");
    ::chmod(dir.File("secret").c_str(), 0);
    if (::geteuid() != 0) {
        EXPECT_EQ(ReadMessageFile(dir.File("secret"), bytes, failure), ReadOutcome::Failed);
        EXPECT_FALSE(failure.empty());
        const auto m = MaildirInbox::Load(InboxEntry{dir.File("secret"), "secret", 1});
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->refused, std::string(kRefusedUnreadable) + failure);
    }
    EXPECT_EQ(MaildirInbox::Load(InboxEntry{dir.File("gone"), "gone", 1}), nullptr);
}

TEST(MaildirStore, DateTimeTextIsTheSystemsGeneralDate) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    EXPECT_EQ(DateTimeText(testing::kFixtureFirstDelivery), "3/2/2026 10:00:00 AM");
    EXPECT_EQ(DateTimeText(testing::kFixtureFirstDelivery + 4 * 3600 + 5 * 60 + 9),
              "3/2/2026 2:05:09 PM");
    EXPECT_EQ(DateTimeText(1772409600), "3/2/2026");  // midnight: the date alone
}

}  // namespace
}  // namespace tallix::sources::maildir
