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
// result is true) when the name or the text is blank. A line feed in the text starts the
// entry's next physical line (a report's parts are on lines of their own); every other
// control character is written escaped as LogSafe does, so no text can end a line or redraw
// one. On failure: false, and the error reporter shows "Unable to write to error log: " + fileName.
bool WriteLog(std::string_view fileName, std::string_view text);

// `text` with every control character escaped, line feeds included: a backslash and n, r or t,
// else a backslash, x and two hex digits. Names and replies from outside (file names, server
// replies) go into log texts through this, so one of them cannot add a line of its own to a log.
std::string LogSafe(std::string_view text);

// The line WriteLog writes for `text` now, without its CR LF.
std::string FormatLogLine(std::string_view text);

}  // namespace tallix
