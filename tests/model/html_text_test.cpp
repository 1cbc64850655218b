#include "model/html_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "model/message.h"
#include "settings/text_functions.h"
#include "tests/support/literal_html.h"

namespace tallix {
namespace {

using testing::LiteralReplace;
using testing::LiteralStrip;

std::string Clean(std::string_view body) {
    txMessage m;
    m.SetBody(body);
    return m.Body();
}

TEST(HtmlCodes, TableHoldsTheNamesInOrder) {
    const auto& table = HtmlCodeTable();
    ASSERT_EQ(table.size(), 107u);
    EXPECT_EQ(table.front(), "ABBREV");
    EXPECT_EQ(table[7], "B");
    EXPECT_EQ(table[77], "phrase");
    EXPECT_EQ(table.back(), "XMP");
    for (std::size_t i = 0; i < table.size(); ++i) {
        for (std::size_t j = i + 1; j < table.size(); ++j) EXPECT_NE(table[i], table[j]);
    }
    EXPECT_EQ(table[35], "FN");  // the table's own order, not alphabetical
    EXPECT_EQ(table[36], "FIG");
    EXPECT_EQ(&txMessage().HtmlCodes(), &table);
}

TEST(HtmlCodes, BodyAssignmentCleansTagsAndEntities) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"<B><I>x</I></B>", "x"},
        {"<A HREF=x>link</A>", "<A HREF=x>link</A>"},
        {"<!-- note -->text", "<!-- note -->text"},
        {"price < b and c > d", "price  d"},
        {"<abbrev>x</abbrev>", "x"},
        {"line<BR>break", "linebreak"},
        {"<  b>bold</ b>", "bold</ b>"},  // blanks go before the "/", not after it
        {"< / b>x", "< / b>x"},
        {"<SCRIPT>x</script><STYLE>", "x"},  // one-letter names recognise longer tags
        {"<h1>T</H1><h7>", "T<h7>"},
        {"<phrase>p</PHRASE>", "p"},
        {"<>x</>", "<>x</>"},
        {"<b><b><i>", ""},
        {"a<b", "a<b"},
        {"ends with <", "ends with <"},
        {"<<b>>", "<<b>>"},      // the span from the first "<" is not a tag
        {"<x <b>y", "<x <b>y"},  // the search goes on after the ">"
        {"<x>y<b>z", "<x>yz"},
        {"a&quot;b&quot;", "a\";b\";"},
        {"a&nbsp;b", "a ;b"},
        {"&QUOT;x&Quot;", "\";x\";"},
        {"x&NbSp", "x "},
        {"x&nbspy", "x y"},
        {"&amp;&lt;", "&amp;&lt;"},
        {"&&quotquot", "&\"quot"},
        {"&<b>quot", "\""},
        {"     ", "     "},
        {"", ""},
        {"\r\n<p>\r\n", "\r\n\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(Clean(c.in), c.out);
        EXPECT_EQ(LiteralStrip(c.in), c.out);
    }
}

// Random bodies built from the pieces that make the loops branch: tag names, blanks,
// slashes, brackets, entities in any case, and plain text.
std::string RandomBody(std::mt19937& rng, std::size_t pieces) {
    static const std::vector<std::string> kPieces = {
        "<",     ">",      "/",          " ",  "  ",  "&",   "quot", "QuOt", "nbsp", "NBSP",
        "&quot", "&nbsp",  ";",          "b",  "B",   "a",   "i",    "x",    "br",   "table",
        "TaBlE", "phrase", "h1",         "h9", "!--", "-->", "\r\n", "text", "<b>",  "</b>",
        "< b",   "</ i>",  "<a href=x>", "<<", ">>",  "&&",  "q"};
    std::uniform_int_distribution<std::size_t> pick(0, kPieces.size() - 1);
    std::string s;
    for (std::size_t i = 0; i < pieces; ++i) s += kPieces[pick(rng)];
    return s;
}

