#include "model/file_bytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace tallix {

int ReadRegularFile(const std::string& path, std::string& out, std::size_t maxBytes) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        int error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return error;
    }
    out.clear();
    // Read straight into the result. One byte more than the size is asked for, so a file read
    // whole needs no further call to find its end; one that grew meanwhile is read on, up to
    // the limit.
    const std::size_t expected = static_cast<std::size_t>(st.st_size);
    if (expected > maxBytes) {
        ::close(fd);
        return EFBIG;
    }
    std::size_t done = 0;
    for (;;) {
        if (done > maxBytes) {
            ::close(fd);
            out.clear();
            return EFBIG;
        }
        if (done == out.size())
            out.resize(done == 0 ? expected + 1 : std::min(2 * done, maxBytes) + 1);
        ssize_t n = ::read(fd, out.data() + done, out.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            int error = errno;
            ::close(fd);
            out.clear();
            return error;
        }
        done += static_cast<std::size_t>(n);
        if (n == 0 || (done == expected && done < out.size())) break;
    }
    out.resize(done);
    ::close(fd);
    return 0;
}

int WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

int AppendToFile(const std::string& path, std::string_view bytes, struct stat* after) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    int error = WriteAll(fd, bytes);
    if (error == 0 && after && ::fstat(fd, after) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    return error;
}

int WriteNewFile(const std::string& path, std::initializer_list<std::string_view> pieces,
                 mode_t mode) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) return errno;
    // Joined first, so the file is written with one call rather than one per piece.
    std::size_t size = 0;
    for (const std::string_view piece : pieces) size += piece.size();
    std::string bytes;
    bytes.reserve(size);
    for (const std::string_view piece : pieces) bytes.append(piece);
    int error = WriteAll(fd, bytes);
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error != 0) ::unlink(path.c_str());
    return error;
}

}  // namespace tallix
