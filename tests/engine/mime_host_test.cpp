#include "engine/mime_host.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <qrmime/entity.h>

#include "engine/run_state.h"
#include "settings/error_reporter.h"
#include "tests/engine/fake_source.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_env.h"

namespace tallix::engine {
namespace {

using tallix::testing::ReadFileBytes;
using tallix::testing::WriteFileBytes;

TEST(MimeHost, DecodesIntoTheDirectoryAndTellsTheSource) {
    tallix::testing::TempDir dir;
    tallix::testing::ScriptedUi ui;
    testing::FakeSource source;
    source.countsDecodes = true;
    CurrentRun().currentSource = &source;
    std::filesystem::create_directories(dir.File("out"));
    WriteFileBytes(dir.File("msg.eml"),
                   "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
                   "--b1\r\nContent-Type: text/plain; name=\"../../evil.txt\"\r\n"
                   "Content-Transfer-Encoding: base64\r\n\r\naGVsbG8=\r\n"
                   "--b1\r\nContent-Type: text/plain; name=\"/etc/second.txt\"\r\n"
                   "Content-Transfer-Encoding: 7bit\r\n\r\nplain\r\n--b1--\r\n");
    ASSERT_TRUE(MimeHost().DecodeFile(dir.File("msg.eml"), dir.File("out")));
    EXPECT_EQ(ReadFileBytes(dir.File("out/evil.txt")), "hello");
    EXPECT_TRUE(std::filesystem::exists(dir.File("out/second.txt")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("evil.txt")));
    EXPECT_EQ(source.decodesFinished, 2);  // one per decoded part
    EXPECT_FALSE(MimeHost().DecodeFile(dir.File("missing.eml"), dir.File("out")));
    CurrentRun().currentSource = nullptr;
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
    EXPECT_NE(log.find("more than " + std::to_string(qrmime::kMaxParts) + " parts"), std::string::npos) << log;

    // A file the scan takes without a note adds nothing to the log.
    WriteFileBytes(dir.File("plain.eml"), "Content-Type: text/plain; name=\"a.txt\"\r\nContent-Transfer-Encoding: 7bit\r\n\r\nhi\r\n");
    ASSERT_TRUE(MimeHost().DecodeFile(dir.File("plain.eml"), dir.File("out")));
    EXPECT_EQ(env.ReadProgramFile("txError.Log"), log);
}

}  // namespace
}  // namespace tallix::engine
