#include "engine/mime_host.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <qrmime/entity.h>

#include "settings/error_reporter.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_env.h"

namespace tallix::engine {
namespace {

using tallix::testing::ReadFileBytes;
using tallix::testing::WriteFileBytes;

TEST(MimeHost, DecodesIntoTheDirectoryAndTellsTheSource) {
    tallix::testing::TempDir dir;
    tallix::testing::ScriptedUi ui;
    int finished = 0;
    std::vector<std::string> proposed;
    sources::DecodeCallbacks counting;
    counting.decodingFinished = [&] { ++finished; };
    std::filesystem::create_directories(dir.File("out"));
    WriteFileBytes(dir.File("msg.eml"),
                   "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
                   "--b1\r\nContent-Type: text/plain; name=\"../../evil.txt\"\r\n"
                   "Content-Transfer-Encoding: base64\r\n\r\naGVsbG8=\r\n"
                   "--b1\r\nContent-Type: text/plain; name=\"/etc/second.txt\"\r\n"
                   "Content-Transfer-Encoding: 7bit\r\n\r\nplain\r\n--b1--\r\n");
    ASSERT_TRUE(MimeHost().DecodeFile(dir.File("msg.eml"), dir.File("out"), counting));
    EXPECT_EQ(ReadFileBytes(dir.File("out/evil.txt")), "hello");
    EXPECT_TRUE(std::filesystem::exists(dir.File("out/second.txt")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("evil.txt")));
    EXPECT_EQ(finished, 2);  // one per decoded part
    EXPECT_FALSE(MimeHost().DecodeFile(dir.File("missing.eml"), dir.File("out")));

    // A source that names the parts itself gets every proposal, and nothing else is asked of
    // the earlier caller's callbacks.
    sources::DecodeCallbacks naming;
    naming.decodingFile = [&](std::string& name, const std::string&, const std::string&) {
        proposed.push_back(name);
        name = dir.File("out/named" + std::to_string(proposed.size()));
    };
    ASSERT_TRUE(MimeHost().DecodeFile(dir.File("msg.eml"), dir.File("out"), naming));
    EXPECT_EQ(proposed, (std::vector<std::string>{"../../evil.txt", "/etc/second.txt"}));
    EXPECT_EQ(ReadFileBytes(dir.File("out/named1")), "hello");
    EXPECT_EQ(ReadFileBytes(dir.File("out/named2")), "plain");
    EXPECT_EQ(finished, 2);
}

TEST(MimeHost, LimitsTheScanReachedAreLogged) {
    tallix::testing::IsolatedEnvironment env;
    tallix::testing::TempDir dir;
    tallix::testing::ScriptedUi ui;
    SetSilentMode(true);
    std::filesystem::create_directories(dir.File("out"));
    std::string many = "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n";
    for (std::size_t i = 0; i < qrmime::kMaxParts + 3; ++i) {
        many += "--b\r\nContent-Transfer-Encoding: 7bit\r\n\r\nx\r\n";
    }
    many += "--b--\r\n";
    WriteFileBytes(dir.File("many.eml"), many);
    MimeHost().DecodeFile(dir.File("many.eml"), dir.File("out"));  // parts without names
    const std::string log = env.ReadProgramFile("txError.Log");
    EXPECT_NE(log.find("EngineMimeHost - DecodeFile"), std::string::npos) << log;
    EXPECT_NE(log.find("more than " + std::to_string(qrmime::kMaxParts) + " parts"),
              std::string::npos)
        << log;

    // A file the scan takes without a note adds nothing to the log.
    WriteFileBytes(dir.File("plain.eml"),
                   "Content-Type: text/plain; name=\"a.txt\"\r\nContent-Transfer-Encoding: "
                   "7bit\r\n\r\nhi\r\n");
    ASSERT_TRUE(MimeHost().DecodeFile(dir.File("plain.eml"), dir.File("out")));
    EXPECT_EQ(env.ReadProgramFile("txError.Log"), log);
}

}  // namespace
}  // namespace tallix::engine
