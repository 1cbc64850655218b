#pragma once
// The run over every source and every message, and what happens to one message.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/run_context.h"
#include "sources/mail_source.h"

namespace tallix::engine {

// The sources of the run's "UseSource" setting: built by the run's own factory when one is
// set (tests), else by the row of the source-kind table; nullptr for a kind this version
// cannot read.
std::unique_ptr<sources::SourceList> GetSources(RunContext& run);

// What ForEachMessage calls while it walks a source.
struct SourceWalk {
    // Connected; `total` is the number of messages the source announced.
    std::function<void(std::int32_t total)> connected;
    // Each message, numbered from 1; false ends the walk (the source is still disconnected).
    std::function<bool(std::int32_t number)> message;
    // After the last message, with the number of messages walked; only when `total` was above 0.
    std::function<void(std::int32_t count)> walked;
};
// The one walk over a source's messages, shared by a run and a trial: Connect; when the source
// is not connected nothing else happens and the result is false. Otherwise TotalMessages, the
// messages from GetFirstMsg through GetNextMsg while there are any (when the total is above 0),
// and Disconnect.
bool ForEachMessage(sources::MailSource& source, const SourceWalk& walk);

// The whole run: templates listed, sources built, every message of every source parsed with
// every template, then disposed of.
void RunSources(RunContext& run, const std::string& selection);
// Every template of the run's list against one message.
void DoParsing(RunContext& run, MessageWork& message);
// One template (named `name` in the run's list) against one message: the output file
// checked, the output definition read, the message parsed. A run then stamps the template's
// last-run time; a trial leaves the template as it is.
void ApplyTemplate(RunContext& run, MessageWork& message, TemplateWork& work,
                   const std::string& name);
// The template's output file can be appended to (or is the printer).
bool CanWriteOutput(RunContext& run, const clsTemplate& tpl);
// Why the template's lines cannot be written: its output file in full and the system's
// reason, or that it names none; empty when they can (the file is then open for appending).
std::string OutputFault(RunContext& run, const clsTemplate& tpl);
// Stamps the template with the date and time it ran and stores the stamp.
void SetLastRan(RunContext& run, clsTemplate& tpl);

}  // namespace tallix::engine
