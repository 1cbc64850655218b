#include "settings/text_functions.h"

#include <gtest/gtest.h>

#include "tests/support/run_time_errors.h"

namespace tallix {
namespace {

using testing::ErrorNumberOf;

TEST(TextFunctions, InStrPositionsAndEdgeCases) {
    EXPECT_EQ(InStr(4, "XXpXXpXXPXXP", "P", Compare::Text), 6u);
    EXPECT_EQ(InStr(1, "XXpXXpXXPXXP", "P", Compare::Binary), 9u);
    EXPECT_EQ(InStr(1, "XXpXXpXXPXXP", "W"), 0u);
    EXPECT_EQ(InStr(1, "abcABC", "aB", Compare::Text), 1u);
    EXPECT_EQ(InStr(2, "abcABC", "aB", Compare::Text), 4u);
    EXPECT_EQ(InStr(1, "abcABC", "aB", Compare::Binary), 0u);
    EXPECT_EQ(InStr(3, "abcdefgh", "FG", Compare::Text), 6u);
    EXPECT_EQ(InStr(4, "abcdef", ""), 4u);
    EXPECT_EQ(InStr(20, "abcdef", ""), 0u);
    EXPECT_EQ(InStr(4, "", ""), 0u);
    EXPECT_EQ(InStr(3, "abcd", "bc"), 0u);
    EXPECT_EQ(ErrorNumberOf([] { InStr(0, "abcd", "abcd"); }), 5);
    EXPECT_EQ(InStrLast("a.b.c", "."), 4u);
}

TEST(TextFunctions, MidLeftRight) {
    EXPECT_EQ(Mid("test", 2, 2), "es");
    EXPECT_EQ(Mid("test", 2, 4), "est");
    EXPECT_EQ(Mid("test", 5, 2), "");
    EXPECT_EQ(Mid("test", 4), "t");
    EXPECT_EQ(Mid("test", 1, 0), "");
    EXPECT_EQ(ErrorNumberOf([] { Mid("test", 0, 1); }), 5);
    EXPECT_EQ(Left("test", 5), "test");
    EXPECT_EQ(Left("test", 0), "");
    EXPECT_EQ(Right("test", 2), "st");
    EXPECT_EQ(Right("test", 5), "test");
}

TEST(TextFunctions, TrimTouchesSpacesOnlyAndCaseTouchesAsciiOnly) {
    EXPECT_EQ(Trim("   test    "), "test");
    EXPECT_EQ(LTrim("   test    "), "test    ");
    EXPECT_EQ(RTrim("   test    "), "   test");
    EXPECT_EQ(Trim("\tValue\t"), "\tValue\t");
    EXPECT_EQ(UCase("123aBC?"), "123ABC?");
    EXPECT_EQ(UCase("grüße"), "GRüßE");
    EXPECT_EQ(LCase("ÄBC"), "Äbc");
    EXPECT_TRUE(EqualsNoCase("Orders.TXF", "orders.txf"));
}

TEST(TextFunctions, SplitJoinReplace) {
    using V = std::vector<std::string>;
    EXPECT_EQ(Split("abc--def", "-"), (V{"abc", "", "def"}));
    EXPECT_EQ(Split("abc def", ""), (V{"abc def"}));
    EXPECT_EQ(Split("12345", "5"), (V{"1234", ""}));
    EXPECT_EQ(Split("abcdefghi", "def"), (V{"abc", "ghi"}));
    EXPECT_TRUE(Split("", "-").empty());
    EXPECT_EQ(Join({"a", "b"}, ""), "ab");
    EXPECT_EQ(Join({"a", "b"}, " "), "a b");
    EXPECT_EQ(ReplaceAll("aaa", "a", "aa"), "aaaaaa");
    EXPECT_EQ(ReplaceAll("x&quot;y&quot;", "&quot;", "\""), "x\"y\"");
}

}  // namespace
}  // namespace tallix

namespace tallix {
namespace {

// Searches without regard to case upper-case the text and cut values out of the original at
// the same byte positions: letters beyond ASCII fold, and no byte position moves.
TEST(TextFunctions, UpperCaseTextFoldsLettersBeyondAsciiAndKeepsPositions) {
    struct Case {
        std::string text, upper;
    };
    const std::vector<Case> cases = {
        {"M\xc3\xbcller", "M\xc3\x9cLLER"},                        // u umlaut
        {"\xc3\xa9t\xc3\xa9", "\xc3\x89T\xc3\x89"},                // e acute
        {"\xd0\xbc\xd0\xb8\xd1\x80", "\xd0\x9c\xd0\x98\xd0\xa0"},  // Cyrillic
        {"\xce\xb1\xce\xb2\xcf\x89", "\xce\x91\xce\x92\xce\xa9"},  // Greek
        {"\xc5\x82\xc3\xb3"
         "d\xc5\xba",
         "\xc5\x81\xc3\x93"
         "D\xc5\xb9"},                     // Polish
        {"\xef\xbd\x81", "\xef\xbc\xa1"},  // fullwidth a
        // Upper forms of another length stay as they are: sharp s, dotless i, long s.
        {"stra\xc3\x9f"
         "e \xc4\xb1 \xc5\xbf",
         "STRA\xc3\x9f"
         "E \xc4\xb1 \xc5\xbf"},
        // Bytes that are not UTF-8 stay, and the text after them still folds.
        {"\xfc\xc3 \xc3\xbc", "\xfc\xc3 \xc3\x9c"},
        {"\xe3\x81\x82 kana", "\xe3\x81\x82 KANA"},
        // Long runs of ASCII and of bytes that start no character (a binary attachment) are
        // passed over without losing a letter after them.
        {"0123456789abcdef\xff\xfe\x80\xbf\xc0\xc1 plain words m\xc3\xbcller \xf0\x9f\x98\x80 "
         "\xe1\xba\xa1\xc3",
         "0123456789ABCDEF\xff\xfe\x80\xbf\xc0\xc1 PLAIN WORDS M\xc3\x9cLLER \xf0\x9f\x98\x80 "
         "\xe1\xba\xa0\xc3"},
    };
    for (const Case& c : cases) {
        const std::string upper = UpperCaseText(c.text);
        EXPECT_EQ(upper, c.upper) << c.text;
        EXPECT_EQ(upper.size(), c.text.size()) << c.text;
    }
    EXPECT_EQ(UpperCaseText("plain ascii 123"), UCase("plain ascii 123"));
}

}  // namespace
}  // namespace tallix
