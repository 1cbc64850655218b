#pragma once
// The run-time error number a call raises.

#include "settings/run_time_error.h"

namespace tallix::testing {

// The number of the RunTimeError `call` raises, or 0 when it returns normally.
template <typename F>
int ErrorNumberOf(F&& call) {
    try {
        call();
    } catch (const RunTimeError& e) {
        return e.Number();
    }
    return 0;
}

}  // namespace tallix::testing
