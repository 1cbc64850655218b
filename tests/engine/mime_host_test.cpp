#include "engine/mime_host.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/run_state.h"
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

}  // namespace
}  // namespace tallix::engine
