#pragma once
// The run's account of itself: per template, the lines written, the output file and the
// failures with the first one's reason; the progress through the current source. Written to
// the system log at the end, and to the report file of the program that started the run
// (docs/architecture.md, "Run report") during the run and at its end.

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/run_context.h"

namespace tallix::engine {

// One tally per template of the run's list, named as the list names them.
void StartTallies(RunContext& run);
void NoteOutputFile(RunContext& run, std::size_t index, const std::string& path);
void CountLine(RunContext& run, std::size_t index);
// The reason the template at `index` failed, when it has none yet (a report made for another
// template since would otherwise be taken for it).
void NoteFailureReason(RunContext& run, std::size_t index, const std::string& reason);
// Counts the templates that failed on `message`; the reason is the last error reported on
// this thread since `reportsBefore` (the count of reports when the message was begun).
void CountFailures(RunContext& run, const MessageWork& message, std::uint64_t reportsBefore);

// Writes the report file when one was asked for and the last writing is 250 ms old.
void PublishProgress(RunContext& run);
// The end of the run: one system-log line per template and the final report.
void FinishRunReport(RunContext& run);

// The system-log line of one template's tally.
std::string TallyLogLine(const TemplateTally& tally);

}  // namespace tallix::engine
