#pragma once
// Which file a path names and in what state: device, inode, size and modification time.
// Two equal identities mean "the same file, most likely unchanged".

#include <sys/stat.h>

#include <optional>
#include <string>

namespace tallix {

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    timespec modified{};

    bool SameFile(const FileIdentity& o) const { return device == o.device && inode == o.inode; }
    bool operator==(const FileIdentity& o) const {
        return SameFile(o) && size == o.size && modified.tv_sec == o.modified.tv_sec &&
               modified.tv_nsec == o.modified.tv_nsec;
    }
};

inline FileIdentity IdentityOf(const struct stat& st) {
    return FileIdentity{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

// The identity of the ordinary file at `path`; nothing when it is missing or not an ordinary
// file.
inline std::optional<FileIdentity> IdentifyRegularFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return IdentityOf(st);
}

}  // namespace tallix
