#include "settings/scratch_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <unordered_map>

#include "settings/app_info.h"
#include "settings/run_time_error.h"
#include "settings/text_functions.h"

namespace tallix {
namespace {

// A scratch directory's name: this prefix, the process id, a dash and six random characters.
constexpr std::string_view kScratchPrefix = "txscratch-";

bool UsablePath(std::string_view path) {
    return path.find('.') == std::string_view::npos && UCase(path).find("HTM") == std::string::npos;
}

std::string& Path() {
    static std::string path;
    return path;
}

thread_local const std::string* t_scoped = nullptr;

// The process that made a scratch directory named `name` ("txscratch-<pid>-XXXXXX"); 0
// when the name is not one of ours.
pid_t OwnerPid(std::string_view name) {
    if (!name.starts_with(kScratchPrefix)) return 0;
    name.remove_prefix(kScratchPrefix.size());
    const std::size_t dash = name.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash > 9 || name.size() - dash != 7)
        return 0;
    pid_t pid = 0;
    for (char c : name.substr(0, dash)) {
        if (c < '0' || c > '9') return 0;
        pid = pid * 10 + (c - '0');
    }
    return pid;
}

// Why the scratch directory could not be made last time (an errno value).
std::atomic<int> g_makeError{0};

std::string MakeScratchDir() {
    const std::string base = ScratchBase();
    RemoveAbandonedScratchDirs(base);
    // A random name may spell "htm" by chance: try again.
    for (int attempt = 0; attempt < 20; ++attempt) {
        std::string templ =
            JoinPath(base, std::string(kScratchPrefix) + std::to_string(::getpid()) + "-XXXXXX");
        if (!::mkdtemp(templ.data())) {
            g_makeError = errno;
            return {};
        }
        if (UsablePath(templ)) return templ;
        ::rmdir(templ.c_str());
    }
    return {};
}

// The calling thread's kept scratch files, by path. An entry without content stands for a
// file that was written out: removing it unlinks the file. An entry with content was never
// written: removing it only forgets it.
struct KeptFiles {
    struct Entry {
        std::string bytes;
        bool onDisk = false;
    };
    std::unordered_map<std::string, Entry> files;
    std::size_t bytes = 0;
};

KeptFiles& Kept() {
    thread_local KeptFiles kept;
    return kept;
}

int WriteOut(const std::string& path, KeptFiles::Entry& entry) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    std::string_view rest = entry.bytes;
    int error = 0;
    while (!rest.empty()) {
        const ssize_t n = ::write(fd, rest.data(), rest.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            break;
        }
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error) return error;
    Kept().bytes -= entry.bytes.size();
    std::string().swap(entry.bytes);
    entry.onDisk = true;
    return 0;
}

// Forgets the kept files inside `dir` (a scope's directory that is going).
void ForgetKeptUnder(const std::string& dir) {
    KeptFiles& kept = Kept();
    const std::string prefix = dir + "/";
    for (auto it = kept.files.begin(); it != kept.files.end();) {
        if (it->first.starts_with(prefix)) {
            kept.bytes -= it->second.bytes.size();
            it = kept.files.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace

void KeepScratchFile(const std::string& path, std::string bytes) {
    KeptFiles& kept = Kept();
    auto [it, added] = kept.files.try_emplace(path);
    if (!added) kept.bytes -= it->second.bytes.size();
    kept.bytes += bytes.size();
    it->second.bytes = std::move(bytes);
    // A file written out earlier under this name now has other content: it goes, so nothing
    // reads the old one, and its new content is written when something needs it.
    if (it->second.onDisk) {
        ::unlink(path.c_str());
        it->second.onDisk = false;
    }
    if (kept.bytes > kMaxKeptScratchBytes) WriteKeptScratchFiles();
}

const std::string* KeptScratchFile(std::string_view path) {
    KeptFiles& kept = Kept();
    if (kept.files.empty()) return nullptr;
    auto it = kept.files.find(std::string(path));
    if (it == kept.files.end() || it->second.onDisk) return nullptr;
    return &it->second.bytes;
}

int WriteKeptScratchFile(const std::string& path) {
    KeptFiles& kept = Kept();
    auto it = kept.files.find(path);
    if (it == kept.files.end() || it->second.onDisk) return 0;
    return WriteOut(path, it->second);
}

int WriteKeptScratchFiles() {
    int first = 0;
    for (auto& [path, entry] : Kept().files) {
        if (entry.onDisk) continue;
        if (const int error = WriteOut(path, entry); error && !first) first = error;
    }
    return first;
}

bool RemoveScratchFile(const std::string& path) {
    KeptFiles& kept = Kept();
    if (auto it = kept.files.find(path); it != kept.files.end()) {
        const bool onDisk = it->second.onDisk;
        kept.bytes -= it->second.bytes.size();
        kept.files.erase(it);
        if (!onDisk) return true;
    }
    return ::unlink(path.c_str()) == 0;
}

std::size_t KeptScratchBytes() {
    return Kept().bytes;
}

std::string ScratchBase() {
    std::string base = "/tmp";
    if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp && UsablePath(tmp)) base = tmp;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base;
}

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

void RaiseNoScratchDir() {
    const int err = g_makeError.load();
    RaiseForFile(kErrPathNotFound, ScratchBase(),
                 err ? SystemReason(err) : "no private folder could be made in it");
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
    ForgetKeptUnder(m_path);
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

void RemoveAbandonedScratchDirs(const std::string& base) {
    DIR* dir = ::opendir(base.c_str());
    if (!dir) return;
    const uid_t me = ::geteuid();
    while (const dirent* entry = ::readdir(dir)) {
        const pid_t pid = OwnerPid(entry->d_name);
        if (pid <= 0 || pid == ::getpid()) continue;
        // Only a directory itself (not a link to one) that belongs to this user.
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISDIR(st.st_mode) || st.st_uid != me)
            continue;
        // A process of that number, whoever it is now, keeps the directory.
        if (::kill(pid, 0) == 0 || errno != ESRCH) continue;
        // remove_all removes links it meets inside, never what they point to.
        std::error_code ec;
        std::filesystem::remove_all(JoinPath(base, entry->d_name), ec);
    }
    ::closedir(dir);
}

void RemoveScratchDir() {
    std::string& path = Path();
    if (path.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    path.clear();
}

}  // namespace tallix
