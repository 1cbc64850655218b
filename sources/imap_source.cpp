#include "sources/imap_source.h"

#include <unistd.h>

#include <cstdio>

#include "model/message.h"
#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/logs.h"
#include "settings/run_time_error.h"
#include "settings/scratch_dir.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"
#include "sources/attachment_names.h"
#include "sources/message_builder.h"
#include "sources/mime_text.h"
#include "sources/pop3_source.h"

namespace tallix::sources {
namespace {

constexpr std::string_view kImapDeleteCalled = "IMAP delete called";
constexpr std::string_view kImapMoveCalled = "IMAP move called";

std::string Describe(const ImapResult& result) {
    std::string text = result.detail;
    if (!result.reply.empty())
        text += (text.empty() ? "" : " ") + std::string("(") + result.reply + ")";
    return text;
}

// The text of a failure; the password is never part of it.
std::string FailureText(const clsPOP3Config& account, const std::string& what,
                        const ImapResult& result) {
    switch (result.outcome) {
        case ImapOutcome::LoginRefused:
            return "the server refused the login of user " + account.LoginName() + ": " +
                   Describe(result);
        case ImapOutcome::Tls:
            return "the secure connection failed: " + Describe(result);
        case ImapOutcome::Network:
            return what + ": WinSock error " + std::to_string(10000 + result.socketError) + ", " +
                   Describe(result);
        default:
            return what + ": " + Describe(result);
    }
}

}  // namespace

ImapOpened OpenImapFolder(const clsPOP3Config& account, ImapClient& client, bool readOnly,
                          int connectMs, int idleMs) {
    ImapOpened opened;
    const AccountLogin login = ResolveLogin(account, account.Port() == kImapsPort);
    if (!login.failure.empty()) {
        opened.failure = login.failure;
        return opened;
    }
    opened.inClear = login.security == AccountSecurity::None;
    ImapEndpoint endpoint;
    endpoint.host = Trim(account.HostName());
    endpoint.port = account.Port();
    endpoint.user = account.LoginName();
    endpoint.password = login.password;
    endpoint.security = login.security;
    endpoint.auth = login.auth;
    endpoint.connectTimeoutMs = connectMs;
    endpoint.idleTimeoutMs = idleMs;
    if (ImapResult r = client.Open(endpoint); !r.ok()) {
        opened.failure = FailureText(account, "the session could not be opened", r);
        return opened;
    }
    opened.folder =
        Trim(account.Folder()).empty() ? std::string(kDefaultImapFolder) : Trim(account.Folder());
    if (ImapResult r = client.Select(opened.folder, readOnly); !r.ok())
        opened.failure =
            FailureText(account, "the folder " + opened.folder + " could not be opened", r);
    return opened;
}

ImapAccountCheck CheckImapAccount(const clsPOP3Config& account, int limitMs) {
    ImapAccountCheck check;
    ImapClient client;
    const ImapOpened opened = OpenImapFolder(account, client, true, limitMs, limitMs);
    check.folder = opened.folder;
    if (!opened.failure.empty()) {
        check.error = opened.failure;
        return check;
    }
    check.messages = client.Exists();
    if (ImapResult r = client.Folders(check.folders); !r.ok()) {
        check.error = FailureText(account, "the folders could not be listed", r);
        return check;
    }
    check.ok = true;
    return check;
}

std::string DescribeImapCheck(const ImapAccountCheck& check) {
    if (!check.ok) return check.error;
    std::string text = "Logged in. " + std::to_string(check.folders.size()) + " folders: ";
    for (std::size_t i = 0; i < check.folders.size(); ++i)
        text += (i ? ", " : "") + check.folders[i];
    return text + ". " + check.folder + " holds " + std::to_string(check.messages) + " messages.";
}

ImapSource::ImapSource(clsPOP3Config account, bool readOnly, AttachmentDecoder* decoder)
    : m_account(std::move(account)), m_readOnly(readOnly), m_decoder(decoder) {
    SetID(m_account.ID());
}

std::string ImapSource::MessageKey() const {
    if (m_currentUid == 0) return {};
    return KeyOf(m_currentUid);
}

std::string ImapSource::KeyOf(std::uint32_t uid) const {
    return std::to_string(m_client.UidValidity()) + "/" + std::to_string(uid);
}

std::string ImapSource::AccountText() const {
    return "IMAP account " + ID() + " (" + m_account.HostName() + ":" +
           std::to_string(m_account.Port()) + "): ";
}

void ImapSource::Log(const std::string& procedure, const std::string& text) const {
    WriteLog(kErrorLog, "clsIMAPConfig - " + procedure + ": " + AccountText() + text);
}

void ImapSource::LogFailure(const std::string& procedure, const std::string& what,
                            const ImapResult& result) const {
    Log(procedure, FailureText(m_account, what, result));
}

void ImapSource::Connect() {
    Guard("clsIMAPConfig - Connect", [&] {
        if (IsConnected()) return;
        SetTotalMessages(0);
        const std::int32_t port = m_account.Port();
        if (Trim(m_account.HostName()).empty() || m_account.LoginName().empty() ||
            (m_account.Password().empty() && Trim(m_account.PasswordCommand()).empty()) ||
            port <= 0 || port > kMaxTcpPort) {
            MsgBox(kImapIncompleteAccount, MsgButtons::Ok, MsgIcon::Information, kReceiveMailTitle);
            return;
        }
        const auto failed = [&] {
            m_client.Logout();
            MsgBox(kNoValidSocket, MsgButtons::Ok, MsgIcon::Exclamation, kReceiveMailTitle);
            LetEventsRun();
        };
        // A refused login, an untrusted certificate, a refused STARTTLS, a missing folder and
        // a password command that fails are failed connects: nothing is read from the
        // account and nothing on it changes.
        const ImapOpened opened =
            OpenImapFolder(m_account, m_client, m_readOnly, m_connectMs, m_idleMs);
        if (opened.inClear) Log("Connect", std::string(kInClearWarning));
        if (!opened.failure.empty()) {
            Log("Connect", opened.failure);
            failed();
            return;
        }
        m_folder = opened.folder;
        if (ImapResult r = m_client.List(m_listed); !r.ok()) {
            LogFailure("Connect", "the messages of " + m_folder + " could not be listed", r);
            failed();
            return;
        }
        m_batch.clear();
        m_flagged.clear();
        m_currentUid = 0;
        SetTotalMessages(static_cast<std::int32_t>(m_listed.size()));
        SetIsConnected(true);
    });
}

void ImapSource::GetFirstMsg() {
    Guard("clsIMAPConfig - GetFirstMsg", [&] {
        SetMessage(nullptr);
        SetMessageNumber(1);
        GetMessage();
    });
}

void ImapSource::GetNextMsg() {
    if (!Guard("clsIMAPConfig - GetNextMsg", [&] {
            SetMessageNumber(MessageNumber() + 1);
            GetMessage();
        })) {
        SetMessage(nullptr);
    }
}

bool ImapSource::FetchBatch() {
    const std::size_t first = static_cast<std::size_t>(MessageNumber() - 1);
    std::vector<std::uint32_t> uids;
    std::uint64_t bytes = 0;
    // Which messages are known is learnt from the first one: it is fetched alone.
    const std::size_t most = AsksKnownKeys() && first == 0 ? 1 : kImapBatchMessages;
    for (std::size_t i = first; i < m_listed.size() && uids.size() < most; ++i) {
        const ImapListed& listed = m_listed[i];
        // A message every template has had is not fetched (the current one is not known).
        if (i != first && IsKnownKey(KeyOf(listed.uid))) continue;
        if (listed.size > kMaxImapLiteralBytes) {
            if (uids.empty()) {
                Log("GetMessage",
                    "message " + std::to_string(i + 1) + " (" +
                        std::to_string(m_client.UidValidity()) + "/" + std::to_string(listed.uid) +
                        ") is longer than the limit of " + std::to_string(kMaxImapLiteralBytes) +
                        " bytes; the rest of this account is not read");
                return false;
            }
            break;
        }
        if (!uids.empty() && bytes + listed.size > kImapBatchBytes) break;
        bytes += listed.size;
        uids.push_back(listed.uid);
    }
    if (ImapResult r = m_client.Fetch(uids, m_batch); !r.ok()) {
        LogFailure("GetMessage",
                   "message " + std::to_string(MessageNumber()) + " of " +
                       std::to_string(TotalMessages()) +
                       " could not be fetched; the rest of this account is not read",
                   r);
        return false;
    }
    return true;
}

void ImapSource::GetMessage() {
    const bool done = Guard("clsIMAPConfig - GetMessage", [&] {
        SetMessage(nullptr);
        m_currentUid = 0;
        if (MessageNumber() < 1 || MessageNumber() > TotalMessages()) return;
        // Without the private scratch directory the fixed names would land in "/".
        if (ScratchDir().empty()) RaiseNoScratchDir();
        if (m_decodeDir.empty()) m_decodeDir = ScratchDir();
        const std::uint32_t uid = m_listed[static_cast<std::size_t>(MessageNumber() - 1)].uid;
        // One that every template has had is not fetched: an empty record stands for it.
        if (IsKnownKey(KeyOf(uid))) {
            m_batch.erase(uid);
            m_currentUid = uid;
            SetMessage(std::make_shared<txMessage>());
            return;
        }
        if (!m_batch.count(uid) && !FetchBatch()) return;
        const auto found = m_batch.find(uid);
        if (found == m_batch.end()) return;
        const std::string bytes = std::move(found->second);
        m_batch.erase(found);
        m_currentUid = uid;
        m_naming.Begin(bytes, m_decodeDir);
        MessageSite site;
        // Decoded from memory; a decoder that reads files only has the message written here.
        site.messageFile = ScratchFile(kScratchMessageFile);
        site.decodeDir = m_decodeDir;
        site.decoder = m_decoder;
        site.naming.decodingFile = [this](std::string& fileName, const std::string& contentType,
                                          const std::string&) {
            DecodingFile(fileName, contentType);
        };
        site.naming.decodingFinished = [] {};
        site.decodedFiles = &m_naming.Files();
        site.decodedTypes = &m_naming.Types();
        SetMessage(BuildMessage(bytes, kImapBuild, site));
    });
    if (!done) SetMessage(nullptr);
}

void ImapSource::DecodingFile(std::string& fileName, const std::string& contentType) {
    Guard("clsIMAPConfig - DecodingFile",
          [&] { m_naming.Name(fileName, contentType, m_decodeDir); });
}

void ImapSource::DoDeleteMessage() {
    Guard("clsIMAPConfig - DoDeleteMessage", [&] {
        ImapResult result;
        if (m_readOnly || m_currentUid == 0) {
            result = ImapFailure(ImapOutcome::Failed, "no message may be changed");
        } else if (const std::string moveTo = Trim(m_account.MoveTo()); !moveTo.empty()) {
            WriteLog(kSystemLog, kImapMoveCalled);
            if (m_client.Has("MOVE")) {
                result = m_client.Move(m_currentUid, moveTo);
            } else {
                // The copy must exist before the original is flagged: nothing is ever lost.
                result = m_client.Copy(m_currentUid, moveTo);
                if (result.ok()) result = m_client.FlagDeleted(m_currentUid);
                if (result.ok()) m_flagged.insert(m_currentUid);
            }
        } else {
            WriteLog(kSystemLog, kImapDeleteCalled);
            result = m_client.FlagDeleted(m_currentUid);
            if (result.ok()) m_flagged.insert(m_currentUid);
        }
        if (!result.ok()) {
            LogFailure("DoDeleteMessage", "message " + MessageKey() + " could not be removed",
                       result);
            ReportError(std::string(kUnableToDelete) + std::to_string(MessageNumber()), true);
        }
    });
}

std::string ImapSource::ConvertAddress() {
    return GuardValue<std::string>("clsIMAPConfig - ConvertAddress", {}, [&] {
        if (!Message()) return std::string();
        return CompuServeAddress(Message()->SenderAddress(), Message()->SenderType());
    });
}

void ImapSource::Disconnect() {
    Guard("clsIMAPConfig - Disconnect", [&] {
        if (!m_flagged.empty() && m_client.IsOpen()) {
            // Only the messages this session flagged: another client's \Deleted messages stay.
            if (!m_client.Has("UIDPLUS")) {
                Log("Disconnect", "the server does not offer UIDPLUS, so nothing is expunged: " +
                                      std::to_string(m_flagged.size()) +
                                      " messages stay flagged \\Deleted");
            } else if (ImapResult r = m_client.Expunge(m_flagged); !r.ok()) {
                LogFailure("Disconnect", "the deleted messages could not be expunged", r);
            }
        }
        m_flagged.clear();
        m_batch.clear();
        m_currentUid = 0;
        m_client.Logout();
        SetIsConnected(false);
    });
}

}  // namespace tallix::sources
