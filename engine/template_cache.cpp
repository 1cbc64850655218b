#include "engine/template_cache.h"

#include <sys/stat.h>

#include <optional>
#include <unordered_map>

#include "engine/template_files.h"
#include "model/template.h"
#include "settings/app_info.h"

namespace tallix::engine {
namespace {

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    timespec modified{};
    bool operator==(const FileIdentity& o) const {
        return device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
    }
};

std::optional<FileIdentity> Identify(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return FileIdentity{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

struct Kept {
    FileIdentity identity;
    std::shared_ptr<clsTemplate> parsed;  // nullptr: not kept, only the identity last seen
};

std::unordered_map<std::string, Kept>& Cache() {
    static std::unordered_map<std::string, Kept> cache;
    return cache;
}

}  // namespace

std::shared_ptr<clsTemplate> LoadTemplate(const std::string& path) {
    auto& cache = Cache();
    std::optional<FileIdentity> before = Identify(path);
    if (!before) {
        cache.erase(path);
        return nullptr;
    }
    auto it = cache.find(path);
    if (it != cache.end() && it->second.identity == *before && it->second.parsed)
        return it->second.parsed->Clone();
    auto tpl = std::make_shared<clsTemplate>();
    tpl->SetFileName(path);
    tpl->ReadTemplate();
    // Keep the parse only when the file did not change while it was read.
    std::optional<FileIdentity> after = Identify(path);
    if (after && *before == *after)
        cache[path] = Kept{*after, tpl->Clone()};
    else
        cache[path] = Kept{after.value_or(FileIdentity{}), nullptr};
    return tpl;
}

std::shared_ptr<clsTemplate> LoadTemplateFile(const std::string& dir, const std::string& name) {
    if (name.find('/') == std::string::npos) {
        if (auto tpl = LoadTemplate(JoinPath(dir, name))) return tpl;
    }
    std::optional<std::string> found = FindFileNoCase(dir, name);
    return found ? LoadTemplate(JoinPath(dir, *found)) : nullptr;
}

struct Stamp {
    std::string text;
    FileIdentity identity;
};

std::unordered_map<std::string, Stamp>& Stamps() {
    static std::unordered_map<std::string, Stamp> stamps;
    return stamps;
}

bool HoldsStamp(const std::string& path, const std::string& stamp) {
    auto it = Stamps().find(path);
    if (it == Stamps().end() || it->second.text != stamp) return false;
    auto loaded = Cache().find(path);
    return loaded != Cache().end() && loaded->second.identity == it->second.identity;
}

void StampWritten(const std::string& path, const std::string& stamp) {
    // The next message parses the file again.
    if (auto it = Cache().find(path); it != Cache().end()) it->second.parsed.reset();
    std::optional<FileIdentity> now = Identify(path);
    if (now)
        Stamps()[path] = Stamp{stamp, *now};
    else
        Stamps().erase(path);
}

void ClearTemplateCache() {
    Cache().clear();
    Stamps().clear();
}

}  // namespace tallix::engine
