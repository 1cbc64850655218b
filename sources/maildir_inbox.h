#pragma once
// The one Maildir reader under both MAPI stand-ins: the store's inbox listed once, and one
// message loaded from its file and taken apart.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sources/maildir_reader.h"
#include "sources/maildir_store.h"

namespace tallix::sources::maildir {

struct InboxMessage {
    InboxEntry entry;
    ParsedMessage parsed;
    // What reading this message ran into: limits of the message structure reached.
    std::vector<std::string> notes;
    // Why the file is not a message that can be handed over (kRefusedTooLong,
    // kRefusedNotAFile, kRefusedUnreadable with the reason); "" when it is. A refused message
    // gives no line and is not deleted: the walk names the file in the error log and goes on.
    std::string refused;
};

class MaildirInbox {
  public:
    // Raises file-not-found (53) when `dir` is not a Maildir.
    explicit MaildirInbox(std::string dir);

    const std::string& Dir() const { return m_dir; }
    // Lists new/ and cur/ again.
    void Refresh() { m_entries = ListInbox(m_dir); }
    std::vector<InboxEntry>& Entries() { return m_entries; }

    // The message of `entry`; nullptr when its file has vanished since the listing. A file
    // that is not read whole comes back with `refused` set and nothing parsed.
    static std::unique_ptr<InboxMessage> Load(const InboxEntry& entry);

  private:
    std::string m_dir;
    std::vector<InboxEntry> m_entries;
};

// A time in seconds since the epoch as the system writes a date and time (local time, general
// date form: "3/2/2026 2:05:09 PM").
std::string DateTimeText(std::int64_t secondsSinceEpoch);

}  // namespace tallix::sources::maildir
