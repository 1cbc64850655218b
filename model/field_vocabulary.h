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

// Which mail sources the editor offers a field name for.
enum class Offered { Always, ExceptSimpleMapi, ExceptPop3, OnlyPop3, Never };

struct FieldName {
    std::string_view name;
    Offered forVariables;
    Offered forFilters;
};

inline constexpr std::array<FieldName, 15> kFieldVocabulary{{
    {kFieldNone, Offered::Always, Offered::Always},
    {kFieldAttachment, Offered::Always, Offered::Always},
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

}  // namespace tallix
