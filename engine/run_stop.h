#pragma once
// Stopping a run from outside: while the run reads mail, SIGTERM and SIGINT ask it to stop after
// the message it is working on (its lines written, its disposal done), in every mode, windowed
// or not; a second signal ends the process at once. The run checks the request between
// messages and logs where it stopped. Outside the run (the help window, start-up) the signals
// keep their usual effect.

#include <csignal>

namespace tallix::engine {

// The handlers of SIGTERM and SIGINT for the life of the scope; the earlier ones after it.
class StopSignalScope {
  public:
    StopSignalScope();
    ~StopSignalScope();
    StopSignalScope(const StopSignalScope&) = delete;
    StopSignalScope& operator=(const StopSignalScope&) = delete;

  private:
    struct sigaction m_term {};
    struct sigaction m_int {};
};
// A stop was asked for (by a signal or by RequestStop).
bool StopRequested();
// Asks for a stop as the signals do; ClearStopRequest takes the request back (tests).
void RequestStop();
void ClearStopRequest();

}  // namespace tallix::engine
