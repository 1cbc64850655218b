#include "engine/print_text.h"

#include <gtest/gtest.h>

#include <vector>

namespace tallix::engine {
namespace {

// Lines of 240 twips (six lines to the inch), pages recorded.
class RecordingPrinter final : public Printer {
  public:
    void PrintLine(const std::string& text) override {
        lines.push_back(text);
        y += 240;
    }
    double CurrentY() const override { return y; }
    void NewPage() override {
        lines.push_back("<page>");
        y = 0;
    }
    void EndDoc() override {}
    std::vector<std::string> lines;
    double y = 0;
};

TEST(PrintText, OneValuePerLineWithCrLf) {
    RecordingPrinter p;
    PrintText("Smith\r\n4711\r\n\"quoted\"\r\n", p);
    EXPECT_EQ(p.lines, (std::vector<std::string>{"Smith", "4711", "\"quoted\""}));
}

TEST(PrintText, WrapsAt78ColumnsCarryingTheWordInProgress) {
    RecordingPrinter p;
    std::string words;
    for (int i = 0; i < 20; ++i) words += "word" + std::to_string(i) + " ";
    PrintText(words + "\r\n", p);
    ASSERT_GE(p.lines.size(), 2u);
    std::string joined;
    for (const auto& l : p.lines) {
        EXPECT_LE(l.size(), 78u) << l;
        joined += l;
    }
    EXPECT_EQ(joined, words);           // nothing lost or doubled at the wraps
    EXPECT_EQ(p.lines[0].back(), ' ');  // lines break after a whole word
}

TEST(PrintText, NewPageOncePastTheBottom) {
    RecordingPrinter p;
    std::string text;
    for (int i = 0; i < 70; ++i) text += "v" + std::to_string(i) + "\r\n";
    PrintText(text, p);
    // 14700 twips hold 62 lines of 240 twips before the position passes the limit.
    ASSERT_EQ(p.lines.size(), 71u);
    EXPECT_EQ(p.lines[62], "<page>");
    EXPECT_EQ(p.lines[63], "v62");
}

TEST(PrintText, LastLineWithoutLineBreakIsPrinted) {
    RecordingPrinter p;
    PrintText("a b", p);
    EXPECT_EQ(p.lines, (std::vector<std::string>{"a b"}));
}

}  // namespace
}  // namespace tallix::engine
