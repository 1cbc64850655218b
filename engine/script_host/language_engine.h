#pragma once
// What the host needs of one interpreter, and the pieces both interpreters share: the
// memory account behind their allocators, the deadline their interrupt checks, and the
// members of the "Template" object. Internal to the script host.

#include <chrono>
#include <cstddef>
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

// The members of a template that scripts read through the "Template" object.
using MemberValue = std::variant<std::string, bool, double, std::vector<std::string>>;
const std::vector<std::string_view>& TemplateMemberNames();
// The value of member `name`, or nothing for a name that is not a member.
std::optional<MemberValue> TemplateMember(const clsTemplate& t, std::string_view name);

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

}  // namespace tallix::script
