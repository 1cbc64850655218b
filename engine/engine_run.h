#pragma once
// The run over every source and every message, and what happens to one message.

#include <functional>
#include <memory>
#include <string>

#include "sources/mail_source.h"

namespace tallix::engine {

// Builds the sources of a run for a "UseSource" value; nullptr for a kind the engine does
// not know (or that is not built into this version).
using SourceListFactory = std::function<std::unique_ptr<sources::SourceList>(const std::string&)>;
// Replaces the factory (tests); nullptr restores the built-in one.
void SetSourceListFactory(SourceListFactory factory);
std::unique_ptr<sources::SourceList> GetSources();

// The whole run: templates listed, sources built, every message of every source parsed with
// every template, then disposed of.
void RunSources(const std::string& selection);
// Every template of the list against the current message.
void DoParsing();
// The current template's output file can be appended to (or is the printer).
bool CanWriteOutput();
// Stamps the current template with the date and time it ran and stores the stamp.
void SetLastRan();

}  // namespace tallix::engine
