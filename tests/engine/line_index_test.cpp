#include "engine/line_index.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
#include <set>
#include <string>

#include "engine/output_files.h"
#include "settings/text_functions.h"
#include "tests/support/test_env.h"

namespace tallix::engine {
namespace {

using tallix::testing::WriteFileBytes;

// Every line shares one hash, or the hash is the line's length: each look-up and each insert
// has to tell lines apart by reading them from the file.
std::uint64_t SameHash(std::string_view) {
    return 42;
}
std::uint64_t LengthHash(std::string_view text) {
    return text.size();
}

class LineIndexFile : public ::testing::Test {
  protected:
    void Write(const std::string& bytes) {
        if (fd >= 0) ::close(fd);
        WriteFileBytes(path, bytes);
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
    }
    void TearDown() override {
        if (fd >= 0) ::close(fd);
    }
    // The trimmed lines of `bytes` as the duplicate check has always read a whole file.
    static std::set<std::string> Reference(std::string_view bytes, LineSplit split) {
        std::set<std::string> lines;
        ForEachReadLine(
            bytes, [&](std::string_view l) { lines.insert(Trim(l)); }, split);
        return lines;
    }

    tallix::testing::IsolatedEnvironment env;
    std::string path = env.ProgramDir() + "/out.csv";
    int fd = -1;
};

// Random files of short lines over a small alphabet (so lines repeat and trim to each other),
// fed in random pieces, answer every question as the whole file read at once does, whatever
// the hash and however lines end (CR LF, LF, CSV records with quoted line breaks): a shared
// fingerprint never makes an absent line look present.
TEST_F(LineIndexFile, AnswersAsTheWholeFileReadsWhateverTheHashAndThePieces) {
    std::mt19937 random(7);
    const std::string alphabet = "ab \r\n\"";
    for (LineSplit split : {LineSplit::CrLf, LineSplit::Lf, LineSplit::CsvRecords}) {
        for (LineIndex::Hasher hash : {LineIndex::DefaultHash, SameHash, LengthHash}) {
            for (int round = 0; round < 60; ++round) {
                std::string bytes;
                const int size = static_cast<int>(random() % 120);
                for (int i = 0; i < size; ++i) bytes += alphabet[random() % alphabet.size()];
                Write(bytes);
                LineIndex index(hash);
                index.SetSplit(split);
                for (std::size_t at = 0; at < bytes.size();) {
                    const std::size_t n =
                        std::min<std::size_t>(1 + random() % 9, bytes.size() - at);
                    ASSERT_EQ(index.Feed(fd, std::string_view(bytes).substr(at, n)), 0);
                    at += n;
                }
                LineIndex whole(hash);
                whole.SetSplit(split);
                ASSERT_EQ(whole.ReadFrom(fd, bytes.size()), 0);
                const std::set<std::string> want = Reference(bytes, split);
                std::set<std::string> queries = {"",    "a",    "b",   "ab",   "ba",      "aa",
                                                 "a b", "a\nb", "\na", "b\n",  "a a",     "bb",
                                                 "\n",  "a\rb", "\"a", "\"\r", "\"a\rb\""};
                queries.insert(want.begin(), want.end());
                for (const std::string& query : queries) {
                    const bool present = want.count(query) != 0;
                    for (LineIndex* i : {&index, &whole}) {
                        bool found = !present;
                        ASSERT_EQ(i->Holds(fd, query, found), 0);
                        EXPECT_EQ(found, present)
                            << "split " << static_cast<int>(split) << " query \"" << query
                            << "\" in \"" << bytes << '"';
                    }
                }
            }
        }
    }
}

// A line too long to hash is still found, spaces around it trimmed, and only whole.
TEST_F(LineIndexFile, LinesTooLongToHashAreComparedInTheFile) {
    const std::string longText(70000, 'x');
    const std::string bytes = "first\r\n  " + longText + "  \r\nlast\r\n" + longText + "y";
    Write(bytes);
    LineIndex index(SameHash);
    ASSERT_EQ(index.ReadFrom(fd, bytes.size()), 0);
    for (const auto& [query, present] :
         std::vector<std::pair<std::string, bool>>{{longText, true},
                                                   {longText + "y", true},
                                                   {longText.substr(1), false},
                                                   {"last", true},
                                                   {"x", false}}) {
        bool found = !present;
        ASSERT_EQ(index.Holds(fd, query, found), 0);
        EXPECT_EQ(found, present) << query.size();
    }
}

}  // namespace
}  // namespace tallix::engine
