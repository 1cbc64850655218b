#include "sources/maildir_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "settings/logs.h"
#include "settings/run_time_error.h"

namespace tallix::sources::maildir {
namespace {

constexpr std::string_view kSubdirs[] = {"new", "cur"};

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The run-time error of errno value `err`, its description naming `path`.
[[noreturn]] void RaiseErrnoFor(int err, const std::string& path) {
    Raise(ErrorNumberFromErrno(err), std::string(std::strerror(err)) + ": " + LogSafe(path));
}

// Closes a descriptor on every way out.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

std::string DefaultMaildir() {
    if (const char* env = std::getenv("MAILDIR"); env && *env) return env;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "") + "/Maildir";
}

bool IsMaildir(const std::string& dir) {
    if (dir.empty() || dir.front() != '/') return false;
    return IsDirectory(dir) && IsDirectory(dir + "/cur") && IsDirectory(dir + "/new");
}

std::int64_t DeliveryTimeFromName(std::string_view name) {
    std::int64_t value = 0;
    std::size_t i = 0;
    for (; i < name.size() && name[i] >= '0' && name[i] <= '9'; ++i) {
        // Twelve digits reach far past any real delivery time; more is not a time.
        if (i >= 12) return -1;
        value = value * 10 + (name[i] - '0');
    }
    if (i == 0 || i >= name.size() || name[i] != '.') return -1;
    return value;
}

std::vector<InboxEntry> ListInbox(const std::string& dir) {
    std::vector<InboxEntry> entries;
    for (std::string_view sub : kSubdirs) {
        const std::string subdir = dir + "/" + std::string(sub);
        DIR* d = ::opendir(subdir.c_str());
        if (!d) RaiseErrnoFor(errno, subdir);
        while (const dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.') continue;
            InboxEntry entry;
            entry.name = e->d_name;
            entry.path = subdir + "/" + entry.name;
            struct stat st {};
            // A file gone already is simply not listed; a link is looked at, not followed.
            if (::lstat(entry.path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
            entry.delivered = DeliveryTimeFromName(entry.name);
            if (entry.delivered < 0) entry.delivered = static_cast<std::int64_t>(st.st_mtime);
            entries.push_back(std::move(entry));
        }
        ::closedir(d);
    }
    std::sort(entries.begin(), entries.end(), [](const InboxEntry& a, const InboxEntry& b) {
        if (a.delivered != b.delivered) return a.delivered < b.delivered;
        return a.name < b.name;
    });
    return entries;
}

ReadOutcome ReadMessageFile(const std::string& path, std::string& bytes, std::string& failure) {
    bytes.clear();
    failure.clear();
    auto failed = [&](int err) {
        bytes.clear();
        failure = std::strerror(err);
        return ReadOutcome::Failed;
    };
    Fd f{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY)};
    if (f.fd < 0) {
        if (errno == ENOENT) return ReadOutcome::Vanished;
        if (errno == ELOOP) return ReadOutcome::NotAFile;  // a symbolic link
        return failed(errno);
    }
    struct stat st {};
    if (::fstat(f.fd, &st) != 0) return failed(errno);
    if (!S_ISREG(st.st_mode)) return ReadOutcome::NotAFile;
    if (static_cast<std::uint64_t>(st.st_size) > kMaxMessageFileBytes) return ReadOutcome::TooLong;
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(f.fd, bytes.data() + got, bytes.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return failed(errno);
        }
        if (n == 0) break;  // the file shrank meanwhile: what is there is the message
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    // A file that grew meanwhile is read on to its end, up to the limit.
    char more[65536];
    for (;;) {
        const ssize_t n = ::read(f.fd, more, sizeof more);
        if (n < 0) {
            if (errno == EINTR) continue;
            return failed(errno);
        }
        if (n == 0) break;
        if (bytes.size() + static_cast<std::size_t>(n) > kMaxMessageFileBytes) {
            bytes.clear();
            return ReadOutcome::TooLong;
        }
        bytes.append(more, static_cast<std::size_t>(n));
    }
    return ReadOutcome::Read;
}

std::string_view RefusalOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return {};  // gone, or the reading will say why
    if (!S_ISREG(st.st_mode)) return kRefusedNotAFile;
    if (static_cast<std::uint64_t>(st.st_size) > kMaxMessageFileBytes) return kRefusedTooLong;
    return {};
}

bool MessageFileExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

void DeleteMessageFile(const std::string& path) {
    if (::unlink(path.c_str()) != 0) RaiseErrnoFor(errno, path);
}

}  // namespace tallix::sources::maildir
