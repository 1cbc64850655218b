#include "engine/processed_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
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

TEST_F(ProcessedRecord, HistoriesAreReadBesideAWritingRunAndWriteNothing) {
    std::map<std::string, TemplateHistory> histories;
    // No record: no histories, and no record made.
    EXPECT_EQ(ReadTemplateHistories(Path(), histories), "");
    EXPECT_TRUE(histories.empty());
    EXPECT_FALSE(std::filesystem::exists(Path()));
    {
        ProcessedStore store;
        ASSERT_EQ(store.Open(Path()), "");
        // Matched in three runs, then in none: stopped matching.
        for (int i = 1; i <= 4; ++i)
            ASSERT_EQ(store.NoteRun("Orders.txf", {i, 5, i < 4 ? 2 : 0}), "");
        // Matched, then fewer than three runs with lines before one without: not stopped.
        for (int i = 1; i <= 3; ++i)
            ASSERT_EQ(store.NoteRun("Parts.txf", {i, 5, i == 1 ? 0 : 1}), "");
        ASSERT_EQ(store.NoteRun("Parts.txf", {4, 5, 0}), "");
        // One match long ago, then more runs without than the record keeps: still its last.
        ASSERT_EQ(store.NoteRun("Old.txf", {1, 5, 7}), "");
        for (int i = 2; i <= 14; ++i) ASSERT_EQ(store.NoteRun("Old.txf", {i, 5, 0}), "");
        std::string error;
        EXPECT_EQ(store.LastRuns("Old.txf", 100, error).size(), 11u);
    }

    // A run holds a write transaction meanwhile, with a run not yet committed.
    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open(Path().c_str(), &writer), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(writer,
                           "BEGIN IMMEDIATE; INSERT INTO runs (template, at, messages, lines)"
                           " VALUES ('Parts.txf', 9, 1, 3)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    EXPECT_EQ(ReadTemplateHistories(Path(), histories), "");
    // The reader kept the writer from nothing.
    EXPECT_EQ(sqlite3_exec(writer, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(writer);

    ASSERT_EQ(histories.size(), 3u);
    EXPECT_EQ(histories["Orders.txf"].lastMatch, std::optional<std::time_t>(3));
    EXPECT_TRUE(histories["Orders.txf"].stale);
    EXPECT_EQ(histories["Parts.txf"].lastMatch, std::optional<std::time_t>(3));
    EXPECT_FALSE(histories["Parts.txf"].stale);
    EXPECT_EQ(histories["Old.txf"].lastMatch, std::optional<std::time_t>(1));
    EXPECT_FALSE(histories["Old.txf"].stale);
    // The committed run shows at the next reading.
    EXPECT_EQ(ReadTemplateHistories(Path(), histories), "");
    EXPECT_EQ(histories["Parts.txf"].lastMatch, std::optional<std::time_t>(9));

    // A damaged record is named, not read as empty.
    WriteFileBytes(Path(), std::string(4096, 'x'));
    std::filesystem::remove(Path() + "-wal");
    std::filesystem::remove(Path() + "-shm");
    EXPECT_NE(ReadTemplateHistories(Path(), histories), "");
    EXPECT_TRUE(histories.empty());
}

}  // namespace
}  // namespace tallix::engine
