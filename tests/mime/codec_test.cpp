// The incremental decoders and the base64 line encoder.

#include <gtest/gtest.h>

#include <random>

#include "mime_test_util.h"
#include "qrmime/codec.h"
#include "qrmime/entity.h"

namespace {

using qrmime::StreamDecoder;
using qrmime::TransferEncoding;

std::string DecodeWhole(TransferEncoding enc, std::string_view in) {
    StreamDecoder d(enc);
    std::string out;
    d.Decode(in, out);
    d.Finish(out);
    return out;
}

std::string DecodeCut(TransferEncoding enc, std::string_view in, const std::vector<size_t>& cuts) {
    StreamDecoder d(enc);
    std::string out;
    std::size_t pos = 0;
    for (std::size_t cut : cuts) {
        d.Decode(in.substr(pos, cut - pos), out);
        pos = cut;
    }
    d.Decode(in.substr(pos), out);
    d.Finish(out);
    return out;
}

std::string DecodeByteByByte(TransferEncoding enc, std::string_view in) {
    StreamDecoder d(enc);
    std::string out;
    for (char c : in) d.Decode(std::string_view(&c, 1), out);
    d.Finish(out);
    return out;
}

std::vector<size_t> RandomCuts(std::size_t size, std::mt19937& rng) {
    std::vector<size_t> cuts;
    std::size_t pos = 0;
    while (true) {
        pos += rng() % 9;  // empty chunks included
        if (pos >= size) break;
        cuts.push_back(pos);
    }
    return cuts;
}

struct Sample {
    TransferEncoding encoding;
    std::string input;
    std::string expected;
};

// Every decoder must give the same bytes whatever the chunking.
TEST(StreamDecoder, OutputDoesNotDependOnChunking) {
    std::string binary = mime_test::RandomBytes(1000, 7);
    std::string b64;
    qrmime::AppendBase64Lines(binary, b64);
    const std::vector<Sample> samples = {
        {TransferEncoding::SevenBit, "plain\r\ntext = as is=\r\n", "plain\r\ntext = as is=\r\n"},
        {TransferEncoding::Base64, "SGVsbG8s\r\nIHdv cmxk\tIQ==", "Hello, world!"},
        {TransferEncoding::Base64, b64, binary},
        {TransferEncoding::Base64, "QUJD=RA", "ABCD"},  // "=" is skipped, group completed
        {TransferEncoding::QuotedPrintable, "caf=C3=A9 soft=\r\nbreak =3d kept, =4=\r\n1 end=",
         "caf\xC3\xA9 softbreak =3d kept, =4=\r\n1 end"},
        {TransferEncoding::QuotedPrintable, "lf soft=\nbreak, =\r\n=41=\r", "lf softbreak, A"},
        {TransferEncoding::QuotedPrintable, "tail =4", "tail =4"},
        {TransferEncoding::QuotedPrintable, "==41", "==41"},
    };
    std::mt19937 rng(1234);
    for (const auto& s : samples) {
        SCOPED_TRACE(s.input.substr(0, 40));
        EXPECT_EQ(DecodeWhole(s.encoding, s.input), s.expected);
        EXPECT_EQ(DecodeByteByByte(s.encoding, s.input), s.expected);
        for (int round = 0; round < 50; ++round)
            EXPECT_EQ(DecodeCut(s.encoding, s.input, RandomCuts(s.input.size(), rng)), s.expected);
    }
}

TEST(StreamDecoder, Base64CompletesAPendingGroupOnlyOnTheFinalCall) {
    StreamDecoder d(TransferEncoding::Base64);
    std::string out;
    d.Decode("QUJDRA", out);  // "ABCD": the last group holds two characters
    EXPECT_EQ(out, "ABC");
    d.Finish(out);
    EXPECT_EQ(out, "ABCD");

    out.clear();
    d.Decode("QUJDREU", out);  // three pending characters give two bytes
    d.Finish(out);
    EXPECT_EQ(out, "ABCDE");

    out.clear();
    d.Decode("QUJDR", out);  // a single character cannot make a byte
    d.Finish(out);
    EXPECT_EQ(out, "ABC");
}

TEST(StreamDecoder, QuotedPrintableTakesOnlyUpperCaseHexDigits) {
    EXPECT_EQ(DecodeWhole(TransferEncoding::QuotedPrintable, "=3D=3d=C3=c3=e9=E9"),
              std::string("=") + "=3d" + "\xC3" + "=c3" + "=e9" + "\xE9");
    EXPECT_EQ(DecodeWhole(TransferEncoding::QuotedPrintable, "=G1=1G=\t1"), "=G1=1G=\t1");
}

TEST(StreamDecoder, QuotedPrintableEndOfBody) {
    // A bare "=" at the end is a soft line break; a cut escape keeps its characters.
    EXPECT_EQ(DecodeWhole(TransferEncoding::QuotedPrintable, "no newline="), "no newline");
    EXPECT_EQ(DecodeWhole(TransferEncoding::QuotedPrintable, "cut =A"), "cut =A");
    EXPECT_EQ(DecodeWhole(TransferEncoding::QuotedPrintable, "cut =\r"), "cut ");
}

TEST(TransferEncodingText, ClassifiesByKeyword) {
    struct Case {
        const char* text;
        bool known;
        TransferEncoding encoding;
    };
    const Case cases[] = {
        {"7bit", true, TransferEncoding::SevenBit},
        {"Base64", true, TransferEncoding::Base64},
        {"  BASE64 (comment)", true, TransferEncoding::Base64},
        {"Quoted-Printable", true, TransferEncoding::QuotedPrintable},
        {"8bit", true, TransferEncoding::SevenBit},
        {"binary", true, TransferEncoding::SevenBit},
        {"x-uuencode", false, TransferEncoding::SevenBit},
        {"", false, TransferEncoding::SevenBit},
    };
    for (const auto& c : cases) {
        TransferEncoding e = TransferEncoding::QuotedPrintable;
        bool known = qrmime::ClassifyTransferEncoding(c.text, e);
        EXPECT_EQ(known, c.known) << c.text;
        if (c.known) {
            EXPECT_EQ(e, c.encoding) << c.text;
        }
    }
}

TEST(Base64Lines, StandardVectorsAndPadding) {
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"\xFB\xFF", "+/8="},
    };
    for (const auto& [in, expected] : vectors) {
        std::string out;
        EXPECT_EQ(qrmime::AppendBase64Lines(in, out), 0);
        EXPECT_EQ(out, expected);
    }
}

