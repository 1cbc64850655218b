#pragma once
// The names of the message fields that a variable or a filter reads, with where the template
// editor offers them, and the output delimiter words. The classes accept any text; these
// are the names the engine and the editor agree on. The wizard's filter offers the variable
// list, so a filter it writes may name a field the editor's filter list lacks: the editor
// keeps such a name as it stands.

#include <array>
#include <string_view>

namespace tallix {

inline constexpr std::string_view kFieldNone = "<NONE>";
inline constexpr std::string_view kFieldAttachment = "ATTACHMENT";
inline constexpr std::string_view kFieldMsgText = "MSG_TEXT";
inline constexpr std::string_view kFieldMsgSubject = "MSG_SUBJECT";
inline constexpr std::string_view kFieldMsgSentDate = "MSG_SENT_DATE";
inline constexpr std::string_view kFieldMsgSentTime = "MSG_SENT_TIME";
inline constexpr std::string_view kFieldMsgReceiveDate = "MSG_RECEIVE_DATE";
inline constexpr std::string_view kFieldMsgReceiveTime = "MSG_RECEIVE_TIME";
inline constexpr std::string_view kFieldReplyToName = "REPLY_TO_NAME";
inline constexpr std::string_view kFieldReplyToAddress = "REPLY_TO_ADDRESS";
inline constexpr std::string_view kFieldSenderName = "SENDER_NAME";
inline constexpr std::string_view kFieldSenderAddress = "SENDER_ADDRESS";
inline constexpr std::string_view kFieldSenderType = "SENDER_TYPE";
inline constexpr std::string_view kFieldRecipientName = "RECIPIENT_NAME";
inline constexpr std::string_view kFieldRecipientAddress = "RECIPIENT_ADDRESS";
// The name, decoded size in bytes and MIME type of an attachment: of the attachment a line is
// written for (one line per attachment), else of the message's first attachment. As a filter,
// like "ATTACHMENT", they let a message through when any of its attachments holds the text.
inline constexpr std::string_view kFieldAttachmentName = "ATTACHMENT_NAME";
inline constexpr std::string_view kFieldAttachmentSize = "ATTACHMENT_SIZE";
inline constexpr std::string_view kFieldAttachmentType = "ATTACHMENT_TYPE";
// "MSG_HEADER:" followed by a header name: the first header of that name (any case).
inline constexpr std::string_view kFieldMsgHeaderPrefix = "MSG_HEADER:";

// The header name a "MSG_HEADER:Name" field names, trimmed; empty when `field` is no such
// field (the prefix is matched without regard to case).
inline constexpr std::string_view HeaderFieldName(std::string_view field) {
    while (!field.empty() && (field.front() == ' ' || field.front() == '\t'))
        field.remove_prefix(1);
    if (field.size() < kFieldMsgHeaderPrefix.size()) return {};
    for (std::size_t i = 0; i < kFieldMsgHeaderPrefix.size(); ++i) {
        char c = field[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != kFieldMsgHeaderPrefix[i]) return {};
    }
    field.remove_prefix(kFieldMsgHeaderPrefix.size());
    while (!field.empty() && (field.front() == ' ' || field.front() == '\t'))
        field.remove_prefix(1);
    while (!field.empty() && (field.back() == ' ' || field.back() == '\t')) field.remove_suffix(1);
    return field;
}

// Which mail sources the editor offers a field name for.
enum class Offered { Always, ExceptSimpleMapi, ExceptPop3, OnlyPop3, Never };

struct FieldName {
    std::string_view name;
    Offered forVariables;
    Offered forFilters;
};

inline constexpr std::array<FieldName, 18> kFieldVocabulary{{
    {kFieldNone, Offered::Always, Offered::Always},
    {kFieldAttachment, Offered::Always, Offered::Always},
    {kFieldAttachmentName, Offered::Always, Offered::Always},
    {kFieldAttachmentSize, Offered::Always, Offered::Always},
    {kFieldAttachmentType, Offered::Always, Offered::Always},
    {kFieldMsgText, Offered::Always, Offered::Always},
    {kFieldMsgSubject, Offered::Always, Offered::Always},
    {kFieldMsgSentDate, Offered::ExceptSimpleMapi, Offered::Never},
    {kFieldMsgSentTime, Offered::ExceptSimpleMapi, Offered::Never},
    {kFieldMsgReceiveDate, Offered::ExceptPop3, Offered::Never},
    {kFieldMsgReceiveTime, Offered::ExceptPop3, Offered::Never},
    {kFieldReplyToName, Offered::OnlyPop3, Offered::OnlyPop3},
    {kFieldReplyToAddress, Offered::OnlyPop3, Offered::OnlyPop3},
    {kFieldSenderName, Offered::Always, Offered::Always},
    {kFieldSenderAddress, Offered::Always, Offered::Always},
    {kFieldSenderType, Offered::Always, Offered::Always},
    {kFieldRecipientName, Offered::Always, Offered::Always},
    {kFieldRecipientAddress, Offered::Always, Offered::Always},
}};

// The output delimiter as a word.
inline constexpr std::string_view kDelimiterComma = "COMMA";
inline constexpr std::string_view kDelimiterSpace = "SPACE";
inline constexpr std::string_view kDelimiterTab = "TAB";
inline constexpr std::string_view kDelimiterSemicolon = "SEMICOLON";

}  // namespace tallix
