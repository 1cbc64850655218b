#pragma once
// The user's settings store: one INI file standing in for the registry key
// Software\<maker>\<product>\<section>. Value names match without regard to case.

#include <cstddef>
#include <string>
#include <string_view>

namespace tallix {

// The program string table; ids 1001 to 1012. Unknown ids give "".
std::string LoadResString(int id);
inline constexpr int kResShortProductName = 1001;
inline constexpr int kResProductName = 1002;
inline constexpr int kResMakerName = 1003;
inline constexpr int kResProductWord = 1012;

// $XDG_CONFIG_HOME (default ~/.config) + "/" + maker + "/" + product + ".ini".
std::string SettingsFilePath();

// The read buffer holds 255 bytes with the terminating NUL, so longer values read as "".
inline constexpr std::size_t kRegBufferSize = 255;

// The stored value, or "" when the value is missing, unreadable or too long.
std::string GetRegData(std::string_view section, std::string_view valueName);
// Creates the key and the file (mode 0600) as needed; failures are not reported.
void SaveRegData(std::string_view section, std::string_view valueName, std::string_view value);
// While on, SaveRegData stores nothing: a trial of a template reads the settings as a run
// does without storing the defaults a run stores for missing values.
void SetRegistryWritesWithheld(bool on);
bool RegistryWritesWithheld();

// The first `length` - 1 characters when the character at position `length` is NUL,
// else the first `length` characters.
std::string ConvertString(std::string_view buffer, std::size_t length);

}  // namespace tallix
