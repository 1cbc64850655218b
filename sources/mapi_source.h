#pragma once
// clsMapi: the Extended MAPI source. It logs a CDO-style session on to the store the "Profile"
// setting names (the default store when it is empty), opens the inbox and hands every message
// over as a txMessage. Each value of a message is taken on its own: one that cannot be read
// stays empty and the message is still handed over. Attachments are written to the scratch
// directory as "$$" + a safe base name; the engine removes them after the message.

#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "sources/attachment_decoder.h"
#include "sources/cdo_objects.h"
#include "sources/mail_source.h"

namespace tallix::sources {

inline constexpr std::string_view kMapiSystemId = "Mapi System";
inline constexpr std::string_view kFailedToOpenInbox = "Failed to open Inbox";
// Printed after a note about a message, naming its file.
inline constexpr std::string_view kInMessageFile = "In message file: ";

class clsMapi final : public MailSource {
  public:
    // The store "Profile" names, as the settings the program loaded give it.
    clsMapi();
    ~clsMapi() override;

    const std::string& ProfileName() const { return m_profileName; }
    void SetProfileName(std::string name) { m_profileName = std::move(name); }
    cdo::CdoSession* objSession() const { return m_session.get(); }
    cdo::CdoFolder* ActiveFolder() const { return m_activeFolder; }
    cdo::CdoMessages* objMessages() const { return m_messages; }
    cdo::CdoMessage* objMapiMessage() const { return m_mapiMessage; }

    // Sets IsConnected (the boolean result the platform's version returned was never read).
    void Connect() override;
    void GetFirstMsg() override;
    void GetNextMsg() override;
    void DoDeleteMessage() override;
    std::string ConvertAddress() override;
    void Disconnect() override;
    // The unique name of the current message's file (see MaildirUniqueName).
    std::string MessageKey() const override;

    // Opens the session's inbox; reports "Failed to open Inbox" when there is none.
    void SetActiveFolder();

  private:
    void ReadMessage();

    std::string m_profileName;
    std::unique_ptr<cdo::CdoSession> m_session;
    cdo::CdoFolder* m_activeFolder = nullptr;
    cdo::CdoMessages* m_messages = nullptr;
    cdo::CdoMessage* m_mapiMessage = nullptr;
};

// The collection of Extended MAPI sources: one per run. Item of a missing entry raises.
using colMapiConfigs = SourceCollection<clsMapi>;
std::unique_ptr<colMapiConfigs> NewColMapiConfigs();
// The sources of an "EXTENDED MAPI" run: a colMapiConfigs with one clsMapi on the store
// `profile` names. The store's messages are taken apart here, so the engine's MIME decoder is
// not used.
std::unique_ptr<SourceList> MakeMapiSources(std::string profile);

// The part of a Maildir file's name that stays when the message moves from new/ to cur/ and
// its flags change: the base name up to the ":" of its info.
std::string MaildirUniqueName(std::string_view path);

// Reports what reading a message ran into, each note with the message's file (logged).
void ReportMessageNotes(const std::vector<std::string>& notes, const std::string& file);
// Reports a file of the inbox that is not handed over as a message, and why (logged).
void ReportRefusedMessage(std::string_view reason, const std::string& file);

}  // namespace tallix::sources
