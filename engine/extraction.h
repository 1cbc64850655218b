#pragma once
// One template against one message: the filter test, the variables cut out of the message's
// fields, the record written.

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/run_context.h"

namespace tallix::engine {

// Runs the template of `work` against the message: filter, variables, scripts, output line.
void ParseMessage(RunContext& run, MessageWork& message, TemplateWork& work);
// The text of a message field by its exact name; attachments by 1-based index (0 gives "").
std::string GetValue(const MessageWork& message, std::string_view fieldName,
                     std::int32_t attachmentIndex);
// The same, taken once per message for the run: a text the templates already read (an
// attachment's converted text among them) is not read or converted again.
const std::string& RunFieldText(RunContext& run, const MessageWork& message,
                                std::string_view fieldName, std::int32_t attachmentIndex);
// Fills the value of variable `position` (from 1) of the template; false when it failed
// (reported).
bool ParseVariable(RunContext& run, MessageWork& message, TemplateWork& work,
                   std::int32_t position);
// The date part of the message's "Sent" or "Received" date.
std::string GetDateString(const MessageWork& message, std::string_view which);
// The template's filter passes the message.
bool MatchesFilter(RunContext& run, MessageWork& message, const clsTemplate& tpl);

}  // namespace tallix::engine
