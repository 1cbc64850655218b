#pragma once
// The string functions the system's text rules are written in (Left, Mid, InStr, Trim...).
// Positions are 1-based byte positions; case folding touches ASCII letters only, so UTF-8 text is
// never damaged (UpperCaseText, for searches, folds other letters too).

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tallix {

// How the stored files (settings, templates) write a boolean.
inline constexpr std::string_view kTrueText = "True";
inline constexpr std::string_view kFalseText = "False";

// Trim, LTrim and RTrim remove spaces (0x20) only; tabs and line breaks stay.
std::string Trim(std::string_view s);
std::string LTrim(std::string_view s);
std::string RTrim(std::string_view s);
std::string_view TrimView(std::string_view s);

std::string UCase(std::string_view s);
// Upper case for searches without regard to case: ASCII as UCase, and every other character
// whose upper-case form is one character of the same UTF-8 length ("ü" as "Ü"), so a byte
// position in the result is the same position in `s`. Bytes that are not UTF-8 stay.
std::string UpperCaseText(std::string_view s);
std::string LCase(std::string_view s);
char UpperAscii(char c);
char LowerAscii(char c);
bool EqualsNoCase(std::string_view a, std::string_view b);
// `text` ends with `end`, ASCII letters compared without regard to case.
bool EndsWithNoCase(std::string_view text, std::string_view end);

enum class Compare { Binary, Text };

// InStr(start, s, find): 1-based position of `find` at or after `start`, 0 when absent.
// An empty `find` gives `start` (0 when start is past the end). start < 1 raises error 5.
std::size_t InStr(std::size_t start, std::string_view s, std::string_view find,
                  Compare compare = Compare::Binary);
inline std::size_t InStr(std::string_view s, std::string_view find,
                         Compare compare = Compare::Binary) {
    return InStr(1, s, find, compare);
}
// InStrRev-like helper: 1-based position of the last occurrence of `find`, 0 when absent.
std::size_t InStrLast(std::string_view s, std::string_view find);

// Mid(s, start[, length]): start < 1 raises error 5; past the end gives "".
std::string Mid(std::string_view s, std::size_t start);
std::string Mid(std::string_view s, std::size_t start, std::size_t length);
std::string Left(std::string_view s, std::size_t length);
std::string Right(std::string_view s, std::size_t length);

// Split("") is empty; a missing delimiter gives one element; "" as delimiter gives the
// whole text as one element.
std::vector<std::string> Split(std::string_view s, std::string_view delimiter);
std::string Join(const std::vector<std::string>& parts, std::string_view delimiter);

// Replace every occurrence of `from` (non-empty) by `to`, left to right, in one pass.
std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to);

}  // namespace tallix
