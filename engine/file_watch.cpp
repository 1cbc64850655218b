#include "engine/file_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tallix::engine {
namespace {

constexpr std::uint32_t kNameEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB;
constexpr std::uint32_t kContentEvents = IN_MODIFY | IN_CLOSE_WRITE;
constexpr std::uint32_t kSelfEvents = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT;

// The directory part and the name of a path; "." for a bare name.
std::pair<std::string, std::string> Split(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    if (slash == 0) return {"/", path.substr(1)};
    return {path.substr(0, slash), path.substr(slash + 1)};
}

}  // namespace

FileWatch::FileWatch() : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

FileWatch::~FileWatch() {
    if (m_fd >= 0) ::close(m_fd);
}

void FileWatch::Disable() {
    ++m_generation;
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_entries.clear();
    m_directories.clear();
    m_directoryWatch.clear();
    m_fileWatches.clear();
}

void FileWatch::Reset() {
    Disable();
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
}

bool FileWatch::Watch(const std::string& path, Interest interest) {
    if (m_fd < 0) return false;
    auto [dir, name] = Split(path);
    if (name.empty()) return false;
    // A directory reports writes only while one of its watched files asks for its content:
    // otherwise every line the run appends to an output file would queue an event to read.
    const std::uint32_t mask = kNameEvents | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR |
                               (interest == Interest::Content ? kContentEvents : 0);
    int wd;
    if (auto it = m_directoryWatch.find(dir); it != m_directoryWatch.end()) {
        wd = it->second;
        Directory& directory = m_directories[wd];
        if ((directory.mask & mask) != mask) {
            if (::inotify_add_watch(m_fd, dir.c_str(), mask | IN_MASK_ADD) != wd) return false;
            directory.mask |= mask;
        }
    } else {
        wd = ::inotify_add_watch(m_fd, dir.c_str(), mask);
        if (wd < 0) return false;
        m_directoryWatch[dir] = wd;
        m_directories[wd].path = dir;
        m_directories[wd].mask = mask;
    }
    Entry& entry = m_entries[path];
    entry.wd = wd;
    // A path watched for both reasons reports every change.
    if (entry.changed || interest == Interest::Content) entry.interest = interest;
    entry.changed = false;
    m_directories[wd].names[name] = path;
    return true;
}

void FileWatch::Poll() {
    if (m_fd < 0) return;
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            return;  // EAGAIN: nothing more
        }
        ++m_generation;
        for (ssize_t at = 0; at < n;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            const char* name = buffer + at + sizeof event;
            at += static_cast<ssize_t>(sizeof event + event.len);
            if (event.mask & IN_Q_OVERFLOW) {
                MarkAll();
                continue;
            }
            if (MarkWritten(event.wd, event.mask)) continue;
            if (event.mask & kSelfEvents) {
                MarkDirectory(event.wd);
                continue;
            }
            auto dir = m_directories.find(event.wd);
            if (dir == m_directories.end() || event.len == 0) continue;
            auto watched = dir->second.names.find(std::string(name, ::strnlen(name, event.len)));
            if (watched == dir->second.names.end()) continue;
            Entry& entry = m_entries[watched->second];
            if (entry.interest == Interest::Content || (event.mask & kNameEvents))
                entry.changed = true;
            entry.written = true;
        }
    }
}

bool FileWatch::Unchanged(const std::string& path) const {
    auto it = m_entries.find(path);
    return it != m_entries.end() && !it->second.changed;
}

void FileWatch::MarkDirectory(int wd) {
    auto dir = m_directories.find(wd);
    if (dir == m_directories.end()) return;
    for (const auto& [name, path] : dir->second.names) {
        Entry& entry = m_entries[path];
        entry.changed = true;
        entry.written = true;
    }
    // The directory itself went away or moved: its watch is dropped, and the next Watch of one
    // of its paths sets a new one on whatever the path names then.
    ::inotify_rm_watch(m_fd, wd);
    m_directoryWatch.erase(dir->second.path);
    m_directories.erase(dir);
}

void FileWatch::MarkAll() {
    for (auto& [path, entry] : m_entries) {
        entry.changed = true;
        entry.written = true;
    }
}

bool FileWatch::MarkWritten(int wd, std::uint32_t mask) {
    auto file = m_fileWatches.find(wd);
    if (file == m_fileWatches.end()) return false;
    for (const std::string& path : file->second) {
        Entry& entry = m_entries[path];
        entry.written = true;
        if (mask & IN_IGNORED) entry.fileWd = -1;
    }
    // The file is gone (its last name removed, its file system unmounted).
    if (mask & IN_IGNORED) m_fileWatches.erase(file);
    return true;
}

bool FileWatch::WatchWrites(const std::string& path) {
    if (m_fd < 0) return false;
    // A watch on the file itself reports writes made under any of its names (a link to it, a
    // second hard link), which its directory's watch would not.
    const int wd = ::inotify_add_watch(m_fd, path.c_str(), IN_MODIFY);
    Entry& entry = m_entries[path];
    if (entry.fileWd != wd && entry.fileWd >= 0) {
        // The path names another file than it did: the old file's watch is not this path's.
        auto old = m_fileWatches.find(entry.fileWd);
        if (old != m_fileWatches.end()) {
            std::erase(old->second, path);
            if (old->second.empty()) {
                ::inotify_rm_watch(m_fd, entry.fileWd);
                m_fileWatches.erase(old);
            }
        }
    }
    entry.fileWd = wd;
    entry.written = wd < 0;
    if (wd < 0) return false;
    std::vector<std::string>& paths = m_fileWatches[wd];
    if (std::find(paths.begin(), paths.end(), path) == paths.end()) paths.push_back(path);
    return true;
}

bool FileWatch::Unwritten(const std::string& path) const {
    auto it = m_entries.find(path);
    return it != m_entries.end() && it->second.fileWd >= 0 && !it->second.written;
}

}  // namespace tallix::engine