TEST(Base64Lines, SeventySixCharactersPerLineAndChunksJoin) {
    std::string data = mime_test::RandomBytes(57 * 3 + 10, 3);
    std::string whole;
    EXPECT_EQ(qrmime::AppendBase64Lines(data, whole), 3);
    // Three full lines of 76 characters with CR LF, then 16 characters without.
    ASSERT_EQ(whole.size(), 3 * 78 + 16u);
    for (int line = 0; line < 3; ++line) EXPECT_EQ(whole.substr(line * 78 + 76, 2), "\r\n");
    EXPECT_EQ(whole.find('\r', 3 * 78), std::string::npos);

    std::string joined;
    qrmime::AppendBase64Lines(std::string_view(data).substr(0, 57), joined);
    qrmime::AppendBase64Lines(std::string_view(data).substr(57), joined);
    EXPECT_EQ(joined, whole);
    EXPECT_EQ(DecodeWhole(TransferEncoding::Base64, whole), data);
}

TEST(SafeBaseName, KeepsNamesInsideTheDirectory) {
    const std::pair<std::string, std::string> cases[] = {
        {"report.pdf", "report.pdf"},   {"../../etc/passwd", "passwd"},
        {"/tmp/x.txt", "x.txt"},        {"..\\..\\win.ini", "win.ini"},
        {"..", "attachment"},           {".", "attachment"},
        {"dir/..", "attachment"},       {"", "attachment"},
        {"a\x01\nb\x7f.txt", "ab.txt"}, {"  spaced name.doc  ", "spaced name.doc"},
    };
    for (const auto& [in, expected] : cases) EXPECT_EQ(qrmime::SafeBaseName(in), expected) << in;

    std::string longName(300, 'x');
    longName += ".pdf";
    std::string safe = qrmime::SafeBaseName(longName);
    EXPECT_EQ(safe.size(), 255u);
    EXPECT_EQ(safe.substr(251), ".pdf");
    // A cut never splits a multi-byte character.
    std::string utf8;
    for (int i = 0; i < 200; ++i) utf8 += "\xC3\xA9";
    safe = qrmime::SafeBaseName(utf8);
    EXPECT_LE(safe.size(), 255u);
    EXPECT_EQ(safe.size() % 2, 0u);
}

}  // namespace
