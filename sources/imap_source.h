#pragma once
// An IMAP account as a mail source: one folder of one account of IMAP.CFG, read through the
// IMAP client. Connect logs in, selects the folder (examines it when nothing may be deleted)
// and lists its messages by UID; the messages are fetched many to a command and each is
// handed over through the one message builder, as the POP3 source's are (written to the
// scratch message file, its parts decoded into the scratch directory). The key of a message
// is "UIDVALIDITY/UID". Deleting flags the message \Deleted, or moves it to "MoveTo"; at
// Disconnect exactly the flagged messages are expunged (UID EXPUNGE), never another
// client's.

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sources/attachment_decoder.h"
#include "sources/imap_client.h"
#include "sources/mail_source.h"
#include "sources/pop3_config.h"
#include "sources/server_parts.h"

namespace tallix::sources {

inline constexpr std::string_view kImapIncompleteAccount =
    "The Host Name, Login Name and Password (or Password Command) fields are all required.";

class ImapSource final : public MailSource {
  public:
    // `readOnly`: the folder is examined and nothing in it is changed (DeleteFlag 0).
    // `decoder` may be nullptr: messages then keep their body and get no attachments.
    ImapSource(clsPOP3Config account, bool readOnly, AttachmentDecoder* decoder);

    clsPOP3Config& Account() { return m_account; }
    ImapClient& Client() { return m_client; }
    // "UIDVALIDITY/UID" of the current message; "" when there is none.
    std::string MessageKey() const override;
    // The key of the message with UID `uid` in the open folder.
    std::string KeyOf(std::uint32_t uid) const;
    // The limits, in milliseconds (30 s each unless set).
    void SetLimits(int connectMs, int idleMs) {
        m_connectMs = connectMs;
        m_idleMs = idleMs;
    }

    void Connect() override;
    void GetFirstMsg() override;
    void GetNextMsg() override;
    void DoDeleteMessage() override;
    std::string ConvertAddress() override;
    void Disconnect() override;

  private:
    std::string AccountText() const;
    void Log(const std::string& procedure, const std::string& text) const;
    void LogFailure(const std::string& procedure, const std::string& what,
                    const ImapResult& result) const;
    void GetMessage();
    // Fetches the batch that starts at the current message.
    bool FetchBatch();
    void DecodingFile(std::string& fileName, const std::string& contentType);

    clsPOP3Config m_account;
    bool m_readOnly;
    AttachmentDecoder* m_decoder;
    ImapClient m_client;
    int m_connectMs = 30000;
    int m_idleMs = 30000;
    std::string m_folder;
    std::vector<ImapListed> m_listed;
    std::map<std::uint32_t, std::string> m_batch;
    std::uint32_t m_currentUid = 0;
    // Flagged \Deleted in this session, to be expunged at Disconnect.
    std::set<std::uint32_t> m_flagged;
    std::string m_decodeDir;
    ServerPartNaming m_naming;  // the names of the current message's decoded parts
};

// What opening an account's folder came to.
struct ImapOpened {
    std::string failure;  // "" when the folder is open
    bool inClear = false;
    std::string folder;
};
// Resolves the account's login (running its password command where it has one), opens a
// session with `client` and selects the account's folder, or examines it with `readOnly`.
ImapOpened OpenImapFolder(const clsPOP3Config& account, ImapClient& client, bool readOnly,
                          int connectMs, int idleMs);

// What "Test connection" finds of an account: it logs in, lists the folders and examines the
// account's folder; no message is read and nothing changes.
struct ImapAccountCheck {
    bool ok = false;
    std::vector<std::string> folders;  // every folder, in UTF-8, as the server listed them
    std::string folder;                // the folder examined
    std::uint32_t messages = 0;        // how many messages it holds
    std::string error;                 // why the check failed (never the password)
};
ImapAccountCheck CheckImapAccount(const clsPOP3Config& account, int limitMs = 30000);
// One text for the check: "Logged in. 3 folders: INBOX, Done, Orders. Orders holds 12
// messages." or the error.
std::string DescribeImapCheck(const ImapAccountCheck& check);

// The sources of an IMAP run, one per account in file order.
class ImapSourceList final : public SourceList {
  public:
    void Add(std::unique_ptr<ImapSource> source) { m_sources.push_back(std::move(source)); }
    std::int32_t Count() const override { return static_cast<std::int32_t>(m_sources.size()); }
    MailSource* ItemAt(std::int32_t index) override {
        return index >= 1 && index <= Count() ? m_sources[static_cast<std::size_t>(index - 1)].get()
                                              : nullptr;
    }

  private:
    std::vector<std::unique_ptr<ImapSource>> m_sources;
};

}  // namespace tallix::sources
