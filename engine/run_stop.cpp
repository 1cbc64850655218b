#include "engine/run_stop.h"

#include <csignal>

namespace tallix::engine {
namespace {

volatile std::sig_atomic_t g_stopRequested = 0;

extern "C" void OnStopSignal(int signal) {
    if (g_stopRequested) {
        // Asked twice: the usual end, now (async-signal-safe calls only).
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    g_stopRequested = 1;
}

}  // namespace

StopSignalScope::StopSignalScope() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // Reads and writes go on after the handler: the request is looked at between messages.
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, &m_term);
    sigaction(SIGINT, &action, &m_int);
}

StopSignalScope::~StopSignalScope() {
    sigaction(SIGTERM, &m_term, nullptr);
    sigaction(SIGINT, &m_int, nullptr);
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
