#include "sources/pop3_source.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <fstream>
#include <sstream>

#include "model/message.h"
#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/logs.h"
#include "settings/run_time_error.h"
#include "settings/scratch_dir.h"
#include "settings/system_rules.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"
#include "sources/attachment_names.h"
#include "sources/message_builder.h"
#include "sources/mime_text.h"
#include "sources/pop3_curl_transport.h"

namespace tallix::sources {
namespace {

constexpr std::array<std::string_view, 12> kMonthNames = {"jan", "feb", "mar", "apr", "may", "jun",
                                                          "jul", "aug", "sep", "oct", "nov", "dec"};

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A token that is a number: digits with an optional sign and one decimal point.
bool IsNumberToken(std::string_view token) {
    if (!token.empty() && (token.front() == '+' || token.front() == '-')) token.remove_prefix(1);
    if (token.empty()) return false;
    bool digit = false, point = false;
    for (char c : token) {
        if (IsDigit(c))
            digit = true;
        else if (c == '.' && !point)
            point = true;
        else
            return false;
    }
    return digit;
}

// What went wrong, the server's own words included; nothing of it can break the log line.
std::string Describe(const Pop3Result& result) {
    std::string text = LogSafe(result.detail);
    if (!result.reply.empty())
        text += (text.empty() ? "" : " ") + std::string("(") + LogSafe(result.reply) + ")";
    return text;
}

}  // namespace

Pop3Source::Pop3Source(clsPOP3Config account, std::unique_ptr<Pop3Client> client,
                       AttachmentDecoder* decoder)
    : m_account(std::move(account)), m_client(std::move(client)), m_decoder(decoder) {
    SetID(m_account.ID());
}

void Pop3Source::SetPOPCtl() {
    Guard("clsPOP3Config - SetPOPCtl", [&] {
        m_client->SetConnectTimeout(kPop3ClientLimitMs);
        m_client->SetIdleTimeout(kPop3ClientLimitMs);
        m_client->SetTimeLimits(m_limits);
        m_client->SetHost(m_account.HostName());
        m_client->SetPort(m_account.Port());
        m_client->SetUser(m_account.LoginName());
        m_client->SetPassword(m_account.Password());
    });
}

bool Pop3Source::ValidConnectInfo() {
    return GuardValue("clsPOP3Config - ValidConnectInfo", false, [&] {
        // Any TCP port is a port: ports above 32767 are as valid as the others.
        const std::int32_t port = m_client->Port();
        // A password command stands in for the password.
        return !m_client->Host().empty() && !m_client->User().empty() &&
               (!m_client->Password().empty() || !Trim(m_account.PasswordCommand()).empty()) &&
               port > 0 && port <= kMaxTcpPort;
    });
}

void Pop3Source::LogConnectFailure() const {
    const Pop3Result& result = m_client->LastResult();
    const std::string account = "POP3 account " + LogSafe(ID()) + " (" +
                                LogSafe(m_account.HostName()) + ":" +
                                std::to_string(m_account.Port()) + "): ";
    std::string text;
    switch (result.outcome) {
        case Pop3Outcome::Ok:
        case Pop3Outcome::Network:  // already logged through the client's error event
            return;
        case Pop3Outcome::LoginRefused:
            // The server's reply may say why; the password is never part of the line.
            text = account + "the server refused the login of user " +
                   LogSafe(m_account.LoginName()) + ": " +
                   LogSafe(result.reply.empty() ? result.detail : result.reply);
            break;
        case Pop3Outcome::Tls:
            text = account + "the secure connection failed: " + Describe(result);
            break;
        case Pop3Outcome::ServerError:
        case Pop3Outcome::Failed:
        case Pop3Outcome::TimeLimit:
        case Pop3Outcome::Cut:
            text = account + "the session could not be opened: " + Describe(result);
            break;
    }
    WriteLog(kErrorLog, "clsPOP3Config - Connect: " + text);
}

void Pop3Source::LogRetrieveFailure() const {
    const Pop3Result& result = m_client->LastResult();
    if (result.outcome == Pop3Outcome::Network) return;  // logged through the error event
    // The message is not handed over (no line, not deleted); the session may be gone, so the
    // account ends here.
    WriteLog(
        kErrorLog,
        "clsPOP3Config - GetMessage: POP3 account " + LogSafe(ID()) + ": message " +
            std::to_string(MessageNumber()) + " of " + std::to_string(TotalMessages()) +
            " could not be retrieved; the rest of this account is not read: " + Describe(result));
}

void Pop3Source::LogTooLong() const {
    WriteLog(kErrorLog,
             "clsPOP3Config - GetMessage: POP3 account " + LogSafe(ID()) + ": message " +
                 std::to_string(MessageNumber()) + " of " + std::to_string(TotalMessages()) + " (" +
                 std::to_string(m_client->AnnouncedBytes()) +
                 " bytes) is longer than the limit of " + std::to_string(kMaxPop3MessageBytes) +
                 " bytes; it is skipped and left on the server");
}

void Pop3Source::Connect() {
    Guard("clsPOP3Config - Connect", [&] {
        if (IsConnected()) return;
        SetIsConnected(false);
        SetPOPCtl();
        if (!ValidConnectInfo()) {
            MsgBox(kIncompleteAccount, MsgButtons::Ok, MsgIcon::Information, kReceiveMailTitle);
            SetTotalMessages(0);
            return;
        }
        const std::string account = "POP3 account " + ID() + " (" + m_account.HostName() + ":" +
                                    std::to_string(m_account.Port()) + "): ";
        const AccountLogin login = ResolveLogin(m_account, IsImplicitTlsPort(m_account.Port()));
        if (!login.failure.empty()) {
            WriteLog(kErrorLog, "clsPOP3Config - Connect: " + account + login.failure);
            MsgBox(kNoValidSocket, MsgButtons::Ok, MsgIcon::Exclamation, kReceiveMailTitle);
            SetTotalMessages(0);
            return;
        }
        if (login.security == AccountSecurity::None)
            WriteLog(kErrorLog,
                     "clsPOP3Config - Connect: " + account + std::string(kInClearWarning));
        m_client->SetPassword(login.password);
        m_client->SetSecurity(login.security, login.auth);
        // A refused login is a failed connect like an unreachable server: nothing is read
        // from the account, and nothing on it is deleted.
        if (m_client->Connect() == 0) {
            LogConnectFailure();
            MsgBox(kNoValidSocket, MsgButtons::Ok, MsgIcon::Exclamation, kReceiveMailTitle);
            m_client->Close();
            LetEventsRun();
            SetTotalMessages(0);
            return;
        }
        SetTotalMessages(m_client->MessageCount());
        if (AsksKnownKeys())
            m_client->SetPassedOver([this](std::int32_t number) { return KnownByKey(number); });
        else
            m_client->SetPassedOver(nullptr);
        SetIsConnected(true);
        if (m_client->HasUniqueIds() && m_client->MessagesWithoutUniqueId() > 0)
            WriteLog(kErrorLog, "clsPOP3Config - Connect: " + LogSafe(account) +
                                    "the server's UIDL listing gave " +
                                    std::to_string(m_client->MessagesWithoutUniqueId()) + " of " +
                                    std::to_string(m_client->MessageCount()) +
                                    " messages no unique id of their own (a malformed line, or "
                                    "an id given to two messages); they are known by their "
                                    "header instead");
    });
}

std::string Pop3Source::MessageKey() const {
    if (!Message()) return {};
    return KeyOf(MessageNumber());
}

std::string Pop3Source::KeyOf(std::int32_t number) const {
    const std::string& id = m_client->UniqueId(number);
    return id.empty() ? std::string() : std::string(kUidlKeyPrefix) + id;
}

bool Pop3Source::KnownByKey(std::int32_t number) const {
    const std::string key = KeyOf(number);
    return !key.empty() && IsKnownKey(key);
}

void Pop3Source::GetFirstMsg() {
    Guard("clsPOP3Config - GetFirstMsg", [&] {
        SetMessage(nullptr);
        SetMessageNumber(1);
        GetMessage();
    });
}

void Pop3Source::GetNextMsg() {
    if (!Guard("clsPOP3Config - GetNextMsg", [&] {
            SetMessageNumber(MessageNumber() + 1);
            if (TotalMessages() < MessageNumber()) {
                SetMessage(nullptr);
                return;
            }
            GetMessage();
        })) {
        SetMessage(nullptr);
    }
}

void Pop3Source::GetMessage() {
    const bool done = Guard("clsPOP3Config - GetMessage", [&] {
        // Without the private scratch directory the fixed names would land in "/".
        if (ScratchDir().empty()) RaiseNoScratchDir();
        if (m_decodeDir.empty()) m_decodeDir = ScratchDir();
        // The message is decoded from the client's copy in memory; a decoder that reads
        // files only has it written to this one.
        m_client->SetRetrieveFile(std::string());
        // A message past the size limit is skipped; the walk goes on with the next one.
        for (;;) {
            // One that every template has had is not fetched: an empty record stands for it.
            if (KnownByKey(MessageNumber())) {
                SetMessage(std::make_shared<txMessage>());
                return;
            }
            m_client->SetMessageNumber(std::to_string(MessageNumber()));
            const std::int16_t retrieved = m_client->Retrieve();
            if (retrieved == kRetrieved) break;
            if (retrieved != kRetrieveTooLong) {
                LogRetrieveFailure();
                SetMessage(nullptr);
                return;
            }
            LogTooLong();
            if (MessageNumber() >= TotalMessages()) {
                SetMessage(nullptr);
                return;
            }
            SetMessageNumber(MessageNumber() + 1);
        }
        // The naming state of this message's decode.
        m_naming.Begin(m_client->Text(), m_decodeDir);
        m_decodeCounter = 0;
        MessageSite site;
        site.messageFile = ScratchFile(kScratchMessageFile);
        site.decodeDir = m_decodeDir;
        site.decoder = m_decoder;
        site.naming.decodingFile = [this](std::string& fileName, const std::string& contentType,
                                          const std::string& contentEncoding) {
            DecodingFile(fileName, contentType, contentEncoding);
        };
        site.naming.decodingFinished = [this] { SetNumberOfAttachments(); };
        site.decodedFiles = &m_naming.Files();
        site.decodedTypes = &m_naming.Types();
        // The decoder returns when every part is finished or its wait limit has passed, so a
        // decode that names more parts than it finishes cannot hold the run.
        SetMessage(BuildMessage(m_client->Text(), kPop3Build, site));
    });
    if (!done) SetMessage(nullptr);
}

void Pop3Source::DecodingFile(std::string& fileName, const std::string& contentType,
                              const std::string& contentEncoding) {
    Guard("clsPOP3Config - DecodingFile", [&] {
        if (m_decodeDir.empty()) m_decodeDir = ScratchDir();
        if (m_decodeDir.empty()) {  // nowhere safe to write: the part is skipped
            fileName.clear();
            return;
        }
        if (m_naming.Name(fileName, contentType, m_decodeDir))
            m_decodeCounter = static_cast<std::int32_t>(m_naming.Files().size() - 1);
    });
}

void Pop3Source::DoDeleteMessage() {
    Guard("clsPOP3Config - DoDeleteMessage", [&] {
        const std::int16_t result = m_client->Delete();
        WriteLog(kSystemLog, kPop3DeleteCalled);
        if (result != 0)
            ReportError(std::string(kUnableToDelete) + std::to_string(MessageNumber()), true);
    });
}

std::string Pop3Source::ConvertAddress() {
    return GuardValue<std::string>("clsPOP3Config - ConvertAddress", {}, [&] {
        if (!Message()) return std::string();
        return CompuServeAddress(Message()->SenderAddress(), Message()->SenderType());
    });
}

void Pop3Source::Disconnect() {
    Guard("clsPOP3Config - Disconnect", [&] { m_client->Close(); });
}

// --- helpers ---------------------------------------------------------------------------------

std::string ExtractMessageBody(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string GetNewFilename(const std::string& filePath, const std::string& fileExt) {
    for (std::int64_t n = 1;; ++n) {
        std::string candidate = filePath + std::string(kHtmlBodyStem) + std::to_string(n) + fileExt;
        // A decoded file kept in memory takes its name as much as one on disk.
        if (!FileExists(candidate) && !KeptScratchFile(candidate)) return candidate;
    }
}

std::string CompuServeAddress(const std::string& address, const std::string& senderType) {
    if (UCase(senderType) != "COMPUSERVE") return address;
    std::string a = address;
    if (const std::size_t open = a.find('['); open != std::string::npos) a.erase(0, open + 1);
    if (a.find(']') != std::string::npos) a.pop_back();
    const std::size_t comma = a.find(',');
    if (comma == std::string::npos) return address;
    return a.substr(0, comma) + "." + a.substr(comma + 1) + "@" + std::string(kCompuServeDomain);
}

std::string ConvertDate(std::string_view sDate) {
    return GuardValue<std::string>("clsPOP3Config - ConvertDate", {}, [&] {
        int day = 0, month = 0, year = 0;
        std::string time;
        std::string_view text = sDate;
        while (!text.empty() && text.front() != ' ') {
            const std::size_t space = text.find(' ');
            if (space == std::string_view::npos) break;  // the last token is not looked at
            const std::string token = Trim(text.substr(0, space));
            text.remove_prefix(space + 1);
            if (IsNumberToken(token)) {
                if (token.size() == 4)
                    year = static_cast<int>(Val(token));
                else if (token.size() == 1 || token.size() == 2)
                    day = static_cast<int>(Val(token));
            } else if (IsDate(token)) {
                time = token;
            } else {
                const std::string lower = LCase(token);
                for (std::size_t m = 0; m < kMonthNames.size(); ++m) {
                    if (lower.find(kMonthNames[m]) != std::string::npos) {
                        month = static_cast<int>(m) + 1;
                        break;
                    }
                }
            }
        }
        if (day <= 0 || month <= 0 || year <= 0) return std::string();
        return FormatGeneralDate(CDate(std::to_string(month) + "/" + std::to_string(day) + "/" +
                                       std::to_string(year) + " " + time));
    });
}

std::string FormatPop3Date(std::string_view sDate) {
    if (sDate.empty()) return {};
    std::string_view t = sDate;
    while (!t.empty() && !IsDate(t)) {
        if (IsDigit(t.front())) break;
        t.remove_prefix(1);
    }
    while (!t.empty() && !IsDate(t)) t.remove_suffix(1);
    if (!t.empty()) return std::string(t);
    std::string converted = ConvertDate(sDate);
    if (converted.empty()) {
        Err().Clear();
        ReportError("clsPOP3Config - FormatDate", true);
    }
    return converted;
}

}  // namespace tallix::sources
