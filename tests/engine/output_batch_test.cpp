// The output files' batches: what the run writes later than it makes it must still reach the
// right file, whole, in order, in time, and be seen by the duplicate check.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "engine/file_watch.h"
#include "engine/output_files.h"
#include "engine/script_host/script_process.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_env.h"

namespace tallix::engine {
namespace {

using tallix::testing::ReadFileBytes;
using tallix::testing::WriteFileBytes;

// With the run's file watch, and with the checks by identity it falls back to.
class OutputBatch : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        if (!GetParam()) watch.Disable();
    }
    std::string Path(const std::string& name) { return env.ProgramDir() + "/" + name; }
    std::string Out(const std::string& name) { return ReadFileBytes(Path(name)); }
    void AppendByOther(const std::string& name, std::string_view bytes) {
        std::ofstream(Path(name), std::ios::binary | std::ios::app) << bytes;
    }
    bool Holds(const std::string& name, const std::string& line) {
        bool found = false;
        EXPECT_EQ(files.HoldsLine(Path(name), line, found), 0);
        return found;
    }
    void Flush() {
        std::vector<FlushFailure> failures;
        files.Flush(failures);
        EXPECT_TRUE(failures.empty());
    }

    tallix::testing::IsolatedEnvironment env;
    tallix::testing::ScriptedUi ui;
    FileWatch watch;
    OutputFiles files{watch};
};

// Lines of one file keep their order across batches, whichever other files are written
// between them, and a batch larger than a page goes out whole.
TEST_P(OutputBatch, LinesKeepTheirOrderAcrossBatchesAndFiles) {
    std::string a, b;
    for (int i = 0; i < 3000; ++i) {
        const std::string line = "line " + std::to_string(i) + std::string(i % 97, 'x');
        ASSERT_EQ(files.Append(Path(i % 3 ? "a.csv" : "b.csv"), line), 0);
        (i % 3 ? a : b) += line + "\r\n";
        if (i % 1000 == 999) Flush();
    }
    Flush();
    EXPECT_EQ(Out("a.csv"), a);
    EXPECT_EQ(Out("b.csv"), b);
}

// The duplicate check sees the lines of the batch not yet written and the lines another
// program appended meanwhile; ours then follow theirs.
TEST_P(OutputBatch, DuplicateCheckSeesTheBatchAndAnotherProgramsLines) {
    EXPECT_FALSE(Holds("t.csv", "one"));
    ASSERT_EQ(files.Append(Path("t.csv"), "one"), 0);
    EXPECT_TRUE(Holds("t.csv", "one"));
    EXPECT_EQ(Out("t.csv"), "");  // still gathered
    AppendByOther("t.csv", "theirs\r\n");
    watch.Poll();  // as the run does before each message
    EXPECT_TRUE(Holds("t.csv", "theirs"));
    EXPECT_TRUE(Holds("t.csv", "one"));
    ASSERT_EQ(files.Append(Path("t.csv"), "two"), 0);
    EXPECT_TRUE(Holds("t.csv", "two"));
    EXPECT_FALSE(Holds("t.csv", "three"));
    Flush();
    EXPECT_EQ(Out("t.csv"), "theirs\r\none\r\ntwo\r\n");
    EXPECT_TRUE(Holds("t.csv", "two"));
}

// Lines another program appends under another name of the file (the target of a symbolic
// link, a second hard link) are not reported through the watched path, and are seen all the same.
TEST_P(OutputBatch, DuplicateCheckSeesLinesWrittenUnderAnotherNameOfTheFile) {
    std::filesystem::create_directory(Path("real"));
    WriteFileBytes(Path("real/linked.csv"), "");
    std::filesystem::create_symlink(Path("real/linked.csv"), Path("linked.csv"));
    WriteFileBytes(Path("twice.csv"), "");
    std::filesystem::create_hard_link(Path("twice.csv"), Path("real/twice.csv"));
    for (const std::string name : {"linked.csv", "twice.csv", "later.csv"}) {
        ASSERT_EQ(files.Append(Path(name), "ours"), 0);
        Flush();
        EXPECT_FALSE(Holds(name, "theirs"));
        // A link made while the run has the file open.
        if (name == "later.csv")
            std::filesystem::create_hard_link(Path(name), Path("real/" + name));
        watch.Poll();
        EXPECT_FALSE(Holds(name, "theirs"));
        AppendByOther("real/" + name, "theirs\r\n");
        watch.Poll();
        EXPECT_TRUE(Holds(name, "theirs")) << name;
    }
}

