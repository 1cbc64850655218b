// The control: decode and encode through the worker, events on the host's thread and in
// order, the host's names, the older property-set behaviour, properties and persistence.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>

#include "mime_test_util.h"
#include "qrmime/codec.h"
#include "qrmime/control.h"
#include "qrmime/qrmime_c.h"

namespace {

using mime_test::Crlf;
using mime_test::RecordingHost;
using mime_test::TempDir;
using qrmime::QRMIMECtrl;

// A control wired to a recording host, with helpers to run one operation to its end.
class ControlTest : public ::testing::Test {
  protected:
    void SetUp() override { ctrl.SetEvents(&host); }

    std::string Write(const std::string& name, const std::string& bytes) {
        std::string path = dir.File(name);
        mime_test::WriteFileBytes(path, bytes);
        return path;
    }

    bool Decode(const std::string& path) {
        ctrl.SetSourceFilename(path);
        bool started = ctrl.MIMEDecode();
        if (started) {
            EXPECT_TRUE(ctrl.WaitUntilIdle(mime_test::kGenerousWait));
        }
        return started;
    }

    bool Encode(const std::string& source, const std::string& destination) {
        ctrl.SetSourceFilename(source);
        ctrl.SetDestinationFilename(destination);
        bool started = ctrl.MIMEEncode();
        if (started) {
            EXPECT_TRUE(ctrl.WaitUntilIdle(mime_test::kGenerousWait));
        }
        return started;
    }

    TempDir dir;
    RecordingHost host;
    QRMIMECtrl ctrl;
};

const std::string kTwoParts = Crlf(
    "From: a@example.org\nContent-Type: multipart/mixed; boundary=\"zz\"\n\n"
    "--zz\nContent-Type: text/plain; charset=us-ascii\n\nHello body\n"
    "--zz\nContent-Type: application/octet-stream; name=\"data.bin\"\n"
    "Content-Transfer-Encoding: base64\n\nAAEC/w==\n--zz--\n");

// Names each part through a function and notes what it was offered.
class NamingHost final : public qrmime::QRMIMEEvents {
  public:
    explicit NamingHost(std::function<void(std::string&)> name) : m_name(std::move(name)) {}
    void DecodingFile(std::string& fileName, const std::string& contentType,
                      const std::string& contentEncoding) override {
        offered.push_back(fileName + "|" + contentType + "|" + contentEncoding);
        m_name(fileName);
    }
    std::vector<std::string> offered;

