#include "engine/template_cache.h"

#include <optional>

#include "engine/template_files.h"
#include "model/template.h"
#include "settings/app_info.h"
#include "settings/error_reporter.h"

namespace tallix::engine {

namespace {

// Puts back what a message changes in a template when no script runs.
void PutBackValues(clsTemplate& working, const clsTemplate& parsed) {
    working.SetLastRan(parsed.LastRan());
    const auto parsedFields = parsed.colFields();
    const auto workingFields = working.colFields();
    if (!parsedFields || !workingFields) return;
    // Both lists stay as they are meanwhile: they are walked in place, not copied.
    auto to = workingFields->begin();
    for (auto from = parsedFields->begin();
         from != parsedFields->end() && to != workingFields->end(); ++from, ++to)
        (*to)->SetValue((*from)->ValueRef());
}

}  // namespace

std::shared_ptr<clsTemplate> TemplateCache::HandOut(Kept& kept, bool scriptsRun) {
    if (scriptsRun) return kept.parsed->Clone();
    if (kept.working) {
        PutBackValues(*kept.working, *kept.parsed);
    } else {
        kept.working = kept.parsed->Clone();
        kept.shape.reset();
    }
    return kept.working;
}

const TemplateCache::Recent* TemplateCache::RecentFor(std::size_t slot) const {
    if (slot >= m_recent.size()) return nullptr;
    const Recent& recent = m_recent[slot];
    if (!recent.kept || recent.generation != m_watch.Generation() || recent.version != m_version)
        return nullptr;
    return &recent;
}

void TemplateCache::Remember(std::size_t slot, const std::string& dir, const std::string& name,
                             const std::string& path, Kept& kept) {
    // A run's list of templates is short; a slot far out is not kept.
    constexpr std::size_t kMostSlots = 4096;
    if (slot >= kMostSlots) return;
    if (slot >= m_recent.size()) m_recent.resize(slot + 1);
    Recent& recent = m_recent[slot];
    recent.generation = m_watch.Generation();
    recent.version = m_version;
    recent.dir = dir;
    recent.name = name;
    recent.path = path;
    recent.kept = &kept;
}

std::shared_ptr<clsTemplate> TemplateCache::Load(const std::string& path, bool scriptsRun,
                                                 std::size_t slot) {
    if (const Recent* recent = RecentFor(slot); recent && recent->path == path)
        return HandOut(*recent->kept, scriptsRun);
    auto it = m_kept.find(path);
    if (it != m_kept.end() && it->second.parsed && it->second.watched && m_watch.Unchanged(path))
        return HandOut(it->second, scriptsRun);
    ++m_version;
    // Watch again before looking, so an edit made while the file is read is seen next time.
    const bool watched = m_watch.Watch(path, FileWatch::Interest::Content);
    std::optional<FileIdentity> before = IdentifyRegularFile(path);
    if (!before) {
        m_kept.erase(path);
        return nullptr;
    }
    if (it != m_kept.end() && it->second.identity == *before && it->second.parsed) {
        it->second.watched = watched;
        return HandOut(it->second, scriptsRun);
    }
    auto tpl = std::make_shared<clsTemplate>();
    tpl->SetFileName(path);
    const bool readCleanly = tpl->ReadTemplate();
    // Keep the parse only when the file did not change while it was read and read cleanly.
    // A refused template is kept too: it is reported once, and skipped while it is unchanged.
    std::optional<FileIdentity> after = IdentifyRegularFile(path);
    if (after && *before == *after && (readCleanly || tpl->Refused()))
        m_kept[path] = Kept{*after, tpl->Clone(), watched, scriptsRun ? nullptr : tpl, nullptr};
    else
        m_kept[path] = Kept{after.value_or(FileIdentity{}), nullptr, false, nullptr, nullptr};
    return tpl;
}

std::optional<std::string> TemplateCache::Find(const std::string& dir, const std::string& name,
                                               std::size_t slot) {
    if (const Recent* recent = RecentFor(slot);
        recent && recent->name == name && recent->dir == dir)
        return recent->path;
    if (name.find('/') == std::string::npos) {
        std::string path = JoinPath(dir, name);
        // A kept template whose file has not changed is still there.
        if (auto it = m_kept.find(path); it != m_kept.end() && it->second.parsed &&
                                         it->second.watched && m_watch.Unchanged(path)) {
            Remember(slot, dir, name, path, it->second);
            return path;
        }
        if (IdentifyRegularFile(path)) return path;
    }
    std::optional<std::string> found = FindFileNoCase(dir, name);
    if (!found) return std::nullopt;
    return JoinPath(dir, *found);
}

std::shared_ptr<const TemplateShape>* TemplateCache::ShapeOf(const std::string& path,
                                                             const clsTemplate& tpl,
                                                             std::size_t slot) {
    if (const Recent* recent = RecentFor(slot); recent && recent->path == path)
        return recent->kept->working.get() == &tpl ? &recent->kept->shape : nullptr;
    auto it = m_kept.find(path);
    if (it == m_kept.end() || it->second.working.get() != &tpl) return nullptr;
    return &it->second.shape;
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
    ++m_version;
    std::optional<FileIdentity> now = IdentifyRegularFile(path);
    if (now)
        m_stamps[path] = Stamp{stamp, *now};
    else
        m_stamps.erase(path);
}

void TemplateCache::Clear() {
    ++m_version;
    m_recent.clear();
    m_kept.clear();
    m_stamps.clear();
}

}  // namespace tallix::engine
