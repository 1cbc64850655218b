#pragma once
// Each message once, in the run: which templates use the record of processed messages, the
// question asked before a template is offered a message, the recording after its lines are
// written, and the account of each template's run kept at the end (with the warning for a
// template that stopped matching).

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/run_context.h"

namespace tallix {
class clsTemplate;
}

namespace tallix::engine {

inline constexpr std::string_view kRecordUnusable =
    "The record of processed messages cannot be used, so no message is read: ";
inline constexpr std::string_view kRecordNotWritten =
    "The message could not be recorded as processed, so the run stops before disposing of it: ";
inline constexpr std::string_view kProcessOnceForWatch =
    "Watch mode: each message is offered to each template once (ProcessOnce on for every "
    "template)";

// The template asks to be offered each message once (its key, else the setting; watch mode
// turns it on for every template).
bool UsesRecord(const RunContext& run, const clsTemplate& tpl);

// Opens the record when the run uses it: ProcessOnce set, watch mode, or a template of the
// run whose file sets the key. A record that cannot be opened ends the program with a report
// before any message is read. True when the run may go on.
bool OpenRecordIfUsed(RunContext& run);

// Tells the record which source the next messages come from; a failure ends the program with
// a report before the source's first message. A source that can is asked to hand over a
// message every template has had as its header block alone, unread.
void SelectRecordSource(RunContext& run, sources::MailSource& source);

// What the template at `index` did with the current message, for the question above.
void NoteRecordUse(RunContext& run, std::size_t index, RunContext::RecordUse use);

// True when the template at `index` (named `name`) has been offered the message before and
// is passed over; otherwise the template is counted as offered the message and, when it uses
// the record, noted for recording.
bool PassOver(RunContext& run, MessageWork& message, std::size_t index, const clsTemplate& tpl,
              const std::string& name);

// Records the message for the templates that were offered it and did not fail on it. Called
// after its lines are written and before it is disposed of. False, reported, when the record
// could not be written: the message is then neither disposed of nor counted as done.
bool RecordProcessed(RunContext& run, const MessageWork& message);

// Every template that used the record passed the message over and no other used it: nothing
// is to be done with it, not even asking whether to delete it.
bool PassedOverWhole(const MessageWork& message);

// The end of a run that used the record: each template that was offered messages has its run
// kept, and one that matched in each of its last three runs but wrote nothing now is named in
// the system log and the status window.
void NoteTemplateRuns(RunContext& run);

// The warning line for template `name`.
std::string StaleTemplateWarning(std::string_view name);

}  // namespace tallix::engine
