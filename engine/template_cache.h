#pragma once
// Templates are read from their files for every message, so an edit during a run takes
// effect at the next message. Parsing is skipped while a file is unchanged: the parsed
// template is kept, and every message gets a fresh copy. "Unchanged" is answered by the run's
// file watch where the template directory can be watched, else by the file's identity (inode,
// size and modification time).

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/file_watch.h"
#include "model/file_identity.h"

namespace tallix {
class clsTemplate;
}

namespace tallix::engine {

struct TemplateShape;

class TemplateCache {
  public:
    explicit TemplateCache(FileWatch& watch) : m_watch(watch) {}

    // Find, Load and ShapeOf given a `slot` (the template's position in the run's list) keep
    // their answer for the slot and give it again, without a look-up, while neither the watch
    // read a change (its Generation) nor the cache changed what it keeps: a run asks for the
    // same templates at every message.
    static constexpr std::size_t kNoSlot = static_cast<std::size_t>(-1);

    // The path of the template file `name` of `dir`, found as it is written or else without
    // regard to case; nothing when there is no such ordinary file.
    std::optional<std::string> Find(const std::string& dir, const std::string& name,
                                    std::size_t slot = kNoSlot);
    // The template read from `path` (or taken from the parse of the unchanged file); nullptr
    // when `path` is not an ordinary file. A file whose reading reported a fault is not kept,
    // so it is read (and reported) again for the next message; but a refused template (a
    // line too long to read) is kept, so it is reported once while its file is unchanged.
    // With `scriptsRun` every call gives a fresh copy, since a script may change anything in
    // it. Without, a message changes nothing in its template but the variables' values and
    // the stamp, so one working copy serves every message while the file is unchanged, its
    // values put back as the file gave them.
    std::shared_ptr<clsTemplate> Load(const std::string& path, bool scriptsRun,
                                      std::size_t slot = kNoSlot);
    // True when the file at `path`, as it was when last loaded, is what the engine left when
    // it last wrote `stamp` into it.
    bool HoldsStamp(const std::string& path, const std::string& stamp) const;
    // Where what the engine derives from the template alone is kept for `tpl`, the working
    // copy the last Load of `path` handed out: empty until it is made, and emptied whenever
    // the file is parsed again. nullptr for a fresh copy (scripts run), whose derivations are
    // not kept.
    std::shared_ptr<const TemplateShape>* ShapeOf(const std::string& path, const clsTemplate& tpl,
                                                  std::size_t slot = kNoSlot);
    // The engine wrote `stamp` into the file at `path`: remembered for HoldsStamp, and the
    // next message parses the file again (the stamp changes at most once a second).
    void StampWritten(const std::string& path, const std::string& stamp);
    // Forgets every kept parse and stamp.
    void Clear();

  private:
    struct Kept {
        FileIdentity identity;
        std::shared_ptr<clsTemplate> parsed;  // nullptr: not kept, only the identity last seen
        bool watched = false;
        std::shared_ptr<clsTemplate> working;        // handed out when no script runs
        std::shared_ptr<const TemplateShape> shape;  // derived from `working`
    };
    std::shared_ptr<clsTemplate> HandOut(Kept& kept, bool scriptsRun);
    // A slot's last answer: the kept parse of the file `path` that `name` of `dir` led to,
    // watched and unchanged when the answer was given.
    struct Recent {
        std::uint64_t generation = 0;  // the watch's
        std::uint64_t version = 0;     // m_version
        std::string dir;
        std::string name;
        std::string path;
        Kept* kept = nullptr;
    };
    const Recent* RecentFor(std::size_t slot) const;
    void Remember(std::size_t slot, const std::string& dir, const std::string& name,
                  const std::string& path, Kept& kept);
    struct Stamp {
        std::string text;
        FileIdentity identity;
    };

    FileWatch& m_watch;
    std::unordered_map<std::string, Kept> m_kept;
    std::unordered_map<std::string, Stamp> m_stamps;
    std::vector<Recent> m_recent;  // by slot
    std::uint64_t m_version = 1;   // moves on whenever m_kept changes
};

}  // namespace tallix::engine
