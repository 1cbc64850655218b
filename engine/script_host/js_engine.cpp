// JavaScript ("JScript", "JavaScript") on Duktape.
//
// Duktape is C and reports errors with longjmp. A longjmp that leaves a C++ frame holding an
// object with a destructor is undefined behaviour, so every callback here follows one rule:
// the frames Duktape may jump out of hold only plain values; anything with a destructor lives
// in the engine object or inside a helper that has returned before the next Duktape call.
// Every call into Duktape from the host runs inside duk_safe_call, so no error ever reaches
// Duktape's fatal handler.

#include <duktape.h>

#include <sys/wait.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/script_host/language_engine.h"
#include "engine/script_host/script_host.h"
#include "model/file_bytes.h"
#include "model/template.h"

extern "C" int tallix_duk_exec_timeout(void* udata);

namespace tallix::script {
namespace {

// Room for the size of each block ahead of it, keeping the block's alignment.
constexpr std::size_t kBlockHeader = alignof(std::max_align_t);
// Template objects are told apart by the magic number of their functions (16 bits).
constexpr int kMembersPerObject = 256;
constexpr int kMaxObjects = 120;

class JsEngine;
JsEngine* EngineOf(duk_context* ctx);

class JsEngine final : public ScriptEngineBase {
  public:
    explicit JsEngine(std::size_t memoryLimit) : ScriptEngineBase(memoryLimit) {}
    ~JsEngine() override {
        if (ctx) duk_destroy_heap(ctx);
    }
    bool Start();

    duk_context* ctx = nullptr;
    std::string errorText;

