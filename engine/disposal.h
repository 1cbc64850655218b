#pragma once
// What becomes of a message after every template has seen it.

#include <string>
#include <string_view>

#include "engine/run_context.h"

namespace tallix::engine {

inline constexpr std::string_view kDeleteTitle = "Tallix - Delete";

// What the templates made of a message.
struct MessageOutcome {
    bool notUsed = true;  // every template status is 0
    bool failed = false;  // some template status is 2
};
MessageOutcome OutcomeOf(const MessageWork& message);

// Removes the files the source wrote for the message (its attachments and the two scratch
// files), for the source kinds that write them and only when it has attachments.
void DeleteTempFiles(const RunContext& run, const MessageWork& message);

// Leaves the message, deletes it without asking, or asks first, by the delete settings and
// the outcome; a message that failed is never deleted without the user's word.
void DeleteMessage(const RunContext& run, const MessageWork& message);

}  // namespace tallix::engine
