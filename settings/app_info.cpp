#include "settings/app_info.h"

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

const std::string& ExeName() { return Id().exeName; }
const std::string& ProductName() { return Id().productName; }

const std::string& ProgramDir() {
    auto& cached = CachedProgramDir();
    if (!cached) {
        const char* home = std::getenv("TALLIX_HOME");
        if (home && *home) {
            cached = WithoutTrailingSlash(home);
        } else {
            std::error_code ec;
            auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
            cached = ec ? std::string(".") : WithoutTrailingSlash(exe.parent_path().string());
        }
    }
    return *cached;
}

void ResetProgramDir() { CachedProgramDir().reset(); }

std::string JoinPath(std::string_view dir, std::string_view name) {
    std::string r(dir);
    if (r.empty() || r.back() != '/') r += '/';
    r += name;
    return r;
}

}  // namespace tallix
