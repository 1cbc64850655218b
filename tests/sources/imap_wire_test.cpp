#include "sources/imap_wire.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tallix::sources {
namespace {

TEST(ImapNames, FolderNamesGoAsModifiedUtf7AndComeBack) {
    struct Case {
        std::string utf8, sent;
    };
    const std::vector<Case> cases = {
        {"INBOX", "\"INBOX\""},
        {"Auftr\xc3\xa4ge", "\"Auftr&AOQ-ge\""},
        {"Tom & Jerry", "\"Tom &- Jerry\""},
        {"~peter/mail/\xe5\x8f\xb0\xe5\x8c\x97/\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e",
         "\"~peter/mail/&U,BTFw-/&ZeVnLIqe-\""},
        {"say \"hi\"\\", "\"say \\\"hi\\\"\\\\\""},
        {"\xf0\x9f\x93\xa6 parcels", "\"&2D3c5g- parcels\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ImapMailboxArgument(c.utf8), c.sent) << c.utf8;
        // What a LIST answer gives back (the name unquoted) decodes to the name.
        std::string unquoted;
        for (std::size_t i = 1; i + 1 < c.sent.size(); ++i) {
            if (c.sent[i] == '\\') ++i;
            unquoted += c.sent[i];
        }
        EXPECT_EQ(DecodeModifiedUtf7(unquoted), c.utf8) << c.sent;
    }
    EXPECT_EQ(ImapMailboxArgument("two\r\nlines"), std::nullopt);
    EXPECT_EQ(DecodeModifiedUtf7("&broken"), "&broken");
}

TEST(ImapNames, LoginTextsAreQuotedWhereTheyCanBeAndLiteralsWhereNot) {
    EXPECT_EQ(ImapQuoted("ann"), "\"ann\"");
    EXPECT_EQ(ImapQuoted("p\"w\\"), "\"p\\\"w\\\\\"");
    EXPECT_EQ(ImapQuoted("gr\xc3\xbc\xc3\x9f"), std::nullopt);
    EXPECT_EQ(ImapQuoted("a\r\nb"), std::nullopt);

    using Pieces = std::vector<std::string>;
    const std::string utf8 = "gr\xc3\xbc\xc3\x9f";  // six bytes
    EXPECT_EQ(ImapLoginPieces("ann", "secret", false), (Pieces{"LOGIN \"ann\" \"secret\""}));
    // A synchronising literal waits for the server's "+" before its bytes go.
    EXPECT_EQ(ImapLoginPieces("ann", utf8, false), (Pieces{"LOGIN \"ann\" {6}", utf8}));
    EXPECT_EQ(ImapLoginPieces(utf8, utf8, false), (Pieces{"LOGIN {6}", utf8 + " {6}", utf8}));
    EXPECT_EQ(ImapLoginPieces(utf8, "pw", true), (Pieces{"LOGIN {6+}\r\n" + utf8 + " \"pw\""}));
    EXPECT_EQ(ImapLoginPieces("ann", "a\r\nb", true), std::nullopt);
    EXPECT_EQ(ImapLoginPieces("ann", std::string("a\0b", 3), false), std::nullopt);
}

TEST(ImapTokens, FetchItemsWithLiteralsListsAndBrackets) {
    ImapResponse response;
    response.text = "* 3 FETCH (FLAGS (\\Seen \\Deleted) BODY[] {5} UID 7 X \"a \\\"q\\\"\" Y NIL)";
    response.literals = {"hello"};
    ImapTokens tokens(response);
    std::vector<std::string> seen;
    for (ImapToken t = tokens.Next(); t.kind != ImapToken::End; t = tokens.Next()) {
        switch (t.kind) {
            case ImapToken::Open:
                seen.push_back("(");
                break;
            case ImapToken::Close:
                seen.push_back(")");
                break;
            case ImapToken::Literal:
                seen.push_back("literal:" + response.literals[t.literal]);
                break;
            case ImapToken::String:
                seen.push_back("string:" + t.text);
                break;
            case ImapToken::Nil:
                seen.push_back("NIL");
                break;
            default:
                seen.push_back(t.text);
        }
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"*", "3", "FETCH", "(", "FLAGS", "(", "\\Seen",
                                              "\\Deleted", ")", "BODY[]", "literal:hello", "UID",
                                              "7", "X", "string:a \"q\"", "Y", "NIL", ")"}));
    // A marker without a literal behind it (a lying response) is an atom, not a read past the
    // literals.
    ImapResponse lying;
    lying.text = "* 1 FETCH (BODY[] {99})";
    ImapTokens more(lying);
    for (int i = 0; i < 5; ++i) more.Next();
    EXPECT_EQ(more.Next().text, "{99}");
}

}  // namespace
}  // namespace tallix::sources
