#pragma once
// Answers "may this file have changed?" for the files a run keeps state about (template
// files, output files) with one non-blocking read of an inotify descriptor, instead of a
// stat or an open per file and message. Each file is watched through its directory, so a
// file that is removed, renamed or replaced is noticed as well as one that is written.
// Where a directory cannot be watched (no inotify, too many watches, a file system that does
// not report changes) the file is never "unchanged" and callers fall back to checking it.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tallix::engine {

class FileWatch {
  public:
    // What counts as a change of a watched file.
    enum class Interest {
        Content,  // anything: written, its attributes changed, created, removed, renamed
        Name,     // only what the path leads to: created, removed, renamed, attributes changed
    };

    FileWatch();
    ~FileWatch();
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

    // Starts (or restarts) watching `path` and forgets earlier changes of it: call it before
    // looking at the file, so that a change made while looking is seen next time. False when
    // the path cannot be watched.
    bool Watch(const std::string& path, Interest interest);
    // Reads the changes reported since the last call (one system call when there are none).
    void Poll();
    // True when `path` is watched and no change of interest was reported by the last Poll.
    bool Unchanged(const std::string& path) const;
    // Moves on whenever an answer of Unchanged may have turned from true to false (a Poll
    // that read changes, a Reset): an answer kept with the generation holds while it stays.
    std::uint64_t Generation() const { return m_generation; }
    // Watches the file `path` names now for writes, under any of its names, and forgets the
    // writes read so far: call it before looking at the file's size, so that a write made while
    // looking is seen next time. False when the file cannot be watched.
    bool WatchWrites(const std::string& path);
    // True when the Polls since the last WatchWrites of `path` reported neither a write to the
    // file nor any change of the path.
    bool Unwritten(const std::string& path) const;
    // Starts afresh: every watch and every change not yet read are dropped.
    void Reset();

    // Switches watching off until the next Reset (tests of the fallback path).
    void Disable();

  private:
    struct Entry {
        int wd = -1;
        Interest interest = Interest::Name;
        bool changed = true;
        int fileWd = -1;      // the watch on the file itself (WatchWrites), -1 without
        bool written = true;  // since the last WatchWrites
    };
    struct Directory {
        std::string path;
        std::uint32_t mask = 0;                              // the events asked of the kernel
        std::unordered_map<std::string, std::string> names;  // file name -> watched path
    };
    void MarkDirectory(int wd);
    // A watch on a file itself reported an event: each path watched through it was written.
    bool MarkWritten(int wd, std::uint32_t mask);
    void MarkAll();

    int m_fd = -1;
    std::uint64_t m_generation = 1;
    std::unordered_map<std::string, Entry> m_entries;                 // by path as given
    std::unordered_map<int, Directory> m_directories;                 // by watch descriptor
    std::unordered_map<std::string, int> m_directoryWatch;            // directory path -> wd
    std::unordered_map<int, std::vector<std::string>> m_fileWatches;  // file wd -> paths
};

}  // namespace tallix::engine
