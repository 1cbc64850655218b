#include "sources/message_builder.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "model/message.h"
#include "sources/attachment_names.h"

namespace tallix::sources {
namespace {

// A value a kind does not give is left as the record made it; an empty value is assigned,
// and assigning is not the same for every member.
TEST(MessageBuilder, UnsetValuesKeepTheRecordsInitialValues) {
    txMessage unset;
    FillRecord(MessageValues{}, unset);
    EXPECT_EQ(unset.SentTime(), "");
    EXPECT_EQ(unset.Attachments()->Count(), 0);

    MessageValues empty;
    empty.sentTime = "";
    empty.subject = "";
    txMessage assigned;
    FillRecord(empty, assigned);
    EXPECT_EQ(assigned.SentTime(), "00:00:00 AM") << "an empty time reads as midnight";
    EXPECT_EQ(assigned.Subject(), "");
}

TEST(MessageBuilder, FillingCleansTheBodyAndKeepsTheAttachmentOrder) {
    MessageValues values;
    values.body = "<b>Total:</b> 12";
    values.attachments = {"/tmp/$$b.txt", "/tmp/$$a.txt"};
    txMessage record;
    FillRecord(values, record);
    EXPECT_EQ(record.Body(), "Total: 12");
    ASSERT_EQ(record.Attachments()->Count(), 2);
    EXPECT_EQ(record.Attachments()->Item(1), "/tmp/$$b.txt");
    EXPECT_EQ(record.Attachments()->Item(2), "/tmp/$$a.txt");
}

// The mailbox file's values were read by its own text searches; the builder takes them as
// they are and does not parse the header again.
TEST(MessageBuilder, MailboxValuesAreTakenAsRead) {
    MessageValues read;
    read.header = "From: Header Name <header@example.org>\r\n";
    read.senderName = "Read Name";
    read.senderAddress = "read@example.org";
    MessageSite site;
    site.read = &read;
    const auto record = BuildMessage("ignored", kMailboxBuild, site);
    EXPECT_EQ(record->SenderName(), "Read Name");
    EXPECT_EQ(record->SenderAddress(), "read@example.org");
    EXPECT_EQ(record->ReplyToName(), "") << "no reply-to was read, none is derived";
}

// The mailbox file hands over what it read as the message wrote it; the builder decodes the
// names and the text parts once. Parts with nothing to decode give their bytes unchanged.
TEST(MessageBuilder, MailboxValuesAreDecodedOnce) {
    MessageValues read;
    read.subject = "=?UTF-8?Q?Order_confirmation_f=C3=BCr_J=C3=BCrgen?=";
    read.senderName = "=?ISO-8859-1?Q?J=FCrgen?= M\xfcller";
    read.receipentName = "Shop";
    read.plainParts = {{"Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: "
                        "quoted-printable\r\n",
                        "J=C3=BCrgen\r\n"},
                       {"Content-Type: text/plain\r\n", "=3D kept\r\n"}};
    read.htmlParts = {{"Content-Type: text/html\r\n", "<p>not taken</p>"}};
    MessageSite site;
    site.read = &read;
    const auto record = BuildMessage("", kMailboxBuild, site);
    EXPECT_EQ(record->Subject(), "Order confirmation f\xc3\xbcr J\xc3\xbcrgen");
    EXPECT_EQ(record->SenderName(), "J\xc3\xbcrgen M\xc3\xbcller");
    EXPECT_EQ(record->ReceipentName(), "Shop");
    EXPECT_EQ(record->Body(), "J\xc3\xbcrgen\r\n=3D kept\r\n");

    // Without a plain part the HTML parts' text: decoded, character references turned into
    // UTF-8, then the record's own tag stripping (which leaves the style's text).
    MessageValues html;
    html.htmlParts = {
        {"Content-Type: text/html; charset=iso-8859-1\r\n"
         "Content-Transfer-Encoding: quoted-printable\r\n",
         "<style>p{}</style><p>Gr&uuml;&szlig;e =FC &#8364;1</p>"}};
    site.read = &html;
    EXPECT_EQ(BuildMessage("", kMailboxBuild, site)->Body(),
              "p{}Gr\xc3\xbc\xc3\x9f"
              "e \xc3\xbc \xe2\x82\xac"
              "1");

    // HTML written as 7-bit text gives exactly what it gave before decoding existed: the tags
    // stripped by the record, every character reference left as written.
    MessageValues ascii;
    ascii.body = "<p>Name: <b>Ann</b> &amp; &uuml;</p>\r\n";
    ascii.htmlParts = {{"Content-Type: text/html; charset=us-ascii\r\n", *ascii.body}};
    site.read = &ascii;
    EXPECT_EQ(BuildMessage("", kMailboxBuild, site)->Body(), "Name: Ann &amp; &uuml;\r\n");
}

// A server message's names come from its header after the record parsed it; they are decoded
// there, and a body that is not MIME is decoded by the message's own header.
TEST(MessageBuilder, ServerNamesAndBodyAreDecoded) {
    const std::string bytes =
        "From: =?UTF-8?B?SsO8cmdlbg==?= <j@example.de>\r\nTo: =?UTF-8?Q?Caf=C3=A9?= "
        "<c@example.at>\r\n"
        "Subject: x\r\nContent-Type: text/plain; charset=utf-8\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\nSsO8cmdlbg==\r\n";
    const auto record = BuildMessage(bytes, kPop3Build, MessageSite{});
    EXPECT_EQ(record->SenderName(), "J\xc3\xbcrgen");
    EXPECT_EQ(record->ReplyToName(), "J\xc3\xbcrgen");
    EXPECT_EQ(record->ReceipentName(), "Caf\xc3\xa9");
    EXPECT_EQ(record->Body(), "J\xc3\xbcrgen");
}

TEST(MessageBuilder, ServerMessageIsSplitAndItsHeaderParsed) {
    const std::string bytes =
        "From: \"Doe, Jane\" <jane@example.org>\r\nTo: orders@example.com\r\n"
        "Subject: =?utf-8?q?Gr=C3=BC=C3=9Fe?=\r\nDate: Fri, 08 Jan 2021 12:34:56 +0000\r\n"
        "\r\nLine 1\r\n";
    const auto record = BuildMessage(bytes, kPop3Build, MessageSite{});
    EXPECT_EQ(record->Subject(),
              "Gr\xc3\xbc\xc3\x9f"
              "e");
    EXPECT_EQ(record->Body(), "Line 1\r\n") << "the empty line's line end is not body text";
    EXPECT_EQ(record->SenderName(), "Doe, Jane");
    EXPECT_EQ(record->ReplyToAddress(), "jane@example.org") << "copied from the sender";
    EXPECT_EQ(record->ReceipentAddress(), "orders@example.com");
    EXPECT_EQ(record->ReceiveTime(), "") << "a server message has no receive time";
    EXPECT_EQ(record->Attachments()->Count(), 0) << "without a decoder nothing is decoded";
}

// The two local-store kinds read one message differently: the Extended MAPI source leaves
// what the message does not have, the Simple MAPI source takes the delivery time as the
// sending time and always gives a sender type.
TEST(MessageBuilder, StoreKindsDifferWhereTheMessageLacksValues) {
    const std::string bytes = "Subject: no date, no sender\r\n\r\nText\r\n";
    MessageSite site;
    site.delivered = 86400 * 365;
    const auto extended = BuildMessage(bytes, kMapiBuild, site);
    const auto simple = BuildMessage(bytes, kSimpleMapiBuild, site);

    EXPECT_EQ(extended->Subject(), "no date, no sender");
    EXPECT_EQ(extended->Body(), "Text\r\n");
    EXPECT_EQ(extended->SentTime(), "");
    EXPECT_EQ(extended->SenderType(), "");
    EXPECT_NE(extended->ReceiveTime(), "");

    EXPECT_EQ(simple->SentTime(), extended->ReceiveTime());
    EXPECT_EQ(simple->SentDate(), extended->ReceiveDate());
    EXPECT_EQ(simple->SenderType(), "SMTP");
    EXPECT_EQ(simple->Body(), extended->Body());
}

TEST(MessageBuilder, EveryKindNamesAttachmentsAlike) {
    std::set<std::string> taken;
    EXPECT_EQ(AttachmentFileName("report.pdf", taken), "$$report.pdf");
    EXPECT_EQ(AttachmentFileName("../report.pdf", taken), "$$report-2.pdf");
    EXPECT_EQ(AttachmentFileName("", taken), "$$attachment");
}

}  // namespace
}  // namespace tallix::sources
