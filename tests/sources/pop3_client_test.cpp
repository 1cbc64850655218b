#include "sources/pop3_client.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>

#include <memory>
#include <string>
#include <vector>

#include "sources/encoded_words.h"
#include "sources/pop3_curl_transport.h"
#include "tests/sources/pop3_fake_transport.h"
#include "tests/support/test_env.h"

namespace tallix::sources {
namespace {

using testing::FakeTransport;
using testing::Outcome;

class RecordingEvents final : public Pop3ClientEvents {
  public:
    void Error(std::int16_t number) override { errors.push_back(number); }
    void Status(const std::string& text) override { statuses.push_back(text); }
    std::vector<std::int16_t> errors;
    std::vector<std::string> statuses;
};

struct ClientFixture {
    ClientFixture() {
        auto owned = std::make_unique<FakeTransport>();
        transport = owned.get();
        client = std::make_unique<Pop3Client>(std::move(owned), &events);
        client->SetHost("pop.example.org");
        client->SetPort(110);
        client->SetUser("ann");
        client->SetPassword("secret");
    }
    FakeTransport* transport;
    RecordingEvents events;
    std::unique_ptr<Pop3Client> client;
};

TEST(Pop3Client, ConnectLogsInAndReadsTheCount) {
    ClientFixture f;
    f.transport->messages = {"a", "b", "c"};
    EXPECT_NE(f.client->Connect(), 0);
    EXPECT_EQ(f.client->MessageCount(), 3);
    EXPECT_EQ(f.transport->calls,
              (std::vector<std::string>{"OPEN ann@pop.example.org:110", "STAT", "CAPA", "LIST"}));
    EXPECT_EQ(f.transport->opened.password, "secret");
    EXPECT_TRUE(f.events.errors.empty());
    EXPECT_FALSE(f.events.statuses.empty());
    f.client->Close();
    f.client->Close();  // a second close sends nothing
    EXPECT_EQ(f.transport->calls.back(), "CLOSE");
    EXPECT_EQ(std::count(f.transport->calls.begin(), f.transport->calls.end(), "CLOSE"), 1);
}

TEST(Pop3Client, ConnectFailures) {
    struct Case {
        const char* what;
        Pop3Result open;
        Pop3Result stat;
        Pop3Outcome expected;
        std::vector<std::int16_t> errorEvents;
    };
    const std::vector<Case> cases = {
        {"refused login",
         Outcome(Pop3Outcome::LoginRefused, "-ERR [AUTH] Authentication failed."),
         {},
         Pop3Outcome::LoginRefused,
         {}},
        {"connection refused",
         Outcome(Pop3Outcome::Network, "", 61),
         {},
         Pop3Outcome::Network,
         {61}},
        {"host not found",
         Outcome(Pop3Outcome::Network, "", 1001),
         {},
         Pop3Outcome::Network,
         {1001}},
        {"untrusted certificate", Outcome(Pop3Outcome::Tls), {}, Pop3Outcome::Tls, {}},
        {"STAT refused",
         {},
         Outcome(Pop3Outcome::ServerError, "-ERR no"),
         Pop3Outcome::ServerError,
         {}},
        {"STAT answer without a count",
         {},
         Outcome(Pop3Outcome::Ok, "+OK maildrop ready"),
         Pop3Outcome::Failed,
         {}},
        {"STAT count beyond 32 bits",
         {},
         Outcome(Pop3Outcome::Ok, "+OK 9999999999 1"),
         Pop3Outcome::Failed,
         {}},
    };
    for (const Case& c : cases) {
        ClientFixture f;
        f.transport->openResult = c.open;
        f.transport->commandResults["STAT"] = c.stat;
        EXPECT_EQ(f.client->Connect(), 0) << c.what;
        EXPECT_EQ(f.client->MessageCount(), 0) << c.what;
        EXPECT_EQ(f.client->LastResult().outcome, c.expected) << c.what;
        EXPECT_EQ(f.events.errors, c.errorEvents) << c.what;
        // Nothing more is asked of a session that failed to open, and it is closed.
        EXPECT_EQ(f.transport->calls.back(), "CLOSE") << c.what;
        EXPECT_FALSE(f.transport->open) << c.what;
        EXPECT_EQ(f.client->Retrieve(), 1) << c.what;
        EXPECT_EQ(f.client->Delete(), 1) << c.what;
    }
}

TEST(Pop3Client, CountsAboveSixteenBitsAreKept) {
    ClientFixture f;
    f.transport->commandResults["STAT"] = Outcome(Pop3Outcome::Ok, "+OK 40000 123456789");
    ASSERT_NE(f.client->Connect(), 0);
    EXPECT_EQ(f.client->MessageCount(), 40000);
}

TEST(Pop3Client, RetrieveStoresTheMessageAndDescribesIt) {
    tallix::testing::TempDir dir;
    ClientFixture f;
    const std::string message =
        "Received: from x\r\nSubject: =?UTF-8?B?R3LDvMOfZQ==?= and\r\n =?ISO-8859-1?Q?caf=E9?= "
        "order\r\n"
        "Date:   Fri, 08 Jan 2021 12:34:56 +0000  \r\nFrom: Ann <ann@example.org>\r\n\r\nLine "
        "1\r\n\r\nLine 3\r\n";
    f.transport->messages = {"first\r\n\r\nbody\r\n", message};
    ASSERT_NE(f.client->Connect(), 0);
    f.client->SetRetrieveFile(dir.File("msg.tmp"));
    f.client->SetMessageNumber("2");
    ASSERT_EQ(f.client->Retrieve(), 0);
    EXPECT_EQ(tallix::testing::ReadFileBytes(dir.File("msg.tmp")), message);
    EXPECT_EQ(f.client->Subject(),
              "Gr\xc3\xbc\xc3\x9f"
              "e and caf\xc3\xa9 order");
    EXPECT_EQ(f.client->DateText(), "Fri, 08 Jan 2021 12:34:56 +0000");
    EXPECT_EQ(f.client->Header(),
              "Received: from x\r\nSubject: =?UTF-8?B?R3LDvMOfZQ==?= and\r\n "
              "=?ISO-8859-1?Q?caf=E9?= order\r\n"
              "Date:   Fri, 08 Jan 2021 12:34:56 +0000  \r\nFrom: Ann <ann@example.org>\r\n");
    EXPECT_EQ(f.client->Body(), "\r\nLine 1\r\n\r\nLine 3\r\n");
    EXPECT_EQ(f.transport->calls.back(), "RETR 2");
}

TEST(Pop3Client, RetrieveAndDeleteRefuseNumbersThatAreNotMessages) {
    tallix::testing::TempDir dir;
    for (const char* number : {"0", "3", "", "1x", "-1", "99999999999"}) {
        ClientFixture f;
        f.transport->messages = {"a\r\n\r\nb", "c\r\n\r\nd"};
        ASSERT_NE(f.client->Connect(), 0);
        f.client->SetRetrieveFile(dir.File("msg.tmp"));
        f.client->SetMessageNumber(number);
        EXPECT_EQ(f.client->Retrieve(), 1) << number;
        EXPECT_EQ(f.client->Delete(), 1) << number;
        EXPECT_EQ(f.transport->calls.back(), "LIST") << "nothing sent for " << number;
    }
}

TEST(Pop3Client, RetrieveFailures) {
    tallix::testing::TempDir dir;
    {
        ClientFixture f;
        f.transport->messages = {"a\r\n\r\nb"};
        f.transport->retrieveResults[1] = Outcome(Pop3Outcome::Network, "", 54);
        ASSERT_NE(f.client->Connect(), 0);
        f.client->SetRetrieveFile(dir.File("msg.tmp"));
        f.client->SetMessageNumber("1");
        EXPECT_EQ(f.client->Retrieve(), 1);
        EXPECT_EQ(f.events.errors, (std::vector<std::int16_t>{54}));
        EXPECT_EQ(f.client->Subject(), "");
    }
    {
        ClientFixture f;
        f.transport->messages = {"a\r\n\r\nb"};
        ASSERT_NE(f.client->Connect(), 0);
        f.client->SetRetrieveFile(dir.File("no-such-dir/msg.tmp"));
        f.client->SetMessageNumber("1");
        EXPECT_EQ(f.client->Retrieve(), 1);
        EXPECT_EQ(f.client->LastResult().outcome, Pop3Outcome::Failed);
    }
}

TEST(Pop3Client, DeleteMarksTheLastNumberGiven) {
    ClientFixture f;
    f.transport->messages = {"a", "b", "c"};
    f.transport->commandResults["DELE 3"] =
        Outcome(Pop3Outcome::ServerError, "-ERR no such message");
    ASSERT_NE(f.client->Connect(), 0);
    f.client->SetMessageNumber("2");
    EXPECT_EQ(f.client->Delete(), 0);
    EXPECT_EQ(f.transport->calls.back(), "DELE 2");
    f.client->SetMessageNumber("3");
    EXPECT_NE(f.client->Delete(), 0);
    EXPECT_EQ(f.client->LastResult().reply, "-ERR no such message");
}

TEST(Pop3Client, ParseStatCount) {
    const std::vector<std::pair<std::string, std::int64_t>> cases = {
        {"+OK 2 320", 2},          {"+OK 0 0", 0},  {"+ok 7 1", 7},
        {"+OK 40000 1", 40000},    {"+OK", -1},     {"+OK  ", -1},
        {"-ERR 2 320", -1},        {"+OK x 1", -1}, {"+OK 2x 1", -1},
        {"+OK 12345678901 1", -1}, {"+OK\t5", 5},
    };
    for (const auto& [reply, count] : cases) EXPECT_EQ(ParseStatCount(reply), count) << reply;
}

TEST(Pop3Client, ParseListSize) {
    const std::vector<std::pair<std::string, std::int64_t>> cases = {
        {"+OK 2 320", 320},
        {"+OK 2 0", 0},
        {"+ok 2\t7", 7},
        {"+OK 3 320", -1},
        {"-ERR 2 320", -1},
        {"+OK 2", -1},
        {"+OK 2 32x", -1},
        {"+OK 2 -1", -1},
        {"+OK 2 67108865", 67108865},
        {"+OK 2 1234567890123456", -1},
    };
    for (const auto& [reply, size] : cases) EXPECT_EQ(ParseListSize(reply, 2), size) << reply;
}

TEST(Pop3Client, TheAnnouncedSizeDecidesWhatIsTransferredAndHowLong) {
    tallix::testing::TempDir dir;
    ClientFixture f;
    f.transport->messages = {"a\r\n\r\nb\r\n", "c\r\n\r\nd\r\n", "e\r\n\r\nf\r\n"};
    // The session's LIST gives no usable size for the third: it is asked for on its own.
    f.transport->listings["LIST"] = {"1 7", "2 " + std::to_string(kMaxPop3MessageBytes + 1),
                                     "3 many"};
    f.transport->commandResults["LIST 3"] = Outcome(Pop3Outcome::Ok, "+OK 3 many");
    ASSERT_NE(f.client->Connect(), 0);
    f.client->SetRetrieveFile(dir.File("msg.tmp"));
    f.client->SetMessageNumber("1");
    EXPECT_EQ(f.client->Retrieve(), kRetrieved);
    // The transfer's time limit follows the size LIST gave.
    EXPECT_EQ(f.transport->announced, std::vector<std::int64_t>{7});
    f.client->SetMessageNumber("2");
    EXPECT_EQ(f.client->Retrieve(), kRetrieveTooLong);
    EXPECT_EQ(f.client->AnnouncedBytes(), kMaxPop3MessageBytes + 1);
    EXPECT_EQ(f.transport->calls.back(), "RETR 1") << "not transferred";
    f.client->SetMessageNumber("3");
    EXPECT_EQ(f.client->Retrieve(), kRetrieveFailed);
    EXPECT_EQ(f.transport->calls.back(), "LIST 3");
}

// CAPA, UIDL and LIST are read once, at connect. A listing the server refuses is one it does
// not have; one that loses the session fails the connect.
TEST(Pop3Client, ConnectReadsWhatTheServerOffers) {
    struct Case {
        const char* what;
        std::vector<std::string> capabilities;
        std::map<std::string, Pop3Result> results;
        bool connects, pipelining, uniqueIds;
        std::vector<std::string> calls;  // after STAT
    };
    const Pop3Result refused = Outcome(Pop3Outcome::ServerError, "-ERR no");
    const Pop3Result lost = Outcome(Pop3Outcome::Cut);
    const std::vector<Case> cases = {
        {"both", {"USER", "UIDL", "PIPELINING"}, {}, true, true, true, {"CAPA", "UIDL", "LIST"}},
        {"no UIDL offered", {"USER"}, {}, true, false, false, {"CAPA", "LIST"}},
        {"no CAPA: UIDL tried",
         {},
         {{"CAPA", refused}},
         true,
         false,
         true,
         {"CAPA", "UIDL", "LIST"}},
        {"UIDL refused",
         {"UIDL"},
         {{"UIDL", refused}},
         true,
         false,
         false,
         {"CAPA", "UIDL", "LIST"}},
        {"LIST refused: sizes one by one",
         {"UIDL"},
         {{"LIST", refused}},
         true,
         false,
         true,
         {"CAPA", "UIDL", "LIST"}},
        {"UIDL loses the session",
         {"UIDL"},
         {{"UIDL", lost}},
         false,
         false,
         false,
         {"CAPA", "UIDL", "CLOSE"}},
        {"CAPA loses the session", {}, {{"CAPA", lost}}, false, false, false, {"CAPA", "CLOSE"}},
    };
    for (const Case& c : cases) {
        ClientFixture f;
        f.transport->messages = {"a", "b"};
        f.transport->capabilities = c.capabilities;
        for (const auto& [command, result] : c.results)
            f.transport->commandResults[command] = result;
        EXPECT_EQ(f.client->Connect() != 0, c.connects) << c.what;
        EXPECT_EQ(f.client->Pipelining(), c.pipelining) << c.what;
        EXPECT_EQ(f.client->HasUniqueIds(), c.uniqueIds) << c.what;
        EXPECT_EQ(f.client->UniqueId(2), c.uniqueIds ? "id-2" : "") << c.what;
        EXPECT_EQ(
            std::vector<std::string>(f.transport->calls.begin() + 2, f.transport->calls.end()),
            c.calls)
            << c.what;
    }
}

TEST(Pop3Client, UniqueIdsThatAreMalformedOrSharedNameNoMessage) {
    const UniqueIdListing listing = ParseUniqueIds(
        {"1 whqtswO00WBw418f9t5JxYwZ", "2 shared", "3 shared", "4", "5 has space",
         "6 " + std::string(71, 'x'), "7 " + std::string(70, 'y'), "8 two", "8 ids", "9 same ",
         "9 same", "0 zero", "12 past-the-count", "x1 not-a-number", "10\tTAB", "11 caf\xc3\xa9"},
        11);
    const std::map<std::int32_t, std::string> want = {
        {1, "whqtswO00WBw418f9t5JxYwZ"}, {7, std::string(70, 'y')}, {9, "same"}};
    EXPECT_EQ(listing.ids, want);
    EXPECT_EQ(listing.withoutId, 8);
    // What follows the size in a LIST line is the server's own.
    EXPECT_EQ(ParseListSizes({"1 120", "2 x", "3 5", "3 6", "4 9 extra", "5 0", "6 7"}, 5),
              (std::map<std::int32_t, std::int64_t>{{1, 120}, {4, 9}, {5, 0}}));
}

// Where the server offers PIPELINING the messages are asked for in batches: one past the size
// limit is left out (and skipped when the walk reaches it), a message the server refuses ends
// the walk there but not the batch, and a batch stops at its message count.
TEST(Pop3Client, PipelinedBatches) {
    tallix::testing::TempDir dir;
    ClientFixture f;
    f.transport->capabilities = {"PIPELINING"};
    for (int n = 1; n <= 55; ++n)
        f.transport->messages.push_back("Subject: m" + std::to_string(n) + "\r\n\r\nbody\r\n");
    f.transport->sizes[2] = kMaxPop3MessageBytes + 1;
    f.transport->retrieveResults[4] = Outcome(Pop3Outcome::ServerError, "-ERR locked");
    ASSERT_NE(f.client->Connect(), 0);
    EXPECT_TRUE(f.client->Pipelining());
    f.client->SetRetrieveFile(dir.File("msg.tmp"));
    std::vector<std::int16_t> got;
    for (int n = 1; n <= 55; ++n) {
        f.client->SetMessageNumber(std::to_string(n));
        got.push_back(f.client->Retrieve());
        if (got.back() == kRetrieved) {
            EXPECT_EQ(f.client->Subject(), "m" + std::to_string(n));
        }
    }
    EXPECT_EQ(got[0], kRetrieved);
    EXPECT_EQ(got[1], kRetrieveTooLong);
    EXPECT_EQ(got[2], kRetrieved);
    EXPECT_EQ(got[3], kRetrieveFailed);
    EXPECT_EQ(f.client->LastResult().outcome, Pop3Outcome::Ok) << "the last message was read";
    EXPECT_EQ(tallix::testing::ReadFileBytes(dir.File("msg.tmp")), f.transport->messages[54]);
    std::vector<std::string> batches;
    for (const std::string& call : f.transport->calls)
        if (call.rfind("PIPELINED", 0) == 0 || call == "RETR 2" || call == "RETR 4")
            batches.push_back(call);
    EXPECT_EQ(batches, (std::vector<std::string>{"PIPELINED 1-51", "RETR 4", "PIPELINED 52-55"}));
}

// A session lost in the middle of a batch: the messages read before it are handed over, the
// one cut off fails, and nothing more is asked of the server.
TEST(Pop3Client, APipelinedBatchCutOffKeepsWhatArrivedWhole) {
    tallix::testing::TempDir dir;
    ClientFixture f;
    f.transport->capabilities = {"PIPELINING"};
    f.transport->messages = {"a\r\n", "b\r\n", "c\r\n", "d\r\n"};
    f.transport->retrieveResults[3] = Outcome(Pop3Outcome::Cut);
    ASSERT_NE(f.client->Connect(), 0);
    f.client->SetRetrieveFile(dir.File("msg.tmp"));
    for (const auto& [number, want] : std::vector<std::pair<std::string, std::int16_t>>{
             {"1", kRetrieved}, {"2", kRetrieved}, {"3", kRetrieveFailed}}) {
        f.client->SetMessageNumber(number);
        EXPECT_EQ(f.client->Retrieve(), want) << number;
    }
    EXPECT_EQ(f.client->LastResult().outcome, Pop3Outcome::Cut);
    EXPECT_EQ(f.transport->calls.back(), "RETR 3") << "message 4 was never asked for";
}

TEST(Pop3Client, SplitMessageAndHeaderFields) {
    MessageParts parts = SplitMessage("A: 1\r\nB: 2\r\n\r\nbody\r\n");
    EXPECT_EQ(parts.header, "A: 1\r\nB: 2\r\n");
    EXPECT_EQ(parts.body, "\r\nbody\r\n");
    parts = SplitMessage("A: 1\nB: 2\n\nbody\n");
    EXPECT_EQ(parts.header, "A: 1\nB: 2\n");
    EXPECT_EQ(parts.body, "\nbody\n");
    parts = SplitMessage("A: only a header");
    EXPECT_EQ(parts.header, "A: only a header");
    EXPECT_EQ(parts.body, "");

    const std::string header =
        "X-Subject: no\r\nsubject:  folded\r\n\tvalue \r\nSubject: second\r\nDate:\r\n";
    EXPECT_EQ(HeaderField(header, "Subject"), "folded\tvalue");
    EXPECT_EQ(HeaderField(header, "Date"), "");
    EXPECT_EQ(HeaderField(header, "From"), "");
    EXPECT_EQ(HeaderField("Subject: last line without end", "Subject"), "last line without end");
}

TEST(EncodedWords, DecodesToUtf8) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"plain text", "plain text"},
        {"=?UTF-8?B?R3LDvMOfZQ==?=",
         "Gr\xc3\xbc\xc3\x9f"
         "e"},
        {"=?utf-8?q?a_b=3Dc?=", "a b=c"},
        {"=?ISO-8859-1?Q?caf=E9?=", "caf\xc3\xa9"},
        {"=?UTF-8?Q?a?= =?UTF-8?Q?b?=", "ab"},       // blanks between words are dropped
        {"=?UTF-8?Q?a?= x =?UTF-8?Q?b?=", "a x b"},  // other text between them is kept
        {"Re: =?UTF-8*en?Q?hi?=!", "Re: hi!"},
        {"=?UNKNOWN-CHARSET?Q?x?=", "=?UNKNOWN-CHARSET?Q?x?="},
        {"=?UTF-8?X?x?=", "=?UTF-8?X?x?="},
        {"=?UTF-8?Q?not closed", "=?UTF-8?Q?not closed"},
        {"=?UTF-8?Q?has space?=", "=?UTF-8?Q?has space?="},
        {"=??Q?x?=", "=??Q?x?="},
        {"a =? b", "a =? b"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(DecodeEncodedWords(in), out) << in;
}

// A port on 127.0.0.1 that nothing listens on: bound once by the kernel's choice, then let go.
std::int32_t ClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return 0;
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

TEST(CurlTransport, ClassifiesFailuresBeforeAnySession) {
    Pop3Endpoint endpoint;
    endpoint.host = "127.0.0.1";
    endpoint.port = ClosedPort();
    ASSERT_NE(endpoint.port, 0);
    endpoint.user = "u";
    endpoint.password = "p";
    CurlPop3Transport transport;
    Pop3Result refused = transport.Open(endpoint);
    EXPECT_EQ(refused.outcome, Pop3Outcome::Network) << refused.detail;
    EXPECT_EQ(refused.socketError, 61);
    // Without a session nothing is sent anywhere.
    EXPECT_EQ(transport.Command("STAT").outcome, Pop3Outcome::Failed);

    ::setenv(kCaFileVariable.data(), "/nonexistent/ca.pem", 1);
    Pop3Result unreadable = transport.Open(endpoint);
    ::unsetenv(kCaFileVariable.data());
    EXPECT_EQ(unreadable.outcome, Pop3Outcome::Tls);
    EXPECT_NE(unreadable.detail.find("/nonexistent/ca.pem"), std::string::npos);

    endpoint.host = "bad host/name";
    EXPECT_EQ(transport.Open(endpoint).outcome, Pop3Outcome::Failed);
}

TEST(CurlTransport, ImplicitTlsPorts) {
    ::unsetenv(kImplicitTlsPortVariable.data());
    EXPECT_TRUE(IsImplicitTlsPort(995));
    EXPECT_FALSE(IsImplicitTlsPort(110));
    ::setenv(kImplicitTlsPortVariable.data(), "2995", 1);
    EXPECT_TRUE(IsImplicitTlsPort(2995));
    EXPECT_TRUE(IsImplicitTlsPort(995));
    ::setenv(kImplicitTlsPortVariable.data(), "2995x", 1);
    EXPECT_FALSE(IsImplicitTlsPort(2995));
    ::unsetenv(kImplicitTlsPortVariable.data());
}

}  // namespace
}  // namespace tallix::sources
