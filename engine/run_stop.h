#pragma once
// Stopping a run from outside: SIGTERM and SIGINT ask the run to stop after the message it is
// working on (its lines written, its disposal done), in every mode, windowed or not. The run
// checks the request between messages and logs where it stopped.

namespace tallix::engine {

// Installs the handlers of SIGTERM and SIGINT (once; later calls do nothing).
void InstallStopSignals();
// A stop was asked for (by a signal or by RequestStop).
bool StopRequested();
// Asks for a stop as the signals do; ClearStopRequest takes the request back (tests).
void RequestStop();
void ClearStopRequest();

}  // namespace tallix::engine
