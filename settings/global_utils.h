#pragma once
// Small text and file utilities both programs share.

#include <string>
#include <string_view>
#include <vector>

namespace tallix {

inline constexpr std::string_view kTemplateExtension = ".txf";

// True when `path` names an existing directory or file; false for "".
bool IsValidDirectory(std::string_view path);
// The text before the first ".txf" (any case), or the name unchanged.
std::string StripExt(std::string_view name);
// The bare template name: StripExt, then everything up to the last "/" or "\" removed.
std::string JustFileName(std::string_view path);
// The text before the first NUL, trimmed of spaces.
std::string StripNulls(std::string_view text);
// Splits an output-field list by `delimiter`. Always at least one element: a blank list
// gives one empty element; empty items between delimiters are kept; a trailing delimiter
// adds no empty item at the end.
std::vector<std::string> ParseOutput(std::string_view list, std::string_view delimiter);
// The text as a general date when it reads as a date, else the text unchanged.
std::string FormatDate(std::string_view text);
// A plain OK box titled with the executable name; also logged to txSystem.Log when
// `writeToLog`. Nothing for a blank message.
void SystemMsg(std::string_view message, bool writeToLog);

}  // namespace tallix
