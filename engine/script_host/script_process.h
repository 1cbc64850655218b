#pragma once
// Script work in a process of its own. The work runs in a fork of the calling process, which
// starts a process group of its own, and hands its result back over a pipe. Each piece of
// script code the work starts is noted in a page both processes share (PieceBegins); the
// caller gives every piece the
// time limit of a script and a short grace after it (the interpreter's own stop, which names
// the line, comes first when it can) and then kills the whole group. So a script blocked in a
// native call (a Lua pattern, a sort, a program it runs that never ends), a finalizer that
// never returns at the interpreter's teardown and a crash of the interpreter all end the work,
// never the caller.

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tallix::script {

enum class ChildEnding {
    Finished,   // the work returned its result
    TimeLimit,  // a piece overran and the process group was killed
    Ended,      // the process ended without a result (a crash, a signal)
};

struct ChildOutcome {
    ChildEnding ending = ChildEnding::Finished;
    std::string result;  // Finished: what the work returned
    std::string piece;   // otherwise: the piece that was running, as PieceBegins named it
    std::string cause;   // Ended: how the process ended ("signal 11 (Segmentation fault)")
};

// What the work does before its first piece (reading the script files) is named this.
inline constexpr std::string_view kPieceReading = "Reading the scripts";
// The interpreter's teardown, where finalizers run.
inline constexpr std::string_view kPieceClosing = "Closing the scripts";

// Runs `work` in a child process and waits until it has handed back its result, a piece has
// overrun, or the process has ended. The caller's open descriptors stay its own: the pipe is
// not inherited by programs a script starts. Raises a run-time error when the process
// cannot be started.
ChildOutcome RunInChildProcess(const std::function<std::string()>& work);
// The same with a time limit of its own for each piece instead of a script's.
ChildOutcome RunInChildProcess(const std::function<std::string()>& work,
                               std::chrono::milliseconds limit);

// Work the calling thread does while it waits for a child process (a conversion, a script):
// at least every kWaitingWorkInterval, so a run writes its gathered output lines on time
// however long a conversion takes. Set for the object's life, on the constructing thread; the
// work must not throw.
inline constexpr std::chrono::milliseconds kWaitingWorkInterval{50};
class WhileChildRuns {
  public:
    explicit WhileChildRuns(std::function<void()> work);
    ~WhileChildRuns();
    WhileChildRuns(const WhileChildRuns&) = delete;
    WhileChildRuns& operator=(const WhileChildRuns&) = delete;

  private:
    friend ChildOutcome RunInChildProcess(const std::function<std::string()>& work,
                                          std::chrono::milliseconds limit);
    std::function<void()> m_work;
    WhileChildRuns* m_outer;
};

// Inside the work: the piece of code `piece` begins (a text for the error that names it, as
// `Procedure "Main"`); the caller's clock starts again for it. Does nothing outside a child.
void PieceBegins(std::string_view piece);

// How long the caller lets a piece run under the time limit `limit` before it kills the
// process: the limit and a grace of a quarter of it, at most one second.
std::chrono::milliseconds StopAfter(std::chrono::milliseconds limit);

// Raises the run-time error that describes a work that did not finish: error 1005 for a
// piece that overran, 1003 for a process that ended.
[[noreturn]] void RaiseChildEnding(const ChildOutcome& outcome);

// Texts in a result: each as its length (four bytes) and its bytes.
void PutText(std::string& out, std::string_view text);
// Takes the next text off `in`; false when `in` holds no whole text.
bool TakeText(std::string_view& in, std::string& text);
// A list of texts: their number, then each text.
void PutTexts(std::string& out, const std::vector<std::string>& texts);
bool TakeTexts(std::string_view& in, std::vector<std::string>& texts);

}  // namespace tallix::script
