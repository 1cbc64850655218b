#pragma once
// What a run tells the program that started it: how far it has come (the message of the
// source it is reading) while it runs, and at its end what each template wrote. The manager
// names a file in the environment of the engine it starts; the engine replaces that file's
// contents now and then during the run and once at its end, and the manager reads it.
//
// The file is text, one "key=value" line each:
//     state=running | done | stopped | waiting | refused
//     reason=TEXT                                     (why the run was refused)
//     message=N
//     total=M
//     source=ID
//     template=LINES<TAB>FAILURES<TAB>NAME<TAB>OUTPUT FILE<TAB>REASON   (one per template)
// A backslash, tab, line feed or carriage return inside a value is written \\, \t, \n, \r.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallix::engine {

// The environment variable naming the report file.
inline constexpr const char* kRunReportVariable = "TALLIX_RUN_REPORT";
// The environment variable naming the template directory for one run instead of the stored
// one (the manager's examples mode runs the example templates this way).
inline constexpr const char* kTemplateDirVariable = "TALLIX_TEMPLATE_DIR";

struct TemplateTally {
    std::string name;
    std::string outputFile;
    std::int64_t lines = 0;     // lines written
    std::int64_t failures = 0;  // messages the template failed on
    std::string reason;         // the first failure's error text
};

// Waiting: another run holds the run lock and this one waits for it; Refused: the run ended
// before reading anything (the lock was not to be had), for the reason the report gives.
enum class RunState { Running, Done, Stopped, Waiting, Refused };

struct RunReport {
    RunState state = RunState::Running;
    std::string reason;
    std::int64_t message = 0;
    std::int64_t total = 0;
    std::string source;
    std::vector<TemplateTally> templates;
};

std::string FormatRunReport(const RunReport& report);
// The report of `text`; unknown lines are passed over, so a later engine may add keys.
RunReport ParseRunReport(std::string_view text);

// Replaces the file `path` with the report in one step (a new file renamed over it), so a
// reader sees the last whole report or the one before. The errno of the failure, 0 on success.
int WriteRunReport(const std::string& path, const RunReport& report);
// The report in the file `path`, or nothing when it cannot be read.
std::optional<RunReport> ReadRunReport(const std::string& path);

}  // namespace tallix::engine
