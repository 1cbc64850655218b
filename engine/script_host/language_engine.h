#pragma once
// What the host needs of one interpreter, and the pieces both interpreters share: the
// memory account behind their allocators, the deadline their interrupt checks, the members of
// the "Template" object, and ScriptEngineBase, the skeleton both are built on. Internal to the
// script host.

#include <chrono>
#include <cstddef>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "engine/script_host/script_host.h"

namespace tallix {
class clsTemplate;
}

namespace tallix::script {

// The name the loaded code carries inside both interpreters; error positions name it.
inline constexpr std::string_view kChunkName = "scripts";

enum class FailureKind { None, Syntax, RunTime, NoProcedure, TimeLimit, Memory };

struct ScriptFailure {
    FailureKind kind = FailureKind::None;
    std::string message;  // the interpreter's own text
    int line = 0;         // line of the loaded code, 0 when unknown
    explicit operator bool() const { return kind != FailureKind::None; }
};

class LanguageEngine {
  public:
    virtual ~LanguageEngine() = default;
    virtual ScriptFailure AddObject(std::string_view name, std::shared_ptr<clsTemplate> object) = 0;
    virtual ScriptFailure AddCode(std::string_view code) = 0;
    virtual ScriptFailure Run(std::string_view name) = 0;
    virtual std::vector<std::string> Procedures() = 0;
};

// nullptr when the interpreter could not be created (no memory).
std::unique_ptr<LanguageEngine> MakeJavaScriptEngine(std::size_t memoryLimit);
std::unique_ptr<LanguageEngine> MakeLuaEngine(std::size_t memoryLimit);

// Raises the run-time error that describes `failure`: the procedure (none while the code is
// loaded), the interpreter's text and the file and line the map gives for its line.
[[noreturn]] void RaiseFailure(const ScriptFailure& failure, std::string_view procedure,
                               const LineMap& map);

// The bytes an interpreter holds, against its limit. Allocators ask before they grow.
struct MemoryAccount {
    std::size_t used = 0;
    std::size_t limit = 0;
    bool refused = false;  // an allocation was refused since the last Reset
    bool Reserve(std::size_t bytes) {
        if (bytes > limit - used) {
            refused = true;
            return false;
        }
        used += bytes;
        return true;
    }
    void Release(std::size_t bytes) { used -= bytes < used ? bytes : used; }
    // Moves `block` (old bytes, nullptr for none) to a block of `size` bytes (not 0) within
    // the limit, as realloc does; nullptr when the limit or the system refuses.
    void* Resize(void* block, std::size_t old, std::size_t size);
};

// The time a piece of script code may run. Once passed it stays passed until the next
// Start, so an interpreter keeps failing until the script has left every handler.
class Deadline {
  public:
    void Start(std::chrono::milliseconds allowed) {
        m_end = std::chrono::steady_clock::now() + allowed;
        m_running = true;
        m_passed = false;
    }
    void Stop() { m_running = false; }
    // Asked by the interpreters while code runs; false once the code has stopped.
    bool Passed() {
        if (!m_running) return false;
        if (!m_passed && std::chrono::steady_clock::now() >= m_end) m_passed = true;
        return m_passed;
    }
    bool WasPassed() const { return m_passed; }

