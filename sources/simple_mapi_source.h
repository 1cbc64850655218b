#pragma once
// clsSimpleMapi: the Simple MAPI source. It signs on to the default store with the session
// control the engine's window hosts, fetches the inbox with the messages control and reads
// the fetched messages by index from 0. After the current message is deleted, the next one
// stands at the same index, so the walk reads that index again.
//
// Errors while a message is read are not trapped here: they pass on to the engine.

#include <memory>
#include <string>

#include "sources/attachment_decoder.h"
#include "sources/mail_source.h"
#include "sources/simple_mapi_controls.h"

namespace tallix::sources {

// The two controls the engine's window hosts for this source.
smapi::MapiSessionControl& HostedMapiSession();
smapi::MapiMessagesControl& HostedMapiMessages();

class clsSimpleMapi final : public MailSource {
  public:
    clsSimpleMapi();

    // Keeps both control references; true when both are present.
    bool SetControls(smapi::MapiSessionControl* ctlSession, smapi::MapiMessagesControl* ctlMsg);
    // The controls Connect takes (the window's by default; tests give their own or none).
    void UseControls(smapi::MapiSessionControl* ctlSession, smapi::MapiMessagesControl* ctlMsg) {
        m_offeredSession = ctlSession;
        m_offeredMessages = ctlMsg;
    }
    // True after a message was read, false after it was deleted.
    bool MessagePresent() const { return m_present; }

    // Sets IsConnected (the boolean result the platform's version returned was never read).
    void Connect() override;
    void GetFirstMsg() override;
    void GetNextMsg() override;
    void DoDeleteMessage() override;
    std::string ConvertAddress() override;
    void Disconnect() override;
    // The unique name of the current message's file, as the Extended MAPI source gives it.
    std::string MessageKey() const override;
    void SetActiveFolder() {}
    void SetMessagesObject() {}

  private:
    void ReadMessage();

    smapi::MapiSessionControl* m_offeredSession;
    smapi::MapiMessagesControl* m_offeredMessages;
    smapi::MapiSessionControl* m_session = nullptr;
    smapi::MapiMessagesControl* m_messages = nullptr;
    bool m_present = false;
};

// The collection of Simple MAPI sources: one per run. Item of a missing entry raises.
using colSimpleMapi = SourceCollection<clsSimpleMapi>;
std::unique_ptr<colSimpleMapi> NewColSimpleMapi();
// The sources of a "SIMPLE MAPI" run: a colSimpleMapi with one clsSimpleMapi on the hosted
// controls. The engine's MIME decoder is not used.
std::unique_ptr<SourceList> MakeSimpleMapiSources();

}  // namespace tallix::sources
