#include "settings/scratch_dir.h"

#include <unistd.h>
#include <cstdlib>
#include <filesystem>

#include "settings/app_info.h"
#include "settings/text_functions.h"

namespace tallix {
namespace {

bool UsablePath(std::string_view path) {
    return path.find('.') == std::string_view::npos && UCase(path).find("HTM") == std::string::npos;
}

std::string& Path() {
    static std::string path;
    return path;
}

thread_local const std::string* t_scoped = nullptr;

std::string MakeScratchDir() {
    std::string base = "/tmp";
    if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp && UsablePath(tmp)) base = tmp;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    // A random name may spell "htm" by chance: try again.
    for (int attempt = 0; attempt < 20; ++attempt) {
        std::string templ = JoinPath(base, "txscratch-XXXXXX");
        if (!::mkdtemp(templ.data())) return {};
        if (UsablePath(templ)) return templ;
        ::rmdir(templ.c_str());
    }
    return {};
}

}  // namespace

const std::string& ScratchDir() {
    if (t_scoped) return *t_scoped;
    std::string& path = Path();
    if (path.empty()) {
        path = MakeScratchDir();
        static bool removalRegistered = false;
        if (!path.empty() && !removalRegistered) {
            std::atexit(RemoveScratchDir);
            removalRegistered = true;
        }
    }
    return path;
}

std::string ScratchFile(std::string_view name) {
    return JoinPath(ScratchDir(), name);
}

ScratchScope::ScratchScope() : m_previous(t_scoped) {
    const std::string& outer = ScratchDir();
    if (!outer.empty()) {
        std::string templ = JoinPath(outer, "scope-XXXXXX");
        // The outer path is usable; a random part that spells "htm" is tried again.
        for (int attempt = 0; attempt < 20 && m_path.empty(); ++attempt) {
            std::string made = templ;
            if (!::mkdtemp(made.data())) break;
            if (UsablePath(made))
                m_path = std::move(made);
            else
                ::rmdir(made.c_str());
        }
    }
    // Without a directory of its own the scope has none at all ("" as when none can be made),
    // rather than falling back to the shared one.
    t_scoped = &m_path;
}

ScratchScope::~ScratchScope() {
    t_scoped = m_previous;
    if (m_path.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

void RemoveScratchDir() {
    std::string& path = Path();
    if (path.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    path.clear();
}

}  // namespace tallix
