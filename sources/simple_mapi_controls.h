#pragma once
// The two Simple MAPI controls over the Maildir, which is what the Simple MAPI source drives:
// a session control that signs on to the default store and hands out a session handle, and
// a messages control that fetches the inbox and reads the message at its message index.
//
// Simple MAPI always reads the default store ($MAILDIR, else ~/Maildir). The fetched set is
// the inbox at Fetch; deleting the current message takes it out of the set, so the message
// after it moves to the same index. Members that have nothing to give raise a run-time error.

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "sources/maildir_inbox.h"

namespace tallix::sources::smapi {

// What the message's sender type reads as: every address of the store is an Internet one.
inline constexpr std::string_view kSenderTypeSmtp = "SMTP";

class MapiSessionControl {
  public:
    ~MapiSessionControl();
    // Opens the default store; raises when it is not a Maildir.
    void SignOn();
    // The handle of the open session, 0 when none.
    std::int32_t SessionID() const { return m_sessionId; }
    void SignOff();

  private:
    std::int32_t m_sessionId = 0;
};

class MapiMessagesControl {
  public:
    // The session whose store is read; 0 leaves the control without one.
    void SetSessionID(std::int32_t id) { m_sessionId = id; }
    std::int32_t SessionID() const { return m_sessionId; }
    // Lists the inbox of the session's store; raises without a signed-on session.
    void Fetch();
    std::int32_t MsgCount() const { return static_cast<std::int32_t>(m_entries.size()); }
    std::int32_t MsgIndex() const { return m_index; }
    // Makes message `index` (0-based) current. Messages whose files have vanished since the
    // fetch are taken out of the set first, and so are files that are refused unread (not a
    // regular file, longer than the limit; each is reported); an index at the count means "no
    // message" (an empty set accepts 0). Raises subscript out of range (9) for other indexes.
    void SetMsgIndex(std::int32_t index);
    // True when the index stands on a message.
    bool HasMessage() const { return m_index >= 0 && m_index < MsgCount(); }

    // Values of the current message (raise when there is none).
    std::string MsgDateReceived();
    std::string MsgOrigDisplayName();
    std::string MsgOrigAddress();
    std::string MsgSenderType();
    std::string MsgSubject();
    std::string RecipDisplayName();  // the first recipient; "" when there is none
    std::string RecipAddress();
    std::string MsgNoteText();
    std::int32_t AttachmentCount();
    std::int32_t AttachmentIndex() const { return m_attachmentIndex; }
    void SetAttachmentIndex(std::int32_t index);  // 0-based; raises 9 out of range
    // The file the current attachment is written to, in the scratch directory.
    std::string AttachmentPathName();
    // Deletes the current message (`what` 0) from the store and from the fetched set.
    void Delete(std::int32_t what = 0);

    // The current message as the store read it (raises when there is none).
    const maildir::InboxMessage& CurrentMessage() { return Current(); }
    // Takes the current message out of the set, leaving its file alone (a message that could
    // not be read whole).
    void DropCurrent();
    // What reading the current message ran into, and the file it came from.
    std::vector<std::string> CurrentNotes();
    std::string CurrentFilePath();

  private:
    const maildir::InboxMessage& Current();

    std::int32_t m_sessionId = 0;
    std::vector<maildir::InboxEntry> m_entries;
    std::int32_t m_index = 0;
    std::unique_ptr<maildir::InboxMessage> m_loaded;  // the current message once read
    std::string m_loadedPath;
    std::int32_t m_attachmentIndex = 0;
    std::vector<std::string> m_attachmentPaths;  // written files of the current message
    std::set<std::string> m_attachmentNames;
};

}  // namespace tallix::sources::smapi
