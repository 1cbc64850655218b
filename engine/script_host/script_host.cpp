#include "engine/script_host/script_host.h"

#include <optional>

#include "engine/script_host/language_engine.h"
#include "engine/script_host/script_process.h"
#include "settings/run_time_error.h"
#include "settings/text_functions.h"

namespace tallix::script {
namespace {

std::optional<ScriptLimits>& TestLimits() {
    static std::optional<ScriptLimits> limits;
    return limits;
}

enum class LanguageKind { None, JavaScript, Lua };

LanguageKind LanguageOf(std::string_view name) {
    const std::string n = LCase(Trim(name));
    if (n == "jscript" || n == "javascript") return LanguageKind::JavaScript;
    if (n == "lua") return LanguageKind::Lua;
    return LanguageKind::None;
}

// " at FILE line N" for a line of the loaded code, as far as the map knows it.
std::string Location(int line, const LineMap& map) {
    if (line <= 0) return {};
    if (static_cast<std::size_t>(line) <= map.size()) {
        const SourceLine& s = map[static_cast<std::size_t>(line) - 1];
        if (!s.file.empty()) return " at " + s.file + " line " + std::to_string(s.line);
    }
    return " at line " + std::to_string(line) + " of the loaded code";
}

std::string Seconds(std::chrono::milliseconds t) {
    if (t.count() % 1000 == 0) return std::to_string(t.count() / 1000) + " s";
    return std::to_string(t.count()) + " ms";
}

}  // namespace

namespace {
thread_local WithheldEffects* t_withheld = nullptr;
}  // namespace

WithheldEffects::WithheldEffects() : m_previous(t_withheld) {
    t_withheld = this;
}
WithheldEffects::~WithheldEffects() {
    t_withheld = m_previous;
}
WithheldEffects* WithheldEffects::Active() {
    return t_withheld;
}

ScriptLimits CurrentLimits() {
    return TestLimits().value_or(ScriptLimits{});
}
void SetLimitsForTesting(const ScriptLimits& limits) {
    TestLimits() = limits;
}
void ResetLimitsForTesting() {
    TestLimits().reset();
}

bool IsKnownLanguage(std::string_view name) {
    return LanguageOf(name) != LanguageKind::None;
}

namespace {

// The piece of code an error names: the loading or the procedure `procedure`.
std::string PieceName(std::string_view procedure) {
    return procedure.empty() ? std::string("Loading the scripts")
                             : "Procedure \"" + std::string(procedure) + "\"";
}

std::string TimeLimitText() {
    return ": stopped after running " + Seconds(CurrentLimits().time) +
           ", the time limit of a script";
}

}  // namespace

void RaiseFailure(const ScriptFailure& failure, std::string_view procedure, const LineMap& map) {
    const std::string who = PieceName(procedure);
    const std::string where = Location(failure.line, map);
    switch (failure.kind) {
        case FailureKind::Syntax:
            Raise(kErrScriptSyntax, who + ": " + failure.message + where);
        case FailureKind::NoProcedure:
            Raise(kErrNoSuchProcedure, who + " is not defined by the scripts");
        case FailureKind::TimeLimit:
            Raise(kErrScriptTimeLimit, who + TimeLimitText() + where);
        case FailureKind::Memory:
            Raise(kErrOutOfMemory, who + ": stopped at the memory limit of a script (" +
                                       std::to_string(CurrentLimits().memory / (1024 * 1024)) +
                                       " MB)" + where);
        case FailureKind::RunTime:
        case FailureKind::None:
            break;
    }
    Raise(kErrScriptRunTime, who + ": " + failure.message + where);
}

void RaiseChildEnding(const ChildOutcome& outcome) {
    if (outcome.ending == ChildEnding::TimeLimit)
        Raise(kErrScriptTimeLimit, outcome.piece + TimeLimitText());
    Raise(kErrScriptRunTime, outcome.piece + ": the script process ended with " + outcome.cause);
}

ScriptHost::ScriptHost() = default;

ScriptHost::~ScriptHost() {
    Close();
}

// Finalizers run when an interpreter is torn down: that is a piece of script code too.
void ScriptHost::Close() {
    if (!m_engine) return;
    PieceBegins(kPieceClosing);
    m_engine.reset();
}

void ScriptHost::SetLanguage(std::string_view name) {
    Close();
    m_language.clear();
    m_lineMap.clear();
    const LanguageKind language = LanguageOf(name);
    if (language == LanguageKind::None) Raise(kErrInvalidProperty);
    const std::size_t memory = CurrentLimits().memory;
    m_engine =
        language == LanguageKind::JavaScript ? MakeJavaScriptEngine(memory) : MakeLuaEngine(memory);
    if (!m_engine) Raise(kErrOutOfMemory);
    m_language = std::string(name);
}

std::string ScriptHost::Language() const {
    return m_language;
}

LanguageEngine& ScriptHost::Engine() const {
    if (!m_engine) Raise(kErrNoLanguage, "The script language is not set");
    return *m_engine;
}

void ScriptHost::AddObject(std::string_view name, std::shared_ptr<clsTemplate> object) {
    if (!object) Raise(kErrObjectRequired);
    if (ScriptFailure f = Engine().AddObject(name, std::move(object)))
        RaiseFailure(f, {}, m_lineMap);
}

void ScriptHost::SetLineMap(LineMap map) {
    m_lineMap = std::move(map);
}

void ScriptHost::AddCode(std::string_view code) {
    LanguageEngine& engine = Engine();
    PieceBegins(PieceName({}));
    if (ScriptFailure f = engine.AddCode(code)) RaiseFailure(f, {}, m_lineMap);
}

void ScriptHost::Run(std::string_view name) {
    LanguageEngine& engine = Engine();
    PieceBegins(PieceName(name));
    if (ScriptFailure f = engine.Run(name)) RaiseFailure(f, name, m_lineMap);
}

std::vector<std::string> ScriptHost::Procedures() const {
    return Engine().Procedures();
}

}  // namespace tallix::script
