#include "settings/settings_store.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <string_view>

#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/global_utils.h"
#include "settings/registry.h"
#include "settings/system_rules.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"

namespace tallix {
namespace {

constexpr std::string_view kTemplateDirValue = "TemplateDir";
constexpr std::string_view kScriptDirValue = "ScriptDir";
constexpr std::string_view kScriptEngineValue = "ScriptEngine";
constexpr std::string_view kScriptExtValue = "ScriptExt";
constexpr std::string_view kUseScriptsValue = "UseScripts";
constexpr std::string_view kDeleteFlagValue = "DeleteFlag";
constexpr std::string_view kDeleteUnusedValue = "DeleteUnused";
constexpr std::string_view kShowHelpValue = "ShowHelpText";
constexpr std::string_view kUseSourceValue = "UseSource";
constexpr std::string_view kProfileValue = "Profile";
constexpr std::string_view kLocalFileNameValue = "LocalFileName";
constexpr std::string_view kProcessOnceValue = "ProcessOnce";
constexpr std::string_view kPollMinutesValue = "PollMinutes";
// A poll less often than once a day is taken for a mistyped value.
constexpr std::int32_t kMaxPollMinutes = 24 * 60;
constexpr std::string_view kOldMapiSource = "MAPI";
constexpr std::string_view kNoTemplateDirText =
    "The template directory could not be found.\n"
    "Please define a valid directory in the System Options Dialog";

std::string Read(std::string_view name) {
    return GetRegData(kSettingsSection, name);
}
void Write(std::string_view name, std::string_view value) {
    SaveRegData(kSettingsSection, name, value);
}
std::string_view BoolText(bool value) {
    return value ? kTrueText : kFalseText;
}

// A directory the settings name by its default (beside the program) is made when missing, as an
// installer would have made it, private to the user; a directory the user chose is never made.
// Returns "" when the directory is there or was made, else the path and the system's reason. A
// trial, which stores nothing, makes nothing either.
std::string MakeDefaultDirectory(const std::string& dir, std::string_view defaultName) {
    if (dir != JoinPath(ProgramDir(), defaultName) || RegistryWritesWithheld()) return {};
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) return {};
    if (::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST) return {};
    return dir + ": " + std::strerror(errno);
}

// Runs a getter or putter body under "modGlobal - " + its name.
template <class Body>
void Setting(const char* operation, Body&& body) {
    Guard(std::string("modGlobal - ") + operation, std::forward<Body>(body));
}

}  // namespace

SettingsState& Settings() {
    static SettingsState state;
    return state;
}

void ResetSettings() {
    Settings() = SettingsState{};
}

void GetTemplateDir() {
    Setting("GetTemplateDir", [] {
        auto& s = Settings();
        s.templateDir = Read(kTemplateDirValue);
        if (s.templateDir.empty()) {
            s.templateDir = JoinPath(ProgramDir(), "templates");
            PutTemplateDir();
        }
        const std::string notMade = MakeDefaultDirectory(s.templateDir, "templates");
        if (!IsValidDirectory(s.templateDir))
            MsgBox(notMade.empty() ? std::string(kNoTemplateDirText)
                                   : std::string(kNoTemplateDirText) + "\n" + notMade,
                   MsgButtons::Ok, MsgIcon::Critical, ExeName());
    });
}

void PutTemplateDir() {
    Setting("PutTemplateDir", [] { Write(kTemplateDirValue, Trim(Settings().templateDir)); });
}

void GetScriptDir() {
    Setting("GetScriptDir", [] {
        auto& s = Settings();
        s.scriptDir = Read(kScriptDirValue);
        if (s.scriptDir.empty()) {
            s.scriptDir = JoinPath(ProgramDir(), "scripts");
            PutScriptDir();
        }
        MakeDefaultDirectory(s.scriptDir, "scripts");
    });
}

void PutScriptDir() {
    Setting("PutScriptDir", [] { Write(kScriptDirValue, Trim(Settings().scriptDir)); });
}

void GetScriptEngine() {
    Setting("GetScriptEngine", [] { Settings().scriptEngine = Read(kScriptEngineValue); });
}

