#include "model/file_bytes.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "tests/support/test_env.h"

namespace tallix {
namespace {

using testing::TempDir;
using testing::WriteFileBytes;

// Whole-file reading at the sizes where the reader's buffer handling changes: empty, one
// byte, bytes with NULs, and sizes around and well past the first buffer.
TEST(FileBytes, RegularFilesAreReadWholeAtEverySize) {
    TempDir dir;
    for (std::size_t size : {0u, 1u, 2u, 4095u, 4096u, 65535u, 65536u, 65537u, 300000u}) {
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
        const std::string path = dir.File("f" + std::to_string(size));
        WriteFileBytes(path, bytes);
        std::string read = "left over";
        ASSERT_EQ(ReadRegularFile(path, read), 0) << size;
        EXPECT_EQ(read, bytes) << size;
    }
}

TEST(FileBytes, AnythingButARegularFileIsRefused) {
    TempDir dir;
    std::string out;
    EXPECT_EQ(ReadRegularFile(dir.File("missing"), out), ENOENT);
    EXPECT_EQ(ReadRegularFile(dir.path(), out), EISDIR);
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(ReadRegularFile(fifo, out), EINVAL);  // without a writer, and without hanging
}

// The pieces land in order in a new file; an existing file or link at the name is left alone.
TEST(FileBytes, NewFileGetsItsPiecesInOrderAndNeverOverwrites) {
    TempDir dir;
    const std::string path = dir.File("new");
    ASSERT_EQ(WriteNewFile(path, {"head\r\n", "", std::string(70000, 'x'), "\r\n"}), 0);
    std::string read;
    ASSERT_EQ(ReadRegularFile(path, read), 0);
    EXPECT_EQ(read, "head\r\n" + std::string(70000, 'x') + "\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    EXPECT_EQ(WriteNewFile(path, {"other"}), EEXIST);
    ASSERT_EQ(ReadRegularFile(path, read), 0);
    EXPECT_EQ(read.substr(0, 6), "head\r\n");
    const std::string target = dir.File("target");
    WriteFileBytes(target, "kept");
    const std::string link = dir.File("link");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    EXPECT_EQ(WriteNewFile(link, {"through the link"}), EEXIST);
    ASSERT_EQ(ReadRegularFile(target, read), 0);
    EXPECT_EQ(read, "kept");
}

}  // namespace
}  // namespace tallix
