#pragma once
// A short busy wait before a thread goes to sleep on a condition variable.
//
// A decode hands work between the host's thread and the worker several times, and each side
// answers within microseconds. Putting the waiting thread to sleep and waking it again costs
// far more than that on a virtual machine (a wake-up there is an interrupt to another
// processor). Spinning a little first means the other side finds nobody asleep, and its
// notify does not enter the kernel either. On a machine with one processor the other side
// cannot run while we spin, so there is no spinning at all.

#include <sched.h>

#include <chrono>
#include <thread>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace qrmime::detail {

// How long a wait spins before it sleeps: a few hand-overs' worth.
inline constexpr std::chrono::microseconds kSpinBeforeSleep{200};
// How long the worker stays awake after an operation for the next one, when operations come
// this close together: about the time a host takes to reach a mailbox's next attachment.
inline constexpr std::chrono::microseconds kStayAwake{500};

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#else
    std::this_thread::yield();
#endif
}

// Whether this process may run on more than one processor at a time.
inline bool SeveralProcessors() {
    cpu_set_t allowed;
    if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0) return CPU_COUNT(&allowed) > 1;
    return std::thread::hardware_concurrency() > 1;
}

// True once `ready()` holds; false when it did not within `limit` (or spinning is pointless
// here), and the caller should sleep on its condition variable.
template <class Ready>
bool SpinUntil(Ready&& ready, std::chrono::microseconds limit = kSpinBeforeSleep) {
    static const bool worthIt = SeveralProcessors();
    if (!worthIt) return ready();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        // The clock is read once every few dozen pauses only.
        for (int i = 0; i < 64; ++i) {
            if (ready()) return true;
            CpuRelax();
        }
        if (std::chrono::steady_clock::now() >= deadline) return ready();
    }
}

}  // namespace qrmime::detail
