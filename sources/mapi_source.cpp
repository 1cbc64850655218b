#include "sources/mapi_source.h"

#include "model/message.h"
#include "settings/error_reporter.h"
#include "settings/logs.h"
#include "settings/scratch_dir.h"
#include "settings/settings_store.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"
#include "sources/compuserve_address.h"
#include "sources/message_builder.h"

namespace tallix::sources {
namespace {

constexpr std::string_view kCtxDoDeleteMessage = "clsMapi - DoDeleteMessage";
// No operation reports: a missing source is raised to the caller.
constexpr CollectionContexts kColContexts{};

}  // namespace

void ReportMessageNotes(const std::vector<std::string>& notes, const std::string& file) {
    for (const std::string& note : notes) {
        ReportError(note + "\n" + std::string(kInMessageFile) + LogSafe(file), true, false);
    }
}

void ReportRefusedMessage(std::string_view reason, const std::string& file) {
    ReportError(std::string(reason) + "\n" + std::string(kInMessageFile) + LogSafe(file), true,
                false);
}

clsMapi::clsMapi() : m_profileName(Settings().mapiProfile) {
    SetID(std::string(kMapiSystemId));
}

clsMapi::~clsMapi() {
    // The message, the collection and the folder belong to the session.
    m_mapiMessage = nullptr;
    m_messages = nullptr;
    m_activeFolder = nullptr;
    m_session.reset();
}

void clsMapi::Connect() {
    SetIsConnected(false);
    // Any failure leaves the source unconnected; the engine says so. Only a missing inbox
    // is reported here.
    SkipOnError([&] {
        m_mapiMessage = nullptr;
        m_messages = nullptr;
        m_activeFolder = nullptr;
        m_session = std::make_unique<cdo::CdoSession>();
        LetEventsRun();
        if (!m_profileName.empty()) {
            m_session->Logon(Trim(m_profileName));
        } else {
            m_session->Logon();
        }
        LetEventsRun();
        SetActiveFolder();
        LetEventsRun();
        if (!m_activeFolder) return;
        m_messages = m_activeFolder->Messages();
        if (!m_messages) return;
        SetTotalMessages(m_messages->Count());
        SetIsConnected(true);
    });
}

void clsMapi::SetActiveFolder() {
    m_activeFolder = m_session ? m_session->Inbox() : nullptr;
    if (!m_activeFolder) ReportError(kFailedToOpenInbox, true, false);
}

void clsMapi::GetFirstMsg() {
    SetMessage(nullptr);
    if (m_messages) {
        m_mapiMessage = m_messages->GetFirst();
        ReadMessage();
    }
    LetEventsRun();
}

void clsMapi::GetNextMsg() {
    if (m_messages) {
        m_mapiMessage = m_messages->GetNext();
        ReadMessage();
    }
    LetEventsRun();
}

void clsMapi::ReadMessage() {
    cdo::CdoMessage* m = m_mapiMessage;
    if (!m) {
        SetMessage(nullptr);
        return;
    }
    MessageSite site;
    site.parsed = &m->Stored().parsed;
    site.delivered = m->Stored().entry.delivered;
    std::shared_ptr<txMessage> message = BuildMessage({}, kMapiBuild, site);
    ReportMessageNotes(m->Notes(), m->FilePath());
    SetMessage(std::move(message));
}

std::string clsMapi::MessageKey() const {
    return m_mapiMessage ? MaildirUniqueName(m_mapiMessage->FilePath()) : std::string();
}

std::string MaildirUniqueName(std::string_view path) {
    std::string_view name = path.substr(path.rfind('/') + 1);
    return std::string(name.substr(0, name.find(':')));
}

std::string clsMapi::ConvertAddress() {
    std::string address;
    std::string type;
    cdo::CdoMessage* m = m_mapiMessage;
    if (!m) return address;
    if (!SkipOnError([&] { address = m->Sender().Address(); })) return address;
    if (!SkipOnError([&] { type = m->Sender().Type(); })) return address;
    std::string result = address;
    SkipOnError([&] { result = CompuServeAddress(address, type); });
    return result;
}

void clsMapi::DoDeleteMessage() {
    Guard(kCtxDoDeleteMessage, [&] {
        if (m_mapiMessage) m_mapiMessage->Delete();
    });
}

void clsMapi::Disconnect() {
    // The message, the collection and the folder end with the session.
    m_mapiMessage = nullptr;
    m_messages = nullptr;
    m_activeFolder = nullptr;
    if (m_session) m_session->Logoff();
}

std::unique_ptr<colMapiConfigs> NewColMapiConfigs() {
    return std::make_unique<colMapiConfigs>(kColContexts);
}

std::unique_ptr<SourceList> MakeMapiSources(std::string profile) {
    auto list = NewColMapiConfigs();
    if (clsMapi* source = list->Add()) source->SetProfileName(std::move(profile));
    return list;
}

}  // namespace tallix::sources
