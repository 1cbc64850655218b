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
TEST(ScratchDirs, DirectoryNameCarriesTheProcessNumber) {
    const std::string& dir = ScratchDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_NE(
        fs::path(dir).filename().string().find("txscratch-" + std::to_string(::getpid()) + "-"),
        std::string::npos);
}

}  // namespace
}  // namespace tallix
