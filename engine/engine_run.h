#pragma once
// The run over every source and every message, and what happens to one message.

#include <memory>
#include <string>

#include "sources/mail_source.h"

namespace tallix::engine {

// The sources of the "UseSource" setting: built by the run's own factory when one is set
// (tests), else by the row of the source-kind table; nullptr for a kind this version cannot read.
std::unique_ptr<sources::SourceList> GetSources();

// The whole run: templates listed, sources built, every message of every source parsed with
// every template, then disposed of.
void RunSources(const std::string& selection);
// Every template of the list against the current message.
void DoParsing();
// The current template (named `name` in the run's list) against the current message: the
// output file checked, the output definition read, the message parsed. A run then stamps the
// template's last-run time; a trial leaves the template as it is.
enum class ApplyMode { Run, Trial };
void ApplyTemplate(const std::string& name, ApplyMode mode);
// The current template's output file can be appended to (or is the printer).
bool CanWriteOutput();
// Stamps the current template with the date and time it ran and stores the stamp.
void SetLastRan();

}  // namespace tallix::engine
