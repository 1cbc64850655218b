#pragma once
// The user's settings as both programs hold them while they run: one getter that fills the
// in-memory value from the settings store and one putter that writes it back, per setting.

#include <cstdint>
#include <string>
#include <string_view>

namespace tallix {

inline constexpr std::string_view kSettingsSection = "Settings";

// Source names stored in "UseSource".
inline constexpr std::string_view kSourcePop3 = "POP3";
inline constexpr std::string_view kSourceExtendedMapi = "EXTENDED MAPI";
inline constexpr std::string_view kSourceSimpleMapi = "SIMPLE MAPI";
inline constexpr std::string_view kSourceNetscape = "NETSCAPE";
inline constexpr std::string_view kSourceEudora = "EUDORA";
inline constexpr std::string_view kSourceFileOther = "FILE_OTHER";

struct SettingsState {
    std::string templateDir;
    std::string scriptDir;
    std::string scriptEngine;
    std::string scriptExt;
    bool useScripts = false;
    std::int16_t deleteFlag = 0;  // 0 never, 1 after asking, 2 without asking
    bool deleteUnused = false;
    bool showHelp = true;
    std::string useSource;
    std::string mapiProfile;
    std::string localFileName;
    // Each message is offered to a template once (a template's own key wins).
    bool processOnce = false;
    // Watch mode asks a POP3 or IMAP account for new mail this often.
    std::int32_t pollMinutes = 5;
};

inline constexpr std::int32_t kDefaultPollMinutes = 5;

// The program's settings; getters fill it, putters write it.
SettingsState& Settings();
// Back to the values a program starts with (tests).
void ResetSettings();

void GetTemplateDir();
void PutTemplateDir();
void GetScriptDir();
void PutScriptDir();
void GetScriptEngine();
void PutScriptEngine();
void GetScriptExt();
void PutScriptExt();
void GetUseScripts();
void PutUseScripts();
void GetDeleteFlag();  // also reads "DeleteUnused" when the flag is not 0
void PutDeleteFlag();
void PutDeleteUnused();
void GetShowHelp();
void PutShowHelp();
void GetUseSource();
void PutUseSource();
void GetMapiProfile();
void PutMapiProfile();
void GetLocalFileName();
void PutLocalFileName();
// Read only: a missing value is the default and nothing is written back, so a settings file
// without them stays as it is.
void GetProcessOnce();
void PutProcessOnce();
void GetPollMinutes();

}  // namespace tallix
