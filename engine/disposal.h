#pragma once
// What becomes of a message after every template has seen it.

#include <string>
#include <string_view>

namespace tallix::engine {

inline constexpr std::string_view kDeleteTitle = "Tallix - Delete";

// What the templates made of the current message.
struct MessageOutcome {
    bool notUsed = true;  // every template status is 0
    bool failed = false;  // some template status is 2
};
MessageOutcome CurrentOutcome();

// Removes the files the source wrote for the current message (its attachments and the two
// scratch files), for the source kinds that write them and only when it has attachments.
void DeleteTempFiles();

// Leaves the message, deletes it without asking, or asks first, by the delete settings and
// the outcome; a message that failed is never deleted without the user's word.
void DeleteMessage();

}  // namespace tallix::engine
