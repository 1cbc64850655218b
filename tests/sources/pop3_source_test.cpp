#include "sources/pop3_source.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "model/message.h"
#include "settings/error_reporter.h"
#include "settings/scratch_dir.h"
#include "tests/sources/pop3_fake_transport.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_env.h"

namespace tallix::sources {
namespace {

using tallix::testing::ReadFileBytes;
using tallix::testing::WriteFileBytes;
using testing::FakeTransport;
using testing::Outcome;

// Offers the parts it was given to the source the way the MIME component does: a name
// proposal per part, then each part written to whatever name the source left and finished.
// With `inMemory` it decodes as the component's in-memory entry point does: the same names,
// the parts handed back instead of written.
class ScriptedDecoder final : public AttachmentDecoder {
  public:
    struct Part {
        std::string name, contentType, content;
    };
    bool DecodeBytes(std::string_view bytes, const std::string& sourceFile,
                     const std::string& destinationDir, std::vector<DecodedFile>& files,
                     const DecodeCallbacks& callbacks) override {
        if (!inMemory)
            return AttachmentDecoder::DecodeBytes(bytes, sourceFile, destinationDir, files,
                                                  callbacks);
        files.clear();
        if (!decodable) return false;
        const std::vector<std::string> names = Name(callbacks);
        for (std::size_t i = 0; i < parts.size(); ++i) {
            if (names[i].empty()) continue;
            files.push_back({names[i], parts[i].content});
            callbacks.decodingFinished();
        }
        return true;
    }
    bool DecodeFile(const std::string& sourceFile, const std::string& destinationDir,
                    const DecodeCallbacks& callbacks) override {
        sources.push_back(sourceFile);
        if (!decodable) return false;
        const std::vector<std::string> names = Name(callbacks);
        for (std::size_t i = 0; i < parts.size(); ++i) {
            if (names[i].empty()) continue;
            if (written.size() == writeLimit) continue;  // a part whose file cannot be made
            WriteFileBytes(names[i], parts[i].content);
            written.push_back(names[i]);
            callbacks.decodingFinished();
        }
        return true;
    }
    std::vector<Part> parts;
    bool decodable = true;
    bool inMemory = false;
    std::size_t writeLimit = SIZE_MAX;
    std::vector<std::string> sources, written;

  private:
    // Every part is named before any is written.
    std::vector<std::string> Name(const DecodeCallbacks& callbacks) const {
        std::vector<std::string> names;
        for (const Part& part : parts) {
            names.push_back(part.name);
            callbacks.decodingFile(names.back(), part.contentType, "7bit");
        }
        return names;
    }
};

class Pop3SourceTest : public ::testing::Test {
  protected:
    Pop3SourceTest() {
        SetSilentMode(true);
        account.SetID("Home");
        account.SetHostName("pop.example.org");
        account.SetPort(110);
        account.SetLoginName("ann");
        account.SetPassword("secret");
    }
    std::unique_ptr<Pop3Source> Make() {
        auto owned = std::make_unique<FakeTransport>();
        transport = owned.get();
        auto source = std::make_unique<Pop3Source>(
            account, std::make_unique<Pop3Client>(std::move(owned), nullptr), &decoder);
        transport->messages = messages;
        return source;
    }
    std::string SystemLog() const { return env.ReadProgramFile("txSystem.Log"); }
    std::string ErrorLog() const { return env.ReadProgramFile("txError.Log"); }