  private:
    std::chrono::steady_clock::time_point m_end{};
    bool m_running = false;
    bool m_passed = false;
};

// The members of a template that scripts read, and some of them assign, through the
// "Template" object.
using MemberValue = std::variant<std::string, bool, double, std::vector<std::string>>;
const std::vector<std::string_view>& TemplateMemberNames();
// The value of member `name`, or nothing for a name that is not a member.
std::optional<MemberValue> TemplateMember(const clsTemplate& t, std::string_view name);
// What an assignment to a member takes: a text, a flag, or nothing (also for a name that is
// not a member).
enum class MemberKind { ReadOnly, Text, Flag };
using MemberInput = std::variant<std::string, bool>;
MemberKind TemplateMemberKind(std::string_view name);
// Assigns `value` (of the member's kind) to member `name`; false when it cannot be assigned.
bool AssignTemplateMember(clsTemplate& t, std::string_view name, const MemberInput& value);

// Runs `body` where no exception may pass (a callback of a C interpreter); false when it threw.
template <class Body>
bool WithoutExceptions(Body&& body) noexcept {
    try {
        body();
        return true;
    } catch (...) {
        return false;
    }
}

// What both interpreters do around their C interfaces. Each piece of code runs with the
// memory account's refusal cleared and the deadline started for it; the procedures listed are
// the global functions the loaded code defined, told apart from those the interpreter had
// before by name and identity; the "Template" objects are numbered in the order they were
// added, and their members and values are read and written behind an exception fence, as the
// callbacks need. An interpreter supplies the calls into its own C interface, each protected.
class ScriptEngineBase : public LanguageEngine {
  public:
    explicit ScriptEngineBase(std::size_t memoryLimit) { memory.limit = memoryLimit; }

    ScriptFailure AddObject(std::string_view name, std::shared_ptr<clsTemplate> object) final;
    ScriptFailure AddCode(std::string_view code) final;
    ScriptFailure Run(std::string_view name) final;
    std::vector<std::string> Procedures() final;

    // For the callbacks; none of these throws. False when the work inside threw.
    // Notes a global function met by ListGlobalFunctions.
    bool NoteGlobalFunction(std::string_view name, const void* identity) noexcept;
    bool HasObject(std::size_t object) const { return object < m_objects.size(); }
    // Member `name` of the object into `value`; `known` is false for a name that is not one.
    bool ReadMember(std::size_t object, std::string_view name, bool& known) noexcept;
    // `input` into member `name` of the object; `assigned` is false for a name that cannot be
    // assigned.
    bool WriteMember(std::size_t object, std::string_view name, bool& assigned) noexcept;
    // GetValueByName into `text`.
    bool GetValue(std::size_t object, std::string_view name) noexcept;
    bool SetValue(std::size_t object, std::string_view name, std::string_view v) noexcept;

    // What stopped a piece of code that failed as `kind`: its time or memory limit, if one did.
    FailureKind Stopped(FailureKind kind, bool outOfMemory = false) const {
        return deadline.WasPassed()            ? FailureKind::TimeLimit
               : memory.refused || outOfMemory ? FailureKind::Memory
                                               : kind;
    }

    // State the callbacks share with the engine.
    MemoryAccount memory;
    Deadline deadline;
    MemberValue value;      // a member read for the interpreter
    MemberInput input;      // a value an interpreter assigns to a member
    std::string text;       // a text handed from C++ to a callback
    int errorLine = 0;      // line of the loaded code where the last failure happened
    bool notFound = false;  // the procedure Call was asked for is not a function

  protected:
    // Objects beyond this many are refused (an interpreter may number them in few bits).
    virtual std::size_t MaxObjects() const { return std::numeric_limits<std::size_t>::max(); }
    // Makes object number `index` the global `name`.
    virtual ScriptFailure InstallObject(std::string_view name, std::size_t index) = 0;
    // Before each piece of code, ahead of its deadline.
    virtual void Arm() {}
    // Compiles and runs the top-level code.
    virtual ScriptFailure Load(std::string_view code) = 0;
    // Calls the global function `name`; sets notFound when there is none.
    virtual ScriptFailure Call(std::string_view name) = 0;
    // After each piece of code, once its deadline has stopped.
    virtual void Settle() {}
    // Calls NoteGlobalFunction for every global function.
    virtual void ListGlobalFunctions() = 0;

  private:
    std::vector<std::shared_ptr<clsTemplate>> m_objects;
    std::map<std::string, const void*> m_globalsBefore;  // defined before the code was added
    bool m_haveGlobalsBefore = false;
    std::vector<std::string> m_found;  // procedures listed by the last enumeration
    bool m_listing = false;            // the enumeration fills m_found, else m_globalsBefore
};

}  // namespace tallix::script
