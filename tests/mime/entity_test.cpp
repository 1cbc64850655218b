// Finding the parts of a MIME entity: headers, boundaries, names, encodings and limits.

#include <gtest/gtest.h>

#include "mime_test_util.h"
#include "qrmime/entity.h"

namespace {

using mime_test::Crlf;
using qrmime::ScanEntityBytes;
using qrmime::ScanStatus;
using qrmime::TransferEncoding;

std::string Body(const std::string& entity, const qrmime::ScannedPart& part) {
    return entity.substr(part.bodyStart, part.bodyEnd - part.bodyStart);
}

TEST(EntityScan, RefusesWhatIsNotDecodable) {
    EXPECT_EQ(ScanEntityBytes(Crlf("Subject: plain\n\nno mime here\n")).status,
              ScanStatus::NotMime);
    // The keyword must stand in the first 8192 bytes.
    std::string late = std::string(8200, 'x') + Crlf("\nContent-Type: text/plain\n");
    EXPECT_EQ(ScanEntityBytes(late).status, ScanStatus::NotMime);
    EXPECT_EQ(ScanEntityBytes(Crlf("Content-Type: text/plain; name=\"a.txt\"\n\nbody\n")).status,
              ScanStatus::NoTransferEncoding);
    EXPECT_EQ(
        ScanEntityBytes(Crlf("Content-Type: multipart/mixed; boundary=\"abc\n\n--abc\n")).status,
        ScanStatus::BadBoundary);
    EXPECT_EQ(ScanEntityBytes(Crlf("Content-Type: multipart/mixed; boundary=\"\"\n\n--\n")).status,
              ScanStatus::BadBoundary);
    EXPECT_EQ(qrmime::ScanEntity("/nonexistent/file.eml").status, ScanStatus::SourceUnreadable);
}

TEST(EntityScan, SinglePartWithFoldedHeaders) {
    std::string entity = Crlf(
        "Content-Type: application/pdf;\n\tname=\"report.pdf\"\n"
        "content-transfer-encoding:BASE64\n\nQUJD\n");
    auto scan = ScanEntityBytes(entity);
    ASSERT_EQ(scan.status, ScanStatus::Ok);
    EXPECT_FALSE(scan.multipart);
    ASSERT_EQ(scan.parts.size(), 1u);
    EXPECT_EQ(scan.parts[0].fileName, "report.pdf");
    EXPECT_EQ(scan.parts[0].contentType, "application/pdf");
    EXPECT_EQ(scan.parts[0].encodingText, "BASE64");
    EXPECT_EQ(scan.parts[0].encoding, TransferEncoding::Base64);
    EXPECT_EQ(Body(entity, scan.parts[0]), "QUJD\r\n");
}

TEST(EntityScan, MultipartPartsDefaultsAndBodies) {
    std::string entity = Crlf(
        "Subject: x\nContent-Type: multipart/mixed; boundary=\"b1\"\n\npreamble\n"
        "--b1\n\nfirst body\n"
        "--b1\nContent-Type: text/html; charset=utf-8\nContent-Transfer-Encoding: "
        "quoted-printable\n"
        "\n<p>=41</p>\n"
        "--b1\nContent-Type: image/png; name=\"pic.png\"\nContent-Transfer-Encoding: "
        "base64\n\nQUJD\n"
        "--b1--\nepilogue\n");
    auto scan = ScanEntityBytes(entity);
    ASSERT_EQ(scan.status, ScanStatus::Ok);
    EXPECT_TRUE(scan.multipart);
    ASSERT_EQ(scan.parts.size(), 3u);
    EXPECT_EQ(scan.parts[0].contentType, "text/plain");
    EXPECT_EQ(scan.parts[0].encodingText, "7bit");
    EXPECT_EQ(scan.parts[0].fileName, "");
    EXPECT_EQ(Body(entity, scan.parts[0]), "first body");
    EXPECT_EQ(scan.parts[1].contentType, "text/html");
    EXPECT_EQ(scan.parts[1].encoding, TransferEncoding::QuotedPrintable);
    EXPECT_EQ(Body(entity, scan.parts[1]), "<p>=41</p>");
    EXPECT_EQ(scan.parts[2].fileName, "pic.png");
    EXPECT_EQ(Body(entity, scan.parts[2]), "QUJD");
}

TEST(EntityScan, UnquotedBoundaryAndNameEndAtSemicolonBlankOrLineEnd) {
    std::string entity = Crlf(
        "Content-Type: multipart/mixed; boundary=simple-42; charset=x\n\n"
        "--simple-42\nContent-Type: application/pdf; name=report.pdf; x=\"y\"\n"
        "Content-Transfer-Encoding: base64\n\nQUJD\n"
        "--simple-42\nContent-Type: text/plain; name=notes.txt\nContent-Transfer-Encoding: 7bit\n\n"
        "a \"quoted\" word\n"
        "--simple-42\nContent-Type: text/plain; name=last.txt \nContent-Transfer-Encoding: 7bit\n\n"
        "z\n--simple-42--\n");
    auto scan = ScanEntityBytes(entity);
    ASSERT_EQ(scan.status, ScanStatus::Ok);
    ASSERT_EQ(scan.parts.size(), 3u);
    EXPECT_EQ(scan.parts[0].fileName, "report.pdf");
    EXPECT_EQ(Body(entity, scan.parts[0]), "QUJD");
    EXPECT_EQ(scan.parts[1].fileName, "notes.txt");
    EXPECT_EQ(Body(entity, scan.parts[1]), "a \"quoted\" word");
    EXPECT_EQ(scan.parts[2].fileName, "last.txt");
}

TEST(EntityScan, BareLineFeedsAreLineEnds) {
    std::string entity =
        "Content-Type: multipart/mixed; boundary=\"lf\"\n\n--lf\n"
        "Content-Type: text/plain; name=\"a.txt\"\nContent-Transfer-Encoding: "
        "7bit\n\nbody\n--lf--\n";
    auto scan = ScanEntityBytes(entity);
    ASSERT_EQ(scan.status, ScanStatus::Ok);
    ASSERT_EQ(scan.parts.size(), 1u);
    EXPECT_EQ(scan.parts[0].fileName, "a.txt");
    EXPECT_EQ(Body(entity, scan.parts[0]), "body");
}

TEST(EntityScan, UnknownEncodingAndOverlongNameAreSkippedWithANote) {
    std::string entity = Crlf(
        "Content-Type: multipart/mixed; boundary=\"b\"\n\n"
        "--b\nContent-Type: text/plain; name=\"x.uu\"\nContent-Transfer-Encoding: x-uuencode\n\nx\n"
        "--b\nContent-Type: text/plain; name=\"" +
        std::string(qrmime::kMaxNameLength + 1, 'n') +
        "\"\nContent-Transfer-Encoding: 7bit\n\ny\n--b--\n");
    auto scan = ScanEntityBytes(entity);
    ASSERT_EQ(scan.parts.size(), 2u);
    EXPECT_FALSE(scan.parts[0].decodable);
    EXPECT_FALSE(scan.parts[1].decodable);
    EXPECT_EQ(scan.notes.size(), 2u);
}

TEST(EntityScan, LimitsOnPartsAndHeaderSize) {
    std::string many = Crlf("Content-Type: multipart/mixed; boundary=\"b\"\n\n");
    for (std::size_t i = 0; i < qrmime::kMaxParts + 5; ++i) many += Crlf("--b\n\nx\n");
    many += Crlf("--b--\n");
    auto scan = ScanEntityBytes(many);
    EXPECT_EQ(scan.parts.size(), qrmime::kMaxParts);
    ASSERT_EQ(scan.notes.size(), 1u);
    EXPECT_NE(scan.notes[0].text.find("parts"), std::string::npos);

    std::string bigHeader = Crlf("Content-Type: multipart/mixed; boundary=\"b\"\n\n--b\n");
    for (int i = 0; i < 2000; ++i) bigHeader += Crlf("X-Filler: " + std::string(60, 'f') + "\n");
    bigHeader += Crlf("\nbody\n--b\nContent-Transfer-Encoding: 7bit\n\nsecond\n--b--\n");
    scan = ScanEntityBytes(bigHeader);
    ASSERT_EQ(scan.parts.size(), 2u);
    EXPECT_FALSE(scan.parts[0].decodable);
    EXPECT_TRUE(scan.parts[1].decodable);
    ASSERT_EQ(scan.notes.size(), 1u);
    EXPECT_NE(scan.notes[0].text.find("header"), std::string::npos);
}

}  // namespace
