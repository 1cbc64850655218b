#pragma once
// A small object model over the Maildir in the shape of a CDO session, which is what the
// Extended MAPI source drives: a session logs on to a store and opens its inbox; the inbox's
// message collection is walked with GetFirst and GetNext; each message offers its values,
// its recipients and attachments, and can be deleted.
//
// Members that have nothing to give (a message without a Date: field has no TimeSent, an
// index past the end has no Item) raise a run-time error, as the platform's objects do; the
// caller decides what a failure means.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sources/maildir_inbox.h"

namespace tallix::sources::cdo {

// The address type of every sender and recipient of the store.
inline constexpr std::string_view kAddressTypeSmtp = "SMTP";

class CdoAddressEntry {
  public:
    CdoAddressEntry() = default;
    explicit CdoAddressEntry(maildir::MailAddress address) : m_address(std::move(address)) {}
    const std::string& Name() const { return m_address.name; }
    const std::string& Address() const { return m_address.address; }
    std::string Type() const { return std::string(kAddressTypeSmtp); }

  private:
    maildir::MailAddress m_address;
};

class CdoRecipient {
  public:
    explicit CdoRecipient(maildir::MailAddress address) : m_entry(std::move(address)) {}
    const CdoAddressEntry& AddressEntry() const { return m_entry; }

  private:
    CdoAddressEntry m_entry;
};

class CdoRecipients {
  public:
    std::int32_t Count() const { return static_cast<std::int32_t>(m_items.size()); }
    // 1-based; raises subscript out of range (9) past the end.
    const CdoRecipient& Item(std::int32_t index) const;

  private:
    friend class CdoMessage;
    std::vector<CdoRecipient> m_items;
};

class CdoAttachment {
  public:
    explicit CdoAttachment(const maildir::MailAttachment* attachment) : m_attachment(attachment) {}
    // The name the message gives the attachment, as it stands (not safe as a path).
    const std::string& Source() const { return m_attachment->source; }
    // Writes the decoded content to `path`, replacing a file of that name; raises on failure.
    void WriteToFile(const std::string& path) const;

  private:
    const maildir::MailAttachment* m_attachment;
};

class CdoAttachments {
  public:
    std::int32_t Count() const { return static_cast<std::int32_t>(m_items.size()); }
    const CdoAttachment& Item(std::int32_t index) const;  // 1-based; raises 9 past the end

  private:
    friend class CdoMessage;
    std::vector<CdoAttachment> m_items;
};

class CdoMessage {
  public:
    explicit CdoMessage(std::unique_ptr<maildir::InboxMessage> message);

    std::string TimeSent() const;           // from Date:; raises when there is none
    std::string TimeReceived() const;       // the delivery time
    const CdoAddressEntry& Sender() const;  // raises when the message names no sender
    const std::string& Subject() const { return m_message->parsed.subject; }
    const CdoRecipients& Recipients() const { return m_recipients; }
    const std::string& Text() const { return m_message->parsed.text; }
    const CdoAttachments& Attachments() const { return m_attachments; }
    // Removes the message file from the store.
    void Delete();

    // The message as the store read it, which the message builder takes its values from.
    const maildir::InboxMessage& Stored() const { return *m_message; }
    // Where the message came from and what reading it ran into.
    const std::string& FilePath() const { return m_message->entry.path; }
    const std::vector<std::string>& Notes() const { return m_message->notes; }

  private:
    std::unique_ptr<maildir::InboxMessage> m_message;
    std::optional<CdoAddressEntry> m_sender;
    CdoRecipients m_recipients;
    CdoAttachments m_attachments;
};

// The inbox's messages as listed when the collection was made; files that vanish later are
// passed over by the walk.
class CdoMessages {
  public:
    explicit CdoMessages(maildir::MaildirInbox& inbox);
    std::int32_t Count() const { return static_cast<std::int32_t>(m_entries.size()); }
    // The first or next message whose file can still be read; nullptr at the end.
    CdoMessage* GetFirst();
    CdoMessage* GetNext();

  private:
    CdoMessage* LoadFrom(std::size_t position);

    std::vector<maildir::InboxEntry> m_entries;
    std::size_t m_next = 0;
    std::unique_ptr<CdoMessage> m_current;
};

class CdoFolder {
  public:
    explicit CdoFolder(maildir::MaildirInbox& inbox) : m_inbox(inbox) {}
    // The messages as they are now; the same collection on later calls.
    CdoMessages* Messages();

  private:
    maildir::MaildirInbox& m_inbox;
    std::unique_ptr<CdoMessages> m_messages;
};

class CdoSession {
  public:
    // Logs on to the default store ($MAILDIR, else ~/Maildir), or to the Maildir that
    // `profileName` names (an absolute path). Raises when that is not a Maildir.
    void Logon();
    void Logon(const std::string& profileName);
    // The store's inbox; nullptr before a logon or when the store is no longer a Maildir.
    CdoFolder* Inbox();
    void Logoff();
    bool LoggedOn() const { return m_inbox != nullptr; }

  private:
    std::unique_ptr<maildir::MaildirInbox> m_inbox;
    std::unique_ptr<CdoFolder> m_folder;
};

}  // namespace tallix::sources::cdo
