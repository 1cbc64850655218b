#include "settings/scratch_dir.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/support/test_env.h"

namespace tallix {
namespace {

namespace fs = std::filesystem;
using tallix::testing::WriteFileBytes;

// The number of a process that has ended.
pid_t EndedProcess() {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

// A killed run leaves its directory: the next one removes it, but nothing that is not a
// scratch directory of this user's ended process, and nothing a link inside points to.
TEST(ScratchDirs, OnlyDirectoriesOfThisUsersEndedProcessesAreRemoved) {
    tallix::testing::TempDir base;
    tallix::testing::TempDir outside;
    WriteFileBytes(outside.File("keep"), "kept");
    const std::string ended = "txscratch-" + std::to_string(EndedProcess());
    const std::string running = "txscratch-" + std::to_string(::getppid());

    const std::string left = base.File(ended + "-abcdef");
    fs::create_directories(left + "/scope-qwerty");
    WriteFileBytes(left + "/$$tallix.tmp", "mail");
    fs::create_symlink(outside.path(), left + "/scope-qwerty/link");
    fs::create_directories(base.File(running + "-abcdef"));
    fs::create_directories(base.File("txscratch-abcdef"));  // no process number
    fs::create_directories(base.File(ended + "-abc"));      // not a name we make
    fs::create_directory_symlink(outside.path(), base.File(ended + "-linkab"));
    WriteFileBytes(base.File(ended + "-fileab"), "");
    const bool asRoot = ::geteuid() == 0;
    if (asRoot) {
        fs::create_directories(base.File(ended + "-otherx"));
        ASSERT_EQ(::chown(base.File(ended + "-otherx").c_str(), 65534, 65534), 0);
    }

    RemoveAbandonedScratchDirs(base.path());

    EXPECT_FALSE(fs::exists(fs::symlink_status(left)));
    for (const std::string& kept : {running + "-abcdef", std::string("txscratch-abcdef"),
                                    ended + "-abc", ended + "-linkab", ended + "-fileab"})
        EXPECT_TRUE(fs::exists(fs::symlink_status(base.File(kept)))) << kept;
    if (asRoot) {
        EXPECT_TRUE(fs::exists(base.File(ended + "-otherx")));
    }
    EXPECT_TRUE(fs::exists(outside.File("keep")));
}

// The directory a process makes carries its number, so the next process can tell it is ours.
// A kept scratch file is read from memory without a file; it is written (as it was kept)
// when something needs the file, removed with its file once written, forgotten without a
// system call while it was not; new content under a written name takes the old file away, and
// past the limit every kept file is written out.
TEST(ScratchDirs, KeptFilesAreWrittenOnlyWhenNeeded) {
    ScratchScope scope;
    const std::string a = ScratchFile("$$a.csv");
    const std::string b = ScratchFile("$$b.csv");
    KeepScratchFile(a, "sku,qty\r\n");
    ASSERT_NE(KeptScratchFile(a), nullptr);
    EXPECT_EQ(*KeptScratchFile(a), "sku,qty\r\n");
    EXPECT_FALSE(fs::exists(a));

    EXPECT_EQ(WriteKeptScratchFile(a), 0);
    EXPECT_EQ(KeptScratchFile(a), nullptr);
    EXPECT_EQ(tallix::testing::ReadFileBytes(a), "sku,qty\r\n");
    KeepScratchFile(a, "new");
    EXPECT_FALSE(fs::exists(a));  // the old content is not left to be read
    EXPECT_EQ(*KeptScratchFile(a), "new");
    EXPECT_TRUE(RemoveScratchFile(a));
    EXPECT_EQ(KeptScratchFile(a), nullptr);
    EXPECT_FALSE(RemoveScratchFile(a));

    KeepScratchFile(b, "b");
    EXPECT_EQ(WriteKeptScratchFile(b), 0);
    EXPECT_TRUE(RemoveScratchFile(b));
    EXPECT_FALSE(fs::exists(b));

    KeepScratchFile(a, "small");
    KeepScratchFile(b, std::string(kMaxKeptScratchBytes, 'x'));
    EXPECT_EQ(KeptScratchBytes(), 0u);
    EXPECT_EQ(tallix::testing::ReadFileBytes(a), "small");
    EXPECT_EQ(fs::file_size(b), kMaxKeptScratchBytes);
}

TEST(ScratchDirs, DirectoryNameCarriesTheProcessNumber) {
    const std::string& dir = ScratchDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_NE(
        fs::path(dir).filename().string().find("txscratch-" + std::to_string(::getpid()) + "-"),
        std::string::npos);
}

}  // namespace
}  // namespace tallix
