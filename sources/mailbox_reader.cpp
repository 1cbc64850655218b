#include "sources/mailbox_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include <pthread.h>

#include <algorithm>
#include <thread>

#include "settings/error_reporter.h"
#include "settings/run_time_error.h"

namespace tallix::sources {

MailboxReader::~MailboxReader() {
    Close();
}

void MailboxReader::Open(const std::string& path) {
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
    // The file is walked front to back once.
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    m_fd = fd;
    m_size = static_cast<std::size_t>(st.st_size);
}

void MailboxReader::OpenSame(const MailboxReader& other) {
    Close();
    if (other.m_fd < 0) return;
    const int fd = ::fcntl(other.m_fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) RaiseErrno(errno);
    m_fd = fd;
    m_size = other.m_size;
    m_shrank = other.m_shrank;
}

void MailboxReader::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_size = 0;
    std::string().swap(m_window);
    m_windowStart = 0;
    m_shrank = false;
}

void MailboxReader::ReadExactly(char* dest, std::size_t offset, std::size_t length) {
    if (m_shrank || m_fd < 0) Raise(kErrInputPastEnd, std::string(kMailboxShrank));
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n =
            ::pread(m_fd, dest + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            RaiseErrno(errno);
        }
        if (n == 0) {
            m_shrank = true;
            Raise(kErrInputPastEnd, std::string(kMailboxShrank) + " (" + std::to_string(m_size) +
                                        " bytes at the start, " + std::to_string(offset + done) +
                                        " now)");
        }
        done += static_cast<std::size_t>(n);
    }
}

void MailboxReader::Load(std::size_t offset) {
    const std::size_t length = std::min(kMailboxWindowBytes, m_size - offset);
    m_window.resize(length);
    m_windowStart = offset;
    ReadExactly(m_window.data(), offset, length);
}

std::size_t MailboxReader::Find(std::size_t from, std::string_view what, std::size_t before) {
    constexpr std::size_t kNone = std::string_view::npos;
    before = std::min(before, m_size);
    if (what.empty() || from >= before) return kNone;
    if (m_shrank) Raise(kErrInputPastEnd, std::string(kMailboxShrank));
    std::size_t at = from;
    if (at < m_windowStart || at >= m_windowStart + m_window.size()) Load(at);
    for (;;) {
        const std::size_t hit = Window().find(what, at - m_windowStart);
        if (hit != kNone) return m_windowStart + hit < before ? m_windowStart + hit : kNone;
        const std::size_t windowEnd = m_windowStart + m_window.size();
        if (windowEnd >= m_size) return kNone;
        // A match may start in the last bytes of the window and run past its end.
        at = std::max(at, windowEnd - std::min(windowEnd, what.size() - 1));
        if (at >= before) return kNone;
        Load(at);
    }
}

namespace {

// Below this a file is counted on one thread: starting a second costs more than it saves.
constexpr std::size_t kCountInHalvesBytes = std::size_t{16} << 20;

// Whether two occurrences of `what` can overlap: a beginning of it is also an end of it.
bool OverlapsItself(std::string_view what) {
    for (std::size_t k = 1; k < what.size(); ++k)
        if (what.substr(0, k) == what.substr(what.size() - k)) return true;
    return false;
}

// Occurrences of `what` that start at or after `from` and before `before`.
std::size_t CountBetween(MailboxReader& file, std::string_view what, std::size_t from,
                         std::size_t before) {
    std::size_t count = 0;
    for (std::size_t at = file.Find(from, what, before); at != std::string_view::npos;
         at = file.Find(at + what.size(), what, before))
        ++count;
    return count;
}

}  // namespace

std::size_t MailboxReader::Count(std::string_view what) {
    constexpr std::size_t kEnd = std::string_view::npos;
    if (m_size < kCountInHalvesBytes || what.empty() || OverlapsItself(what))
        return CountBetween(*this, what, 0, kEnd);
    // Occurrences cannot overlap, so those that start in each half are counted apart.
    const std::size_t half = m_size / 2;
    MailboxReader second;
    std::size_t secondCount = 0;
    bool secondCounted = false;
    std::thread helper;
    // Without a second descriptor or thread the file is counted here alone.
    if (!RunCatching([&] {
            second.OpenSame(*this);
            helper = std::thread([&] {
                ::pthread_setname_np(::pthread_self(), "txcount");
                secondCounted =
                    RunCatching([&] { secondCount = CountBetween(second, what, half, kEnd); });
            });
        })) {
        Err().Clear();
        return CountBetween(*this, what, 0, kEnd);
    }
    // The helper reads `second` and its results until it is joined, however this ends.
    struct Joined {
        std::thread& thread;
        ~Joined() {
            if (thread.joinable()) thread.join();
        }
    } joined{helper};
    const std::size_t firstCount = CountBetween(*this, what, 0, half);
    helper.join();
    if (!secondCounted) secondCount = CountBetween(*this, what, half, kEnd);
    return firstCount + secondCount;
}

void MailboxReader::AppendTo(std::string& out, std::size_t offset, std::size_t length) {
    ForEachPiece(offset, length, [&](std::string_view piece) { out.append(piece); });
}

char MailboxReader::At(std::size_t offset) {
    if (m_shrank) Raise(kErrInputPastEnd, std::string(kMailboxShrank));
    if (offset >= m_size) Raise(kErrInputPastEnd);
    if (offset < m_windowStart || offset >= m_windowStart + m_window.size()) Load(offset);
    return m_window[offset - m_windowStart];
}

void MailboxReader::ForEachPieceImpl(std::size_t offset, std::size_t length,
                                     const std::function<void(std::string_view)>& sink) {
    if (m_shrank) Raise(kErrInputPastEnd, std::string(kMailboxShrank));
    if (offset >= m_size) return;
    std::size_t left = std::min(length, m_size - offset);
    while (left > 0) {
        if (offset < m_windowStart || offset >= m_windowStart + m_window.size()) Load(offset);
        const std::size_t take = std::min(left, m_windowStart + m_window.size() - offset);
        sink(Window().substr(offset - m_windowStart, take));
        offset += take;
        left -= take;
    }
}

}  // namespace tallix::sources
