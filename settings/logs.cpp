#include "settings/logs.h"

#include <string>

#include "model/file_bytes.h"
#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/system_rules.h"
#include "settings/text_functions.h"

namespace tallix {
namespace {

constexpr std::string_view kLogWriteFailed = "Unable to write to error log: ";

}  // namespace

std::string FormatLogLine(std::string_view text) {
    DateValue now = Now();
    std::string line = FormatShortDate(now);
    line += ' ';
    line += FormatLongTime(now);
    line += ' ';
    line += text;
    return line;
}

bool WriteLog(std::string_view fileName, std::string_view text) {
    if (TrimView(fileName).empty() || TrimView(text).empty()) return true;
    std::string line = FormatLogLine(text);
    line += "\r\n";
    if (AppendToFile(JoinPath(ProgramDir(), fileName), line) == 0) return true;
    // The failure is its own report, shown as a plain box; an error that a caller is in
    // the middle of reporting stays pending for it.
    PendingError saved = Err();
    Err().Clear();
    ReportError(std::string(kLogWriteFailed) + std::string(fileName), false, false);
    Err() = saved;
    return false;
}

}  // namespace tallix
