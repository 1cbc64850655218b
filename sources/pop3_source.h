#pragma once
// clsPOP3Config as a mail source: one stored POP3 account, read through the POP3 client.
// Connect opens the session (login and message count); each message is retrieved into the
// scratch message file, described by the client (subject, date, header, body) and then
// split by the engine's MIME decoding into a plain-text body file and attachment files,
// all in the scratch directory. Deleting marks the current message on the server; the
// close step at Disconnect commits the deletions.
//
// The account's settings and their storage are the account store's (pop3_config.h); this
// class adds the session and the walk.

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sources/attachment_decoder.h"
#include "sources/mail_source.h"
#include "sources/pop3_client.h"
#include "sources/pop3_config.h"
#include "sources/server_parts.h"

namespace tallix::sources {

inline constexpr std::string_view kReceiveMailTitle = "Receive Mail";
inline constexpr std::string_view kIncompleteAccount =
    "The Host Name, Login Name and Password fields are all required. Set them using the "
    "'Properties' dialog.";
inline constexpr std::string_view kNoValidSocket = "Unable to establish a valid socket.";
inline constexpr std::string_view kPop3DeleteCalled = "POP3 delete called";
inline constexpr std::string_view kUnableToDelete = "Unable to delete Message Number: ";
inline constexpr std::string_view kHtmlBodyStem = "MailMessage";
// The domain a CompuServe user number is rewritten to.
inline constexpr std::string_view kCompuServeDomain = "compuserve.com";
// The two limits given to the client at connect, in milliseconds.
inline constexpr std::int16_t kPop3ClientLimitMs = 30000;
inline constexpr std::int32_t kMaxTcpPort = 65535;
// What a message key made of a UIDL unique id starts with, so that it can never read as a
// Message-ID or a digest of another message.
inline constexpr std::string_view kUidlKeyPrefix = "uidl:";

class Pop3Source final : public MailSource {
  public:
    // `decoder` may be nullptr: messages then keep the client's body and get no attachments.
    Pop3Source(clsPOP3Config account, std::unique_ptr<Pop3Client> client,
               AttachmentDecoder* decoder);

    clsPOP3Config& Account() { return m_account; }
    Pop3Client& Client() { return *m_client; }
    const std::string& DecodeDirectory() const { return m_decodeDir; }
    // How long the server may take for a command and for a message (tests shorten them).
    void SetTimeLimits(const Pop3TimeLimits& limits) { m_limits = limits; }
    void SetDecodeDirectory(std::string dir) { m_decodeDir = std::move(dir); }

    void Connect() override;
    void GetFirstMsg() override;
    void GetNextMsg() override;
    void DoDeleteMessage() override;
    std::string ConvertAddress() override;
    void Disconnect() override;
    // "uidl:" and the server's unique id of the current message; "" when the server gave it
    // none (the engine then goes by its header).
    std::string MessageKey() const override;

    void SetPOPCtl();
    bool ValidConnectInfo();
    void GetMessage();
    // Names the file of one decoded part (the decoder's DecodingFile event).
    void DecodingFile(std::string& fileName, const std::string& contentType,
                      const std::string& contentEncoding);
    // One decoded part has been finished (the decoder's DecodingFinished event).
    void SetNumberOfAttachments() { --m_decodeCounter; }
    std::int32_t DecodeCounter() const { return m_decodeCounter; }
    const std::vector<std::string>& DecodedFiles() const { return m_naming.Files(); }

  private:
    // The key of message `number` ("" without a unique id), and whether every template has
    // had that message.
    std::string KeyOf(std::int32_t number) const;
    bool KnownByKey(std::int32_t number) const;
    // One error-log line about a connect that failed for a reason the client's error event
    // did not already log (refused login, TLS, a server that does not speak POP3).
    void LogConnectFailure() const;
    void LogRetrieveFailure() const;
    // One error-log line about a message past the size limit, which is skipped.
    void LogTooLong() const;

    clsPOP3Config m_account;
    std::unique_ptr<Pop3Client> m_client;
    AttachmentDecoder* m_decoder;
    Pop3TimeLimits m_limits;
    std::string m_decodeDir;
    ServerPartNaming m_naming;  // the names of the current message's decoded parts
    std::int32_t m_decodeCounter = 0;
};

// The whole content of a file; "" when it is missing or unreadable.
std::string ExtractMessageBody(const std::string& fileName);
// filePath + "MailMessage" + n + fileExt for the first n from 1 for which no file exists.
std::string GetNewFilename(const std::string& filePath, const std::string& fileExt);
// The date text of a message trimmed to what reads as a date; ConvertDate when nothing does.
std::string FormatPop3Date(std::string_view sDate);
// Day, month name and four-digit year picked from the blank-separated tokens (the last token
// is never looked at), with a token that reads as a time; "" unless all three were found.
std::string ConvertDate(std::string_view sDate);
// The CompuServe rewrite of a sender address ("[76543,210]" becomes
// "76543.210@compuserve.com") when `senderType` is "COMPUSERVE"; otherwise `address`.
std::string CompuServeAddress(const std::string& address, const std::string& senderType);

// The sources of a POP3 run, one per account in file order.
class Pop3SourceList final : public SourceList {
  public:
    void Add(std::unique_ptr<Pop3Source> source) { m_sources.push_back(std::move(source)); }
    std::int32_t Count() const override { return static_cast<std::int32_t>(m_sources.size()); }
    MailSource* ItemAt(std::int32_t index) override {
        return index >= 1 && index <= Count() ? m_sources[static_cast<std::size_t>(index - 1)].get()
                                              : nullptr;
    }

  private:
    std::vector<std::unique_ptr<Pop3Source>> m_sources;
};

}  // namespace tallix::sources
