#pragma once
// The script host: a language chosen by name, named global objects, code loaded as one text
// and procedures run by name. "JScript" and "JavaScript" run on Duktape (ECMAScript 5.1),
// "Lua" on Lua 5.4; names match without regard to case. Every other name is rejected with
// run-time error 380, which callers tell apart from every other failure.
//
// The operations raise RunTimeError on failure, as the caller's guard expects of a component;
// a script's own error never escapes as anything else. Every piece of script code (the
// top-level code at AddCode, each procedure at Run) runs under a time and a memory limit.

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tallix {
class clsTemplate;
}

namespace tallix::script {

// A procedure (or the top-level code) that runs longer than this is stopped and fails. An
// unattended run must not hang on a script that never returns.
inline constexpr std::chrono::milliseconds kScriptTimeLimit{30'000};
// A script's interpreter may hold at most this much memory; an allocation beyond it fails
// inside the script.
inline constexpr std::size_t kScriptMemoryLimit = 256u * 1024u * 1024u;

// Error numbers of the host, above the run-time error range so logs tell them apart.
inline constexpr int kErrScriptSyntax = 1002;     // the code does not compile
inline constexpr int kErrScriptRunTime = 1003;    // an error raised while a script ran
inline constexpr int kErrNoSuchProcedure = 1004;  // Run of a name the code does not define
inline constexpr int kErrScriptTimeLimit = 1005;  // stopped at kScriptTimeLimit
inline constexpr int kErrNoLanguage = 1006;       // an operation before Language was set
// A script that reaches kScriptMemoryLimit fails with kErrOutOfMemory (7).

// Where a line of the loaded code came from; `file` is empty for lines of no file.
struct SourceLine {
    std::string file;
    int line = 0;
};
// Entry i describes line i + 1 of the code handed to AddCode.
using LineMap = std::vector<SourceLine>;

struct ScriptLimits {
    std::chrono::milliseconds time = kScriptTimeLimit;
    std::size_t memory = kScriptMemoryLimit;
};
// The limits in force: the constants above, except while a test has replaced them.
ScriptLimits CurrentLimits();
// Tests only: short limits so that a runaway script is stopped quickly. Not a setting.
void SetLimitsForTesting(const ScriptLimits& limits);
void ResetLimitsForTesting();

// Scripts started on a thread while a WithheldEffects is installed there leave files and
// programs alone: JavaScript's System.AppendLine and System.Run are noted here instead of
// done (Run gives -1, as for a command that did not exit); Lua's io.open for writing is
// noted and gives a handle on /dev/null, and its functions that remove or rename files,
// start programs or load native code fail. A trial of a template runs its scripts this way.
class WithheldEffects {
  public:
    WithheldEffects();
    ~WithheldEffects();
    WithheldEffects(const WithheldEffects&) = delete;
    WithheldEffects& operator=(const WithheldEffects&) = delete;

    const std::vector<std::string>& Texts() const { return m_texts; }
    void Add(std::string text) { m_texts.push_back(std::move(text)); }
    // The one installed on the calling thread, or nullptr.
    static WithheldEffects* Active();

  private:
    WithheldEffects* m_previous;
    std::vector<std::string> m_texts;
};

// What scripts can change of a template: the values of its variables and the members they may
// assign, as a text. A script that ran in a process of its own changed that process's copy of
// the template; the text carries the changes back to the caller's copy.
std::string SaveScriptedState(const clsTemplate& t);
// Takes a SaveScriptedState text of a copy of `t` into `t`; false when it does not fit.
bool RestoreScriptedState(clsTemplate& t, std::string_view state);

// The language names the host accepts, without regard to case and surrounding blanks.
bool IsKnownLanguage(std::string_view name);

class LanguageEngine;

class ScriptHost {
  public:
    ScriptHost();
    ~ScriptHost();
    ScriptHost(const ScriptHost&) = delete;
    ScriptHost& operator=(const ScriptHost&) = delete;

    // Starts a fresh interpreter of language `name` (objects and code added before are
    // dropped). An unknown name raises error 380 and leaves the host without a language.
    void SetLanguage(std::string_view name);
    // The name as it was set, or "".
    std::string Language() const;

    // Makes `object` visible to the scripts as the global object `name`; its members are
    // reached through it, never as globals of their own.
    void AddObject(std::string_view name, std::shared_ptr<clsTemplate> object);
    // Where each line of the next AddCode's text came from, for error texts.
    void SetLineMap(LineMap map);
    // Compiles `code` and runs its top-level statements, which define the procedures.
    void AddCode(std::string_view code);
    // Runs the procedure `name` (exact name, blanks included) with no arguments.
    void Run(std::string_view name);
    // The names of the procedures the loaded code defines, sorted.
    std::vector<std::string> Procedures() const;

  private:
    LanguageEngine& Engine() const;
    // Tears the interpreter down (its finalizers run).
    void Close();

    std::string m_language;
    std::unique_ptr<LanguageEngine> m_engine;
    LineMap m_lineMap;
};

}  // namespace tallix::script
