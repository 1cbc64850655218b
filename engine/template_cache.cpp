#include "engine/template_cache.h"

#include <sys/stat.h>

#include <optional>
#include <unordered_map>

#include "model/template.h"

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
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileIdentity{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

struct Kept {
    FileIdentity identity;
    std::shared_ptr<clsTemplate> parsed;
};

std::unordered_map<std::string, Kept>& Cache() {
    static std::unordered_map<std::string, Kept> cache;
    return cache;
}

}  // namespace

std::shared_ptr<clsTemplate> LoadTemplate(const std::string& path) {
    auto& cache = Cache();
    std::optional<FileIdentity> before = Identify(path);
    if (before) {
        auto it = cache.find(path);
        if (it != cache.end() && it->second.identity == *before) return it->second.parsed->Clone();
    }
    auto tpl = std::make_shared<clsTemplate>();
    tpl->SetFileName(path);
    tpl->ReadTemplate();
    // Keep the parse only when the file did not change while it was read.
    std::optional<FileIdentity> after = Identify(path);
    if (before && after && *before == *after)
        cache[path] = Kept{*after, tpl->Clone()};
    else
        cache.erase(path);
    return tpl;
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
    std::optional<FileIdentity> now = Identify(path);
    return now && *now == it->second.identity;
}

void StampWritten(const std::string& path, const std::string& stamp) {
    Cache().erase(path);
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
