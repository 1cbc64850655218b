#pragma once
// The Maildir on disk: which directory is the store, which files are the inbox and in what
// order, reading one message file and removing one. The inbox is the messages in new/ and
// cur/ (tmp/ holds deliveries still being written), oldest delivery first.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tallix::sources::maildir {

// The most of one message file that is read; the rest of a longer file is left out.
inline constexpr std::size_t kMaxMessageFileBytes = std::size_t{64} << 20;
inline constexpr std::string_view kNoteFileTooLong =
    "Message file longer than the limit; only its start is read.";
inline constexpr std::string_view kNoteUnreadable = "The message file could not be read: ";

struct InboxEntry {
    std::string path;            // the file
    std::string name;            // its name in new/ or cur/
    std::int64_t delivered = 0;  // delivery time, seconds since the epoch
};

// The store an empty profile means: $MAILDIR when set and not empty, else ~/Maildir.
std::string DefaultMaildir();
// True for an absolute path to a directory that holds the directories cur/ and new/.
bool IsMaildir(const std::string& dir);
// The delivery time a Maildir file name starts with (the digits before the first "."), or -1.
std::int64_t DeliveryTimeFromName(std::string_view name);
// The regular files of new/ and cur/ (names starting with "." are not messages), oldest
// delivery first, then by name. A name without a delivery time takes the file's modification
// time. Raises the run-time error of a directory that cannot be read.
std::vector<InboxEntry> ListInbox(const std::string& dir);

enum class ReadOutcome { Read, Truncated, Vanished, Failed };
// Reads the file into `bytes`, at most kMaxMessageFileBytes. Vanished when the file is no
// longer there (another mail program moved or removed it); Failed, with the system's reason
// in `failure`, when it cannot be read (what was read before stays in `bytes`).
ReadOutcome ReadMessageFile(const std::string& path, std::string& bytes, std::string& failure);
// True when the file is still there.
bool MessageFileExists(const std::string& path);
// Removes the file; raises when that fails.
void DeleteMessageFile(const std::string& path);

}  // namespace tallix::sources::maildir
