// Lua 5.4.
//
// Lua (built as C) reports errors with longjmp, so the same rule holds as for Duktape: the
// frames Lua may jump out of hold only plain values, anything with a destructor lives in the
// engine object or in a helper that has returned. Every call into Lua from the host runs
// protected, with a message handler that notes the line of the loaded code that failed.
//
// Scripts get the standard libraries except `debug` (which could remove the time-limit
// hook); `os.exit` raises an error instead of ending the engine; every way of loading a chunk
// takes text only.

#include <lua.hpp>

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "engine/script_host/language_engine.h"
#include "engine/script_host/script_host.h"
#include "model/template.h"

namespace tallix::script {
namespace {

// The hook looks at the clock once per this many instructions.
constexpr int kHookEvery = 10'000;
constexpr std::string_view kChunkSource = "=scripts";
constexpr std::string_view kStoppedText = "script stopped at its time limit";

class LuaEngine final : public ScriptEngineBase {
  public:
    explicit LuaEngine(std::size_t memoryLimit) : ScriptEngineBase(memoryLimit) {}
    ~LuaEngine() override {
        if (L) lua_close(L);
    }
    bool Start();

    lua_State* L = nullptr;
    bool syntax = false;

  private:
    ScriptFailure InstallObject(std::string_view name, std::size_t index) override;
    void Arm() override;
    ScriptFailure Load(std::string_view code) override;
    ScriptFailure Call(std::string_view name) override;
    void ListGlobalFunctions() override;
    // Runs `function` with `udata` as its one argument, protected; the failure, if any.
    ScriptFailure Protected(lua_CFunction function, void* udata, FailureKind kind);
};

LuaEngine* EngineOf(lua_State* L) {
    return *static_cast<LuaEngine**>(lua_getextraspace(L));
}

void* LuaAlloc(void* udata, void* ptr, std::size_t osize, std::size_t nsize) {
    auto* e = static_cast<LuaEngine*>(udata);
    const std::size_t old = ptr ? osize : 0;  // without a block, osize names the kind of object
    if (nsize == 0) {
        std::free(ptr);
        e->memory.Release(old);
        return nullptr;
    }
    return e->memory.Resize(ptr, old, nsize);
}

// Once the deadline has passed, every instruction raises the stop again, so a script that
// catches it with pcall fails at its next instruction outside the pcall.
void CountHook(lua_State* L, lua_Debug*) {
    if (!EngineOf(L)->deadline.Passed()) return;
    lua_sethook(L, CountHook, LUA_MASKCOUNT, 1);
    luaL_error(L, "%s", kStoppedText.data());
}

// Notes the innermost line of the loaded code on the failing stack; the error is unchanged.
int MessageHandler(lua_State* L) {
    LuaEngine* e = EngineOf(L);
    lua_Debug ar;
    for (int level = 1; lua_getstack(L, level, &ar); ++level) {
        if (lua_getinfo(L, "Sl", &ar) && ar.currentline > 0 && ar.source == kChunkSource) {
            e->errorLine = ar.currentline;
            break;
        }
    }
    return 1;
}

int NoExit(lua_State* L) {
    return luaL_error(L, "os.exit is not available to scripts");
}

// What a trial leaves undone: the function's name is its upvalue.
int Withheld(lua_State* L) {
    return luaL_error(L, "%s is not done in a trial of a template",
                      lua_tostring(L, lua_upvalueindex(1)));
}

// io.open in a trial; the real io.open is the upvalue. A file opened for writing is noted
// and the handle given writes to /dev/null, so the script goes on as it would in a run.
int TrialOpen(lua_State* L) {
    const char* path = luaL_checkstring(L, 1);
    const char* mode = luaL_optstring(L, 2, "r");
    if (std::strpbrk(mode, "wa+")) {
        if (WithheldEffects* withheld = WithheldEffects::Active())
            withheld->Add(std::string("io.open ") + path + " (" + mode + ")");
        lua_settop(L, 0);
        lua_pushstring(L, "/dev/null");
        lua_pushstring(L, "w");
    }
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
    return lua_gettop(L);
}

void WithholdEffects(lua_State* L) {
    lua_getglobal(L, LUA_IOLIBNAME);
    lua_getfield(L, -1, "open");
    lua_pushcclosure(L, TrialOpen, 1);
    lua_setfield(L, -2, "open");
    for (const char* name : {"output", "popen", "tmpfile"}) {
        lua_pushfstring(L, "io.%s", name);
        lua_pushcclosure(L, Withheld, 1);
        lua_setfield(L, -2, name);
    }
    lua_pop(L, 1);
    lua_getglobal(L, LUA_OSLIBNAME);
    for (const char* name : {"execute", "remove", "rename", "tmpname"}) {
        lua_pushfstring(L, "os.%s", name);
        lua_pushcclosure(L, Withheld, 1);
        lua_setfield(L, -2, name);
    }
    lua_pop(L, 1);
    // package.loadlib would load native code that could do anything.
    lua_getglobal(L, LUA_LOADLIBNAME);
    lua_pushstring(L, "package.loadlib");
    lua_pushcclosure(L, Withheld, 1);
    lua_setfield(L, -2, "loadlib");
    lua_pushstring(L, "");
    lua_setfield(L, -2, "cpath");
    lua_pop(L, 1);
}

// --- Text chunks only. Lua does not verify a precompiled chunk, and an altered one crashes the
// interpreter; no script needs one. Every way a script can load a chunk takes text only. ---

// Calls the function in upvalue 1 with the arguments as they are and gives its results.
int CallOriginal(lua_State* L) {
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
    return lua_gettop(L);
}

// Argument `mode` of the wrapped function becomes "t". The arguments after it keep whether
// they were given at all: load and loadfile tell a missing environment from a nil one.
int TextMode(lua_State* L, int mode) {
    if (lua_gettop(L) < mode) {
        lua_settop(L, mode - 1);  // a nil before the mode is the same as none
        lua_pushliteral(L, "t");
    } else {
        lua_pushliteral(L, "t");
        lua_replace(L, mode);
    }
    return CallOriginal(L);
}

int TextLoad(lua_State* L) {
    return TextMode(L, 3);  // load(chunk, chunkname, mode, env)
}

int TextLoadFile(lua_State* L) {
    return TextMode(L, 2);  // loadfile(filename, mode, env)
}

// dofile(filename): the chunk is loaded as text and run with its results given back.
int TextDoFile(lua_State* L) {
    const char* name = luaL_optstring(L, 1, nullptr);
    lua_settop(L, 1);
    if (luaL_loadfilex(L, name, "t") != LUA_OK) return lua_error(L);
    lua_call(L, 0, LUA_MULTRET);
    return lua_gettop(L) - 1;
}

// require's searcher of Lua modules along package.path, loading them as text.
int TextSearcher(lua_State* L) {
    const char* name = luaL_checkstring(L, 1);
    lua_getglobal(L, LUA_LOADLIBNAME);
    lua_getfield(L, -1, "searchpath");
    lua_pushvalue(L, 1);
    lua_getfield(L, -3, "path");
    lua_call(L, 2, 2);
    if (lua_isnil(L, -2)) return 1;  // where it looked, for require's message
    const char* file = lua_tostring(L, -2);
    if (luaL_loadfilex(L, file, "t") != LUA_OK)
        return luaL_error(L, "error loading module '%s' from file '%s':\n\t%s", name, file,
                          lua_tostring(L, -1));
    lua_pushstring(L, file);
    return 2;
}

void LoadTextOnly(lua_State* L) {
    static const luaL_Reg kWrapped[] = {{"load", TextLoad}, {"loadfile", TextLoadFile}};
    for (const luaL_Reg& wrapped : kWrapped) {
        lua_getglobal(L, wrapped.name);
        lua_pushcclosure(L, wrapped.func, 1);
        lua_setglobal(L, wrapped.name);
    }
    lua_pushcfunction(L, TextDoFile);
    lua_setglobal(L, "dofile");
    // The second searcher is the one for Lua files (the first finds preloaded modules, the
    // others native libraries).
    lua_getglobal(L, LUA_LOADLIBNAME);
    lua_getfield(L, -1, "searchers");
    lua_pushcfunction(L, TextSearcher);
    lua_rawseti(L, -2, 2);
    lua_pop(L, 2);
}

int OpenLibraries(lua_State* L) {
    static const luaL_Reg kLibraries[] = {
        {LUA_GNAME, luaopen_base},          {LUA_LOADLIBNAME, luaopen_package},
        {LUA_COLIBNAME, luaopen_coroutine}, {LUA_TABLIBNAME, luaopen_table},
        {LUA_IOLIBNAME, luaopen_io},        {LUA_OSLIBNAME, luaopen_os},
        {LUA_STRLIBNAME, luaopen_string},   {LUA_MATHLIBNAME, luaopen_math},
        {LUA_UTF8LIBNAME, luaopen_utf8},
    };
    for (const luaL_Reg& lib : kLibraries) {
        luaL_requiref(L, lib.name, lib.func, 1);
        lua_pop(L, 1);
    }
    lua_getglobal(L, LUA_OSLIBNAME);
    lua_pushcfunction(L, NoExit);
    lua_setfield(L, -2, "exit");
    lua_pop(L, 1);
    LoadTextOnly(L);
    if (WithheldEffects::Active()) WithholdEffects(L);
    return 0;
}

// --- The "Template" table. Its functions carry the object's number as their upvalue. ---

std::size_t ObjectOf(lua_State* L) {
    return static_cast<std::size_t>(lua_tointeger(L, lua_upvalueindex(1)));
}

// Called as Template:F(...) the table comes first; as Template.F(...) it does not.
int FirstArgument(lua_State* L) {
    return lua_istable(L, 1) ? 2 : 1;
}

void PushValue(lua_State* L, const MemberValue& value) {
    if (auto* s = std::get_if<std::string>(&value)) {
        lua_pushlstring(L, s->data(), s->size());
    } else if (auto* b = std::get_if<bool>(&value)) {
        lua_pushboolean(L, *b);
    } else if (auto* n = std::get_if<double>(&value)) {
        lua_pushinteger(L, static_cast<lua_Integer>(*n));
    } else if (auto* names = std::get_if<std::vector<std::string>>(&value)) {
        lua_createtable(L, static_cast<int>(names->size()), 0);
        for (std::size_t i = 0; i < names->size(); ++i) {
            lua_pushlstring(L, (*names)[i].data(), (*names)[i].size());
            lua_rawseti(L, -2, static_cast<lua_Integer>(i + 1));
        }
    }
}

int TemplateIndex(lua_State* L) {
    LuaEngine* e = EngineOf(L);
    const std::size_t object = ObjectOf(L);
    if (lua_type(L, 2) != LUA_TSTRING || !e->HasObject(object)) return 0;
    std::size_t length = 0;
    const char* key = lua_tolstring(L, 2, &length);
    bool known = false;
    if (!e->ReadMember(object, {key, length}, known))
        return luaL_error(L, "Template: member could not be read");
    if (!known) return 0;
    PushValue(L, e->value);
    return 1;
}

// A flag member takes true or false, a text member a string or a number; other names cannot
// be assigned.
int TemplateNewIndex(lua_State* L) {
    LuaEngine* e = EngineOf(L);
    const std::size_t object = ObjectOf(L);
    std::size_t length = 0;
    const char* key = lua_type(L, 2) == LUA_TSTRING ? lua_tolstring(L, 2, &length) : nullptr;
    const MemberKind kind =
        key && e->HasObject(object) ? TemplateMemberKind({key, length}) : MemberKind::ReadOnly;
    bool stored = false;
    switch (kind) {
        case MemberKind::ReadOnly:
            return luaL_error(L,
                              "Template members cannot be assigned; use Template:SetValueByName");
        case MemberKind::Flag: {
            if (lua_type(L, 3) != LUA_TBOOLEAN)
                return luaL_error(L, "Template.%s takes true or false", key);
            const bool flag = lua_toboolean(L, 3) != 0;
            stored = WithoutExceptions([&] { e->input = flag; });
            break;
        }
        case MemberKind::Text: {
            if (!lua_isstring(L, 3)) return luaL_error(L, "Template.%s takes a text", key);
            std::size_t valueLength = 0;
            const char* text = lua_tolstring(L, 3, &valueLength);
            stored = WithoutExceptions([&] { e->input = std::string(text, valueLength); });
            break;
        }
    }
    bool assigned = false;
    if (!stored || !e->WriteMember(object, {key, length}, assigned))
        return luaL_error(L, "Template: member could not be assigned");
    return 0;
}

int TemplateGetValueByName(lua_State* L) {
    LuaEngine* e = EngineOf(L);
    const std::size_t object = ObjectOf(L);
    std::size_t length = 0;
    const char* name = luaL_checklstring(L, FirstArgument(L), &length);
    if (!e->HasObject(object) || !e->GetValue(object, {name, length}))
        return luaL_error(L, "Template:GetValueByName failed");
    lua_pushlstring(L, e->text.data(), e->text.size());
    return 1;
}

int TemplateSetValueByName(lua_State* L) {
    LuaEngine* e = EngineOf(L);
    const std::size_t object = ObjectOf(L);
    const int first = FirstArgument(L);
    std::size_t nameLength = 0, valueLength = 0;
    const char* name = luaL_checklstring(L, first, &nameLength);
    const char* value = luaL_checklstring(L, first + 1, &valueLength);
    if (!e->HasObject(object) || !e->SetValue(object, {name, nameLength}, {value, valueLength}))
        return luaL_error(L, "Template:SetValueByName failed");
    return 0;
}

struct ObjectToAdd {
    std::string_view name;
    lua_Integer index;
};

int InstallTemplate(lua_State* L) {
    const auto* add = static_cast<const ObjectToAdd*>(lua_touserdata(L, 1));
    lua_newtable(L);
    const struct {
        const char* name;
        lua_CFunction function;
    } kMethods[] = {{"GetValueByName", TemplateGetValueByName},
                    {"SetValueByName", TemplateSetValueByName}};
    for (const auto& m : kMethods) {
        lua_pushinteger(L, add->index);
        lua_pushcclosure(L, m.function, 1);
        lua_setfield(L, -2, m.name);
    }
    lua_newtable(L);  // the metatable: members are read through __index
    lua_pushinteger(L, add->index);
    lua_pushcclosure(L, TemplateIndex, 1);
    lua_setfield(L, -2, "__index");
    lua_pushinteger(L, add->index);
    lua_pushcclosure(L, TemplateNewIndex, 1);
    lua_setfield(L, -2, "__newindex");
    lua_setmetatable(L, -2);
    lua_pushglobaltable(L);
    lua_pushlstring(L, add->name.data(), add->name.size());
    lua_pushvalue(L, -3);
    lua_settable(L, -3);
    return 0;
}

// --- Loading, running, listing. ---

int LoadCode(lua_State* L) {
    const auto* code = static_cast<const std::string_view*>(lua_touserdata(L, 1));
    // Text only: a precompiled chunk is not checked by Lua and could crash the engine.
    if (luaL_loadbufferx(L, code->data(), code->size(), kChunkSource.data(), "t") != LUA_OK) {
        EngineOf(L)->syntax = true;
        return lua_error(L);
    }
    lua_call(L, 0, 0);
    return 0;
}

int CallProcedure(lua_State* L) {
    const auto* name = static_cast<const std::string_view*>(lua_touserdata(L, 1));
    lua_pushglobaltable(L);
    lua_pushlstring(L, name->data(), name->size());
    lua_gettable(L, -2);
    if (!lua_isfunction(L, -1)) {
        EngineOf(L)->notFound = true;
        return 0;
    }
    lua_call(L, 0, 0);
    return 0;
}

// The global functions, noted with the engine.
int NoteGlobalFunctions(lua_State* L) {
    LuaEngine* e = EngineOf(L);
    lua_pushglobaltable(L);
    lua_pushnil(L);
    while (lua_next(L, -2)) {
        if (lua_type(L, -2) == LUA_TSTRING && lua_isfunction(L, -1)) {
            std::size_t length = 0;
            const char* key = lua_tolstring(L, -2, &length);
            if (!e->NoteGlobalFunction({key, length}, lua_topointer(L, -1)))
                return luaL_error(L, "listing failed");
        }
        lua_pop(L, 1);
    }
    return 0;
}

// The message with a leading "scripts:N: " taken off; N goes to `line` when it is not known.
std::string WithoutPosition(std::string message, int& line) {
    const std::string prefix = std::string(kChunkSource.substr(1)) + ":";
    if (message.compare(0, prefix.size(), prefix) != 0) return message;
    std::size_t i = prefix.size();
    int n = 0;
    while (i < message.size() && message[i] >= '0' && message[i] <= '9' && n < 100'000'000)
        n = n * 10 + (message[i++] - '0');
    if (i + 1 < message.size() && message[i] == ':' && message[i + 1] == ' ') {
        if (line <= 0) line = n;
        return message.substr(i + 2);
    }
    return message;
}

bool LuaEngine::Start() {
    L = lua_newstate(LuaAlloc, this);
    if (!L) return false;
    *static_cast<LuaEngine**>(lua_getextraspace(L)) = this;
    lua_sethook(L, CountHook, LUA_MASKCOUNT, kHookEvery);
    return !Protected(OpenLibraries, nullptr, FailureKind::RunTime);
}

ScriptFailure LuaEngine::Protected(lua_CFunction function, void* udata, FailureKind kind) {
    const int base = lua_gettop(L);
    errorLine = 0;
    syntax = false;
    // Pushing C functions and a light userdata allocates nothing, so this cannot fail
    // outside the protection.
    lua_pushcfunction(L, MessageHandler);
    lua_pushcfunction(L, function);
    lua_pushlightuserdata(L, udata);
    const int status = lua_pcall(L, 1, 0, base + 1);
    ScriptFailure f;
    if (status != LUA_OK) {
        f.kind = Stopped(syntax ? FailureKind::Syntax : kind, status == LUA_ERRMEM);
        // Only a string (or a number) is read as text; converting anything else could fail
        // outside the protection.
        std::size_t length = 0;
        const char* message = nullptr;
        if (lua_type(L, -1) == LUA_TSTRING) message = lua_tolstring(L, -1, &length);
        int line = errorLine;
        if (message) {
            f.message = WithoutPosition(std::string(message, length), line);
        } else if (lua_type(L, -1) == LUA_TNUMBER) {
            f.message = std::to_string(lua_tonumber(L, -1));
        } else {
            f.message = std::string("(error object is a ") + luaL_typename(L, -1) + " value)";
        }
        f.line = line;
    }
    lua_settop(L, base);
    return f;
}

ScriptFailure LuaEngine::InstallObject(std::string_view name, std::size_t index) {
    ObjectToAdd add{name, static_cast<lua_Integer>(index)};
    return Protected(InstallTemplate, &add, FailureKind::RunTime);
}

// The count hook is set again before each piece of code: after a stop it fires at every
// instruction.
void LuaEngine::Arm() {
    lua_sethook(L, CountHook, LUA_MASKCOUNT, kHookEvery);
}

ScriptFailure LuaEngine::Load(std::string_view code) {
    return Protected(LoadCode, &code, FailureKind::RunTime);
}

ScriptFailure LuaEngine::Call(std::string_view name) {
    return Protected(CallProcedure, &name, FailureKind::RunTime);
}

void LuaEngine::ListGlobalFunctions() {
    Protected(NoteGlobalFunctions, nullptr, FailureKind::RunTime);
}

}  // namespace

std::unique_ptr<LanguageEngine> MakeLuaEngine(std::size_t memoryLimit) {
    auto engine = std::make_unique<LuaEngine>(memoryLimit);
    if (!engine->Start()) return nullptr;
    return engine;
}

}  // namespace tallix::script
