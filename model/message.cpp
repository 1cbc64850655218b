#include "model/message.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include "model/file_bytes.h"
#include "model/file_identity.h"
#include "model/property.h"
#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/global_utils.h"
#include "settings/scratch_dir.h"
#include "settings/system_rules.h"
#include "settings/text_functions.h"

namespace tallix {
namespace {

// Context texts of the property procedures: what assigning and reading each member reports.
// Assigning Header and the two times reports nothing.
constexpr PropertyContext kAttachments{"txMessage - Set Attachments",
                                       "txMessage - Get Attachments"};
constexpr PropertyContext kBIsHtml{"txMessage - Let bIsHtml", "txMessage - Get bIsHtml"};
constexpr PropertyContext kSentTime{"", "txMessage - Get SentTime"};
constexpr PropertyContext kReceiveTime{"", "txMessage - Get ReceiveTime"};
constexpr PropertyContext kValidMessage{"txMessage - Let ValidMessage",
                                        "txMessage - Get ValidMessage"};
constexpr PropertyContext kSubject{"txMessage - Let Subject", "txMessage - Get Subject"};
constexpr PropertyContext kBody{"txMessage - Let Body", "txMessage - Get Body"};
constexpr PropertyContext kReceiveDate{"txMessage - Let ReceiveDate",
                                       "txMessage - Get ReceiveDate"};
constexpr PropertyContext kSentDate{"txMessage - Let SentDate", "txMessage - Get SentDate"};
constexpr PropertyContext kHeader{"", "txMessage - Get Header"};
constexpr PropertyContext kReceipentAddress{"txMessage - Let ReceipentAddress",
                                            "txMessage - Get ReceipentAddress"};
constexpr PropertyContext kReceipentName{"txMessage - Let ReceipentName",
                                         "txMessage - Get ReceipentName"};
constexpr PropertyContext kSenderType{"txMessage - Let SenderType", "txMessage - Get SenderType"};
constexpr PropertyContext kSenderAddress{"txMessage - Let SenderAddress",
                                         "txMessage - Get SenderAddress"};
constexpr PropertyContext kSenderName{"txMessage - Let SendName", "txMessage - SenderName"};
constexpr PropertyContext kReplyToAddress{"txMessage - Let ReplyToAddress",
                                          "txMessage - Get ReplyToAddress"};
constexpr PropertyContext kReplyToName{"txMessage - Let ReplyToName",
                                       "txMessage - Get ReplyToName"};

constexpr std::string_view kCtxParseHeader = "txMessage - ParseHeader";
constexpr std::string_view kCtxSetSenderProp = "txMessage - SetSenderProp";
constexpr std::string_view kCtxRemoveQuotes = "txMessage - RemoveQuotes";
constexpr std::string_view kCtxExtOK = "txMessage - ExtOK";

// Header names, matched in exact case; the reply-to name has no blank after its colon.
constexpr std::string_view kFromName = "From: ";
constexpr std::string_view kReplyToHeaderName = "Reply-To:";
constexpr std::string_view kToName = "To: ";
constexpr std::string_view kReplyLookBack = "REPLY";
constexpr std::string_view kCrLf = "\r\n";

constexpr std::string_view kUnreadableTime = "00:00:00 AM";
// Also found inside "HTML".
constexpr std::string_view kHtmlPathMark = "HTM";

// The value of the header line whose name starts at `at`: the text after the name up to the
// next CR LF, and a folded field's continuation lines (those that begin with a blank) joined
// to it without their line ends, as the mailbox-file source joins them. A line without a CR LF
// after it is an error that ends the parse.
std::string LineValue(std::string_view header, std::size_t at, std::size_t nameLength) {
    std::size_t end = header.find(kCrLf, at);
    if (end == std::string_view::npos) Raise(kErrInvalidCall);
    std::string value(header.substr(at + nameLength, end - at - nameLength));
    while (end + 2 < header.size() && (header[end + 2] == ' ' || header[end + 2] == '\t')) {
        const std::size_t next = header.find(kCrLf, end + 2);
        if (next == std::string_view::npos) break;
        value.append(header.substr(end + 2, next - end - 2));
        end = next;
    }
    return value;
}

std::string TimeText(std::string_view v) {
    std::optional<DateValue> d = ParseDate(v);
    return d ? FormatLongTime(*d) : std::string(kUnreadableTime);
}

}  // namespace

txMessage::txMessage() : m_attachments(std::make_shared<TextCollection>()) {
    CreateHtmlCodes();
}

// ---- Properties -------------------------------------------------------------------------------

std::shared_ptr<TextCollection> txMessage::Attachments() const {
    return GetProperty(kAttachments, m_attachments);
}
void txMessage::SetAttachments(std::shared_ptr<TextCollection> v) {
    LetProperty(kAttachments, m_attachments, std::move(v));
}

std::string txMessage::AttachmentType(std::int32_t index) const {
    if (index < 1 || static_cast<std::size_t>(index) > m_attachmentTypes.size()) return {};
    return m_attachmentTypes[static_cast<std::size_t>(index) - 1];
}

void txMessage::SetAttachmentType(std::int32_t index, std::string_view type) {
    if (index < 1) return;
    if (m_attachmentTypes.size() < static_cast<std::size_t>(index))
        m_attachmentTypes.resize(static_cast<std::size_t>(index));
    m_attachmentTypes[static_cast<std::size_t>(index) - 1] = type;
}

bool txMessage::bIsHtml() const {
    return GetProperty(kBIsHtml, m_bIsHtml);
}
void txMessage::SetbIsHtml(bool v) {
    LetProperty(kBIsHtml, m_bIsHtml, v);
}

std::string txMessage::SentTime() const {
    return GetProperty(kSentTime, m_sentTime);
}
void txMessage::SetSentTime(std::string_view v) {
    m_sentTime = TimeText(v);
}
std::string txMessage::ReceiveTime() const {
    return GetProperty(kReceiveTime, m_receiveTime);
}
void txMessage::SetReceiveTime(std::string_view v) {
    m_receiveTime = TimeText(v);
}

bool txMessage::ValidMessage() const {
    return GetProperty(kValidMessage, m_validMessage);
}
void txMessage::SetValidMessage(bool v) {
    LetProperty(kValidMessage, m_validMessage, v);
}

TALLIX_TEXT_PROPERTY(txMessage, Subject, m_subject, kSubject)

std::string txMessage::Body() const {
    return GetProperty(kBody, m_body);
}
void txMessage::SetBody(std::string_view v) {
    // The stored body is always the cleaned one; a failure leaves the previous body.
    Guard(kBody.let, [&] { m_body = StripHtml(v); });
}

std::string txMessage::ReceiveDate() const {
    return GuardValue<std::string>(kReceiveDate.get, std::string(), [&] {
        m_receiveDate = FormatDate(m_receiveDate);
        return m_receiveDate;
    });
}
void txMessage::SetReceiveDate(std::string_view v) {
    Guard(kReceiveDate.let, [&] { m_receiveDate = FormatDate(v); });
}
std::string txMessage::SentDate() const {
    return GuardValue<std::string>(kSentDate.get, std::string(), [&] {
        m_sentDate = FormatDate(m_sentDate);
        return m_sentDate;
    });
}
void txMessage::SetSentDate(std::string_view v) {
    Guard(kSentDate.let, [&] { m_sentDate = FormatDate(v); });
}

std::string txMessage::Header() const {
    return GetProperty(kHeader, m_header);
}
void txMessage::SetHeader(std::string_view v) {
    m_header.assign(v);
}

TALLIX_TEXT_PROPERTY(txMessage, ReceipentAddress, m_receipentAddress, kReceipentAddress)
TALLIX_TEXT_PROPERTY(txMessage, ReceipentName, m_receipentName, kReceipentName)
TALLIX_TEXT_PROPERTY(txMessage, SenderType, m_senderType, kSenderType)
TALLIX_TEXT_PROPERTY(txMessage, SenderAddress, m_senderAddress, kSenderAddress)
TALLIX_TEXT_PROPERTY(txMessage, SenderName, m_senderName, kSenderName)
TALLIX_TEXT_PROPERTY(txMessage, ReplyToAddress, m_replyToAddress, kReplyToAddress)
TALLIX_TEXT_PROPERTY(txMessage, ReplyToName, m_replyToName, kReplyToName)

// ---- Header parsing ---------------------------------------------------------------------------

void txMessage::ParseHeader() {
    // A source parses headers while the engine runs; its reports go to the log only.
    SetSilentMode(true);
    const bool parsed = Guard(kCtxParseHeader, [&] {
        const std::string_view header = m_header;
        if (TrimView(header).empty()) {
            m_validMessage = false;
            return;
        }

        // Only the first occurrence of each name counts, and a longer header name that ends
        // in it (a resent-from line) matches as well.
        std::string sender;
        if (std::size_t at = header.find(kFromName); at != std::string_view::npos) {
            sender = LineValue(header, at, kFromName.size());
        }
        SetSenderProp(sender, kSenderPropSender);

        // Without a reply-to line the reply-to pair copies the sender pair.
        if (std::size_t at = header.find(kReplyToHeaderName); at != std::string_view::npos) {
            SetSenderProp(LineValue(header, at, kReplyToHeaderName.size()), kSenderPropReplyTo);
        } else {
            SetSenderProp(sender, kSenderPropReplyTo);
        }

        // "To: " is also the tail of "Reply-To: "; such a match is passed over once.
        std::size_t to = header.find(kToName);
        constexpr std::size_t kLookBack = 6;  // "Reply-" before "To: "
        if (to != std::string_view::npos && to >= kLookBack &&
            EqualsNoCase(header.substr(to - kLookBack, kReplyLookBack.size()), kReplyLookBack)) {
            to = header.find(kToName, to + 4);
        }
        if (to != std::string_view::npos) {
            SetSenderProp(LineValue(header, to, kToName.size()), kSenderPropRecipient);
        }
    });
    // Pairs set before a failure keep their values.
    if (!parsed) m_validMessage = false;
}

void txMessage::SetSenderProp(std::string_view sVal, std::string_view sType) {
    Guard(kCtxSetSenderProp, [&] {
        if (TrimView(sVal).empty()) return;
        std::string name;
        std::string address;
        const std::size_t lt = sVal.find('<');
        const std::size_t gt = lt == std::string_view::npos ? lt : sVal.find('>', lt);
        if (gt != std::string_view::npos) {
            address = sVal.substr(lt + 1, gt - lt - 1);
            name = sVal.substr(0, lt);
        } else {
            name = address = Trim(sVal);
        }
        name = Trim(RemoveQuotes(name));
        address = Trim(RemoveQuotes(address));
        if (sType == kSenderPropSender) {
            SetSenderName(name);
            SetSenderAddress(address);
        } else if (sType == kSenderPropReplyTo) {
            SetReplyToName(name);
            SetReplyToAddress(address);
        } else if (sType == kSenderPropRecipient) {
            SetReceipentName(name);
            SetReceipentAddress(address);
        }
    });
}

std::string txMessage::RemoveQuotes(std::string_view sVal) {
    return GuardValue<std::string>(kCtxRemoveQuotes, std::string(), [&] {
        std::string out(sVal);
        if (TrimView(sVal).empty()) return out;
        std::erase_if(out, [](char c) { return c == '"' || c == '\''; });
        return out;
    });
}

// ---- Attachments ------------------------------------------------------------------------------

bool txMessage::ExtOK(std::string_view sFileName) {
    // A list that exists but cannot be read counts as excluding the file: the content the
    // user asked to keep out is not read on a failure.
    return GuardValue<bool>(kCtxExtOK, false, [&] {
        // The extension is what follows the first dot of the file's own name; a dot in a
        // directory name (a hidden directory such as ~/.cache) is not part of it.
        std::string_view name = sFileName;
        if (std::size_t slash = name.rfind('/'); slash != std::string_view::npos) {
            name.remove_prefix(slash + 1);
        }
        const std::size_t dot = name.find('.');
        if (dot == std::string_view::npos) return true;
        const std::string_view extension = name.substr(dot + 1);
        // An empty extension ("name.") would occur in any list.
        if (extension.empty()) return true;

        const std::string* list = ExclusionList();
        return !list || list->find(UCase(extension)) == std::string::npos;
    });
}

const std::string* txMessage::ExclusionList() {
    // The program directory's own list, else the one shipped with an installed copy.
    std::string listPath = JoinPath(ProgramDir(), kExtensionsFile);
    struct stat st {};
    if (::stat(listPath.c_str(), &st) != 0) {
        if (errno != ENOENT && errno != ENOTDIR) RaiseErrno(errno);
        std::string shipped = JoinPath(DataDir(), kExtensionsFile);
        if (shipped == listPath) return nullptr;  // the same file, already looked for
        listPath = std::move(shipped);
        if (::stat(listPath.c_str(), &st) != 0) {
            if (errno == ENOENT || errno == ENOTDIR) return nullptr;
            RaiseErrno(errno);
        }
    }
    // The list is read again only when the file changed: every attachment asks for it.
    struct Kept {
        std::string path;
        FileIdentity identity;
        std::string upper;
    };
    thread_local Kept kept;
    if (S_ISREG(st.st_mode) && kept.path == listPath && kept.identity == IdentityOf(st))
        return &kept.upper;
    std::string list;
    if (int error = ReadRegularFile(listPath, list)) RaiseErrno(error);
    kept = Kept{listPath, IdentityOf(st), UCase(list)};
    return &kept.upper;
}

std::string txMessage::GetAttachString(std::string_view sFileName) {
    if (!ExtOK(sFileName)) return std::string();
    m_bIsHtml = false;
    if (TrimView(sFileName).empty()) return std::string();
    const std::string path(sFileName);
    // Only a regular file is read; anything else gives "". A scratch file kept in memory is
    // read from there (its file was not written).
    std::string content;
    if (const std::string* kept = KeptScratchFile(path))
        content = *kept;
    else if (ReadRegularFile(path, content) != 0)
        return std::string();
    // The whole path counts, directory names included.
    if (UCase(path).find(kHtmlPathMark) != std::string::npos) m_bIsHtml = true;
    return content;
}

// ---- Body clean-up ----------------------------------------------------------------------------

void txMessage::CreateHtmlCodes() {
    m_htmlCodes = &HtmlCodeTable();
}

void txMessage::StripHtmlCodes() {
    m_body = StripHtml(m_body);
}

void txMessage::ReplaceHtmlCodes() {
    m_body = ReplaceHtmlEntities(m_body);
}

}  // namespace tallix
