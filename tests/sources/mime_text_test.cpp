#include "sources/mime_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sources/encoded_words.h"

namespace tallix::sources {
namespace {

const std::string kFffd = "\xef\xbf\xbd";

TEST(MimeText, CharsetsBecomeUtf8AndWhatCannotBeConvertedIsReplaced) {
    struct Case {
        std::string bytes, charset, expected;
    };
    const std::vector<Case> cases = {
        {"plain text", "x-unknown", "plain text"},
        {"Gr\xfc\xdf"
         "e",
         "ISO-8859-1",
         "Gr\xc3\xbc\xc3\x9f"
         "e"},
        {"\x93quoted\x94 \x80", "windows-1252", "\xe2\x80\x9cquoted\xe2\x80\x9d \xe2\x82\xac"},
        {"\x82\xa0", "Shift_JIS", "\xe3\x81\x82"},
        // 7-bit, but not ASCII text: the shifts of ISO-2022-JP are read.
        {"\x1b$B$\"\x1b(B", "iso-2022-jp", "\xe3\x81\x82"},
        // No set, or one nobody knows: UTF-8 when valid, else Windows-1252.
        {"\xc3\xbc", "", "\xc3\xbc"},
        {"\xfc \x80", "", "\xc3\xbc \xe2\x82\xac"},
        {"\xfc", "x-no-such-set", "\xc3\xbc"},
        {"\xfc", "us-ascii", "\xc3\xbc"},
        // Declared UTF-8 that is not: each stray byte is U+FFFD, the rest kept.
        {"a\xff"
         "b\xc3",
         "utf-8", "a" + kFffd + "b" + kFffd},
        // A byte the declared set has no character for: U+FFFD, and the text goes on.
        {"\x82\xa0\xff\x82\xa0", "Shift_JIS", "\xe3\x81\x82" + kFffd + "\xe3\x81\x82"},
        {"\x81", "windows-1252", kFffd},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CharsetToUtf8(c.bytes, c.charset), c.expected) << c.charset;
}

TEST(MimeText, ParametersInEveryForm) {
    struct Case {
        std::string value, name;
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"text/plain; charset=utf-8", "charset", "utf-8"},
        {"text/plain; CHARSET=\"iso-8859-1\"; format=flowed", "charset", "iso-8859-1"},
        {"attachment; filename=\"a;b \\\"c\\\".txt\"", "filename", "a;b \"c\".txt"},
        {"attachment; filename*=UTF-8''R%C3%A9sum%C3%A9.pdf", "filename",
         "R\xc3\xa9sum\xc3\xa9.pdf"},
        {"attachment; filename*=iso-8859-1'de'M%E4rz.txt", "filename", "M\xc3\xa4rz.txt"},
        // Continued, encoded and plain sections mixed, in any order; they win over the plain
        // form.
        {"attachment; filename=\"old.bin\"; filename*1=\" plan.bin\";\r\n"
         " filename*0*=UTF-8''fa%C3%A7ade",
         "filename",
         "fa\xc3\xa7"
         "ade plan.bin"},
        {"text/plain; name=x", "filename", std::nullopt},
        {"text/plain; filename=x", "name", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(HeaderParameter(c.value, c.name), c.expected) << c.value;
}

TEST(MimeText, PartTextUndoesTheTransferEncodingThenTheCharacterSet) {
    struct Case {
        std::string header, content, expected;
    };
    const std::vector<Case> cases = {
        {"Content-Type: text/plain; charset=iso-8859-1\r\n"
         "Content-Transfer-Encoding: quoted-printable\r\n",
         "Gr=FC=DFe, soft=\r\nbreak\r\n",
         "Gr\xc3\xbc\xc3\x9f"
         "e, softbreak\r\n"},
        // The encoding may stand first, in any case, and the type may be folded.
        {"content-transfer-encoding: BASE64\r\nContent-Type: text/plain;\r\n charset=\"utf-8\"\r\n",
         "SsO8cmdlbg==\r\n", "J\xc3\xbcrgen"},
        // LF header lines as well.
        {"Content-Type: text/plain; charset=Shift_JIS\nContent-Transfer-Encoding: base64\n",
         "gqA=", "\xe3\x81\x82"},
        // 8bit without a set.
        {"Content-Transfer-Encoding: 8bit\r\n", "K\xf6ln", "K\xc3\xb6ln"},
        // Nothing to decode: the content exactly as written.
        {"Content-Type: text/plain\r\n", "Code: A-1 =3D\r\n", "Code: A-1 =3D\r\n"},
        {"", "plain", "plain"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecodePartText(c.header, c.content), c.expected) << c.header;
    EXPECT_EQ(PartFileName("Content-Type: application/pdf; name=\"type.pdf\"\r\n"
                           "Content-Disposition: attachment; filename*=UTF-8''disp%C3%B6.pdf\r\n"),
              "disp\xc3\xb6.pdf");
    EXPECT_EQ(PartFileName("Content-Type: application/pdf; name=\"type.pdf\"\r\n"), "type.pdf");
}

// A part written as its text is handed on byte for byte without being decoded; any other is
// decoded and its line ends made CR LF, and an HTML part that was decoded has its character
// references turned into UTF-8.
TEST(MimeText, PartsAsWrittenStayAndOthersAreDecoded) {
    const std::string plain = "Content-Type: text/plain; charset=us-ascii\r\n";
    EXPECT_TRUE(PartAsWritten(plain, "a=3D\r\nb &amp;"));
    EXPECT_TRUE(PartAsWritten("content-transfer-encoding: 7bit\r\n", "x"));
    EXPECT_TRUE(PartAsWritten("", "no header at all"));
    EXPECT_FALSE(PartAsWritten(plain, "f\xc3\xbcr"));
    EXPECT_FALSE(PartAsWritten(plain, "\x1b$B"));  // ISO-2022 shifts are 7-bit too
    EXPECT_FALSE(PartAsWritten("Content-Transfer-Encoding: Quoted-Printable\r\n", "x"));
    EXPECT_FALSE(PartAsWritten("CONTENT-TRANSFER-ENCODING:\r\n base64\r\n", "eA=="));
    EXPECT_FALSE(PartAsWritten("Content-Type: text/plain;\r\n charset=\"UTF-16LE\"\r\n", "a"));
    EXPECT_FALSE(PartAsWritten("Content-Type: text/plain; charset*=utf-7''\r\n", "a"));

    EXPECT_EQ(PartBodyText(plain, "a=3D\nb", false), "a=3D\nb");
    const std::string qp = "Content-Transfer-Encoding: quoted-printable\r\n";
    EXPECT_EQ(PartBodyText(qp, "a=3D\nb=\n c", false), "a=\r\nb c");
    EXPECT_EQ(PartBodyText("Content-Type: text/html\r\n", "<b>&amp;</b>", true), "<b>&amp;</b>");
    EXPECT_EQ(PartBodyText("Content-Type: text/html; charset=utf-8\r\n" + qp,
                           "<b>&amp; &#252;=C3=BC &bogus; &</b>\n", true),
              "<b>& \xc3\xbc\xc3\xbc &bogus; &</b>\r\n");
    // A 7-bit set whose bytes are not ASCII is converted.
    EXPECT_EQ(PartBodyText("Content-Type: text/plain; charset=utf-7\r\n", "+AOQ-", false),
              "\xc3\xa4");
}

// The parts between boundary lines, with their header lines and content; the preamble, the
// line end before each boundary line and everything after the closing boundary are not part
// of any part.
TEST(MimeText, MultipartIsSplitAtItsBoundaryLines) {
    const std::string body =
        "preamble --b not a boundary\r\n--b\r\nContent-Type: text/plain\r\n\r\none\r\n--b x\r\n"
        "\r\ntwo, no header\r\n--b\r\nno blank line\r\n--b--\r\n--b\r\nafter the end\r\n";
    const std::vector<MimePart> parts = SplitMultipart(body, "b");
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].header, "Content-Type: text/plain\r\n");
    EXPECT_EQ(parts[0].content, "one");
    EXPECT_EQ(parts[1].header, "");
    EXPECT_EQ(parts[1].content, "two, no header");
    // LF line ends; no closing boundary: the last part has no end and is not taken.
    const std::vector<MimePart> lf = SplitMultipart("--b\nA: 1\n\nx\n--b\n\ny", "b");
    ASSERT_EQ(lf.size(), 1u);
    EXPECT_EQ(lf[0].header, "A: 1\n");
    EXPECT_EQ(lf[0].content, "x");
    EXPECT_TRUE(SplitMultipart(body, "").empty());
}

TEST(EncodedWords, DecodedJoinedOrLeftAsWritten) {
    struct Case {
        std::string text, expected;
    };
    const std::vector<Case> cases = {
        {"=?UTF-8?Q?Order_confirmation_f=C3=BCr_J=C3=BCrgen?=",
         "Order confirmation f\xc3\xbcr J\xc3\xbcrgen"},
        // Adjacent words are one text; a blank between a word and plain text stays.
        {"=?utf-8?q?Gr=C3=BC?= \r\n =?utf-8?b?w59l?= and more",
         "Gr\xc3\xbc\xc3\x9f"
         "e and more"},
        {"=?ISO-8859-1?Q?K=F6ln?=", "K\xc3\xb6ln"},
        {"=?Shift_JIS?B?gqA=?=", "\xe3\x81\x82"},
        {"=?UTF-8*en?Q?a?=", "a"},
        // Malformed words, and words in a set nobody knows, stay as written.
        {"Order =?UTF-8?Q?unfinished", "Order =?UTF-8?Q?unfinished"},
        {"=?x-unknown?Q?abc?=", "=?x-unknown?Q?abc?="},
        {"=?UTF-8?X?abc?=", "=?UTF-8?X?abc?="},
        // Bytes the word's set cannot convert become U+FFFD.
        {"=?UTF-8?Q?a=FFb?=", "a" + kFffd + "b"},
        // Raw 8-bit text outside any word: UTF-8 when valid, else Windows-1252.
        {"M\xfcller =?UTF-8?Q?=C3=BC?=", "M\xc3\xbcller \xc3\xbc"},
    };
    for (const Case& c : cases) EXPECT_EQ(DecodeEncodedWords(c.text), c.expected) << c.text;
}

}  // namespace
}  // namespace tallix::sources
