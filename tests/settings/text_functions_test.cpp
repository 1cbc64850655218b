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
