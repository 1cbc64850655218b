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

// The longest message file read. A longer one is not read at all: a message cut at the limit
// would give lines without the values past it, and the message would be deleted as parsed.
inline constexpr std::size_t kMaxMessageFileBytes = std::size_t{64} << 20;
// Why a file of the inbox is not handed over as a message; it stays where it is.
inline constexpr std::string_view kRefusedTooLong =
    "The message file is longer than the limit of 67108864 bytes; it is not read and stays in the "
    "Maildir.";
inline constexpr std::string_view kRefusedNotAFile =
    "The message file is not a regular file (a symbolic link, a device or a pipe); it is not read "
    "and stays in the Maildir.";
inline constexpr std::string_view kRefusedUnreadable =
    "The message file could not be read whole; it stays in the Maildir: ";

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
// The entries of new/ and cur/ other than directories (names starting with "." are not
// messages), oldest delivery first, then by name. A name without a delivery time takes the
// entry's modification time. Symbolic links and other entries that are not regular files are
// listed, never followed: reading them is refused, so the walk names them. Raises the
// run-time error of a directory that cannot be read, naming it.
std::vector<InboxEntry> ListInbox(const std::string& dir);

enum class ReadOutcome { Read, TooLong, NotAFile, Vanished, Failed };
// Reads the whole file into `bytes`; a symbolic link is never followed. Vanished when the file
// is no longer there (another mail program moved or removed it); NotAFile for a symbolic link
// or anything else that is not a regular file; TooLong past kMaxMessageFileBytes; Failed, with
// the system's reason in `failure`, when it cannot be read. `bytes` is empty unless Read.
ReadOutcome ReadMessageFile(const std::string& path, std::string& bytes, std::string& failure);
// The reason a file is refused before it is read (kRefusedNotAFile, kRefusedTooLong), from
// what the directory says of it; "" when it may be read.
std::string_view RefusalOf(const std::string& path);
// True when the entry is still there (a symbolic link counts; it is not followed).
bool MessageFileExists(const std::string& path);
// Removes the file; raises when that fails, naming the file.
void DeleteMessageFile(const std::string& path);

}  // namespace tallix::sources::maildir