  private:
    std::size_t MaxObjects() const override { return kMaxObjects; }
    ScriptFailure InstallObject(std::string_view name, std::size_t index) override;
    ScriptFailure Load(std::string_view code) override;
    ScriptFailure Call(std::string_view name) override;
    void Settle() override { duk_pop(ctx); }
    void ListGlobalFunctions() override;
    ScriptFailure FailureFromTop(FailureKind kind);
};

JsEngine* EngineOf(duk_context* ctx) {
    duk_memory_functions f;
    duk_get_memory_functions(ctx, &f);
    return static_cast<JsEngine*>(f.udata);
}

// --- Memory: every block carries its size so the account stays exact. ---

void* JsAlloc(void* udata, duk_size_t size) {
    auto* e = static_cast<JsEngine*>(udata);
    void* block = e->memory.Resize(nullptr, 0, size + kBlockHeader);
    if (!block) return nullptr;
    *static_cast<std::size_t*>(block) = size;
    return static_cast<char*>(block) + kBlockHeader;
}

void JsFree(void* udata, void* ptr) {
    if (!ptr) return;
    auto* e = static_cast<JsEngine*>(udata);
    char* block = static_cast<char*>(ptr) - kBlockHeader;
    e->memory.Release(*reinterpret_cast<std::size_t*>(block) + kBlockHeader);
    std::free(block);
}

void* JsRealloc(void* udata, void* ptr, duk_size_t size) {
    if (!ptr) return JsAlloc(udata, size);
    if (size == 0) {
        JsFree(udata, ptr);
        return nullptr;
    }
    auto* e = static_cast<JsEngine*>(udata);
    char* block = static_cast<char*>(ptr) - kBlockHeader;
    const std::size_t old = *reinterpret_cast<std::size_t*>(block);
    void* moved = e->memory.Resize(block, old + kBlockHeader, size + kBlockHeader);
    if (!moved) return nullptr;
    *static_cast<std::size_t*>(moved) = size;
    return static_cast<char*>(moved) + kBlockHeader;
}

// Reached only by an error outside a protected call, which the host never makes.
void JsFatal(void*, const char* message) {
    std::fprintf(stderr, "txengine: JavaScript interpreter failed: %s\n", message ? message : "");
    std::abort();
}

// --- The "Template" object. ---

// The Template object and member a getter or setter stands for, from its magic number; false
// when there is no such object or member.
bool MemberOf(duk_context* ctx, JsEngine* e, std::size_t& object, std::string_view& name) {
    const int magic = duk_get_current_magic(ctx);
    object = static_cast<std::size_t>(magic / kMembersPerObject);
    const auto member = static_cast<std::size_t>(magic % kMembersPerObject);
    if (!e->HasObject(object) || member >= TemplateMemberNames().size()) return false;
    name = TemplateMemberNames()[member];
    return true;
}

duk_ret_t TemplateMemberGetter(duk_context* ctx) {
    JsEngine* e = EngineOf(ctx);
    std::size_t object = 0;
    std::string_view name;
    if (!MemberOf(ctx, e, object, name)) return DUK_RET_REFERENCE_ERROR;
    bool known = false;
    if (!e->ReadMember(object, name, known)) return DUK_RET_ERROR;
    if (auto* s = std::get_if<std::string>(&e->value)) {
        duk_push_lstring(ctx, s->data(), s->size());
    } else if (auto* b = std::get_if<bool>(&e->value)) {
        duk_push_boolean(ctx, *b);
    } else if (auto* n = std::get_if<double>(&e->value)) {
        duk_push_number(ctx, *n);
    } else if (auto* names = std::get_if<std::vector<std::string>>(&e->value)) {
        duk_idx_t array = duk_push_array(ctx);
        for (std::size_t i = 0; i < names->size(); ++i) {
            duk_push_lstring(ctx, (*names)[i].data(), (*names)[i].size());
            duk_put_prop_index(ctx, array, static_cast<duk_uarridx_t>(i));
        }
    }
    return 1;
}

// Present on the members a script may assign: a flag member takes the value's truth, a text
// member its text.
duk_ret_t TemplateMemberSetter(duk_context* ctx) {
    JsEngine* e = EngineOf(ctx);
    std::size_t object = 0;
    std::string_view name;
    if (!MemberOf(ctx, e, object, name)) return DUK_RET_REFERENCE_ERROR;
    bool stored = false;
    if (TemplateMemberKind(name) == MemberKind::Flag) {
        const bool flag = duk_to_boolean(ctx, 0) != 0;
        stored = WithoutExceptions([&] { e->input = flag; });
    } else {
        duk_size_t length = 0;
        const char* text = duk_safe_to_lstring(ctx, 0, &length);
        stored = WithoutExceptions([&] { e->input = std::string(text, length); });
    }
    bool assigned = false;
    if (!stored || !e->WriteMember(object, name, assigned)) return DUK_RET_ERROR;
    return 0;
}

duk_ret_t TemplateGetValueByName(duk_context* ctx) {
    JsEngine* e = EngineOf(ctx);
    duk_size_t length = 0;
    const char* name = duk_safe_to_lstring(ctx, 0, &length);
    const auto object = static_cast<std::size_t>(duk_get_current_magic(ctx));
    if (!e->HasObject(object)) return DUK_RET_REFERENCE_ERROR;
    if (!e->GetValue(object, {name, length})) return DUK_RET_ERROR;
    duk_push_lstring(ctx, e->text.data(), e->text.size());
    return 1;
}

duk_ret_t TemplateSetValueByName(duk_context* ctx) {
    JsEngine* e = EngineOf(ctx);
    duk_size_t nameLength = 0, valueLength = 0;
    const char* name = duk_safe_to_lstring(ctx, 0, &nameLength);
    const char* value = duk_safe_to_lstring(ctx, 1, &valueLength);
    const auto object = static_cast<std::size_t>(duk_get_current_magic(ctx));
    if (!e->HasObject(object)) return DUK_RET_REFERENCE_ERROR;
    if (!e->SetValue(object, {name, nameLength}, {value, valueLength})) return DUK_RET_ERROR;
    return 0;
}

struct ObjectToAdd {
    std::string_view name;
    int index;
};

duk_ret_t InstallTemplate(duk_context* ctx, void* udata) {
    const auto* add = static_cast<const ObjectToAdd*>(udata);
    duk_push_global_object(ctx);
    duk_idx_t object = duk_push_object(ctx);
    const auto& names = TemplateMemberNames();
    for (std::size_t m = 0; m < names.size(); ++m) {
        duk_push_lstring(ctx, names[m].data(), names[m].size());
        const int magic = add->index * kMembersPerObject + static_cast<int>(m);
        duk_push_c_function(ctx, TemplateMemberGetter, 0);
        duk_set_magic(ctx, -1, magic);
        duk_uint_t flags = DUK_DEFPROP_HAVE_GETTER | DUK_DEFPROP_SET_ENUMERABLE;
        if (TemplateMemberKind(names[m]) != MemberKind::ReadOnly) {
            duk_push_c_function(ctx, TemplateMemberSetter, 1);
            duk_set_magic(ctx, -1, magic);
            flags |= DUK_DEFPROP_HAVE_SETTER;
        }
        duk_def_prop(ctx, object, flags);
    }
    duk_push_c_function(ctx, TemplateGetValueByName, 1);
    duk_set_magic(ctx, -1, add->index);
    duk_put_prop_string(ctx, object, "GetValueByName");
    duk_push_c_function(ctx, TemplateSetValueByName, 2);
    duk_set_magic(ctx, -1, add->index);
    duk_put_prop_string(ctx, object, "SetValueByName");
    duk_put_prop_lstring(ctx, -2, add->name.data(), add->name.size());
    duk_pop(ctx);
    return 0;
}

// --- The "System" object: what Lua scripts do with io and os. ---

duk_ret_t SystemAppendLine(duk_context* ctx) {
    JsEngine* e = EngineOf(ctx);
    duk_size_t pathLength = 0, lineLength = 0;
    const char* path = duk_require_lstring(ctx, 0, &pathLength);
    const char* line = duk_safe_to_lstring(ctx, 1, &lineLength);
    if (WithheldEffects* withheld = WithheldEffects::Active()) {
        if (!WithoutExceptions([&] {
                withheld->Add("System.AppendLine " + std::string(path, pathLength) + ": " +
                              std::string(line, lineLength));
            }))
            return DUK_RET_ERROR;
        return 0;
    }
    int err = 0;
    if (!WithoutExceptions([&] {
            std::string bytes(line, lineLength);
            bytes += "\r\n";
            err = AppendToFile(std::string(path, pathLength), bytes);
            if (err)
                e->text = "System.AppendLine: " + std::string(path, pathLength) + ": " +
                          std::strerror(err);
        }))
        return DUK_RET_ERROR;
    if (err) return duk_error(ctx, DUK_ERR_ERROR, "%s", e->text.c_str());
    return 0;
}

// The file's text counts against the script's memory: a file larger than what the script may
// still take is refused by its size, before it is read.
duk_ret_t SystemReadFile(duk_context* ctx) {
    JsEngine* e = EngineOf(ctx);
    duk_size_t pathLength = 0;
    const char* path = duk_require_lstring(ctx, 0, &pathLength);
    const std::size_t room = e->memory.limit - e->memory.used;
    int err = 0;
    if (!WithoutExceptions([&] {
            err = ReadRegularFile(std::string(path, pathLength), e->text, room);
            const std::string reason = err == EFBIG
                                           ? "larger than the " + std::to_string(room) +
                                                 " bytes left to the script under its memory limit"
                                           : std::string(std::strerror(err));
            if (err) e->text = "System.ReadFile: " + std::string(path, pathLength) + ": " + reason;
        }))
        return DUK_RET_ERROR;
    if (err) return duk_error(ctx, DUK_ERR_ERROR, "%s", e->text.c_str());
    duk_push_lstring(ctx, e->text.data(), e->text.size());
    std::string().swap(e->text);  // the interpreter holds its own copy now
    return 1;
}

// Runs a command line through /bin/sh and gives its exit status (-1 when it did not exit).
duk_ret_t SystemRun(duk_context* ctx) {
    JsEngine* e = EngineOf(ctx);
    duk_size_t length = 0;
    const char* command = duk_require_lstring(ctx, 0, &length);
    int status = -1;
    if (WithheldEffects* withheld = WithheldEffects::Active()) {
        if (!WithoutExceptions(
                [&] { withheld->Add("System.Run " + std::string(command, length)); }))
            return DUK_RET_ERROR;
        duk_push_int(ctx, status);
        return 1;
    }
    if (!WithoutExceptions([&] {
            e->text.assign(command, length);
            std::fflush(nullptr);
            const int raw = std::system(e->text.c_str());
            status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        }))
        return DUK_RET_ERROR;
    duk_push_int(ctx, status);
    return 1;
}

duk_ret_t InstallSystem(duk_context* ctx, void*) {
    static const duk_function_list_entry kFunctions[] = {
        {"AppendLine", SystemAppendLine, 2},
        {"ReadFile", SystemReadFile, 1},
        {"Run", SystemRun, 1},
        {nullptr, nullptr, 0},
    };
    duk_push_global_object(ctx);
    duk_push_object(ctx);
    duk_put_function_list(ctx, -1, kFunctions);
    duk_put_prop_string(ctx, -2, "System");
    duk_pop(ctx);
    return 0;
}

// --- Loading, running, listing. ---

duk_ret_t CompileCode(duk_context* ctx, void* udata) {
    const auto* code = static_cast<const std::string_view*>(udata);
    duk_push_lstring(ctx, code->data(), code->size());
    duk_push_lstring(ctx, kChunkName.data(), kChunkName.size());
    duk_compile(ctx, 0);
    return 1;
}

duk_ret_t CallCompiled(duk_context* ctx, void*) {
    duk_call(ctx, 0);
    return 1;
}

duk_ret_t CallProcedure(duk_context* ctx, void* udata) {
    const auto* name = static_cast<const std::string_view*>(udata);
    duk_push_global_object(ctx);
    duk_get_prop_lstring(ctx, -1, name->data(), name->size());
    if (!duk_is_function(ctx, -1)) {
        EngineOf(ctx)->notFound = true;
        return 0;
    }
    duk_call(ctx, 0);
    return 0;
}

// The global functions, noted with the engine.
duk_ret_t NoteGlobalFunctions(duk_context* ctx, void*) {
    JsEngine* e = EngineOf(ctx);
    duk_push_global_object(ctx);
    duk_enum(ctx, -1, DUK_ENUM_OWN_PROPERTIES_ONLY);
    while (duk_next(ctx, -1, 1)) {
        if (duk_is_function(ctx, -1) && duk_is_string(ctx, -2)) {
            duk_size_t length = 0;
            const char* key = duk_get_lstring(ctx, -2, &length);
            if (!e->NoteGlobalFunction({key, length}, duk_get_heapptr(ctx, -1)))
                return DUK_RET_ERROR;
        }
        duk_pop_2(ctx);
    }
    return 0;
}

// The first "N" after `marker` in `text` as a number, 0 when there is none.
int NumberAfter(std::string_view text, std::string_view marker) {
    std::size_t at = text.find(marker);
    if (at == std::string_view::npos) return 0;
    int n = 0;
    for (std::size_t i = at + marker.size(); i < text.size() && text[i] >= '0' && text[i] <= '9';
         ++i) {
        if (n > 100'000'000) return 0;
        n = n * 10 + (text[i] - '0');
    }
    return n;
}

// Text and line of the error at index 0. The line is the error's own when it was raised in
// the loaded code, else the innermost frame of the loaded code in its stack, else the line a
// syntax error names in its text.
duk_ret_t DescribeError(duk_context* ctx, void*) {
    JsEngine* e = EngineOf(ctx);
    duk_size_t length = 0;
    duk_dup(ctx, 0);  // the coercion to text replaces the value it works on
    const char* message = duk_safe_to_lstring(ctx, -1, &length);
    if (!WithoutExceptions([&] { e->errorText.assign(message, length); })) return DUK_RET_ERROR;
    duk_pop(ctx);
    int line = 0;
    if (duk_is_object(ctx, 0)) {
        duk_get_prop_string(ctx, 0, "fileName");
        duk_get_prop_string(ctx, 0, "lineNumber");
        if (duk_is_string(ctx, -2) && duk_is_number(ctx, -1)) {
            duk_size_t fileLength = 0;
            const char* file = duk_get_lstring(ctx, -2, &fileLength);
            if (std::string_view(file, fileLength) == kChunkName) line = duk_get_int(ctx, -1);
        }
        duk_pop_2(ctx);
        if (line <= 0) {
            duk_get_prop_string(ctx, 0, "stack");
            if (duk_is_string(ctx, -1)) {
                duk_size_t stackLength = 0;
                const char* stack = duk_get_lstring(ctx, -1, &stackLength);
                line = NumberAfter({stack, stackLength}, "(scripts:");
            }
            duk_pop(ctx);
        }
    }
    if (line <= 0) line = NumberAfter(e->errorText, "(line ");
    e->errorLine = line;
    return 0;
}

bool JsEngine::Start() {
    ctx = duk_create_heap(JsAlloc, JsRealloc, JsFree, this, JsFatal);
    if (!ctx) return false;
    bool ok = duk_safe_call(ctx, InstallSystem, nullptr, 0, 1) == DUK_EXEC_SUCCESS;
    duk_pop(ctx);
    return ok;
}

// The error on top of the stack as a failure of `kind`, unless the deadline or the memory
// limit is what stopped the script.
ScriptFailure JsEngine::FailureFromTop(FailureKind kind) {
    ScriptFailure f;
    f.kind = Stopped(kind);
    errorText.clear();
    errorLine = 0;
    duk_dup_top(ctx);
    duk_safe_call(ctx, DescribeError, nullptr, 1, 1);
    duk_pop(ctx);
    f.message = errorText.empty() ? std::string("Error") : errorText;
    f.line = errorLine;
    return f;
}

ScriptFailure JsEngine::InstallObject(std::string_view name, std::size_t index) {
    ObjectToAdd add{name, static_cast<int>(index)};
    ScriptFailure f;
    if (duk_safe_call(ctx, InstallTemplate, &add, 0, 1) != DUK_EXEC_SUCCESS)
        f = FailureFromTop(FailureKind::RunTime);
    duk_pop(ctx);
    return f;
}

// Leaves one value on the stack, which Settle takes off once the deadline has stopped.
ScriptFailure JsEngine::Load(std::string_view code) {
    ScriptFailure f;
    if (duk_safe_call(ctx, CompileCode, &code, 0, 1) != DUK_EXEC_SUCCESS) {
        f = FailureFromTop(FailureKind::Syntax);
    } else if (duk_safe_call(ctx, CallCompiled, nullptr, 1, 1) != DUK_EXEC_SUCCESS) {
        f = FailureFromTop(FailureKind::RunTime);
    }
    return f;
}

ScriptFailure JsEngine::Call(std::string_view name) {
    ScriptFailure f;
    if (duk_safe_call(ctx, CallProcedure, &name, 0, 1) != DUK_EXEC_SUCCESS)
        f = FailureFromTop(FailureKind::RunTime);
    return f;
}

void JsEngine::ListGlobalFunctions() {
    duk_safe_call(ctx, NoteGlobalFunctions, nullptr, 0, 1);
    duk_pop(ctx);
}

}  // namespace

std::unique_ptr<LanguageEngine> MakeJavaScriptEngine(std::size_t memoryLimit) {
    auto engine = std::make_unique<JsEngine>(memoryLimit);
    if (!engine->Start()) return nullptr;
    return engine;
}

}  // namespace tallix::script

// Duktape's execution time check, called every few hundred thousand instructions. Once the
// deadline has passed it answers yes until the script has left Duktape: the interpreter then
// throws at every catch point instead of running further code, so a script cannot catch the
// stop and carry on.
extern "C" int tallix_duk_exec_timeout(void* udata) {
    if (!udata) return 0;
    return static_cast<tallix::script::JsEngine*>(udata)->deadline.Passed() ? 1 : 0;
}
