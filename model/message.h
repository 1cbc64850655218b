#pragma once
// txMessage: the one record through which a mail source hands a message to the engine. The
// source fills the text members and calls ParseHeader; the engine reads them and asks for
// attachment text with GetAttachString. Members are read with X() and assigned with SetX(v).
//
// Assigning the dates normalises them to the general date form, assigning the times to the
// long time form, and assigning Body cleans it of recognised HTML tags and two entities.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "model/collection.h"
#include "model/html_text.h"

namespace tallix {

// The attachment exclusion list in the program directory.
inline constexpr std::string_view kExtensionsFile = "extensions.txt";
// SetSenderProp's pair names.
inline constexpr std::string_view kSenderPropSender = "SENDER";
inline constexpr std::string_view kSenderPropReplyTo = "REPLYTO";
inline constexpr std::string_view kSenderPropRecipient = "RECEIPENT";

class txMessage {
  public:
    txMessage();

    // Properties: each read with its name and assigned with Set and its name.
    std::shared_ptr<TextCollection> Attachments() const;
    void SetAttachments(std::shared_ptr<TextCollection> v);
    // The MIME type of attachment `index` (from 1, as in Attachments); "" when the source did
    // not say.
    std::string AttachmentType(std::int32_t index) const;
    void SetAttachmentType(std::int32_t index, std::string_view type);
    bool bIsHtml() const;
    void SetbIsHtml(bool v);
    std::string SentTime() const;
    void SetSentTime(std::string_view v);
    std::string ReceiveTime() const;
    void SetReceiveTime(std::string_view v);
    bool ValidMessage() const;
    void SetValidMessage(bool v);
    std::string Subject() const;
    void SetSubject(std::string_view v);
    std::string Body() const;
    void SetBody(std::string_view v);
    std::string ReceiveDate() const;
    void SetReceiveDate(std::string_view v);
    std::string SentDate() const;
    void SetSentDate(std::string_view v);
    std::string Header() const;
    void SetHeader(std::string_view v);
    std::string ReceipentAddress() const;
    void SetReceipentAddress(std::string_view v);
    std::string ReceipentName() const;
    void SetReceipentName(std::string_view v);
    std::string SenderType() const;
    void SetSenderType(std::string_view v);
    std::string SenderAddress() const;
    void SetSenderAddress(std::string_view v);
    std::string SenderName() const;
    void SetSenderName(std::string_view v);
    std::string ReplyToAddress() const;
    void SetReplyToAddress(std::string_view v);
    std::string ReplyToName() const;
    void SetReplyToName(std::string_view v);

    // Operations.
    // Derives the sender, reply-to and recipient pairs from Header; switches silent mode on.
    void ParseHeader();
    // Splits a header value into display name and address and stores them in the pair that
    // sType names ("SENDER", "REPLYTO", "RECEIPENT").
    void SetSenderProp(std::string_view sVal, std::string_view sType);
    // sVal without double quotes and apostrophes.
    std::string RemoveQuotes(std::string_view sVal);
    // The whole content of an attachment file, or "" when it is excluded, blank, missing or
    // unreadable; sets bIsHtml when the path holds "HTM".
    std::string GetAttachString(std::string_view sFileName);
    // False when the file's extension occurs in the program directory's extensions.txt.
    bool ExtOK(std::string_view sFileName);
    // The upper-cased exclusion list, or nullptr when there is none; raises when a list is
    // there but cannot be read.
    static const std::string* ExclusionList();
    void CreateHtmlCodes();
    void StripHtmlCodes();
    void ReplaceHtmlCodes();

    // The tag table the record uses.
    const std::array<std::string_view, kHtmlCodeCount>& HtmlCodes() const { return *m_htmlCodes; }

  private:
    std::shared_ptr<TextCollection> m_attachments;
    std::vector<std::string> m_attachmentTypes;
    bool m_bIsHtml = false;
    std::string m_sentTime;
    std::string m_receiveTime;
    bool m_validMessage = true;
    std::string m_subject;
    std::string m_body;
    mutable std::string m_receiveDate;  // normalised again on every reading
    mutable std::string m_sentDate;
    std::string m_header;
    std::string m_receipentAddress;
    std::string m_receipentName;
    std::string m_senderType;
    std::string m_senderAddress;
    std::string m_senderName;
    std::string m_replyToAddress;
    std::string m_replyToName;

    const std::array<std::string_view, kHtmlCodeCount>* m_htmlCodes = nullptr;
};

}  // namespace tallix
