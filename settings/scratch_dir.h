#pragma once
// The engine's private scratch directory: created on first use with mode 0700 under $TMPDIR
// (or /tmp), removed with its contents when the process ends. Its path holds no "." and no
// "HTM" in any case, because the attachment rules look at whole paths. Its name holds the
// process id, so a directory left by a process that was killed is removed by the next one.

#include <cstddef>
#include <string>
#include <string_view>

namespace tallix {

inline constexpr std::string_view kScratchMessageFile = "$$tallix.tmp";
// The plain-text body part of a POP3 message. File names are case-sensitive here, so the
// source that writes it and the disposal that removes it must both use this one spelling.
inline constexpr std::string_view kScratchBodyFile = "$$BODY.TXT";

// The directory, created when first asked for; "" when it cannot be created. On a thread
// where a ScratchScope is installed, that scope's directory.
const std::string& ScratchDir();
// Raises "path not found" naming the folder the scratch directory was to be made in and the
// system's reason it could not be (for a caller that found ScratchDir() empty).
[[noreturn]] void RaiseNoScratchDir();
// ScratchDir() + "/" + name.
std::string ScratchFile(std::string_view name);
// Removes the directory and its contents now (also done at exit).
void RemoveScratchDir();
// Where scratch directories are made: $TMPDIR when it is usable, else /tmp.
std::string ScratchBase();
// Removes from `base` the scratch directories of this user whose process has ended (done
// when a run starts and before the directory is first made). Links are never followed.
void RemoveAbandonedScratchDirs(const std::string& base);

// Files of the scratch directory held in memory. A decoded attachment is kept here instead of
// being written; whatever reads it by its path asks KeptScratchFile first, and what reads the
// path itself (a script, a converter in another process) has it written first
// (WriteKeptScratchFile). Nothing outside the run can see the scratch directory (it is 0700 and
// goes with the run), so a file that nobody opens never needs to exist. Kept per thread, like
// the scratch directory a ScratchScope installs; past kMaxKeptScratchBytes the kept files are
// written out, so a source that leaves its files until the end of the run holds no more memory
// than that.
inline constexpr std::size_t kMaxKeptScratchBytes = std::size_t{32} << 20;
// Keeps `bytes` as the content of the scratch file `path` (in place of any earlier content).
void KeepScratchFile(const std::string& path, std::string bytes);
// The kept content of `path`, or nullptr when it is not kept in memory (never kept, written
// out, or removed).
const std::string* KeptScratchFile(std::string_view path);
// Writes the kept content of `path` to its file (created or truncated, as a decoder writes
// it) and no longer holds it. 0, or the errno of the failure; 0 for a path not kept.
int WriteKeptScratchFile(const std::string& path);
// Writes every kept file of the calling thread; the errno of the first failure, or 0.
int WriteKeptScratchFiles();
// Removes the scratch file `path`: forgets its kept content, and unlinks the file unless it
// only ever was kept in memory. False when there was nothing to remove.
bool RemoveScratchFile(const std::string& path);
// How many bytes the calling thread holds kept.
std::size_t KeptScratchBytes();

// A scratch directory of the calling thread's own for the scope's lifetime: a new private
// directory inside the process's, so the fixed scratch file names of a trial on this thread
// cannot meet those of a run or another trial. Removed with its contents when the scope ends.
class ScratchScope {
  public:
    ScratchScope();
    ~ScratchScope();
    ScratchScope(const ScratchScope&) = delete;
    ScratchScope& operator=(const ScratchScope&) = delete;

  private:
    std::string m_path;
    const std::string* m_previous;
};

}  // namespace tallix