    tallix::testing::IsolatedEnvironment env;
    tallix::testing::ScriptedUi ui;
    clsPOP3Config account;
    ScriptedDecoder decoder;
    std::vector<std::string> messages = {
        "From: Ann <ann@example.org>\r\nSubject: one\r\nDate: Fri, 08 Jan 2021 12:34:56 "
        "+0000\r\n\r\nBody one\r\n",
        "From: Bob <bob@example.net>\r\nSubject: two\r\n\r\nBody two\r\n",
    };
    FakeTransport* transport = nullptr;
};

TEST_F(Pop3SourceTest, ValidConnectInfoAcceptsEveryTcpPort) {
    struct Case {
        std::string host, user, password;
        std::int32_t port;
        bool valid;
    };
    const std::vector<Case> cases = {
        {"h", "u", "p", 110, true},   {"h", "u", "p", 1, true},   {"h", "u", "p", 32768, true},
        {"h", "u", "p", 65535, true}, {"h", "u", "p", 0, false},  {"h", "u", "p", 65536, false},
        {"h", "u", "p", -5, false},   {"", "u", "p", 110, false}, {"h", "", "p", 110, false},
        {"h", "u", "", 110, false},
    };
    for (const Case& c : cases) {
        account.SetHostName(c.host);
        account.SetLoginName(c.user);
        account.SetPassword(c.password);
        account.SetPort(c.port);
        auto source = Make();
        source->SetPOPCtl();
        EXPECT_EQ(source->ValidConnectInfo(), c.valid) << c.host << "/" << c.user << "/" << c.port;
    }
}

TEST_F(Pop3SourceTest, IncompleteAccountShowsItsBoxAndTriesNothing) {
    account.SetPort(0);
    auto source = Make();
    source->Connect();
    EXPECT_FALSE(source->IsConnected());
    EXPECT_EQ(source->TotalMessages(), 0);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, kIncompleteAccount);
    EXPECT_EQ(ui.boxes[0].title, "Receive Mail");
    EXPECT_EQ(ui.boxes[0].icon, MsgIcon::Information);
    EXPECT_TRUE(transport->calls.empty());
}

TEST_F(Pop3SourceTest, FailedConnectsShowTheSocketBoxAndLogWhy) {
    struct Case {
        const char* what;
        Pop3Result open;
        const char* logged;  // nullptr: nothing of the source's own in the error log
    };
    const std::vector<Case> cases = {
        {"refused login", Outcome(Pop3Outcome::LoginRefused, "-ERR [AUTH] Authentication failed."),
         "clsPOP3Config - Connect: POP3 account Home (pop.example.org:110): the server refused the "
         "login "
         "of user ann: -ERR [AUTH] Authentication failed."},
        {"certificate", Outcome(Pop3Outcome::Tls),
         "the secure connection failed: scripted failure"},
        {"network", Outcome(Pop3Outcome::Network, "", 61), nullptr},
    };
    for (const Case& c : cases) {
        tallix::testing::WriteFileBytes(env.ProgramDir() + "/txError.Log", "");
        ui.boxes.clear();
        auto source = Make();
        transport->openResult = c.open;
        source->Connect();
        EXPECT_FALSE(source->IsConnected()) << c.what;
        EXPECT_EQ(source->TotalMessages(), 0) << c.what;
        ASSERT_EQ(ui.boxes.size(), 1u) << c.what;
        EXPECT_EQ(ui.boxes[0].text, "Unable to establish a valid socket.");
        EXPECT_EQ(ui.boxes[0].title, "Receive Mail");
        EXPECT_EQ(ui.boxes[0].icon, MsgIcon::Exclamation);
        const std::string log = ErrorLog();
        if (c.logged)
            EXPECT_NE(log.find(c.logged), std::string::npos) << c.what << ": " << log;
        else
            EXPECT_EQ(log, "") << c.what;
        EXPECT_EQ(log.find("secret"), std::string::npos) << "the password is never logged";
        EXPECT_EQ(SystemLog(), "") << c.what;
    }
}

TEST_F(Pop3SourceTest, WalksEveryMessageAndEndsPastTheLast) {
    decoder.decodable = false;  // plain messages are not MIME
    auto source = Make();
    source->Connect();
    ASSERT_TRUE(source->IsConnected());
    EXPECT_EQ(source->ID(), "Home");
    EXPECT_EQ(source->TotalMessages(), 2);
    source->Connect();  // already connected: nothing happens
    source->GetFirstMsg();
    ASSERT_TRUE(source->Message());
    EXPECT_EQ(source->Message()->Subject(), "one");
    EXPECT_EQ(source->Message()->Body(), "Body one\r\n") << "plain messages keep the client's body";
    EXPECT_EQ(source->Message()->SenderAddress(), "ann@example.org");
    EXPECT_EQ(source->Message()->SentDate(), "1/8/2021 12:34:56 PM");
    EXPECT_EQ(source->Message()->Attachments()->Count(), 0);
    source->GetNextMsg();
    ASSERT_TRUE(source->Message());
    EXPECT_EQ(source->Message()->Subject(), "two");
    source->GetNextMsg();
    EXPECT_FALSE(source->Message());
    EXPECT_EQ(source->MessageNumber(), 3);
    source->Disconnect();
    EXPECT_EQ(transport->calls,
              (std::vector<std::string>{"OPEN ann@pop.example.org:110", "STAT", "CAPA", "LIST",
                                        "RETR 1", "RETR 2", "CLOSE"}));
    EXPECT_NE(SystemLog().find("Fri, 08 Jan 2021 12:34:56 +0000"), std::string::npos)
        << "the date text goes to the system log";
}

// The key of a message is the server's unique id, where it gave one; the engine goes by the
// header of the others.
TEST_F(Pop3SourceTest, TheMessageKeyIsTheUniqueId) {
    decoder.decodable = false;
    auto source = Make();
    transport->capabilities = {"UIDL"};
    transport->listings["UIDL"] = {"1 AAA", "2 bad\x7f"};
    source->Connect();
    EXPECT_EQ(source->MessageKey(), "") << "no message yet";
    source->GetFirstMsg();
    EXPECT_EQ(source->MessageKey(), "uidl:AAA");
    source->GetNextMsg();
    EXPECT_EQ(source->MessageKey(), "");
    EXPECT_NE(ErrorLog().find("the server's UIDL listing gave 1 of 2 messages no unique id"),
              std::string::npos)
        << ErrorLog();
}

// A message every template has had (the engine knows its key) is not retrieved, neither on
// its own nor in a pipelined batch: an empty record stands for it under its key. The first
// message is retrieved alone, since the engine learns from it what the templates take.
TEST_F(Pop3SourceTest, MessagesKnownByTheirKeyAreNotRetrieved) {
    decoder.decodable = false;
    messages.push_back("Subject: three\r\n\r\nBody three\r\n");
    messages.push_back("Subject: four\r\n\r\nBody four\r\n");
    messages.push_back("Subject: five\r\n\r\nBody five\r\n");
    for (const bool pipelined : {false, true}) {
        auto source = Make();
        transport->capabilities = {"UIDL"};
        if (pipelined) transport->capabilities.push_back("PIPELINING");
        transport->listings["UIDL"] = {"1 AAA", "2 BBB", "3 CCC", "4 DDD", "5 EEE"};
        source->SetKnownKey(
            [](std::string_view key) { return key == "uidl:BBB" || key == "uidl:DDD"; });
        source->Connect();
        std::vector<std::string> walked;
        for (source->GetFirstMsg(); source->Message(); source->GetNextMsg())
            walked.push_back(source->MessageKey() + "=" + source->Message()->Subject());
        EXPECT_EQ(walked, (std::vector<std::string>{"uidl:AAA=one", "uidl:BBB=", "uidl:CCC=three",
                                                    "uidl:DDD=", "uidl:EEE=five"}));
        std::vector<std::string> fetches;
        for (const std::string& call : transport->calls)
            if (call.starts_with("RETR") || call.starts_with("PIPELINED")) fetches.push_back(call);
        const std::vector<std::string> expected =
            pipelined ? std::vector<std::string>{"RETR 1", "PIPELINED 3-5", "RETR 3", "RETR 5"}
                      : std::vector<std::string>{"RETR 1", "RETR 3", "RETR 5"};
        EXPECT_EQ(fetches, expected);
    }
}

TEST_F(Pop3SourceTest, AHeaderPastTheLimitKeepsItsWholeLinesForEveryField) {
    decoder.decodable = false;
    std::string junk;
    const std::string line = "X-Junk: " + std::string(90, 'j') + "\r\n";
    while (junk.size() < kMaxPop3HeaderBytes - 200) junk += line;
    // The "To: " line straddles the limit; a "Reply-To:" line lies wholly past it.
    const std::string head = "From: Ann <ann@example.org>\r\nSubject: Big\r\n" + junk;
    const std::string to = "To: Bob <bob@example.net>" + std::string(400, ' ') + "\r\n";
    ASSERT_LT(head.size(), kMaxPop3HeaderBytes);
    ASSERT_GT(head.size() + to.size(), kMaxPop3HeaderBytes);
    messages = {head + to + "Reply-To: late@example.net\r\n\r\nBig body\r\n"};
    auto source = Make();
    source->Connect();
    source->GetFirstMsg();
    ASSERT_TRUE(source->Message());
    const txMessage& message = *source->Message();
    EXPECT_EQ(message.Header(), head) << "cut after the last whole line within the limit";
    EXPECT_EQ(message.Subject(), "Big");
    EXPECT_EQ(message.Body(), "Big body\r\n");
    EXPECT_TRUE(message.ValidMessage());
    EXPECT_EQ(message.SenderAddress(), "ann@example.org");
    EXPECT_EQ(message.ReplyToAddress(), "ann@example.org")
        << "the Reply-To: line is past the limit";
    EXPECT_EQ(message.ReceipentAddress(), "") << "the To: line is past the limit";
    EXPECT_EQ(ErrorLog(), "");
}

TEST_F(Pop3SourceTest, AFailedRetrievalEndsTheWalkAndSaysSo) {
    auto source = Make();
    source->Connect();
    transport->retrieveResults[2] = Outcome(Pop3Outcome::Failed, "", 0);
    source->GetFirstMsg();
    ASSERT_TRUE(source->Message());
    source->GetNextMsg();
    EXPECT_FALSE(source->Message());
    EXPECT_NE(ErrorLog().find("message 2 of 2 could not be retrieved"), std::string::npos)
        << ErrorLog();
}

TEST_F(Pop3SourceTest, DecodedPartsBecomeBodyAndAttachments) {
    decoder.parts = {
        {"", "Text/Plain", "Decoded body\r\n"},  // the component passes the type alone
        {"report.doc", "application/msword", "report"},
        {"", "TEXT/HTML", "<p>html</p>"},
        {"../../etc/passwd", "text/plain", "evil"},
        {"report.doc", "application/msword", "second report"},
        {"", "image/png", "skipped"},
        {"", "message/rfc822", "Subject: order\r\n\r\nforwarded\r\n"},  // a forward, unnamed
    };
    auto source = Make();
    source->Connect();
    source->GetFirstMsg();
    ASSERT_TRUE(source->Message());
    const std::string dir = ScratchDir();
    EXPECT_EQ(decoder.sources, (std::vector<std::string>{ScratchFile("$$tallix.tmp")}));
    EXPECT_EQ(source->Message()->Body(), "Decoded body\r\n");
    const std::vector<std::string> expected = {dir + "/$$report.doc", dir + "/MailMessage1.html",
                                               dir + "/$$passwd", dir + "/$$report-2.doc",
                                               dir + "/$$message.eml"};
    EXPECT_EQ(source->Message()->Attachments()->Snapshot(), expected);
    EXPECT_EQ(decoder.written.front(), dir + "/$$BODY.TXT");
    EXPECT_EQ(ReadFileBytes(dir + "/$$report.doc"), "report");
    EXPECT_EQ(ReadFileBytes(dir + "/$$report-2.doc"), "second report");
    EXPECT_EQ(source->DecodeCounter(), 5 - 6) << "five named files, six finished parts";

    // The next message without a plain-text part does not read the earlier body file (its
    // body is its own text, as the builder read it), and the HTML name already taken on disk
    // is not reused.
    decoder.parts = {{"", "text/html", "<p>again</p>"}};
    source->GetNextMsg();
    ASSERT_TRUE(source->Message());
    EXPECT_EQ(source->Message()->Body(), "Body two\r\n");
    EXPECT_EQ(source->Message()->Attachments()->Snapshot(),
              std::vector<std::string>{dir + "/MailMessage2.html"});
}

// Decoded in memory, a server message costs no file: the scratch directory stays empty, the
// body and attachments are what the file decode gives, and an HTML part's number still skips
// the names earlier messages' parts hold in memory.
TEST_F(Pop3SourceTest, AMessageDecodedInMemoryWritesNoFile) {
    const ScratchScope scratch;  // a directory of this test's own, empty to begin with
    decoder.inMemory = true;
    decoder.parts = {
        {"", "text/plain", "Decoded body\r\n"},
        {"report.doc", "application/msword", "report"},
        {"", "text/html", "<p>html</p>"},
        {"report.doc", "application/msword", "second report"},
    };
    auto source = Make();
    source->Connect();
    source->GetFirstMsg();
    ASSERT_TRUE(source->Message());
    const std::string dir = ScratchDir();
    const auto scratchFiles = [&] {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
        return names;
    };
    EXPECT_EQ(scratchFiles(), std::vector<std::string>{});
    EXPECT_TRUE(decoder.sources.empty()) << "no file was decoded";
    EXPECT_EQ(source->Message()->Body(), "Decoded body\r\n");
    const std::vector<std::string> expected = {dir + "/$$report.doc", dir + "/MailMessage1.html",
                                               dir + "/$$report-2.doc"};
    EXPECT_EQ(source->Message()->Attachments()->Snapshot(), expected);
    EXPECT_EQ(source->Message()->AttachmentType(2), "text/html");
    ASSERT_TRUE(KeptScratchFile(dir + "/$$report-2.doc"));
    EXPECT_EQ(*KeptScratchFile(dir + "/$$report-2.doc"), "second report");
    EXPECT_EQ(*KeptScratchFile(dir + "/MailMessage1.html"), "<p>html</p>");
    EXPECT_FALSE(KeptScratchFile(dir + "/$$BODY.TXT")) << "the body is no attachment";

    decoder.parts = {{"", "text/html", "<p>again</p>"}};
    source->GetNextMsg();
    ASSERT_TRUE(source->Message());
    EXPECT_EQ(source->Message()->Body(), "Body two\r\n");
    EXPECT_EQ(source->Message()->Attachments()->Snapshot(),
              std::vector<std::string>{dir + "/MailMessage2.html"});
    EXPECT_EQ(scratchFiles(), std::vector<std::string>{});
    for (const std::string& path : expected) RemoveScratchFile(path);
    RemoveScratchFile(dir + "/MailMessage2.html");
    EXPECT_EQ(KeptScratchBytes(), 0u);
}

TEST_F(Pop3SourceTest, ADecodeThatFinishesFewerPartsThanItNamedStillHandsTheMessageOver) {
    decoder.parts = {
        {"", "text/plain", "Body\r\n"}, {"a.txt", "text/plain", "a"}, {"b.txt", "text/plain", "b"}};
    decoder.writeLimit = 2;
    auto source = Make();
    source->Connect();
    source->GetFirstMsg();
    ASSERT_TRUE(source->Message());
    EXPECT_GE(source->DecodeCounter(), 0) << "the counter never ran out";
    EXPECT_EQ(source->Message()->Body(), "Body\r\n");
    EXPECT_EQ(source->Message()->Attachments()->Count(), 2);
    source->GetNextMsg();
    EXPECT_TRUE(source->Message()) << "the walk goes on";
}

TEST_F(Pop3SourceTest, ANonMimeMessageKeepsTheClientBody) {
    decoder.decodable = false;
    auto source = Make();
    source->Connect();
    source->GetFirstMsg();
    ASSERT_TRUE(source->Message());
    EXPECT_EQ(source->Message()->Body(), "Body one\r\n");
    EXPECT_EQ(source->Message()->Attachments()->Count(), 0);
}

TEST_F(Pop3SourceTest, DeleteLogsEveryCallAndReportsFailures) {
    auto source = Make();
    source->Connect();
    source->GetFirstMsg();
    source->DoDeleteMessage();
    EXPECT_EQ(transport->calls.back(), "DELE 1");
    source->GetNextMsg();
    transport->commandResults["DELE 2"] = Outcome(Pop3Outcome::ServerError, "-ERR gone");
    source->DoDeleteMessage();
    const std::string system = SystemLog();
    std::size_t calls = 0;
    for (std::size_t at = system.find("POP3 delete called"); at != std::string::npos;
         at = system.find("POP3 delete called", at + 1)) {
        ++calls;
    }
    EXPECT_EQ(calls, 2u);
    EXPECT_NE(ErrorLog().find("Unable to delete Message Number: 2"), std::string::npos)
        << ErrorLog();
}

TEST(Pop3Dates, FormatDateTrimsToWhatReadsAsADate) {
    tallix::testing::IsolatedEnvironment env;
    SetSilentMode(true);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"Fri, 08 Jan 2021 12:34:56 +0000", "08 Jan 2021 12:34:56 "},
        {"8 Jan 2021", "8 Jan 2021"},
        {"1/8/2021 (a note)", "1/8/2021 "},
        {"Mon, 11 Jan 2021 10:00:00 +0000 (UTC)", "11 Jan 2021 10:00:00 "},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(FormatPop3Date(in), out) << in;
    EXPECT_EQ(env.ReadProgramFile("txError.Log"), "");
    EXPECT_EQ(FormatPop3Date("no date here"), "");
    EXPECT_NE(env.ReadProgramFile("txError.Log").find("clsPOP3Config - FormatDate"),
              std::string::npos);
}

