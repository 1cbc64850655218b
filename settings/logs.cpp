#include "settings/logs.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/system_rules.h"
#include "settings/text_functions.h"

namespace tallix {
namespace {

constexpr std::string_view kLogWriteFailed = "Unable to write to error log: ";

// One open, one write, one close, so the line is complete or absent.
bool AppendLine(const std::string& path, const std::string& line) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    std::size_t done = 0;
    bool ok = true;
    while (done < line.size()) {
        ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) ok = false;
    return ok;
}

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
    if (AppendLine(JoinPath(ProgramDir(), fileName), line)) return true;
    // The failure is its own report, shown as a plain box; an error that a caller is in
    // the middle of reporting stays pending for it.
    PendingError saved = Err();
    Err().Clear();
    ReportError(std::string(kLogWriteFailed) + std::string(fileName), false, false);
    Err() = saved;
    return false;
}

}  // namespace tallix
