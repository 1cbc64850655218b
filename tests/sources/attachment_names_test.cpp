#include "sources/attachment_names.h"

#include <gtest/gtest.h>

#include <string>

namespace tallix::sources {
namespace {

TEST(AttachmentNames, SafeBaseNameKeepsNoPathAndNoControlCharacters) {
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        {"report.pdf", "report.pdf"},
        {"../x", "x"},
        {"/etc/passwd", "passwd"},
        {"..\\..\\windows\\win.ini", "win.ini"},
        {"dir/", "attachment"},
        {"", "attachment"},
        {"   ", "attachment"},
        {"..", "attachment"},
        {".", "attachment"},
        {"a..b", "a..b"},
        {"a\tb\x01"
         "c\x7f.txt",
         "abc.txt"},
        {std::string("nul\0byte", 8), "nulbyte"},
        {"  spaced name.doc  ", "spaced name.doc"},
        {"caf\xc3\xa9.txt", "caf\xc3\xa9.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(SafeBaseName(c.in), c.out);
    }
}

TEST(AttachmentNames, LongNamesAreCutOutsideAMultiByteCharacter) {
    std::string name(kMaxAttachmentNameBytes - 1, 'a');
    name += "\xc3\xa9\xc3\xa9.txt";  // the first two-byte character straddles the limit
    EXPECT_EQ(SafeBaseName(name), std::string(kMaxAttachmentNameBytes - 4, 'a') + ".txt");
    std::string noExtension(kMaxAttachmentNameBytes - 1, 'a');
    noExtension += "\xc3\xa9\xc3\xa9";  // the first two-byte character straddles the limit
    EXPECT_EQ(SafeBaseName(noExtension), std::string(kMaxAttachmentNameBytes - 1, 'a'));
}

TEST(AttachmentNames, RepeatedNamesAreNumberedBeforeTheFirstDot) {
    std::set<std::string> taken;
    EXPECT_EQ(UniqueName("a.tar.gz", taken), "a.tar.gz");
    EXPECT_EQ(UniqueName("a.tar.gz", taken), "a-2.tar.gz");
    EXPECT_EQ(UniqueName("a.tar.gz", taken), "a-3.tar.gz");
    EXPECT_EQ(UniqueName("noext", taken), "noext");
    EXPECT_EQ(UniqueName("noext", taken), "noext-2");
    // A numbered name that a later attachment really has is not handed out twice.
    EXPECT_EQ(UniqueName("b-2.txt", taken), "b-2.txt");
    EXPECT_EQ(UniqueName("b.txt", taken), "b.txt");
    EXPECT_EQ(UniqueName("b.txt", taken), "b-3.txt");
}

}  // namespace
}  // namespace tallix::sources
