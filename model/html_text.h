#pragma once
// Text from HTML, in the three forms the system needs:
//
// - StripHtml: the message record's body clean-up. Only the tags whose name the tag table
//   recognises are cut out, and "&quot" and "&nbsp" (without their ";") are replaced.
// - StripAllTags: the clean-up of an HTML attachment's text before variables are searched in
//   it. Every complete tag is cut out and "&nbsp;" becomes a blank; nothing else changes.
// - HtmlShownText: the text an HTML-only message shows, for the local mail store's 7-bit HTML
//   and the template wizard's message-file loader, which must give what a mail program
//   displays: no head, style, script or comments, block ends as line ends, white space
//   collapsed, every common entity and character reference decoded.
//
// The first two are literal text rules whose exact bytes the engine's output depends on; they
// share one tag scanner and one entity replacer and differ only in which tags go and which
// entities are replaced. The third reads the document the way a renderer does.
//
// The literal rules run in one left-to-right pass. They give the same bytes as removing the
// first match over and over: a removed tag is never looked at again and the search goes on
// right after it, and an inserted quote or space can never be part of a new entity.

#include <array>
#include <cstdint>
#include <functional>
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

// After this many removed tags StripAllTags calls its progress callback.
inline constexpr std::size_t kTagsPerProgress = 256;

// Every complete tag ("<" up to the next ">") removed, then every "&nbsp;" (any case) turned
// into one blank. A "<" without a ">" after it ends the removal: later tags stay. `progress`,
// when given, is called after every kTagsPerProgress removed tags and once more at the end
// when any tag was removed, so a long text can keep a window alive.
std::string StripAllTags(std::string_view text, const std::function<void()>& progress = {});

// The text an HTML document shows: no head, style, script or title, no comments, tags removed
// (a line break and the end of a block become a line end, LF), runs of white space shown as one
// blank, the common named entities and numeric character references decoded to UTF-8. An
// unfinished tag ends the text.
std::string HtmlShownText(std::string_view html);

// Every character reference (the named ones of HTML 4, "&#NNN;" and "&#xHHHH;") turned into
// its character in UTF-8, a no-break space into a blank; anything else, a "&" that starts no
// reference included, stays as it is. Tags are left alone.
std::string DecodeCharacterReferences(std::string_view text);

// Appends the UTF-8 form of `codePoint`; a value that is no character (a surrogate, beyond
// U+10FFFF) is written as U+FFFD.
void AppendUtf8(std::string& out, std::uint32_t codePoint);

}  // namespace tallix
