#include "sources/simple_mapi_controls.h"

#include <map>

#include "settings/run_time_error.h"
#include "settings/scratch_dir.h"
#include "sources/attachment_names.h"
#include "sources/cdo_objects.h"
#include "sources/mapi_source.h"

namespace tallix::sources::smapi {
namespace {

// The open sessions of the process, by handle: what a session handle stands for.
struct Sessions {
    std::map<std::int32_t, std::unique_ptr<maildir::MaildirInbox>> open;
    std::int32_t lastId = 0;
};
Sessions& OpenSessions() {
    // Never destroyed: controls that live as long as the process sign off in their own
    // destructors, which may run after this one's would have.
    static Sessions* sessions = new Sessions;
    return *sessions;
}

maildir::MaildirInbox& SessionInbox(std::int32_t id) {
    auto& open = OpenSessions().open;
    const auto it = open.find(id);
    if (it == open.end()) Raise(kErrObjectRequired, "No Simple MAPI session");
    return *it->second;
}

}  // namespace

MapiSessionControl::~MapiSessionControl() {
    SignOff();
}

void MapiSessionControl::SignOn() {
    SignOff();
    auto inbox = std::make_unique<maildir::MaildirInbox>(maildir::DefaultMaildir());
    Sessions& sessions = OpenSessions();
    m_sessionId = ++sessions.lastId;
    sessions.open[m_sessionId] = std::move(inbox);
}

void MapiSessionControl::SignOff() {
    if (m_sessionId != 0) OpenSessions().open.erase(m_sessionId);
    m_sessionId = 0;
}

void MapiMessagesControl::Fetch() {
    maildir::MaildirInbox& inbox = SessionInbox(m_sessionId);
    inbox.Refresh();
    m_entries = inbox.Entries();
    m_index = 0;
    m_loaded.reset();
}

void MapiMessagesControl::SetMsgIndex(std::int32_t index) {
    if (index < 0 || index > MsgCount()) Raise(kErrSubscript);
    // A message another program has moved away is skipped: the ones after it move up.
    const auto at = static_cast<std::size_t>(index);
    while (at < m_entries.size()) {
        const std::string& path = m_entries[at].path;
        if (maildir::MessageFileExists(path)) {
            const std::string_view refusal = maildir::RefusalOf(path);
            if (refusal.empty()) break;
            ReportRefusedMessage(refusal, path);
        }
        m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(at));
    }
    m_index = index;
}

const maildir::InboxMessage& MapiMessagesControl::Current() {
    if (!HasMessage()) Raise(kErrSubscript, "No current message");
    const maildir::InboxEntry& entry = m_entries[static_cast<std::size_t>(m_index)];
    if (!m_loaded || m_loadedPath != entry.path) {
        m_loaded = maildir::MaildirInbox::Load(entry);
        // Gone between the index change and the read: an empty message stands in for it.
        if (!m_loaded) {
            m_loaded = std::make_unique<maildir::InboxMessage>();
            m_loaded->entry = entry;
        }
        m_loadedPath = entry.path;
        m_attachmentIndex = 0;
        m_attachmentPaths.assign(m_loaded->parsed.attachments.size(), std::string());
        m_attachmentNames.clear();
    }
    return *m_loaded;
}

std::string MapiMessagesControl::MsgDateReceived() {
    return maildir::DateTimeText(Current().entry.delivered);
}

std::string MapiMessagesControl::MsgOrigDisplayName() {
    const auto& sender = Current().parsed.sender;
    return sender ? sender->name : std::string();
}

std::string MapiMessagesControl::MsgOrigAddress() {
    const auto& sender = Current().parsed.sender;
    return sender ? sender->address : std::string();
}

std::string MapiMessagesControl::MsgSenderType() {
    Current();
    return std::string(kSenderTypeSmtp);
}

std::string MapiMessagesControl::MsgSubject() {
    return Current().parsed.subject;
}

std::string MapiMessagesControl::RecipDisplayName() {
    const auto& recipients = Current().parsed.recipients;
    return recipients.empty() ? std::string() : recipients.front().name;
}

std::string MapiMessagesControl::RecipAddress() {
    const auto& recipients = Current().parsed.recipients;
    return recipients.empty() ? std::string() : recipients.front().address;
}

std::string MapiMessagesControl::MsgNoteText() {
    return Current().parsed.text;
}

std::int32_t MapiMessagesControl::AttachmentCount() {
    return static_cast<std::int32_t>(Current().parsed.attachments.size());
}

void MapiMessagesControl::SetAttachmentIndex(std::int32_t index) {
    if (index < 0 || index >= AttachmentCount()) Raise(kErrSubscript);
    m_attachmentIndex = index;
}

std::string MapiMessagesControl::AttachmentPathName() {
    const maildir::InboxMessage& message = Current();
    const auto at = static_cast<std::size_t>(m_attachmentIndex);
    if (at >= message.parsed.attachments.size()) Raise(kErrSubscript);
    std::string& path = m_attachmentPaths[at];
    if (path.empty()) {
        if (ScratchDir().empty()) RaiseNoScratchDir();
        // The message names the attachment; the file name is ours: a safe base name, unique
        // among this message's attachments.
        const std::string name =
            AttachmentFileName(message.parsed.attachments[at].source, m_attachmentNames);
        const std::string file = ScratchFile(name);
        cdo::CdoAttachment(&message.parsed.attachments[at]).WriteToFile(file);
        path = file;
    }
    return path;
}

void MapiMessagesControl::Delete(std::int32_t what) {
    if (what != 0) Raise(kErrInvalidProperty);
    if (!HasMessage()) Raise(kErrSubscript, "No current message");
    const auto at = static_cast<std::size_t>(m_index);
    maildir::DeleteMessageFile(m_entries[at].path);
    m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(at));
    m_loaded.reset();
    m_loadedPath.clear();
}

void MapiMessagesControl::DropCurrent() {
    if (!HasMessage()) return;
    m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(m_index));
    m_loaded.reset();
    m_loadedPath.clear();
}

std::vector<std::string> MapiMessagesControl::CurrentNotes() {
    return Current().notes;
}
std::string MapiMessagesControl::CurrentFilePath() {
    return Current().entry.path;
}

}  // namespace tallix::sources::smapi
