#include "engine/template_cache.h"

#include <optional>

#include "engine/template_files.h"
#include "model/template.h"
#include "settings/app_info.h"

namespace tallix::engine {

std::shared_ptr<clsTemplate> TemplateCache::Load(const std::string& path) {
    auto it = m_kept.find(path);
    if (it != m_kept.end() && it->second.parsed && it->second.watched && m_watch.Unchanged(path))
        return it->second.parsed->Clone();
    // Watch again before looking, so an edit made while the file is read is seen next time.
    const bool watched = m_watch.Watch(path, FileWatch::Interest::Content);
    std::optional<FileIdentity> before = IdentifyRegularFile(path);
    if (!before) {
        m_kept.erase(path);
        return nullptr;
    }
    if (it != m_kept.end() && it->second.identity == *before && it->second.parsed) {
        it->second.watched = watched;
        return it->second.parsed->Clone();
    }
    auto tpl = std::make_shared<clsTemplate>();
    tpl->SetFileName(path);
    tpl->ReadTemplate();
    // Keep the parse only when the file did not change while it was read.
    std::optional<FileIdentity> after = IdentifyRegularFile(path);
    if (after && *before == *after)
        m_kept[path] = Kept{*after, tpl->Clone(), watched};
    else
        m_kept[path] = Kept{after.value_or(FileIdentity{}), nullptr, false};
    return tpl;
}

std::shared_ptr<clsTemplate> TemplateCache::LoadFile(const std::string& dir, const std::string& name) {
    if (name.find('/') == std::string::npos) {
        if (auto tpl = Load(JoinPath(dir, name))) return tpl;
    }
    std::optional<std::string> found = FindFileNoCase(dir, name);
    return found ? Load(JoinPath(dir, *found)) : nullptr;
}

bool TemplateCache::HoldsStamp(const std::string& path, const std::string& stamp) const {
    auto it = m_stamps.find(path);
    if (it == m_stamps.end() || it->second.text != stamp) return false;
    auto loaded = m_kept.find(path);
    return loaded != m_kept.end() && loaded->second.identity == it->second.identity;
}

void TemplateCache::StampWritten(const std::string& path, const std::string& stamp) {
    // The next message parses the file again.
    if (auto it = m_kept.find(path); it != m_kept.end()) it->second.parsed.reset();
    std::optional<FileIdentity> now = IdentifyRegularFile(path);
    if (now)
        m_stamps[path] = Stamp{stamp, *now};
    else
        m_stamps.erase(path);
}

void TemplateCache::Clear() {
    m_kept.clear();
    m_stamps.clear();
}

}  // namespace tallix::engine
