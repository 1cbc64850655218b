#pragma once
// A clock for "has the interval passed?" checks made many times per message (letting window
// events run, painting the status window): the kernel's coarse monotonic clock, good to a few
// milliseconds, costs a fraction of a full reading of the steady clock.

#include <time.h>

#include <chrono>

namespace tallix {

struct CoarseClock {
    using duration = std::chrono::nanoseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<CoarseClock>;
    static constexpr bool is_steady = true;

    static time_point now() noexcept {
        timespec ts{};
        ::clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
        return time_point(std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec));
    }
};

}  // namespace tallix
