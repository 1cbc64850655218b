#pragma once
// The one error reporter of both programs, the pending error it reads, the silent flag,
// and the guard that every procedure uses to trap its own failures.

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "settings/run_time_error.h"

namespace tallix {

// The error the calling handler caught; number 0 means none.
struct PendingError {
    int number = 0;
    std::string description;
    // The file the failure concerns and the system's reason; empty when not known.
    std::string file;
    std::string reason;
    void Clear() {
        number = 0;
        description.clear();
        file.clear();
        reason.clear();
    }
};
PendingError& Err();

// Process-wide; once on it stays on for the run.
bool SilentMode();
void SetSilentMode(bool on);

// The title of error boxes.
inline constexpr std::string_view kErrorTitle = "Error";

// The support address shown in the unexpected-error box.
inline constexpr std::string_view kSupportAddress = "support@tallix.example";

// Reports `message`: to txError.Log when `logFlag`, shown unless logged in silent mode,
// and ends the program when `endFlag`. Clears the pending error.
void ReportError(std::string_view message, bool logFlag, bool endFlag = false);
// How many reports were made so far on the calling thread (a caller learns whether a step it
// ran reported; reports of other threads do not count).
std::uint64_t ReportsOnThisThread();
// The text of the last report made on the calling thread (with the pending error's number and
// description), empty before the first.
const std::string& LastReportOnThisThread();

// How the program ends when a report asks it to. The default unloads the status window
// (through the hook below) and leaves the process with exit status 1.
void SetEndProgramHandler(std::function<void(int status)> handler);
[[noreturn]] void EndProgram(int status);
// Called before the program ends on an error report (the engine unloads its status window).
void SetUnloadStatusWindowHook(std::function<void()> hook);
void UnloadStatusWindowForEnd();

// Thrown by test end handlers (and usable by a main() that wants to unwind): the guard
// never swallows it.
struct ProgramEndRequest {
    int status;
};

// Makes the exception in flight the pending error (number and description).
void SetPendingFromCurrentException();

struct ReportFlags {
    bool log = true;
    bool end = false;
};
inline constexpr ReportFlags kLogged{true, false};
inline constexpr ReportFlags kNotLogged{false, false};
inline constexpr ReportFlags kLoggedEnding{true, true};

// Runs `body`; a failure inside it becomes the pending error (a request to end the program
// passes on). Returns true when the body finished.
template <class Body>
bool RunCatching(Body&& body) {
    try {
        std::forward<Body>(body)();
        return true;
    } catch (const ProgramEndRequest&) {
        throw;
    } catch (...) {
        SetPendingFromCurrentException();
    }
    return false;
}

// Runs `body`. A failure inside it becomes the pending error and is reported with
// `context` and `flags`; the caller then carries on. Returns true when the body finished.
template <class Body>
bool Guard(std::string_view context, Body&& body, ReportFlags flags = kLogged) {
    if (RunCatching(std::forward<Body>(body))) return true;
    ReportError(context, flags.log, flags.end);
    return false;
}

// Runs `body` and drops a failure without a report: for steps the design lets fail silently
// (each one skipped on its own, the next one runs). Returns true when the body finished.
template <class Body>
bool SkipOnError(Body&& body) {
    PendingError before = Err();
    if (RunCatching(std::forward<Body>(body))) return true;
    Err() = std::move(before);  // the failure leaves no trace
    return false;
}

// Like Guard, for a body that returns a value: the fallback when it failed.
template <class T, class Body>
T GuardValue(std::string_view context, T fallback, Body&& body, ReportFlags flags = kLogged) {
    // The body's value is constructed in place: no copy of the fallback is made for a body that
    // finishes, which matters for the property readers called for every message.
    std::optional<T> result;
    if (!Guard(
            context, [&] { result.emplace(std::forward<Body>(body)()); }, flags))
        return fallback;
    return std::move(*result);
}

}  // namespace tallix
