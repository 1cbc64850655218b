// Attachments holding attachments: what a forwarded message and a winmail.dat give, and what
// a damaged or deeply nested one does not.

#include <gtest/gtest.h>

#include <string>

#include "engine/attachment_parts.h"

namespace tallix::engine {
namespace {

// A message forwarding `inner` as a message/rfc822 part after a text part; `level` makes the
// boundary its own.
std::string Forwarding(int level, const std::string& inner) {
    const std::string b = "=_level_" + std::to_string(level) + "_=";
    return "Subject: Fwd\r\nContent-Type: multipart/mixed; boundary=\"" + b + "\"\r\n\r\n--" + b +
           "\r\nContent-Type: text/plain\r\n\r\nlevel " + std::to_string(level) + "\r\n--" + b +
           "\r\nContent-Type: message/rfc822\r\n\r\n" + inner + "\r\n--" + b + "--\r\n";
}

TEST(ForwardedMessages, NestedForwardsAreOpenedToABoundedDepth) {
    std::string message = "Subject: last\r\n\r\nlevel 0\r\n";
    for (int level = 1; level <= 6; ++level) message = Forwarding(level, message);
    const OpenedContainer opened = OpenForwardedMessage(message);
    ASSERT_TRUE(opened.ok);
    EXPECT_EQ(opened.body, "level 6");
    // The forwards inside are files, each opened in turn down to the depth limit.
    EXPECT_EQ(opened.files.size(), static_cast<std::size_t>(kMaxForwardDepth));
    for (const InnerFile& file : opened.files) {
        EXPECT_EQ(file.name, "message.eml");
        EXPECT_EQ(file.type, "message/rfc822");
    }
}

TEST(ForwardedMessages, TextComesFromPlainHtmlOrNothing) {
    EXPECT_EQ(ForwardedMessageText("Content-Type: text/html\r\n\r\n<p>Total: <b>9</b></p>\r\n"),
              "Total: 9\r\n");
    EXPECT_EQ(ForwardedMessageText("Content-Type: text/plain; charset=iso-8859-1\r\n"
                                   "Content-Transfer-Encoding: quoted-printable\r\n\r\nK=F6ln\r\n"),
              "K\xC3\xB6ln\r\n");
    // A message that is one named file has no text of its own: the file is its content.
    const std::string file =
        "Content-Type: text/csv; name=\"a.csv\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
        "YSxiDQo=\r\n";
    EXPECT_EQ(ForwardedMessageText(file), "");
    const OpenedContainer opened = OpenForwardedMessage(file);
    ASSERT_EQ(opened.files.size(), 1u);
    EXPECT_EQ(opened.files[0].name, "a.csv");
    EXPECT_EQ(opened.files[0].data, "a,b\r\n");
}

TEST(TnefStreams, DamagedOrForeignStreamsAreRefusedWithAReason) {
    const OpenedContainer foreign = OpenTnefApart("PK\x03\x04 not a stream");
    EXPECT_FALSE(foreign.ok);
    EXPECT_NE(foreign.problem.find("not a TNEF stream"), std::string::npos) << foreign.problem;
    // The signature, then an attribute claiming far more bytes than follow.
    const std::string damaged = std::string("\x78\x9f\x3e\x22\x01\x00\x01\x06\x90\x08\x00", 11) +
                                std::string("\xff\xff\xff\x7f", 4) + "abc";
    const OpenedContainer opened = OpenTnefApart(damaged);
    EXPECT_FALSE(opened.ok);
    EXPECT_FALSE(opened.problem.empty());
}

TEST(TnefStreams, ContainersAreKnownByTypeOrName) {
    EXPECT_EQ(ContainerOf("/s/$$fwd.EML", ""), ContainerKind::ForwardedMessage);
    EXPECT_EQ(ContainerOf("/s/$$Order 4711", "message/rfc822"), ContainerKind::ForwardedMessage);
    EXPECT_EQ(ContainerOf("/s/$$WINMAIL.DAT", ""), ContainerKind::Tnef);
    EXPECT_EQ(ContainerOf("/s/$$x.bin", "application/ms-tnef"), ContainerKind::Tnef);
    EXPECT_EQ(ContainerOf("/s/$$notes.txt", "text/plain"), ContainerKind::None);
}

}  // namespace
}  // namespace tallix::engine
