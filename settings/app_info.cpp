#include "settings/app_info.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>

namespace tallix {
namespace {

struct Identity {
    std::string exeName = "txengine";
    std::string productName = "txEngine";
};

Identity& Id() {
    static Identity id;
    return id;
}

std::optional<std::string>& CachedProgramDir() {
    static std::optional<std::string> dir;
    return dir;
}

std::string WithoutTrailingSlash(std::string dir) {
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

}  // namespace

void SetProgramIdentity(std::string exeName, std::string productName) {
    Id().exeName = std::move(exeName);
    Id().productName = std::move(productName);
}

const std::string& ExeName() {
    return Id().exeName;
}
const std::string& ProductName() {
    return Id().productName;
}

std::string ExecutableDir() {
    // The running program's file does not move while it runs: looked up once.
    static const std::string dir = [] {
        std::error_code ec;
        auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
        return ec ? std::string(".") : WithoutTrailingSlash(exe.parent_path().string());
    }();
    return dir;
}

bool IsInstalledCopy() {
    const std::string dir = ExecutableDir();
    std::error_code ec;
    if (std::filesystem::is_directory(JoinPath(dir, "Examples"), ec)) return false;
    // The installed data directory beside bin/ marks an installed copy too: root can write
    // to /usr/bin, and a copy installed into a private prefix is writable as well.
    const std::filesystem::path data =
        std::filesystem::path(dir).parent_path() / "share" / "tallix";
    return ::access(dir.c_str(), W_OK) != 0 || std::filesystem::is_directory(data, ec);
}

namespace {

// $XDG_DATA_HOME/tallix, or ~/.local/share/tallix; created private on first use. An
// unusable location falls back to the executable's directory, where writes then fail
// with the usual reports.
std::string UserDataDir() {
    std::string base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg && xdg[0] == '/') {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = JoinPath(home, ".local/share");
    } else {
        return ExecutableDir();
    }
    std::error_code ec;
    std::filesystem::create_directories(base, ec);
    const std::string dir = JoinPath(base, "tallix");
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return ExecutableDir();
    return WithoutTrailingSlash(dir);
}

}  // namespace

const std::string& ProgramDir() {
    auto& cached = CachedProgramDir();
    if (!cached) {
        const char* home = std::getenv("TALLIX_HOME");
        if (home && *home)
            cached = WithoutTrailingSlash(home);
        else if (IsInstalledCopy())
            cached = UserDataDir();
        else
            cached = ExecutableDir();
    }
    return *cached;
}

std::string DataDir() {
    std::error_code ec;
    if (std::filesystem::is_directory(JoinPath(ProgramDir(), "Examples"), ec)) return ProgramDir();
    const std::filesystem::path installed =
        std::filesystem::path(ExecutableDir()).parent_path() / "share" / "tallix";
    if (std::filesystem::is_directory(installed, ec)) return installed.lexically_normal().string();
    return ProgramDir();
}

void ResetProgramDir() {
    CachedProgramDir().reset();
}

std::string JoinPath(std::string_view dir, std::string_view name) {
    std::string r(dir);
    if (r.empty() || r.back() != '/') r += '/';
    r += name;
    return r;
}

}  // namespace tallix
