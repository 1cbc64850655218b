#include "engine/extraction_text.h"

#include <gtest/gtest.h>

#include <random>

#include "settings/system_rules.h"
#include "settings/text_functions.h"
#include "tests/support/scripted_ui.h"

namespace tallix::engine {
namespace {

// The start of a value as ParseVariable takes it: the text from FindStartPos to FindStopPos.
std::string Cut(std::string_view text, std::string_view start, std::string_view stop,
                std::string_view wholeWord = "0") {
    std::size_t s = FindStartPos(start, text, wholeWord);
    if (s == 0) return "<none>";
    std::size_t e = FindStopPos(stop, text, s);
    if (e == 0) return "<no stop>";
    return TrimLineBreaks(text.substr(s - 1, e - s));
}

TEST(Extraction, FieldMarkersAndLineStops) {
    EXPECT_EQ(Cut("  \r\n\tHello world\t\r\n ", "{Beginning of Field}", "{End of Field}"),
              "Hello world");
    EXPECT_EQ(Cut("abc", "", "   "), "abc");
    EXPECT_EQ(Cut("Re: order 5", "order", "{end of line}"), "5");
    EXPECT_EQ(Cut("Order no: 4711\r\nName: x", "Order no:", "{END OF LINE}"), "4711");
    EXPECT_EQ(Cut("Order no: 4711\nName: x", "Name:", "{END OF LINE}"), "x");
    EXPECT_EQ(FindStopPos("{END OF LINE}", "abc", 5), 5u);
    EXPECT_EQ(Cut("Total: 12 EUR", "Total:", "EUR"), "12");
    EXPECT_EQ(Cut("Total: 12", "Total:", "EUR"), "<no stop>");
    EXPECT_EQ(Cut("Total: 12", "Sum:", "EUR"), "<none>");
    // A stop right at the start position gives an empty value.
    EXPECT_EQ(FindStopPos(";", "a:;b", 3), 3u);
}

TEST(Extraction, WholeWordBoundariesAreBlankCrAndLfOnly) {
    EXPECT_EQ(Cut("Orders: 5", "Order", "{End of Field}", "1"), "<none>");
    EXPECT_EQ(Cut("Order: 5", "Order", "{End of Field}", "1"), "<none>");
    EXPECT_EQ(Cut("Order 5", "Order", "{End of Field}", "1"), "5");
    EXPECT_EQ(Cut("x\r\nOrder\r\n5", "Order", "{End of Field}", "1"), "5");
    EXPECT_EQ(Cut("\tOrder 5", "Order", "{End of Field}", "1"), "<none>");
    EXPECT_EQ(Cut("Order\t5", "Order", "{End of Field}", "1"), "<none>");
    // A later whole-word occurrence is found after a rejected one.
    EXPECT_EQ(Cut("Orders and Order 7", "Order", "{End of Field}", "1"), "7");
    // At the very end only the character before the match counts.
    EXPECT_EQ(FindStartPos("end", "the end", "1"), 8u);
    EXPECT_EQ(FindStartPos("end", "theend", "1"), 0u);
    EXPECT_FALSE(IsWholeWord(0, 3, "abc"));
    EXPECT_TRUE(IsMagicChar('\n', 0));
    EXPECT_FALSE(IsMagicChar(' ', 0));
    EXPECT_TRUE(IsMagicChar(' ', 1));
}

TEST(Extraction, TrimAndQuoteHelpers) {
    EXPECT_EQ(TrimLineBreaks(" \t a\t "), " a");
    EXPECT_EQ(TrimLineBreaks("\r\n a \r\n"), " a ");  // uncovered blanks stay
    EXPECT_EQ(TrimLineBreaks(""), "");
    EXPECT_EQ(ChangeQuotes("say \"hi\""), "say 'hi'");
    EXPECT_EQ(ChangeQuotes(""), "");
    EXPECT_EQ(DatePart(" 1/5/2024 1:30:00 PM "), "1/5/2024");
    EXPECT_EQ(DatePart("1/5/2024"), "1/5/2024");
    EXPECT_EQ(DatePart("   "), "");
}

TEST(OutputLine, StripLFAndStripExtras) {
    EXPECT_EQ(StripLF("a\r\nb\n\rc\r\rd\n\ne"), "a b c d e");
    EXPECT_EQ(StripLF("a \r\nb"), "a b");
    EXPECT_EQ(StripLF("\r\n\r\nx"), " x");
    EXPECT_EQ(StripLF("a\r\n\nb"), "a b");
    EXPECT_EQ(StripLF(""), "");
    EXPECT_EQ(StripExtras("  a   b  "), "a b");
    EXPECT_EQ(StripExtras("a, ,  c"), "a, , c");
    EXPECT_EQ(StripExtras("a \t  b"), "a \tb");
    EXPECT_EQ(StripExtras("a\r\n  b"), "a\r\n b");
    EXPECT_EQ(StripExtras("   "), "");
    EXPECT_EQ(DelimiterFor("COMMA", ";"), ",");
    EXPECT_EQ(DelimiterFor("SPACE", ","), " ");
    EXPECT_EQ(DelimiterFor("TAB", ","), "\t");
    EXPECT_EQ(DelimiterFor("comma", ","), ",");
    EXPECT_EQ(DelimiterFor("", ";"), ";");
}

// The clean-up as plain loops, to compare the fast one with: remove the first complete tag
// while there is one, then replace the first "&nbsp;" while there is one.
std::string LiteralStripHtml(std::string text) {
    while (true) {
        std::size_t lt = text.find('<');
        if (lt == std::string::npos) break;
        std::size_t gt = text.find('>', lt);
        if (gt == std::string::npos) break;
        text.erase(lt, gt - lt + 1);
    }
    while (true) {
        std::size_t at = InStr(1, text, "&nbsp;", Compare::Text);
        if (at == 0) break;
        text.replace(at - 1, 6, " ");
    }
    return text;
}

TEST(Extraction, HtmlCleanUpMatchesTheLiteralLoops) {
    testing::ScriptedUi ui;
    std::string fixed = "<p>Price&NBSP;<b>12</b>&nbsp;&nbsp;EUR</p> a < b";
    std::string s = fixed;
    errStripHtml(s);
    EXPECT_EQ(s, "Price 12  EUR a < b");
    EXPECT_EQ(s, LiteralStripHtml(fixed));

    std::mt19937 rng(7);
    const std::string pieces[] = {"<", ">", "&nbsp;", "&NbSp;", "&nbsp", "nbsp;",
                                  "&", " ", "a",      "<b>",    "\r\n"};
    for (int round = 0; round < 3000; ++round) {
        std::string in;
        int n = rng() % 40;
        for (int i = 0; i < n; ++i) in += pieces[rng() % std::size(pieces)];
        std::string out = in;
        errStripHtml(out);
        ASSERT_EQ(out, LiteralStripHtml(in)) << in;
    }
    std::string many;
    for (int i = 0; i < 5000; ++i) many += "<i>&nbsp;";
    many += "<unclosed";
    std::string out = many;
    errStripHtml(out);
    EXPECT_EQ(out, std::string(5000, ' ') + "<unclosed");
}

TEST(OutputLine, JsonStringEscapesAndReplacesBytesThatAreNotUtf8) {
    EXPECT_EQ(JsonString("a\"b\\c\r\n\t\x01\x7F"), R"("a\"b\\c\r\n\t\u0001\u007f")");
    // Well-formed sequences pass; a lone continuation byte, a truncated sequence, an overlong
    // form and a surrogate each become U+FFFD.
    EXPECT_EQ(JsonString("Gr\xC3\xBC\xC3\x9F"
                         "e \xF0\x9F\x98\x80"),
              "\"Gr\xC3\xBC\xC3\x9F"
              "e \xF0\x9F\x98\x80\"");
    EXPECT_EQ(JsonString("\x80|\xC3|\xC0\xAF|\xED\xA0\x80"),
              R"("\ufffd|\ufffd|\ufffd\ufffd|\ufffd\ufffd\ufffd")");
}

TEST(OutputLine, CsvFieldsQuoteOnlyWhatNeedsIt) {
    EXPECT_EQ(CsvField("plain", ",", false), "plain");
    EXPECT_EQ(CsvField("a,b", ",", false), "\"a,b\"");
    EXPECT_EQ(CsvField("a,b", ";", false), "a,b");
    EXPECT_EQ(CsvField("a;b", ";", false), "\"a;b\"");
    EXPECT_EQ(CsvField("say \"hi\"", ",", false), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(CsvField("two\rlines", ",", false), "\"two\rlines\"");
    EXPECT_EQ(CsvField("two\nlines", ",", false), "\"two\nlines\"");
    EXPECT_EQ(CsvField("", ",", true), "\"\"");
}

TEST(OutputLine, FormulaGuardAndSemicolonDelimiter) {
    for (const char* risky : {"=1+2", "+1", "-1", "@SUM(A1)", "\tx", "\rx"})
        EXPECT_EQ(GuardFormula(risky), std::string("'") + risky);
    EXPECT_EQ(GuardFormula("1=1"), "1=1");
    EXPECT_EQ(GuardFormula(""), "");
    EXPECT_EQ(DelimiterFor("SEMICOLON", ","), ";");
    EXPECT_EQ(DelimiterFor("semicolon", ","), ",");  // the words are exact, as the others
}

TEST(OutputLine, IsoDatesAndTimes) {
    EXPECT_EQ(IsoDate(0), "1899-12-30");
    EXPECT_EQ(IsoDate(DateSerial(1900, 3, 1)), "1900-03-01");
    EXPECT_EQ(IsoDate(DateSerial(2024, 2, 29) + 0.75), "2024-02-29");
    EXPECT_EQ(IsoDate(DateSerial(2026, 12, 31)), "2026-12-31");
    EXPECT_EQ(IsoTime(DateSerial(2026, 3, 6) + TimeSerial(14, 5, 9)), "14:05:09");
    EXPECT_EQ(IsoTime(TimeSerial(0, 0, 0)), "00:00:00");
    EXPECT_EQ(IsoTime(TimeSerial(23, 59, 59)), "23:59:59");
}

}  // namespace
}  // namespace tallix::engine