TEST(HtmlCodes, OnePassMatchesTheLiteralLoops) {
    std::mt19937 rng(20240601);
    std::uniform_int_distribution<std::size_t> length(0, 60);
    for (int i = 0; i < 5000; ++i) {
        const std::string body = RandomBody(rng, length(rng));
        ASSERT_EQ(StripHtml(body), LiteralStrip(body)) << body;
        ASSERT_EQ(ReplaceHtmlEntities(body), LiteralReplace(body)) << body;
    }
}

TEST(HtmlCodes, OnePassMatchesTheLiteralLoopsOnAdversarialBodies) {
    auto repeat = [](const std::string& s, int n) {
        std::string out;
        for (int i = 0; i < n; ++i) out += s;
        return out;
    };
    const std::vector<std::string> bodies = {
        repeat("&quot", 3000),
        repeat("&NBSP;", 3000),
        repeat("&&quot", 2000) + repeat("quot", 100),
        repeat("<b>", 3000),
        repeat("</ B  >", 2000),
        repeat("<", 5000),
        repeat("<", 5000) + ">",
        repeat("<", 3000) + "b>",
        repeat("< ", 3000) + "b>" + repeat(">", 100),
        repeat("<x>", 3000) + "<",
        repeat("<b", 3000) + ">",
        repeat("<a>&quot", 2000),
        repeat("<<b>>&nbsp", 2000),
    };
    for (const std::string& body : bodies) {
        SCOPED_TRACE(body.substr(0, 40));
        EXPECT_EQ(StripHtml(body), LiteralStrip(body));
        EXPECT_EQ(ReplaceHtmlEntities(body), LiteralReplace(body));
    }
}

TEST(HtmlShownText, GivesTheTextADocumentShows) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"<p>Code: <b>H-14</b></p>", "Code: H-14"},
        {"<html><head><title>T</title><style>p{}</style></head><body>a<br>b<BR/>c</body></html>",
         "a\nb\nc"},
        {"<script>var x = '<p>';</script>x &amp; y &lt;z&gt; &#65;&#x42; &nbsp;!",
         "x & y <z> AB  !"},  // a non-breaking space does not collapse,
        {"one\n   two\t three", "one two three"},
        {"<div>a</div><div>b</div>", "a\nb"},
        {"<!-- <p>hidden</p> -->shown", "shown"},
        {"&unknown; &amp", "&unknown; &amp"},
        {"&#1114112; &#0;", "\xef\xbf\xbd \xef\xbf\xbd"},
        {"text <unfinished", "text"},
        {"<style>never closed", ""},
        {"", ""},
    };
    for (const auto& [html, text] : cases) EXPECT_EQ(HtmlShownText(html), text) << html;
}

// The record's body, an HTML attachment and the local store's HTML-only message are read by
// different rules; one input shows each rule where it differs from the others.
TEST(HtmlText, TheThreeFormsKeepTheirOwnRules) {
    const std::string html = "<p>a &amp; b</p><a href=\"x\">link</a>&nbsp;x";
    // Only tags of the table go (A is not in it); "&nbsp" loses its five bytes, not the ";".
    EXPECT_EQ(StripHtml(html), "a &amp; b<a href=\"x\">link</a> ;x");
    // Every tag goes; only "&nbsp;" is an entity.
    EXPECT_EQ(StripAllTags(html), "a &amp; blink x");
    // A block's end is a line end and every known entity is decoded.
    EXPECT_EQ(HtmlShownText(html), "a & b\nlink x");
}

TEST(HtmlText, StripAllTagsReportsProgressWhileRemovingTags) {
    int calls = 0;
    const auto count = [&] { ++calls; };
    EXPECT_EQ(StripAllTags("no tags &nbsp;", count), "no tags  ");
    EXPECT_EQ(calls, 0) << "nothing removed, nothing to report";

    std::string many;
    for (std::size_t i = 0; i < 2 * kTagsPerProgress + 88; ++i) many += "<b>x";
    EXPECT_EQ(StripAllTags(many, count), std::string(2 * kTagsPerProgress + 88, 'x'));
    EXPECT_EQ(calls, 3) << "after each full round of tags, and once at the end";
}

}  // namespace
}  // namespace tallix
