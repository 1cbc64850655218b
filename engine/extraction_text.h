#pragma once
// The text routines of variable extraction and of the output line: where a variable's value
// starts and stops in a field, word boundaries, line-break trimming, quote changes, the
// clean-up of HTML attachment text, and the two filters of the output line.
// Positions are 1-based byte positions; 0 means "not found".

#include <cstddef>
#include <string>
#include <string_view>

// The CSV and JSON writers of the output line (CsvField, JsonString, GuardFormula) are the
// model's, shared with the template editor's sample line.
#include "model/line_format.h"

namespace tallix::engine {

// The position just after the first acceptable occurrence of `start` in `text`; 1 for an
// empty (blank) start string or "{Beginning of Field}". With `wholeWord` other than exactly
// "0" an occurrence must stand as a whole word.
std::size_t FindStartPos(std::string_view start, std::string_view text, std::string_view wholeWord);
// Where the value that begins at `startPos` ends: the stop string's position, the next line
// break for "{End of Line}", the text's length + 1 for an empty stop or "{End of Field}";
// 0 when the stop string does not occur.
std::size_t FindStopPos(std::string_view stop, std::string_view text, std::size_t startPos);

// What a start or stop string stands for: a place (a blank string and the markers) or a text
// to find. Read once per variable, it spares every search the comparison with the markers.
enum class SearchMark { Text, FieldStart, LineEnd, FieldEnd };
SearchMark StartMark(std::string_view start);  // FieldStart or Text
SearchMark StopMark(std::string_view stop);    // FieldEnd, LineEnd or Text
// FindStartPos and FindStopPos with the string's mark read beforehand.
std::size_t FindStartPos(SearchMark mark, std::string_view start, std::string_view text,
                         std::string_view wholeWord);
std::size_t FindStopPos(SearchMark mark, std::string_view stop, std::string_view text,
                        std::size_t startPos);
// The match at `position` of `length` characters is bounded by blanks, CR or LF (or the
// text's ends). Position 0 is never a whole word.
bool IsWholeWord(std::size_t position, std::size_t length, std::string_view text);
// A word boundary: CR or LF, or a blank when `position` is above 0.
bool IsMagicChar(char c, std::size_t position);
bool IsLineBreak(char c);
// Blanks trimmed at both ends, then CR, LF and tab removed from the front and the back.
std::string TrimLineBreaks(std::string_view text);
// Every double quote becomes an apostrophe.
std::string ChangeQuotes(std::string_view text);
// Tags ("<" up to the next ">") removed while a tag is complete, then every "&nbsp;" (any
// case) turned into one blank.
void errStripHtml(std::string& text);
// The date part of a date text: the trimmed text up to its first blank.
std::string DatePart(std::string_view dateText);

// CR and LF become one blank (a CR LF, LF CR, CR CR or LF LF pair counts once); no blank is
// added after a blank.
std::string StripLF(std::string_view text);
// Blanks trimmed at both ends and runs of blanks reduced to one; CR, LF and tab are kept and
// neither end nor start a run.
std::string StripExtras(std::string_view text);
// The delimiter for "COMMA", "SPACE", "TAB" and "SEMICOLON"; `current` for anything else.
std::string DelimiterFor(std::string_view outputDeliminator, std::string_view current);

// A date as YYYY-MM-DD and a time of day as HH:MM:SS (24-hour).
std::string IsoDate(double dateValue);
std::string IsoTime(double dateValue);

}  // namespace tallix::engine
