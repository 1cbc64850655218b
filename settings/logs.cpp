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

bool IsControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

void AppendEscaped(std::string& out, unsigned char c) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    switch (c) {
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
            break;
    }
}

// The text as it goes into a log entry: line feeds kept, other control characters escaped.
std::string EntryText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c != '\n' && IsControl(c))
            AppendEscaped(out, c);
        else
            out.push_back(ch);
    }
    return out;
}

}  // namespace

std::string LogSafe(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (IsControl(c))
            AppendEscaped(out, c);
        else
            out.push_back(ch);
    }
    return out;
}

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
    std::string line = FormatLogLine(EntryText(text));
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