  private:
    std::function<void(std::string&)> m_name;
};

TEST_F(ControlTest, NamelessTextPartIsOfferedEmptyAndWrittenUnderTheHostsName) {
    std::string source = Write("msg.eml", kTwoParts);
    host.names = {dir.File("body.txt"), dir.File("data.bin")};
    ASSERT_TRUE(Decode(source));
    auto offered = host.Only("DecodingFile");
    ASSERT_EQ(offered.size(), 2u);
    EXPECT_EQ(offered[0], "DecodingFile [] [text/plain] [7bit]");
    EXPECT_EQ(offered[1], "DecodingFile [data.bin] [application/octet-stream] [base64]");
    EXPECT_EQ(mime_test::ReadFileBytes(dir.File("body.txt")), "Hello body");
    EXPECT_EQ(mime_test::ReadFileBytes(dir.File("data.bin")), std::string("\x00\x01\x02\xFF", 4));
    EXPECT_EQ(ctrl.DestinationFilename(), dir.File("data.bin"));
    EXPECT_EQ(ctrl.ContentType(), "application/octet-stream");
    EXPECT_EQ(ctrl.DestinationFileSize(), 4);
}

TEST_F(ControlTest, PartLeftWithoutANameIsSkipped) {
    std::string source = Write("msg.eml", kTwoParts);
    host.names = {"", dir.File("only.bin")};
    ASSERT_TRUE(Decode(source));
    EXPECT_EQ(host.Only("DecodingFinished").size(), 1u);
    EXPECT_EQ(mime_test::ReadFileBytes(dir.File("only.bin")).size(), 4u);

    // Every part left nameless: nothing to decode, no status event.
    RecordingHost quiet;
    quiet.names = {"", ""};
    ctrl.SetEvents(&quiet);
    EXPECT_FALSE(ctrl.MIMEDecode());
    EXPECT_EQ(ctrl.LastStartStatus(), qrmime::StartStatus::NoDecodablePart);
    EXPECT_EQ(quiet.Only("Decoding").size(), 2u);  // the two DecodingFile calls only
}

TEST_F(ControlTest, VersionOnePointZeroDecodesOnePartWithoutDecodingFile) {
    std::string first = dir.File("first.txt");
    std::string second = dir.File("second.txt");
    std::string source =
        Write("msg.eml", Crlf("Content-Type: multipart/mixed; "
                              "boundary=\"zz\"\n\n--zz\nContent-Type: text/plain\n\nnameless\n"
                              "--zz\nContent-Type: text/plain; name=\"" +
                              first +
                              "\"\n\none\n"
                              "--zz\nContent-Type: text/plain; name=\"" +
                              second + "\"\n\ntwo\n--zz--\n"));
    qrmime::PropertyBag old;
    old.versionMajor = 1;
    old.versionMinor = 0;
    ASSERT_TRUE(ctrl.Load(old));
    ctrl.SetEvents(&host);
    ASSERT_TRUE(Decode(source));
    EXPECT_TRUE(host.Only("DecodingFile").empty());
    EXPECT_EQ(host.Only("DecodingFinished").size(), 1u);
    EXPECT_EQ(mime_test::ReadFileBytes(first), "one");
    EXPECT_FALSE(std::filesystem::exists(second));
}

TEST_F(ControlTest, EightBitAndBinaryPartsAreCopiedAndUnknownEncodingsSkipped) {
    std::vector<std::string> written;
    for (const char* n : {"utf8.txt", "qp.txt", "raw.bin", "bytes.bin"})
        written.push_back(dir.File(n));
    host.names = written;
    ASSERT_TRUE(Decode(mime_test::DataFile("mixed_encodings.eml")));
    // The x-uuencode part is never offered; the four others are written in file order.
    auto offered = host.Only("DecodingFile");
    ASSERT_EQ(offered.size(), 4u);
    EXPECT_EQ(offered[2], "DecodingFile [raw.bin] [application/octet-stream] [binary]");
    EXPECT_EQ(mime_test::ReadFileBytes(written[0]),
              "Gr\xC3\xBC\xC3\x9F"
              "e aus K\xC3\xB6ln");
    EXPECT_EQ(mime_test::ReadFileBytes(written[1]), "caf\xC3\xA9 =3d stays, softbreak");
    EXPECT_EQ(mime_test::ReadFileBytes(written[2]), std::string("raw\x01\x02"
                                                                "bytes"));
    std::string all(256, '\0');
    for (int i = 0; i < 256; ++i) all[i] = static_cast<char>(i);
    EXPECT_EQ(mime_test::ReadFileBytes(written[3]), all);
    ASSERT_FALSE(ctrl.LastScanNotes().empty());
    EXPECT_NE(ctrl.LastScanNotes()[0].text.find("x-uuencode"), std::string::npos);
}

TEST_F(ControlTest, SinglePartNeedsATransferEncodingAndAName) {
    std::string bare =
        Write("bare.eml", Crlf("Content-Type: text/plain; name=\"a.txt\"\n\nbody\n"));
    ctrl.SetSourceFilename(bare);
    EXPECT_FALSE(ctrl.MIMEDecode());
    EXPECT_EQ(ctrl.LastStartStatus(), qrmime::StartStatus::NoTransferEncoding);

    std::string nameless =
        Write("nameless.eml",
              Crlf("Content-Type: text/plain\nContent-Transfer-Encoding: 7bit\n\nbody\n"));
    ctrl.SetSourceFilename(nameless);
    EXPECT_FALSE(ctrl.MIMEDecode());
    EXPECT_EQ(ctrl.LastStartStatus(), qrmime::StartStatus::NoDecodablePart);

    ctrl.SetSourceFilename(dir.File("missing.eml"));
    EXPECT_FALSE(ctrl.MIMEDecode());
    EXPECT_EQ(ctrl.LastStartStatus(), qrmime::StartStatus::SourceUnreadable);
    EXPECT_TRUE(host.log.empty());
}

// The in-memory entry point gives exactly what the file decode writes, part for part, with the
// same parts offered to the host and the same refusals, over entities of every kind: two parts,
// one part, every transfer encoding (and one it cannot read), a body longer than a chunk, two
// parts of one name (the later is what the file holds), nothing to decode, not MIME at all.
TEST_F(ControlTest, DecodingBytesGivesWhatTheFileDecodeWrites) {
    const std::string big = mime_test::RandomBytes(3 * QRMIMECtrl::kDecodeChunk + 5, 7);
    std::string bigBody;
    qrmime::AppendBase64Lines(big, bigBody);
    const std::vector<std::string> entities = {
        kTwoParts,
        mime_test::ReadFileBytes(mime_test::DataFile("mixed_encodings.eml")),
        Crlf("Content-Type: application/octet-stream; name=\"one.bin\"\n"
             "Content-Transfer-Encoding: base64\n\n") +
            bigBody,
        Crlf("Content-Type: multipart/mixed; boundary=\"zz\"\n\n--zz\n"
             "Content-Type: text/plain; name=\"same.txt\"\n\nfirst\n--zz\n"
             "Content-Type: text/plain; name=\"same.txt\"\n"
             "Content-Transfer-Encoding: quoted-printable\n\nsec=3Dond=\n--zz--\n"),
        Crlf("Content-Type: text/plain; name=\"a.txt\"\n\nno transfer encoding\n"),
        Crlf("Subject: plain\n\nno mime here\n"),
    };
    for (std::size_t i = 0; i < entities.size(); ++i) {
        SCOPED_TRACE("entity " + std::to_string(i));
        const std::string source = Write("msg" + std::to_string(i) + ".eml", entities[i]);
        // Every proposed name is written under a directory of its own for each way.
        const auto nameInto = [&](const std::string& sub) {
            std::filesystem::create_directories(dir.File(sub));
            return [this, sub](std::string& name) {
                name = dir.File(sub + "/" + qrmime::SafeBaseName(name.empty() ? "body" : name));
            };
        };
        NamingHost fileHost(nameInto("file" + std::to_string(i)));
        ctrl.SetEvents(&fileHost);
        const bool fileStarted = Decode(source);
        const qrmime::StartStatus fileStatus = ctrl.LastStartStatus();

        NamingHost bytesHost(nameInto("bytes" + std::to_string(i)));
        ctrl.SetEvents(&bytesHost);
        std::vector<qrmime::DecodedPart> parts;
        EXPECT_EQ(ctrl.MIMEDecodeBytes(entities[i], parts), fileStarted);
        EXPECT_EQ(ctrl.LastStartStatus(), fileStatus);
        EXPECT_EQ(bytesHost.offered, fileHost.offered);
        std::map<std::string, std::string> fromBytes;
        for (const qrmime::DecodedPart& part : parts) {
            const std::string file = std::filesystem::path(part.fileName).filename();
            fromBytes[file] = part.data;  // a later part of one name takes the file's place
        }
        std::map<std::string, std::string> fromFiles;
        for (const auto& entry :
             std::filesystem::directory_iterator(dir.File("file" + std::to_string(i))))
            fromFiles[entry.path().filename()] = mime_test::ReadFileBytes(entry.path().string());
        EXPECT_EQ(fromBytes, fromFiles);
        EXPECT_EQ(fromFiles.empty(), !fileStarted);
        EXPECT_TRUE(std::filesystem::is_empty(dir.File("bytes" + std::to_string(i))));
    }
}

TEST_F(ControlTest, Base64BodyAcrossTheChunkBoundaryDecodesWhole) {
    // 76-character lines put offset 8192 of the body inside a group of four characters.
    std::string data = mime_test::RandomBytes(12000, 11);
    std::string body;
    qrmime::AppendBase64Lines(data, body);
    ASSERT_NE((8192 % 78) % 4, 0u);
    std::string source =
        Write("big.eml", Crlf("Content-Type: application/octet-stream; name=\"big.bin\"\n"
                              "Content-Transfer-Encoding: base64\n\n") +
                             body);
    host.names = {dir.File("big.bin")};
    ASSERT_TRUE(Decode(source));
    EXPECT_EQ(mime_test::ReadFileBytes(dir.File("big.bin")), data);
}

TEST_F(ControlTest, DecodeEventsInOrderWithCountsOnTheHostThread) {
    std::string data = mime_test::RandomBytes(15000, 5);  // a multiple of 3: no bytes at the end
    std::string body;
    qrmime::AppendBase64Lines(data, body);
    std::string source = Write(
        "msg.eml", Crlf("Content-Type: multipart/mixed; boundary=\"zz\"\n\n--zz\n\nshort text\n"
                        "--zz\nContent-Type: application/octet-stream; "
                        "name=\"d.bin\"\nContent-Transfer-Encoding: base64\n\n") +
                       body + Crlf("\n--zz--\n"));
    host.names = {dir.File("t.txt"), dir.File("d.bin")};
    ASSERT_TRUE(Decode(source));

    std::vector<std::string> expected = {"DecodingFile [] [text/plain] [7bit]",
                                         "DecodingFile [d.bin] [application/octet-stream] [base64]",
                                         "DecodingStarted",
                                         "Decoded 10 10 1",
                                         "DecodingFinished 0",
                                         "DecodingStarted"};
    ASSERT_GE(host.log.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(host.log.begin(), host.log.begin() + 6), expected);
    // The second part: one Decoded per 8192-byte chunk, the count rising by one each time,
    // bytes read ending at the body length and bytes written at the data size.
    std::vector<std::string> second(host.log.begin() + 6, host.log.end() - 1);
    std::size_t chunks = (body.size() + 8191) / 8192;
    ASSERT_EQ(second.size(), chunks);
    for (std::size_t i = 0; i < chunks; ++i) {
        long r, w, n;
        ASSERT_EQ(std::sscanf(second[i].c_str(), "Decoded %ld %ld %ld", &r, &w, &n), 3);
        EXPECT_EQ(n, static_cast<long>(i + 1));
        EXPECT_EQ(r, static_cast<long>(std::min(body.size(), (i + 1) * 8192)));
        if (i + 1 == chunks) {
            EXPECT_EQ(w, static_cast<long>(data.size()));
        }
    }
    EXPECT_EQ(host.log.back(), "DecodingFinished 0");
    EXPECT_EQ(ctrl.SourceFileSize(), static_cast<std::int32_t>(body.size()));
    for (auto id : host.threads) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST_F(ControlTest, FireStatusFalseSilencesStatusEventsButNotDecodingFile) {
    std::string source = Write("msg.eml", kTwoParts);
    host.names = {dir.File("a"), dir.File("b")};
    ctrl.SetFireStatus(false);
    ASSERT_TRUE(Decode(source));
    EXPECT_EQ(host.log.size(), 2u);
    EXPECT_EQ(host.Only("DecodingFile").size(), 2u);
    EXPECT_EQ(mime_test::ReadFileBytes(dir.File("b")).size(), 4u);
}

TEST_F(ControlTest, DestinationThatCannotBeCreatedFailsOnlyThatPart) {
    std::string source = Write("msg.eml", kTwoParts);
    host.names = {dir.File("no-such-dir/body.txt"), dir.File("data.bin")};
    ASSERT_TRUE(Decode(source));
    auto finished = host.Only("DecodingFinished");
    ASSERT_EQ(finished.size(), 2u);
    EXPECT_EQ(finished[0], "DecodingFinished 1");
    EXPECT_EQ(finished[1], "DecodingFinished 0");
    EXPECT_EQ(host.Only("DecodingStarted").size(), 2u);
    EXPECT_EQ(mime_test::ReadFileBytes(dir.File("data.bin")).size(), 4u);
}

TEST_F(ControlTest, SourceThatShrinksDuringADecodeFailsThePart) {
    std::string source = Write("msg.eml", kTwoParts);
    host.names = {dir.File("a"), dir.File("b")};
    ctrl.SetSourceFilename(source);
    ASSERT_TRUE(ctrl.MIMEDecode());
    // The worker waits for its first event to be handled before it reads any body.
    std::filesystem::resize_file(source, 40);
    ASSERT_TRUE(ctrl.WaitUntilIdle(mime_test::kGenerousWait));
    EXPECT_EQ(host.Only("DecodingFinished"),
              (std::vector<std::string>{"DecodingFinished 1", "DecodingFinished 1"}));
}

TEST_F(ControlTest, SecondOperationIsRefusedWhileOneRuns) {
    std::string source = Write("msg.eml", kTwoParts);
    host.names = {dir.File("a"), dir.File("b")};
    ctrl.SetSourceFilename(source);
    ASSERT_TRUE(ctrl.MIMEDecode());
    // Nothing has been pumped, so the worker is waiting for its first event to be handled.
    EXPECT_TRUE(ctrl.IsBusy());
    ctrl.SetDestinationFilename(dir.File("enc.out"));
    EXPECT_FALSE(ctrl.MIMEEncode());
    EXPECT_EQ(ctrl.LastStartStatus(), qrmime::StartStatus::Busy);
    EXPECT_FALSE(ctrl.MIMEDecode());
    EXPECT_EQ(ctrl.LastStartStatus(), qrmime::StartStatus::Busy);
    EXPECT_EQ(host.Only("DecodingFile").size(), 2u);  // the refused decode offered nothing
    EXPECT_FALSE(std::filesystem::exists(dir.File("enc.out")));

    ASSERT_TRUE(ctrl.WaitUntilIdle(mime_test::kGenerousWait));
    EXPECT_FALSE(ctrl.IsBusy());
    EXPECT_EQ(host.Only("DecodingFinished").size(), 2u);
    EXPECT_TRUE(Encode(source, dir.File("enc.out")));  // idle again: accepted
}

TEST_F(ControlTest, EncodingA3078ByteFileGives54LinesOf76Characters) {
    std::string data = mime_test::RandomBytes(3078, 9);
    std::string source = Write("in.bin", data);
    ASSERT_TRUE(Encode(source, dir.File("out.mime")));
    std::string out = mime_test::ReadFileBytes(dir.File("out.mime"));
    std::string header =
        "Content-Type: application/octet-stream; name=\"in.bin\"\r\n"
        "Content-Transfer-Encoding: base64\r\nMime-Version: 1.0\r\n\r\n";
    ASSERT_EQ(out.substr(0, header.size()), header);
    std::string body = out.substr(header.size());
    ASSERT_EQ(body.size(), 54u * 78u);
    for (std::size_t line = 0; line < 54; ++line) {
        std::string_view l = std::string_view(body).substr(line * 78, 78);
        EXPECT_EQ(l.substr(76), "\r\n");
        EXPECT_EQ(l.substr(0, 76).find_first_of("\r\n"), std::string_view::npos);
    }
    EXPECT_EQ(host.log,
              (std::vector<std::string>{
                  "EncodingStarted", "Encoded 0 " + std::to_string(header.size()) + " 1",
                  "Encoded 3078 " + std::to_string(out.size()) + " 55", "EncodingFinished 0"}));
    EXPECT_EQ(ctrl.SourceFileSize(), 3078);
    EXPECT_EQ(ctrl.DestinationFileSize(), static_cast<std::int32_t>(out.size()));
}

TEST_F(ControlTest, EncodeEventsPerChunkAndFailures) {
    std::string source = Write("in.bin", mime_test::RandomBytes(7000, 2));
    ASSERT_TRUE(Encode(source, dir.File("out.mime")));
    auto encoded = host.Only("Encoded ");
    ASSERT_EQ(encoded.size(), 4u);  // the header, then chunks of 3078, 3078 and 844 bytes
    long r, w, n;
    ASSERT_EQ(std::sscanf(encoded[3].c_str(), "Encoded %ld %ld %ld", &r, &w, &n), 3);
    EXPECT_EQ(r, 7000);
    EXPECT_EQ(n, 1 + 54 + 54 + 844 / 57);

    host.log.clear();
    ASSERT_TRUE(Encode(dir.File("missing.bin"), dir.File("out2.mime")));
    EXPECT_EQ(host.log, std::vector<std::string>{"EncodingFinished 1"});
    host.log.clear();
    ASSERT_TRUE(Encode(source, dir.File("no-such-dir/out.mime")));
    EXPECT_EQ(host.log, std::vector<std::string>{"EncodingFinished 1"});
}

TEST_F(ControlTest, EncodedFileNameCannotBreakTheHeader) {
    std::string source = Write("a\"b\r\nX-Injected: 1.bin", "data");
    ASSERT_TRUE(Encode(source, dir.File("out.mime")));
    std::string out = mime_test::ReadFileBytes(dir.File("out.mime"));
    EXPECT_EQ(
        out.rfind("Content-Type: application/octet-stream; name=\"a_b__X-Injected: 1.bin\"\r\n"
                  "Content-Transfer-Encoding: base64\r\n",
                  0),
        0u);
}

TEST_F(ControlTest, DecodingWhatEncodeWroteGivesTheOriginalBytes) {
    const std::size_t sizes[] = {0,      1,    2,    3,    56,   57,   58,
                                 57 * 7, 3077, 3078, 3079, 6156, 8192, 100003};
    std::uint32_t seed = 100;
    for (std::size_t size : sizes) {
        SCOPED_TRACE(size);
        std::string data = mime_test::RandomBytes(size, seed++);
        std::string source = Write("orig.bin", data);
        std::string encoded = dir.File("orig.mime");
        ASSERT_TRUE(Encode(source, encoded));
        host.names = {dir.File("back.bin")};
        host.nextName = 0;
        ASSERT_TRUE(Decode(encoded));
        EXPECT_EQ(mime_test::ReadFileBytes(dir.File("back.bin")), data);
        EXPECT_EQ(ctrl.DestinationFileSize(), static_cast<std::int32_t>(size));
    }
    std::string text = "line one\r\nline two\r\n";
    std::string source = Write("text.txt", text);
    ctrl.SetContentType("text/plain");
    ASSERT_TRUE(Encode(source, dir.File("text.mime")));
    host.names = {dir.File("text.back")};
    host.nextName = 0;
    ASSERT_TRUE(Decode(dir.File("text.mime")));
    EXPECT_EQ(host.Only("DecodingFile").back(), "DecodingFile [text.txt] [text/plain] [base64]");
    EXPECT_EQ(mime_test::ReadFileBytes(dir.File("text.back")), text);
}

// Host windows that record what the control asks of them.
class RecordingWindows final : public qrmime::HostWindows {
  public:
    struct Bar final : qrmime::ProgressWindow {
        RecordingWindows* owner;
        explicit Bar(RecordingWindows* o) : owner(o) {}
        ~Bar() override { owner->log.push_back("close"); }
        void SetValue(int v) override { owner->log.push_back("value " + std::to_string(v)); }
    };
    std::vector<std::string> log;
    std::optional<std::string> openAnswer, saveAnswer;

    std::unique_ptr<qrmime::ProgressWindow> OpenProgress(const std::string& caption,
                                                         const std::string& line1,
                                                         const std::string& line2, int lo,
                                                         int hi) override {
        log.push_back("open " + caption + "|" + line1 + "|" + line2 + "|" + std::to_string(lo) +
                      "-" + std::to_string(hi));
        return std::make_unique<Bar>(this);
    }
    void ShowAbout(const std::string& title, const std::string&) override {
        log.push_back("about " + title);
    }
    std::optional<std::string> AskOpenFileName(const std::string& filter,
                                               const std::string& def) override {
        log.push_back("ask open " + filter + " " + def);
        return openAnswer;
    }
    std::optional<std::string> AskSaveFileName(const std::string&, const std::string&) override {
        log.push_back("ask save");
        return saveAnswer;
    }
};

TEST_F(ControlTest, ProgressWindowAndFileDialogsBelongToTheHost) {
    RecordingWindows windows;
    std::string source = Write("in.bin", mime_test::RandomBytes(5000, 4));
    ctrl.SetProgressDialogVisible(true);
    ASSERT_TRUE(Encode(source, dir.File("out.mime")));  // without windows: nothing shown
    ctrl.SetHostWindows(&windows);
    ASSERT_TRUE(Encode(source, dir.File("out.mime")));
    EXPECT_EQ(windows.log, (std::vector<std::string>{"open Encoding...|" + source + "|TO " +
                                                         dir.File("out.mime") + "|1-100",
                                                     "value 1", "value 62", "value 100", "close"}));

    // Empty file names are asked for; cancelling a dialog refuses the operation.
    windows.log.clear();
    ctrl.SetSourceFilename("");
    EXPECT_FALSE(ctrl.MIMEEncode());
    EXPECT_EQ(ctrl.LastStartStatus(), qrmime::StartStatus::NoFileName);
    windows.openAnswer = source;
    ctrl.SetDestinationFilename("");
    EXPECT_FALSE(ctrl.MIMEEncode());
    EXPECT_EQ(windows.log,
              (std::vector<std::string>{"ask open All Files (*.*) | *.* || *.*",
                                        "ask open All Files (*.*) | *.* || *.*", "ask save"}));
    ctrl.AboutBox();
    EXPECT_EQ(windows.log.back(), "about About QRMIME");
}

class RecordingSink final : public qrmime::PropertyNotifySink {
  public:
    std::vector<int> changed;
    void OnChanged(qrmime::DispatchId id) override { changed.push_back(static_cast<int>(id)); }
};

TEST_F(ControlTest, SettersNotifyTheirDispatchIdAndMarkTheControlModified) {
    RecordingSink sink;
    ctrl.SetPropertyNotifySink(&sink);
    EXPECT_FALSE(ctrl.IsModified());
    ctrl.SetSourceFilename("a");
    ctrl.SetDestinationFilename("b");
    ctrl.SetFireStatus(false);
    ctrl.SetContentType("text/plain");
    ctrl.SetProgressDialogVisible(true);
    ctrl.SetSourceFileSize(5);
    ctrl.SetDestinationFileSize(6);
    EXPECT_EQ(sink.changed, (std::vector<int>{3, 4, 5, 6, 7}));
    EXPECT_TRUE(ctrl.IsModified());
    EXPECT_EQ(ctrl.SourceFileSize(), 0);
    EXPECT_EQ(ctrl.DestinationFileSize(), 0);
}

TEST(ControlPersistence, SavesSevenPropertiesAsVersion11AndLoadsThemBack) {
    QRMIMECtrl ctrl;
    qrmime::PropertyBag defaults = ctrl.Save();
    EXPECT_EQ(defaults.versionMajor, 1);
    EXPECT_EQ(defaults.versionMinor, 1);
    EXPECT_EQ(defaults.values, (std::vector<std::pair<std::string, std::string>>{
                                   {"SourceFileSize", "0"},
                                   {"DestinationFileSize", "0"},
                                   {"SourceFilename", ""},
                                   {"DestinationFilename", ""},
                                   {"FireStatus", "True"},
                                   {"ContentType", "application/octet-stream"},
                                   {"ProgressDialogVisible", "False"}}));

    qrmime::PropertyBag bag;
    bag.versionMinor = 0;
    bag.values = {{"SourceFilename", "/x/in"},
                  {"FireStatus", "False"},
                  {"ContentType", "text/html"},
                  {"ProgressDialogVisible", "True"}};
    QRMIMECtrl loaded;
    ASSERT_TRUE(loaded.Load(bag));
    EXPECT_EQ(loaded.SourceFilename(), "/x/in");
    EXPECT_FALSE(loaded.FireStatus());
    EXPECT_EQ(loaded.ContentType(), "text/html");
    EXPECT_TRUE(loaded.ProgressDialogVisible());
    EXPECT_EQ(loaded.LoadedVersionMinor(), 0);
    EXPECT_FALSE(loaded.IsModified());
    EXPECT_EQ(loaded.Save().versionMinor, 1);  // always written as the current version

    bag.versionMajor = 2;
    EXPECT_FALSE(loaded.Load(bag));
    EXPECT_EQ(loaded.SourceFilename(), "");
}

// A host thread of its own: tasks posted by the worker run there, one at a time.
class ThreadDispatcher final : public qrmime::Dispatcher {
  public:
    ThreadDispatcher() : m_thread([this] { Run(); }) {}
    ~ThreadDispatcher() override {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_ready.notify_all();
        m_thread.join();
    }
    void Post(std::function<void()> task) override {
        {
            std::lock_guard lock(m_mutex);
            m_tasks.push_back(std::move(task));
        }
        m_ready.notify_all();
    }
    std::thread::id Id() const { return m_thread.get_id(); }

  private:
    void Run() {
        std::unique_lock lock(m_mutex);
        while (true) {
            m_ready.wait(lock, [this] { return m_done || !m_tasks.empty(); });
            if (m_tasks.empty()) return;
            auto task = std::move(m_tasks.front());
            m_tasks.pop_front();
            lock.unlock();
            task();
            lock.lock();
        }
    }
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<std::function<void()>> m_tasks;
    bool m_done = false;
    std::thread m_thread;
};

TEST(ControlThreads, EventsRunOnTheDispatchersThread) {
    TempDir dir;
    std::string source = dir.File("in.bin");
    mime_test::WriteFileBytes(source, mime_test::RandomBytes(10000, 8));
    ThreadDispatcher hostThread;
    RecordingHost host;
    {
        QRMIMECtrl ctrl;
        ctrl.SetEvents(&host);
        ctrl.SetDispatcher(&hostThread);
        ctrl.SetSourceFilename(source);
        ctrl.SetDestinationFilename(dir.File("out"));
        ASSERT_TRUE(ctrl.MIMEEncode());
        ASSERT_TRUE(ctrl.WaitUntilIdle(mime_test::kGenerousWait));
    }
    ASSERT_EQ(host.log.size(), 7u);  // started, header, four chunks, finished
    for (auto id : host.threads) EXPECT_EQ(id, hostThread.Id());
}

// Holds posted tasks until the test runs them; tells when the first one has arrived.
class HoldingDispatcher final : public qrmime::Dispatcher {
  public:
    void Post(std::function<void()> task) override {
        {
            std::lock_guard lock(m_mutex);
            m_tasks.push_back(std::move(task));
        }
        m_arrived.notify_all();
    }
    bool WaitForTask() {
        std::unique_lock lock(m_mutex);
        return m_arrived.wait_for(lock, mime_test::kGenerousWait,
                                  [this] { return !m_tasks.empty(); });
    }
    std::size_t RunAll() {
        std::deque<std::function<void()>> tasks;
        {
            std::lock_guard lock(m_mutex);
            tasks.swap(m_tasks);
        }
        for (auto& t : tasks) t();
        return tasks.size();
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::deque<std::function<void()>> m_tasks;
};

TEST(ControlThreads, DestroyingTheControlMidOperationNeitherHangsNorTouchesItLater) {
    TempDir dir;
    std::string source = dir.File("in.bin");
    mime_test::WriteFileBytes(source, mime_test::RandomBytes(50000, 8));
    HoldingDispatcher hostQueue;  // outlives the control, as a host's event loop does
    RecordingHost host;
    {
        QRMIMECtrl ctrl;
        ctrl.SetEvents(&host);
        ctrl.SetDispatcher(&hostQueue);
        ctrl.SetSourceFilename(source);
        ctrl.SetDestinationFilename(dir.File("out"));
        ASSERT_TRUE(ctrl.MIMEEncode());
        ASSERT_TRUE(hostQueue.WaitForTask());
    }
    EXPECT_EQ(hostQueue.RunAll(), 1u);  // the started notification, now for no one
    EXPECT_TRUE(host.log.empty());
    // The worker stopped at the next chunk: far less than the whole file was encoded.
    EXPECT_LT(mime_test::ReadFileBytes(dir.File("out")).size(), 50000u);
}

// The C interface: callbacks, a renamed part and the wait.
struct CHost {
    std::vector<std::string> log;
    std::string rename;
};

TEST(ControlCInterface, DecodesThroughCallbacks) {
    TempDir dir;
    std::string source = dir.File("msg.eml");
    mime_test::WriteFileBytes(source, kTwoParts);
    CHost state;
    state.rename = dir.File("renamed.bin");
    qrmime_callbacks cb{};
    cb.user = &state;
    cb.started = [](void* u, int enc) {
        static_cast<CHost*>(u)->log.push_back("started " + std::to_string(enc));
    };
    cb.finished = [](void* u, int, int16_t e) {
        static_cast<CHost*>(u)->log.push_back("finished " + std::to_string(e));
    };
    cb.decoding_file = [](void* u, char* name, size_t cap, const char* type, const char*) {
        auto* s = static_cast<CHost*>(u);
        s->log.push_back(std::string("file [") + name + "] " + type);
        std::string next = std::string(name).empty() ? "" : s->rename;
        std::snprintf(name, cap, "%s", next.c_str());
    };
    qrmime_ctrl* ctrl = qrmime_create();
    ASSERT_NE(ctrl, nullptr);
    qrmime_set_callbacks(ctrl, &cb);
    qrmime_set_source(ctrl, source.c_str());
    ASSERT_EQ(qrmime_decode(ctrl), 1);
    ASSERT_EQ(qrmime_wait_idle(ctrl, 20000), 1);
    EXPECT_EQ(qrmime_destination_size(ctrl), 4);
    qrmime_destroy(ctrl);
    EXPECT_EQ(state.log, (std::vector<std::string>{"file [] text/plain",
                                                   "file [data.bin] application/octet-stream",
                                                   "started 0", "finished 0"}));
    EXPECT_EQ(mime_test::ReadFileBytes(state.rename).size(), 4u);
}

}  // namespace
