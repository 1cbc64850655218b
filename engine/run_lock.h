#pragma once
// One run at a time: a run holds an exclusive lock (flock) on a lock file in the program
// directory from before it reads its first message until it ends. A second engine waits for
// the lock a while and then gives up without reading or writing anything. The lock goes with
// the process, so a run that is killed never leaves it taken.

#include <chrono>
#include <string>
#include <string_view>

namespace tallix::engine {

inline constexpr std::string_view kRunLockFileName = "txengine.lock";
inline constexpr std::string_view kAnotherRun = "Another run is in progress";
// How long a second engine waits; the environment variable sets it in seconds (tests).
inline constexpr std::chrono::seconds kRunLockWait{30};
inline constexpr const char* kRunLockWaitVariable = "TALLIX_RUN_LOCK_WAIT";

class RunLock {
  public:
    RunLock() = default;
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    // Takes the lock on `path` (created 0600 when missing), waiting up to `wait`. "" when it
    // is held, kAnotherRun when another process kept it, or the reason the file cannot be used.
    std::string Take(const std::string& path, std::chrono::milliseconds wait);
    bool Held() const { return m_fd >= 0; }

  private:
    int m_fd = -1;
};

// The wait of this process: kRunLockWait unless the environment variable names seconds.
std::chrono::milliseconds RunLockWait();

}  // namespace tallix::engine
