#include "engine/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "engine/run_stop.h"

namespace tallix::engine {
namespace {

constexpr std::chrono::milliseconds kRetryEvery{100};

}  // namespace

RunLock::~RunLock() {
    if (m_fd >= 0) ::close(m_fd);
}

std::string RunLock::Take(const std::string& path, std::chrono::milliseconds wait) {
    if (m_fd >= 0) return {};
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return path + ": " + std::strerror(errno);
    const auto giveUp = std::chrono::steady_clock::now() + wait;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EINTR) continue;
        if (error != EWOULDBLOCK || std::chrono::steady_clock::now() >= giveUp || StopRequested()) {
            ::close(fd);
            return error == EWOULDBLOCK ? std::string(kAnotherRun)
                                        : path + ": " + std::strerror(error);
        }
        std::this_thread::sleep_for(kRetryEvery);
    }
    m_fd = fd;
    return {};
}

std::chrono::milliseconds RunLockWait() {
    if (const char* text = std::getenv(kRunLockWaitVariable); text && *text) {
        char* end = nullptr;
        const double seconds = std::strtod(text, &end);
        if (end != text && seconds >= 0 && seconds <= 3600)
            return std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    }
    return kRunLockWait;
}

}  // namespace tallix::engine
