#include "sources/cdo_objects.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "settings/run_time_error.h"
#include "sources/mapi_source.h"

namespace tallix::sources::cdo {

const CdoRecipient& CdoRecipients::Item(std::int32_t index) const {
    if (index < 1 || index > Count()) Raise(kErrSubscript);
    return m_items[static_cast<std::size_t>(index - 1)];
}

const CdoAttachment& CdoAttachments::Item(std::int32_t index) const {
    if (index < 1 || index > Count()) Raise(kErrSubscript);
    return m_items[static_cast<std::size_t>(index - 1)];
}

void CdoAttachment::WriteToFile(const std::string& path) const {
    // A file of that name is replaced by a new one rather than emptied: ext4 flushes a file
    // that was truncated and rewritten when it is closed, which cost milliseconds per
    // attachment. O_EXCL: whatever stands under the name now (a planted link) is not followed.
    ::unlink(path.c_str());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) RaiseErrno(errno);
    const std::string& bytes = m_attachment->content;
    std::size_t done = 0;
    int err = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err != 0) {
        ::unlink(path.c_str());  // half a file would be read as the attachment
        RaiseErrno(err);
    }
}

CdoMessage::CdoMessage(std::unique_ptr<maildir::InboxMessage> message)
    : m_message(std::move(message)) {
    const maildir::ParsedMessage& parsed = m_message->parsed;
    if (parsed.sender) m_sender.emplace(*parsed.sender);
    for (const maildir::MailAddress& a : parsed.recipients) m_recipients.m_items.emplace_back(a);
    for (const maildir::MailAttachment& a : parsed.attachments)
        m_attachments.m_items.emplace_back(&a);
}

std::string CdoMessage::TimeSent() const {
    if (!m_message->parsed.sentTime) Raise(kErrInvalidCall, "The message has no sending time");
    return maildir::DateTimeText(*m_message->parsed.sentTime);
}

std::string CdoMessage::TimeReceived() const {
    return maildir::DateTimeText(m_message->entry.delivered);
}

const CdoAddressEntry& CdoMessage::Sender() const {
    if (!m_sender) Raise(kErrObjectRequired, "The message has no sender");
    return *m_sender;
}

void CdoMessage::Delete() {
    maildir::DeleteMessageFile(m_message->entry.path);
}

CdoMessages::CdoMessages(maildir::MaildirInbox& inbox) {
    inbox.Refresh();
    m_entries = inbox.Entries();
}

CdoMessage* CdoMessages::LoadFrom(std::size_t position) {
    m_current.reset();
    for (m_next = position; m_next < m_entries.size();) {
        std::unique_ptr<maildir::InboxMessage> message =
            maildir::MaildirInbox::Load(m_entries[m_next++]);
        if (message && !message->refused.empty()) {
            // Not read whole: no line for it, and it stays where it is.
            ReportRefusedMessage(message->refused, message->entry.path);
            continue;
        }
        if (message) {
            m_current = std::make_unique<CdoMessage>(std::move(message));
            break;
        }
    }
    return m_current.get();
}

CdoMessage* CdoMessages::GetFirst() {
    return LoadFrom(0);
}
CdoMessage* CdoMessages::GetNext() {
    return LoadFrom(m_next);
}

CdoMessages* CdoFolder::Messages() {
    if (!m_messages) m_messages = std::make_unique<CdoMessages>(m_inbox);
    return m_messages.get();
}

void CdoSession::Logon() {
    Logon(maildir::DefaultMaildir());
}

void CdoSession::Logon(const std::string& profileName) {
    m_folder.reset();
    m_inbox = std::make_unique<maildir::MaildirInbox>(profileName);
    m_folder = std::make_unique<CdoFolder>(*m_inbox);
}

CdoFolder* CdoSession::Inbox() {
    // The store may have been taken away since the logon.
    if (!m_inbox || !maildir::IsMaildir(m_inbox->Dir())) return nullptr;
    return m_folder.get();
}

void CdoSession::Logoff() {
    m_folder.reset();
    m_inbox.reset();
}

}  // namespace tallix::sources::cdo
