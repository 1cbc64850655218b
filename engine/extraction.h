#pragma once
// One template against the current message: the filter test, the variables cut out of the
// message's fields, the record written.

#include <cstdint>
#include <string>
#include <string_view>

namespace tallix::engine {

// Runs the current template against the current message of the current source.
void ParseMessage();
// The text of a message field by its exact name; attachments by 1-based index (0 gives "").
std::string GetValue(std::string_view fieldName, std::int32_t attachmentIndex);
// Fills the value of variable `position` (from 1) of the current template.
void ParseVariable(std::int32_t position);
// The date part of the message's "Sent" or "Received" date.
std::string GetDateString(std::string_view which);
// The current template's filter passes the current message.
bool MatchesFilter();

}  // namespace tallix::engine
