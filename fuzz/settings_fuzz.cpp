// The settings file as the user (or another program) left it: every getter reads it without
// a crash and within the read buffer, and what the putters write back reads the same again.

#include <cstdint>
#include <filesystem>
#include <string>

#include "fuzz/fuzz_support.h"
#include "settings/error_reporter.h"
#include "settings/registry.h"
#include "settings/settings_store.h"

using namespace tallix;

namespace {

void GetAll() {
    GetTemplateDir();
    GetScriptDir();
    GetScriptEngine();
    GetScriptExt();
    GetUseScripts();
    GetDeleteFlag();
    GetShowHelp();
    GetUseSource();
    GetMapiProfile();
    GetLocalFileName();
}

void PutAll() {
    PutTemplateDir();
    PutScriptDir();
    PutScriptEngine();
    PutScriptExt();
    PutUseScripts();
    PutDeleteFlag();
    PutDeleteUnused();
    PutShowHelp();
    PutUseSource();
    PutMapiProfile();
    PutLocalFileName();
}

bool SameSettings(const SettingsState& a, const SettingsState& b) {
    return a.templateDir == b.templateDir && a.scriptDir == b.scriptDir &&
           a.scriptEngine == b.scriptEngine && a.scriptExt == b.scriptExt &&
           a.useScripts == b.useScripts && a.deleteFlag == b.deleteFlag &&
           a.deleteUnused == b.deleteUnused && a.showHelp == b.showHelp &&
           a.useSource == b.useSource && a.mapiProfile == b.mapiProfile &&
           a.localFileName == b.localFileName;
}

// A text that the file's value rules give back unchanged: outer blanks are trimmed and one
// outer quote pair is removed on reading, so only such texts can be compared after a write.
bool Stable(const std::string& v) {
    return v.find('"') == std::string::npos && v.find('\'') == std::string::npos &&
           (v.empty() || (v.front() > ' ' && v.back() > ' '));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Environment();
    fuzz::TrimLogs();
    const std::string path = SettingsFilePath();
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    fuzz::WriteFile(path, std::string_view(reinterpret_cast<const char*>(data), size));

    ResetSettings();
    GetAll();
    const SettingsState first = Settings();
    for (const std::string* v :
         {&first.templateDir, &first.scriptDir, &first.scriptEngine, &first.scriptExt,
          &first.useSource, &first.mapiProfile, &first.localFileName}) {
        FUZZ_CHECK(v->size() < kRegBufferSize, *v);
    }

    PutAll();
    ResetSettings();
    GetAll();
    bool comparable = true;
    for (const std::string* v :
         {&first.templateDir, &first.scriptDir, &first.scriptEngine, &first.scriptExt,
          &first.useSource, &first.mapiProfile, &first.localFileName}) {
        comparable = comparable && Stable(*v);
    }
    if (comparable) FUZZ_CHECK(SameSettings(first, Settings()), path);
    ResetSettings();
    Err().Clear();
    return 0;
}
