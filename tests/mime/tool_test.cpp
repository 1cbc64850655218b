// The qrmime command-line tool, run as a program.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <set>

#include "mime_test_util.h"

namespace {

namespace fs = std::filesystem;
using mime_test::TempDir;

int RunTool(const std::string& arguments) {
    std::string command = std::string("'") + QRMIME_TOOL + "' " + arguments + " >/dev/null 2>&1";
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::set<std::string> Listing(const std::string& directory) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory))
        names.insert(entry.path().filename().string());
    return names;
}

TEST(QrmimeTool, HostileNamesStayInsideTheDestinationDirectory) {
    TempDir root;
    std::string out = root.File("a/b/out");
    fs::create_directories(out);
    ASSERT_EQ(RunTool("decode '" + mime_test::DataFile("hostile_names.eml") + "' '" + out + "'"),
              0);
    EXPECT_EQ(Listing(out),
              (std::set<std::string>{"escape.txt", "absolute.txt", "windows.txt", "attachment",
                                     "bell.txt", "same.txt", "same-2.txt"}));
    EXPECT_EQ(Listing(root.File("a")), std::set<std::string>{"b"});
    EXPECT_EQ(Listing(root.File("a/b")), std::set<std::string>{"out"});
    EXPECT_FALSE(fs::exists("/tmp/absolute.txt") &&
                 mime_test::ReadFileBytes("/tmp/absolute.txt") == "absolute path");
    EXPECT_EQ(mime_test::ReadFileBytes(out + "/escape.txt"), "climbing out");
    EXPECT_EQ(mime_test::ReadFileBytes(out + "/same-2.txt"), "second same");
}

TEST(QrmimeTool, EncodeThenDecodeGivesTheFileBack) {
    TempDir dir;
    std::string data = mime_test::RandomBytes(10000, 77);
    mime_test::WriteFileBytes(dir.File("photo.jpg"), data);
    ASSERT_EQ(RunTool("encode '" + dir.File("photo.jpg") + "' '" + dir.File("photo.mime") +
                      "' image/jpeg"),
              0);
    std::string encoded = mime_test::ReadFileBytes(dir.File("photo.mime"));
    EXPECT_EQ(encoded.rfind("Content-Type: image/jpeg; name=\"photo.jpg\"\r\n", 0), 0u);
    fs::create_directory(dir.File("back"));
    ASSERT_EQ(RunTool("decode '" + dir.File("photo.mime") + "' '" + dir.File("back") + "'"), 0);
    EXPECT_EQ(mime_test::ReadFileBytes(dir.File("back/photo.jpg")), data);
}

TEST(QrmimeTool, FailuresGiveAnErrorStatus) {
    TempDir dir;
    mime_test::WriteFileBytes(dir.File("plain.txt"), "no mime at all\r\n");
    EXPECT_EQ(RunTool("decode '" + dir.File("plain.txt") + "' '" + dir.path() + "'"), 1);
    EXPECT_EQ(RunTool("encode '" + dir.File("missing") + "' '" + dir.File("x") + "'"), 1);
    EXPECT_EQ(RunTool("bogus"), 2);
    EXPECT_EQ(RunTool("parts '" + mime_test::DataFile("mixed_encodings.eml") + "'"), 0);
}

}  // namespace
