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
    // What reading this message ran into: limits reached, a file that could not be read.
    std::vector<std::string> notes;
};

class MaildirInbox {
  public:
    // Raises file-not-found (53) when `dir` is not a Maildir.
    explicit MaildirInbox(std::string dir);

    const std::string& Dir() const { return m_dir; }
    // Lists new/ and cur/ again.
    void Refresh() { m_entries = ListInbox(m_dir); }
    std::vector<InboxEntry>& Entries() { return m_entries; }

    // The message of `entry`; nullptr when its file has vanished since the listing.
    static std::unique_ptr<InboxMessage> Load(const InboxEntry& entry);

  private:
    std::string m_dir;
    std::vector<InboxEntry> m_entries;
};

// A time in seconds since the epoch as the system writes a date and time (local time, general
// date form: "3/2/2026 2:05:09 PM").
std::string DateTimeText(std::int64_t secondsSinceEpoch);

}  // namespace tallix::sources::maildir