TEST(Pop3Dates, ConvertDatePicksDayMonthYearAndTime) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Fri 8 January 2021 12:34:56 +0000", "1/8/2021 12:34:56 PM"},
        {"x 12 dec 1999 y", "12/12/1999"},
        {"8 Jan 2021", ""},     // the year is the last token, never looked at
        {"Jan 2021 z", ""},     // no day
        {"8 2021 z", ""},       // no month
        {" 8 Jan 2021 z", ""},  // starts with a blank: no token is taken
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(ConvertDate(in), out) << in;
}

TEST(Pop3Addresses, CompuServeRewrite) {
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {"ann@example.org", "", "ann@example.org"},
        {"[76543,210]", "CompuServe", "76543.210@compuserve.com"},
        {"76543,210", "COMPUSERVE", "76543.210@compuserve.com"},
        {"[76543]", "compuserve", "[76543]"},
    };
    for (const auto& [address, type, out] : cases)
        EXPECT_EQ(CompuServeAddress(address, type), out) << address;
}

TEST(Pop3Files, GetNewFilenameTakesTheFirstFreeNumber) {
    tallix::testing::TempDir dir;
    const std::string base = dir.path() + "/";
    EXPECT_EQ(GetNewFilename(base, ".html"), base + "MailMessage1.html");
    WriteFileBytes(base + "MailMessage1.html", "");
    WriteFileBytes(base + "MailMessage3.html", "");
    EXPECT_EQ(GetNewFilename(base, ".html"), base + "MailMessage2.html");
    EXPECT_EQ(ExtractMessageBody(base + "missing"), "");
    WriteFileBytes(base + "body", std::string("a\0b", 3));
    EXPECT_EQ(ExtractMessageBody(base + "body"), std::string("a\0b", 3));
}

}  // namespace
}  // namespace tallix::sources

