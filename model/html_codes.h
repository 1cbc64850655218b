#pragma once
// The body clean-up of the message record: cutting out the HTML tags whose name the tag
// table recognises, and replacing the two entities "&quot" and "&nbsp".
//
// Both run in one left-to-right pass. They give the same bytes as removing the first match
// over and over: a removed tag is never looked at again and the search goes on right after
// it, and an inserted quote or space can never be part of a new entity.

#include <array>
#include <string>
#include <string_view>

namespace tallix {

// The recognised tag names, in table order.
inline constexpr std::size_t kHtmlCodeCount = 107;
const std::array<std::string_view, kHtmlCodeCount>& HtmlCodeTable();

// True when a tag whose text between "<" and ">" is `inner` is recognised: after the blanks
// that follow the "<" and then one "/", a table name starts (compared without regard to
// case; a name that is a prefix of the tag's name counts).
bool IsRecognisedTag(std::string_view inner);

// Every recognised tag, "<" to ">" inclusive, removed; then ReplaceHtmlEntities. A text of
// spaces only is returned unchanged.
std::string StripHtml(std::string_view body);

// "&quot" (any case) becomes a double quote and "&nbsp" a space; the ";" that may follow
// stays. A text of spaces only is returned unchanged.
std::string ReplaceHtmlEntities(std::string_view body);

}  // namespace tallix