void PutScriptEngine() {
    Setting("PutScriptEngine", [] { Write(kScriptEngineValue, Trim(Settings().scriptEngine)); });
}

void GetScriptExt() {
    Setting("GetScriptExt", [] { Settings().scriptExt = Trim(Read(kScriptExtValue)); });
}

void PutScriptExt() {
    Setting("PutScriptExt", [] { Write(kScriptExtValue, Trim(Settings().scriptExt)); });
}

void GetUseScripts() {
    Setting("GetUseScripts", [] { Settings().useScripts = Read(kUseScriptsValue) == kTrueText; });
}

void PutUseScripts() {
    Setting("PutUseScripts", [] { Write(kUseScriptsValue, BoolText(Settings().useScripts)); });
}

void GetDeleteFlag() {
    Setting("GetDeleteFlag", [] {
        auto& s = Settings();
        std::string stored = Read(kDeleteFlagValue);
        // A stored text that is no 16-bit number raises an overflow here: it is reported, the
        // policy stays "never delete", and the stored text is left for the user to correct.
        s.deleteFlag = 0;
        s.deleteUnused = false;
        const std::int16_t value = stored.empty() ? std::int16_t{-1} : CInt(Val(Trim(stored)));
        if (value < 0 || value > 2) {
            PutDeleteFlag();
        } else {
            s.deleteFlag = value;
        }
        if (s.deleteFlag != 0) {
            std::string unused = Read(kDeleteUnusedValue);
            if (unused.empty())
                PutDeleteUnused();
            else if (unused == kTrueText)
                s.deleteUnused = true;
        }
    });
}

void PutDeleteFlag() {
    Setting("PutDeleteFlag",
            [] { Write(kDeleteFlagValue, std::to_string(Settings().deleteFlag)); });
}

void PutDeleteUnused() {
    Setting("PutDeleteUnused",
            [] { Write(kDeleteUnusedValue, BoolText(Settings().deleteUnused)); });
}

void GetShowHelp() {
    Setting("GetShowHelp", [] { Settings().showHelp = Read(kShowHelpValue) != kFalseText; });
}

void PutShowHelp() {
    Setting("PutShowHelp", [] { Write(kShowHelpValue, BoolText(Settings().showHelp)); });
}

void GetUseSource() {
    Setting("GetUseSource", [] {
        auto& s = Settings();
        s.useSource = Read(kUseSourceValue);
        if (s.useSource == kOldMapiSource) {
            s.useSource = kSourceExtendedMapi;
            PutUseSource();
        }
    });
}

void PutUseSource() {
    Setting("PutUseSource", [] { Write(kUseSourceValue, Trim(Settings().useSource)); });
}

void GetMapiProfile() {
    Setting("GetMapiProfile", [] { Settings().mapiProfile = Read(kProfileValue); });
}

void PutMapiProfile() {
    Setting("PutMapiProfile", [] { Write(kProfileValue, Trim(Settings().mapiProfile)); });
}

void GetLocalFileName() {
    Setting("GetLocalFileName", [] { Settings().localFileName = Read(kLocalFileNameValue); });
}

void PutLocalFileName() {
    Setting("PutLocalFileName", [] { Write(kLocalFileNameValue, Trim(Settings().localFileName)); });
}

void GetProcessOnce() {
    Setting("GetProcessOnce", [] {
        Settings().processOnce = EqualsNoCase(Trim(Read(kProcessOnceValue)), kTrueText);
    });
}

void PutProcessOnce() {
    Setting("PutProcessOnce", [] { Write(kProcessOnceValue, BoolText(Settings().processOnce)); });
}

void GetPollMinutes() {
    Setting("GetPollMinutes", [] {
        const std::string stored = Trim(Read(kPollMinutesValue));
        const double minutes = stored.empty() ? 0 : Val(stored);
        Settings().pollMinutes = minutes >= 1 && minutes <= kMaxPollMinutes
                                     ? static_cast<std::int32_t>(minutes)
                                     : kDefaultPollMinutes;
    });
}

}  // namespace tallix
