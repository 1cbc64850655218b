#include "sources/simple_mapi_source.h"

#include "model/message.h"
#include "settings/error_reporter.h"
#include "settings/user_interface.h"
#include "sources/compuserve_address.h"
#include "sources/mapi_source.h"
#include "sources/message_builder.h"

namespace tallix::sources {
namespace {

constexpr std::string_view kCtxDoDeleteMessage = "clsSimpleMapi - DoDeleteMessage";
// No operation reports: a missing source is raised to the caller.
constexpr CollectionContexts kColContexts{};

}  // namespace

smapi::MapiSessionControl& HostedMapiSession() {
    static smapi::MapiSessionControl control;
    return control;
}

smapi::MapiMessagesControl& HostedMapiMessages() {
    static smapi::MapiMessagesControl control;
    return control;
}

clsSimpleMapi::clsSimpleMapi()
    : m_offeredSession(&HostedMapiSession()), m_offeredMessages(&HostedMapiMessages()) {
    SetID(std::string(kMapiSystemId));
}

bool clsSimpleMapi::SetControls(smapi::MapiSessionControl* ctlSession,
                                smapi::MapiMessagesControl* ctlMsg) {
    m_session = ctlSession;
    m_messages = ctlMsg;
    return m_session && m_messages;
}

void clsSimpleMapi::Connect() {
    SetIsConnected(false);
    // Any failure leaves the source unconnected, with nothing reported; the engine says so.
    SkipOnError([&] {
        if (!SetControls(m_offeredSession, m_offeredMessages)) return;
        m_session->SignOn();
        LetEventsRun();
        if (m_session->SessionID() > 0) m_messages->SetSessionID(m_session->SessionID());
        m_messages->Fetch();
        SetTotalMessages(m_messages->MsgCount());
        // Each fetched message is visited once; the count is read anew because a message
        // whose file has gone meanwhile leaves the set.
        for (std::int32_t i = 0; i < m_messages->MsgCount(); ++i) m_messages->SetMsgIndex(i);
        m_messages->SetMsgIndex(0);
        SetIsConnected(true);
    });
}

void clsSimpleMapi::GetFirstMsg() {
    if (!m_messages) {
        SetMessage(nullptr);
        return;
    }
    m_messages->SetMsgIndex(0);
    ReadMessage();
}

void clsSimpleMapi::GetNextMsg() {
    if (!m_messages) {
        SetMessage(nullptr);
        return;
    }
    const std::int32_t count = m_messages->MsgCount();
    const std::int32_t index = m_messages->MsgIndex();
    if (m_present) {
        if (index < count - 1) {
            m_messages->SetMsgIndex(index + 1);
            ReadMessage();
            LetEventsRun();
        } else {
            SetMessage(nullptr);
        }
    } else if (count == index) {
        SetMessage(nullptr);
    } else {
        // The deletion moved the next message to this index.
        m_messages->SetMsgIndex(index);
        ReadMessage();
    }
}

std::string clsSimpleMapi::MessageKey() const {
    std::string path;
    if (m_messages && m_present && Message())
        SkipOnError([&] { path = m_messages->CurrentFilePath(); });
    return path.empty() ? std::string() : MaildirUniqueName(path);
}

void clsSimpleMapi::ReadMessage() {
    LetEventsRun();
    // Messages that vanished since the fetch have left the set, and so does one whose file
    // cannot be read whole (named in the error log, left in the store); at the set's end there
    // is no message to hand over.
    while (m_messages->HasMessage() && !m_messages->CurrentMessage().refused.empty()) {
        ReportRefusedMessage(m_messages->CurrentMessage().refused, m_messages->CurrentFilePath());
        m_messages->DropCurrent();
    }
    if (!m_messages->HasMessage()) {
        SetMessage(nullptr);
        return;
    }
    m_present = true;
    const maildir::InboxMessage& stored = m_messages->CurrentMessage();
    MessageSite site;
    site.parsed = &stored.parsed;
    site.delivered = stored.entry.delivered;
    std::shared_ptr<txMessage> message = BuildMessage({}, kSimpleMapiBuild, site);
    ReportMessageNotes(m_messages->CurrentNotes(), m_messages->CurrentFilePath());
    SetMessage(std::move(message));
}

std::string clsSimpleMapi::ConvertAddress() {
    if (!m_messages) return {};
    return CompuServeAddress(m_messages->MsgOrigAddress(), m_messages->MsgSenderType());
}

void clsSimpleMapi::DoDeleteMessage() {
    Guard(kCtxDoDeleteMessage, [&] {
        if (!m_messages) Raise(kErrObjectRequired);
        m_messages->Delete(0);
        m_present = false;
    });
}

void clsSimpleMapi::Disconnect() {
    if (m_session) m_session->SignOff();
}

std::unique_ptr<colSimpleMapi> NewColSimpleMapi() {
    return std::make_unique<colSimpleMapi>(kColContexts);
}

std::unique_ptr<SourceList> MakeSimpleMapiSources() {
    auto list = NewColSimpleMapi();
    list->Add();
    return list;
}

}  // namespace tallix::sources
