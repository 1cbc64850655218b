#include "engine/processed_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/support/test_env.h"

namespace tallix::engine {
namespace {

using tallix::testing::WriteFileBytes;

class ProcessedRecord : public ::testing::Test {
  protected:
    std::string Path() const { return env.ProgramDir() + "/Processed.db"; }
    tallix::testing::IsolatedEnvironment env;
};

TEST(HeaderMessageKeyTest, MessageIdFirstElseTheHeaderBlocksDigest) {
    // The field name in any case, folded over two lines, blanks dropped.
    EXPECT_EQ(HeaderMessageKey("From: a\r\nmessage-id:\r\n <x.1@example.org>\r\nSubject: s\r\n"),
              "<x.1@example.org>");
    EXPECT_EQ(HeaderMessageKey("Message-ID: <y@example.org>\n"), "<y@example.org>");
    // Without one: the same header gives the same key, another header another.
    const std::string a = HeaderMessageKey("From: a\r\nSubject: one\r\n");
    EXPECT_EQ(a.rfind("sha256:", 0), 0u);
    EXPECT_EQ(a.size(), 7u + 64u);
    EXPECT_EQ(a, HeaderMessageKey("From: a\r\nSubject: one\r\n"));
    EXPECT_NE(a, HeaderMessageKey("From: a\r\nSubject: two\r\n"));
    // A field that only ends in the name is not the Message-ID.
    EXPECT_EQ(HeaderMessageKey("X-Original-Message-ID: <z@example.org>\r\n").rfind("sha256:", 0),
              0u);
}

TEST_F(ProcessedRecord, RecordsPerSourceAndTemplateAndKeepsThemAcrossOpenings) {
    {
        ProcessedStore store;
        ASSERT_EQ(store.Open(Path()), "");
        struct stat st {};
        ASSERT_EQ(::stat(Path().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        ASSERT_EQ(store.SelectSource("FILE_OTHER", "/mail/a"), "");
        EXPECT_EQ(store.Record("<1@x>", {"Orders.txf", "Parts.txf"}), "");
        EXPECT_EQ(store.Record("<2@x>", {"Orders.txf"}), "");
        EXPECT_EQ(store.Record("<2@x>", {"Orders.txf"}), "");  // twice is once
        EXPECT_TRUE(store.Has("<1@x>", "Parts.txf"));
        ASSERT_EQ(store.SelectSource("FILE_OTHER", "/mail/b"), "");
        EXPECT_FALSE(store.Has("<1@x>", "Orders.txf"));
        EXPECT_EQ(store.Record("<1@x>", {"Orders.txf"}), "");
    }
    ProcessedStore store;
    ASSERT_EQ(store.Open(Path()), "");
    ASSERT_EQ(store.SelectSource("FILE_OTHER", "/mail/a"), "");
    EXPECT_TRUE(store.Has("<1@x>", "Orders.txf"));
    EXPECT_TRUE(store.Has("<2@x>", "Orders.txf"));
    EXPECT_FALSE(store.Has("<2@x>", "Parts.txf"));
    ASSERT_EQ(store.SelectSource("POP3", "/mail/a"), "");
    EXPECT_FALSE(store.Has("<1@x>", "Orders.txf"));

    std::string error;
    // Named without its extension and in another case; then everything else.
    EXPECT_EQ(store.Forget("orders", error), 3);
    EXPECT_EQ(store.Forget("Orders.txf", error), 0);
    EXPECT_EQ(store.Forget("ALL", error), 1);
    EXPECT_EQ(error, "");
    ASSERT_EQ(store.SelectSource("FILE_OTHER", "/mail/a"), "");
    EXPECT_FALSE(store.Has("<1@x>", "Parts.txf"));
}

TEST_F(ProcessedRecord, RunsComeNewestFirstAndOnlyTheLastTenAreKept) {
    ProcessedStore store;
    ASSERT_EQ(store.Open(Path()), "");
    for (int i = 1; i <= 12; ++i) EXPECT_EQ(store.NoteRun("Orders.txf", {i, i, i * 10}), "");
    EXPECT_EQ(store.NoteRun("Other.txf", {5, 1, 0}), "");
    std::string error;
    const std::vector<TemplateRun> last = store.LastRuns("Orders.txf", 3, error);
    ASSERT_EQ(last.size(), 3u);
    EXPECT_EQ(last[0].at, 12);
    EXPECT_EQ(last[0].lines, 120);
    EXPECT_EQ(last[2].at, 10);
    EXPECT_EQ(store.LastRuns("Orders.txf", 100, error).size(), 10u);
    EXPECT_EQ(store.LastRuns("Other.txf", 100, error).size(), 1u);
    EXPECT_EQ(error, "");
}

TEST_F(ProcessedRecord, DamagedOrUnreadableRecordIsRefusedWithItsReason) {
    WriteFileBytes(Path(), std::string(4096, 'x'));
    ProcessedStore damaged;
    EXPECT_NE(damaged.Open(Path()), "");
    EXPECT_FALSE(damaged.IsOpen());
    // A directory where the record should be.
    ProcessedStore missing;
    EXPECT_NE(missing.Open(env.ProgramDir() + "/no/such/dir/Processed.db"), "");
    EXPECT_FALSE(missing.IsOpen());
}

}  // namespace
}  // namespace tallix::engine
