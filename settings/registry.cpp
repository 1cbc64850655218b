#include "settings/registry.h"

#include <pwd.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <utility>

#include "model/profile_file.h"
#include "settings/error_reporter.h"
#include "settings/text_functions.h"

namespace tallix {
namespace {

std::string ConfigHome() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg) return xdg;
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd* pw = ::getpwuid(::getuid());
        home = pw ? pw->pw_dir : "/tmp";
    }
    return std::string(home) + "/.config";
}

// A fault of the settings file is reported once per process (and file and fault): every
// setting read or written after it would meet it again.
bool FirstReportOf(const std::string& path, int err) {
    static std::mutex mutex;
    static std::set<std::pair<std::string, int>> reported;
    std::lock_guard lock(mutex);
    return reported.emplace(path, err).second;
}

// The settings file as it stands; a file that is there but cannot be read is named with the
// system's reason (the first time) and reads as empty.
profile::ProfileDocument LoadSettingsFile(const std::string& path, bool& readable) {
    profile::ProfileStatus status;
    auto doc = profile::ProfileDocument::Load(path, &status);
    readable = status.ok() || status.error == ENOENT;
    if (!readable && FirstReportOf(path, status.error)) RaiseErrno(status.error, path);
    return doc;
}

}  // namespace

std::string LoadResString(int id) {
    switch (id) {
        case 1001:
            return "Tallix";
        case 1002:
            return "Tallix";
        case 1003:
            return "Vantroy Technologies";
        case 1004:
            return "Vantroy Technologies";
        case 1005:
            return "support@tallix.example";
        case 1006:
            return "https://tallix.example";
        case 1007:
            return "Copyright (c) Vantroy Technologies";
        case 1008:
            return "All rights reserved.";
        case 1009:
            return "";
        case 1010:
            return "";
        case 1011:
            return "";
        case 1012:
            return "TALLIX";
        default:
            return "";
    }
}

std::string SettingsFilePath() {
    return ConfigHome() + "/" + LoadResString(kResMakerName) + "/" +
           LoadResString(kResProductName) + ".ini";
}

std::string GetRegData(std::string_view section, std::string_view valueName) {
    return GuardValue<std::string>("Declares - GetRegData", "", [&] {
        bool readable = true;
        auto doc = LoadSettingsFile(SettingsFilePath(), readable);
        auto value = doc.Find(Trim(section), valueName);
        if (!value) return std::string();
        // The stored length counts the terminating NUL; a value that does not fit the
        // buffer fails the read and comes back empty.
        std::size_t length = value->size() + 1;
        if (length > kRegBufferSize) return std::string();
        std::string buffer = *value;
        buffer.push_back('\0');
        return ConvertString(buffer, length);
    });
}

namespace {
std::atomic<bool> g_writesWithheld{false};
}  // namespace

void SetRegistryWritesWithheld(bool on) {
    g_writesWithheld = on;
}

bool RegistryWritesWithheld() {
    return g_writesWithheld;
}

void SaveRegData(std::string_view section, std::string_view valueName, std::string_view value) {
    if (g_writesWithheld) return;
    Guard("Declares - SaveRegData", [&] {
        std::string path = SettingsFilePath();
        std::error_code ec;
        std::filesystem::path dir = std::filesystem::path(path).parent_path();
        if (!std::filesystem::exists(dir, ec)) {
            std::filesystem::create_directories(dir, ec);
            std::filesystem::permissions(dir, std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::replace, ec);
        }
        // A line break would end the value early in the file and start a stray key there.
        std::string_view stored = value.substr(0, value.find_first_of("\r\n"));
        bool readable = true;
        auto doc = LoadSettingsFile(path, readable);
        // A file that cannot be read is not replaced by the one value known of it.
        if (!readable) return;
        doc.Set(section, valueName, stored);
        const profile::ProfileStatus saved = doc.Save(path, 0600);
        if (!saved.ok() && FirstReportOf(path, saved.error)) RaiseErrno(saved.error, path);
    });
}

std::string ConvertString(std::string_view buffer, std::size_t length) {
    return GuardValue<std::string>("Declares - ConvertString", "", [&] {
        length = std::min(length, buffer.size());
        if (length > 0 && buffer[length - 1] == '\0')
            return std::string(buffer.substr(0, length - 1));
        return std::string(buffer.substr(0, length));
    });
}

}  // namespace tallix
