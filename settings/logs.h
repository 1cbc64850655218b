#pragma once
// The two logs in the program directory: each entry is the short date, a blank, the long
// time, a blank and the text, ended by CR LF; each line is opened, written and closed on
// its own, so two programs can append to the same log.

#include <string>
#include <string_view>

namespace tallix {

inline constexpr std::string_view kSystemLog = "txSystem.Log";
inline constexpr std::string_view kErrorLog = "txError.Log";

// Appends one entry to program directory + "/" + fileName. Nothing is written (and the
// result is true) when the name or the text is blank. On failure: false, and the error
// reporter shows "Unable to write to error log: " + fileName.
bool WriteLog(std::string_view fileName, std::string_view text);

// The line WriteLog writes for `text` now, without its CR LF.
std::string FormatLogLine(std::string_view text);

}  // namespace tallix
