#include "settings/global_utils.h"

#include <gtest/gtest.h>

#include "settings/logs.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_env.h"

namespace tallix {
namespace {

using Items = std::vector<std::string>;

TEST(TemplateNames, StripExtAndJustFileName) {
    EXPECT_EQ(StripExt("Orders.TXF"), "Orders");
    EXPECT_EQ(StripExt("a.txf.bak"), "a");
    EXPECT_EQ(StripExt("notes.txt"), "notes.txt");
    EXPECT_EQ(StripExt(""), "");
    EXPECT_EQ(JustFileName("c:\\data\\t\\Orders.txf"), "Orders");
    EXPECT_EQ(JustFileName("/home/u/templates/Orders.txf"), "Orders");
    EXPECT_EQ(JustFileName("Orders"), "Orders");
    EXPECT_EQ(JustFileName("dir/"), "");
}

TEST(StripNulls, CutsAtTheFirstNulAndTrims) {
    EXPECT_EQ(StripNulls(std::string("abc\0\0\0", 6)), "abc");
    EXPECT_EQ(StripNulls(std::string("  ab\0\0cd", 8)), "ab");
    EXPECT_EQ(StripNulls(std::string("\0abc", 4)), "");
    EXPECT_EQ(StripNulls(" x "), "x");
}

TEST(ParseOutput, SplitsKeepingInnerEmptyItems) {
    EXPECT_EQ(ParseOutput("A,B,,C,", ","), (Items{"A", "B", "", "C"}));
    EXPECT_EQ(ParseOutput("A,B,,C", ","), (Items{"A", "B", "", "C"}));
    EXPECT_EQ(ParseOutput("   ", ","), (Items{""}));
    EXPECT_EQ(ParseOutput("", ","), (Items{""}));
    EXPECT_EQ(ParseOutput(",", ","), (Items{""}));
    EXPECT_EQ(ParseOutput(" A ", ","), (Items{" A "}));
    EXPECT_EQ(ParseOutput("A\tB", "\t"), (Items{"A", "B"}));
    EXPECT_EQ(ParseOutput("A,B", ""), (Items{"A,B"}));
}

TEST(FormatDate, DatesBecomeGeneralDatesOtherTextStays) {
    EXPECT_EQ(FormatDate("Jan 5 2024"), "1/5/2024");
    EXPECT_EQ(FormatDate(" 2024-01-05 13:30:00 "), "1/5/2024 1:30:00 PM");
    EXPECT_EQ(FormatDate("Order 123"), "Order 123");
    EXPECT_EQ(FormatDate("   "), "   ");
    EXPECT_EQ(FormatDate(""), "");
}

TEST(IsValidDirectory, ExistingEntriesOnly) {
    testing::TempDir dir;
    testing::WriteFileBytes(dir.File("f"), "x");
    EXPECT_TRUE(IsValidDirectory(dir.path()));
    EXPECT_TRUE(IsValidDirectory(dir.File("f")));
    EXPECT_FALSE(IsValidDirectory(dir.File("missing")));
    EXPECT_FALSE(IsValidDirectory(""));
}

TEST(SystemMsg, ShowsAndLogsNonBlankMessages) {
    testing::IsolatedEnvironment env;
    testing::ScriptedUi ui;
    SystemMsg("   ", true);
    EXPECT_TRUE(ui.boxes.empty());
    SystemMsg("Engine finished", true);
    SystemMsg("Not logged", false);
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(ui.boxes[0].text, "Engine finished");
    EXPECT_EQ(ui.boxes[0].icon, MsgIcon::None);
    std::string log = env.ReadProgramFile(std::string(kSystemLog));
    EXPECT_NE(log.find("Engine finished\r\n"), std::string::npos);
    EXPECT_EQ(log.find("Not logged"), std::string::npos);
}

}  // namespace
}  // namespace tallix