// A file removed or renamed before its batch is written gets nothing more: the batch goes to
// a file made anew at the path.
TEST_P(OutputBatch, RemovedOrRenamedFileGetsNoLineOfTheBatch) {
    ASSERT_EQ(files.Append(Path("a.csv"), "first"), 0);
    ASSERT_EQ(files.Append(Path("b.csv"), "first"), 0);
    Flush();
    ASSERT_EQ(files.Append(Path("a.csv"), "second"), 0);
    ASSERT_EQ(files.Append(Path("b.csv"), "second"), 0);
    std::filesystem::remove(Path("a.csv"));
    std::filesystem::rename(Path("b.csv"), Path("b-old.csv"));
    Flush();
    EXPECT_EQ(Out("a.csv"), "second\r\n");
    EXPECT_EQ(Out("b-old.csv"), "first\r\n");
    EXPECT_EQ(Out("b.csv"), "second\r\n");
}

// A batch is written once its first line has waited the batch interval, and whatever is
// gathered when the collection goes is written then.
TEST_P(OutputBatch, BatchIsWrittenWhenDueAndAtTheEnd) {
    std::vector<FlushFailure> failures;
    {
        OutputFiles own{watch};
        ASSERT_EQ(own.Append(Path("t.csv"), "one"), 0);
        std::this_thread::sleep_for(kBatchInterval + std::chrono::milliseconds(50));
        own.FlushIfDue(failures);
        EXPECT_EQ(Out("t.csv"), "one\r\n");
        ASSERT_EQ(own.Append(Path("t.csv"), "two"), 0);
    }
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(Out("t.csv"), "one\r\ntwo\r\n");
}

// While a child process works (a conversion of seconds), the waiting thread writes a batch
// that falls due; the child, which sees the file, says whether the line was there in time.
// Output written by the parent is never the child's to write.
TEST_P(OutputBatch, BatchFallingDueWhileAChildProcessWorksIsWritten) {
    const script::WhileChildRuns writing([&] {
        std::vector<FlushFailure> failures;
        files.FlushIfDue(failures);
    });
    ASSERT_EQ(files.Append(Path("t.csv"), "one"), 0);
    const script::ChildOutcome outcome = script::RunInChildProcess(
        [&] {
            for (int i = 0; i < 100 && Out("t.csv").empty(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            return Out("t.csv");
        },
        std::chrono::seconds(5));
    ASSERT_EQ(outcome.ending, script::ChildEnding::Finished);
    EXPECT_EQ(outcome.result, "one\r\n");
    EXPECT_EQ(Out("t.csv"), "one\r\n");
}

// One file named by two paths keeps the order of the lines given under either.
TEST_P(OutputBatch, TwoPathsOfOneFileKeepTheOrder) {
    std::filesystem::create_directories(Path("sub"));
    ASSERT_EQ(files.Append(Path("t.csv"), "one"), 0);
    ASSERT_EQ(files.Append(Path("sub/../t.csv"), "two"), 0);
    ASSERT_EQ(files.Append(Path("t.csv"), "three"), 0);
    EXPECT_TRUE(Holds("sub/../t.csv", "three"));
    Flush();
    EXPECT_EQ(Out("t.csv"), "one\r\ntwo\r\nthree\r\n");
}

// The header row goes before the first line of a file that is empty when the batch is
// written, also when the file was made again since the batch began.
TEST_P(OutputBatch, PreambleStartsAFileMadeAgain) {
    const LineForm form{"\r\n", LineSplit::CsvRecords, "Name\r\n"};
    ASSERT_EQ(files.Append(Path("t.csv"), "one", form), 0);
    Flush();
    ASSERT_EQ(files.Append(Path("t.csv"), "two", form), 0);
    std::filesystem::remove(Path("t.csv"));
    Flush();
    EXPECT_EQ(Out("t.csv"), "Name\r\ntwo\r\n");
}

INSTANTIATE_TEST_SUITE_P(WatchedAndChecked, OutputBatch, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Watched" : "StatChecked"; });

}  // namespace
}  // namespace tallix::engine
