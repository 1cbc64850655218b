#include "engine/run_stop.h"

#include <csignal>

namespace tallix::engine {
namespace {

volatile std::sig_atomic_t g_stopRequested = 0;

extern "C" void OnStopSignal(int) {
    g_stopRequested = 1;
}

}  // namespace

void InstallStopSignals() {
    static const bool installed = [] {
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        // Reads and writes go on after the handler: the request is looked at between messages.
        action.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &action, nullptr);
        sigaction(SIGINT, &action, nullptr);
        return true;
    }();
    (void)installed;
}

bool StopRequested() {
    return g_stopRequested != 0;
}

void RequestStop() {
    g_stopRequested = 1;
}

void ClearStopRequest() {
    g_stopRequested = 0;
}

}  // namespace tallix::engine