namespace tallix::sources {
namespace {

TEST_F(Pop3SourceTest, AccountKeysDecideTheLoginOrFailTheConnect) {
    // The default on a plain port: STARTTLS, required.
    {
        auto source = Make();
        source->Connect();
        ASSERT_TRUE(source->IsConnected());
        EXPECT_EQ(transport->opened.security, AccountSecurity::StartTls);
        EXPECT_EQ(ErrorLog(), "");
    }
    // Written out as None: read, with one warning line naming the account.
    account.SetSecurity("None");
    account.SetAuth("XOAUTH2");
    account.SetPassword("");
    account.SetPasswordCommand("echo token-from-helper");
    {
        auto source = Make();
        source->Connect();
        ASSERT_TRUE(source->IsConnected());
        EXPECT_EQ(transport->opened.security, AccountSecurity::None);
        EXPECT_EQ(transport->opened.auth, AccountAuth::XOAuth2);
        EXPECT_EQ(transport->opened.password, "token-from-helper");
        EXPECT_NE(ErrorLog().find("POP3 account Home (pop.example.org:110): " +
                                  std::string(kInClearWarning)),
                  std::string::npos)
            << ErrorLog();
        EXPECT_EQ(ErrorLog().find("token-from-helper"), std::string::npos);
    }
    // An unknown Security value and a failing command: failed connects, nothing opened.
    struct Case {
        const char* security;
        const char* command;
        const char* logged;
    };
    const Case cases[] = {
        {"SSL", "echo pw", "\"Security=SSL\" is not one of TLS, STARTTLS or None"},
        {"", "sh -c 'echo secret-output; exit 1'",
         "the password command failed: the command "
         "ended with status 1"},
    };
    for (const Case& c : cases) {
        account.SetSecurity(c.security);
        account.SetAuth("");
        account.SetPasswordCommand(c.command);
        ui.boxes.clear();
        auto source = Make();
        source->Connect();
        EXPECT_FALSE(source->IsConnected());
        EXPECT_TRUE(transport->calls.empty()) << c.logged;
        ASSERT_EQ(ui.boxes.size(), 1u);
        EXPECT_EQ(ui.boxes[0].text, kNoValidSocket);
        EXPECT_NE(
            ErrorLog().find(std::string("POP3 account Home (pop.example.org:110): ") + c.logged),
            std::string::npos)
            << ErrorLog();
    }
    EXPECT_EQ(ErrorLog().find("secret-output"), std::string::npos);
}

}  // namespace
}  // namespace tallix::sources
