#include "sources/mapped_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "settings/run_time_error.h"

namespace tallix::sources {

MappedFile::~MappedFile() { Close(); }

MappedFile::MappedFile(MappedFile&& other) noexcept { *this = std::move(other); }

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        Close();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_mapped = std::exchange(other.m_mapped, false);
    }
    return *this;
}

void MappedFile::Open(const std::string& path) {
    Close();
    // O_NONBLOCK: a FIFO given as the mailbox must not block the run before fstat refuses it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) RaiseErrno(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        RaiseErrno(err);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        Raise(S_ISDIR(st.st_mode) ? kErrPathFileAccess : kErrBadFileName);
    }
    const auto size = static_cast<std::size_t>(st.st_size);
    if (size == 0) {
        ::close(fd);
        return;
    }
    void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    const int err = errno;
    ::close(fd);
    if (data == MAP_FAILED) RaiseErrno(err);
    // The file is walked front to back once.
    ::madvise(data, size, MADV_SEQUENTIAL);
    m_data = static_cast<const char*>(data);
    m_size = size;
    m_mapped = true;
}

void MappedFile::Close() {
    if (m_mapped) ::munmap(const_cast<char*>(m_data), m_size);
    m_data = nullptr;
    m_size = 0;
    m_mapped = false;
}

}  // namespace tallix::sources
