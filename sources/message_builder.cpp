#include "sources/message_builder.h"

#include "model/html_text.h"
#include "model/message.h"
#include "settings/logs.h"
#include "settings/text_functions.h"
#include "sources/encoded_words.h"
#include "sources/mime_text.h"
#include "sources/pop3_client.h"
#include "sources/pop3_source.h"

namespace tallix::sources {

void ReadMailboxValues(std::string_view, const MessageBuild&, const MessageSite& site,
                       MessageValues& values) {
    // The mailbox file's own text searches have read the message while it was cut out.
    if (site.read) values = *site.read;
}

void ReadServerMessage(std::string_view bytes, const MessageBuild&, const MessageSite&,
                       MessageValues& values) {
    const RetrievedMessage message = ReadRetrievedMessage(bytes);
    values.subject = message.subject;
    // The server's date text is kept in the system log as it came.
    WriteLog(kSystemLog, message.dateText);
    // Both receive the same text; the record makes a date of one and a time of the other.
    values.sentDate = FormatPop3Date(message.dateText);
    values.sentTime = FormatPop3Date(message.dateText);
    values.header = message.header;
    // The body starts at the empty line that ends the header; its line end is not text.
    std::string_view body = message.body;
    if (body.substr(0, 2) == "\r\n") body.remove_prefix(2);
    values.body = std::string(body);
    // A message that is not MIME keeps this body: it is decoded by its own header.
    (IsHtmlPart(message.header) ? values.htmlParts : values.plainParts)
        .push_back({message.header, std::string(body)});
}

namespace {

// Every line end (CR LF, LF or CR alone) as CR LF.
std::string ToCrLf(std::string_view text) {
    if (text.find_first_of("\r\n") == std::string_view::npos) return std::string(text);
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// The text HTML parts show, as the body.
std::string HtmlBody(std::string_view html) {
    return ToCrLf(HtmlShownText(html));
}

bool HasName(std::string_view partHeader) {
    const std::optional<std::string> type = HeaderFieldValue(partHeader, "Content-Type");
    return type && HeaderParameter(*type, "name").has_value();
}

bool IsPlainPart(std::string_view partHeader) {
    const std::optional<std::string> type = HeaderFieldValue(partHeader, "Content-Type");
    // A part without a Content-Type is plain text.
    if (!type) return true;
    return LCase(TrimView(std::string_view(*type).substr(0, type->find(';')))) == "text/plain";
}

bool NeedsDecoding(std::string_view text) {
    return text.find("=?") != std::string_view::npos || !PlainSevenBit(text);
}

void DecodeWords(std::optional<std::string>& value) {
    if (value && NeedsDecoding(*value)) *value = DecodeEncodedWords(*value);
}

}  // namespace

std::optional<std::string> BodyFromParts(const MessageValues& values) {
    if (!values.plainParts.empty()) {
        std::string body;
        for (const MessageValues::TextPart& part : values.plainParts)
            body += DecodePartText(part.header, part.content);
        return body;
    }
    if (!values.htmlParts.empty()) {
        std::string html;
        for (const MessageValues::TextPart& part : values.htmlParts)
            html += DecodePartText(part.header, part.content);
        return HtmlBody(html);
    }
    return std::nullopt;
}

std::optional<std::vector<TopLevelPart>> TopLevelParts(std::string_view message) {
    const std::size_t blank = message.find("\r\n\r\n");
    const std::string_view header = message.substr(0, blank);
    const std::optional<std::string> type = HeaderFieldValue(header, "Content-Type");
    if (!type || !EqualsNoCase(TrimView(*type).substr(0, 10), "multipart/")) return std::nullopt;
    const std::optional<std::string> boundary = HeaderParameter(*type, "boundary");
    if (!boundary || boundary->empty() || blank == std::string_view::npos) return std::nullopt;
    const std::string separator = "\r\n--" + *boundary;
    std::vector<TopLevelPart> parts;
    // The blank line's first line end may be the one before the first boundary line.
    std::size_t at = message.find(separator, blank);
    while (at != std::string_view::npos) {
        const std::size_t lineEnd = message.find("\r\n", at + separator.size());
        if (lineEnd == std::string_view::npos) break;
        if (message.substr(at + separator.size(), 2) == "--") break;  // the closing boundary
        const std::size_t next = message.find(separator, lineEnd);
        if (next == std::string_view::npos) break;
        const std::string_view part = message.substr(lineEnd + 2, next - lineEnd - 2);
        const std::size_t partBlank = part.find("\r\n\r\n");
        if (part.starts_with("\r\n")) {
            parts.push_back({std::string_view(), part.substr(2)});
        } else if (partBlank != std::string_view::npos) {
            parts.push_back({part.substr(0, partBlank + 2), part.substr(partBlank + 4)});
        }
        at = next;
    }
    return parts;
}

void FillRecord(const MessageValues& values, txMessage& record) {
    const auto put = [&](const std::optional<std::string>& value, auto set) {
        if (value) (record.*set)(*value);
    };
    put(values.senderName, &txMessage::SetSenderName);
    put(values.senderAddress, &txMessage::SetSenderAddress);
    put(values.senderType, &txMessage::SetSenderType);
    put(values.replyToName, &txMessage::SetReplyToName);
    put(values.replyToAddress, &txMessage::SetReplyToAddress);
    put(values.receipentName, &txMessage::SetReceipentName);
    put(values.receipentAddress, &txMessage::SetReceipentAddress);
    put(values.header, &txMessage::SetHeader);
    put(values.sentDate, &txMessage::SetSentDate);
    put(values.receiveDate, &txMessage::SetReceiveDate);
    put(values.receiveTime, &txMessage::SetReceiveTime);
    put(values.sentTime, &txMessage::SetSentTime);
    put(values.body, &txMessage::SetBody);
    put(values.subject, &txMessage::SetSubject);
    if (!values.attachments.empty()) {
        const std::shared_ptr<TextCollection> attachments = record.Attachments();
        for (const std::string& path : values.attachments) attachments->Add(path);
        for (std::size_t i = 0; i < values.attachmentTypes.size(); ++i)
            record.SetAttachmentType(static_cast<std::int32_t>(i + 1), values.attachmentTypes[i]);
    }
}

namespace {

// The whole message decoded into the decode directory; the part the source named as the
// plain-text body replaces the body, the other named files are the attachments. A message
// that is not MIME (the decode does not succeed) keeps its body and has no attachments.
void DecodeWhole(std::string_view bytes, const MessageSite& site, txMessage& record) {
    if (!site.decoder || !site.decodedFiles) return;
    if (!site.decoder->DecodeFile(site.messageFile, site.decodeDir, site.naming)) return;
    const std::vector<std::string>& files = *site.decodedFiles;
    // The decode undid the transfer encoding of the plain part; its character set is read
    // from that part's header. Without a plain part the HTML part's text is the body.
    const std::optional<std::vector<TopLevelPart>> parts = TopLevelParts(bytes);
    std::string body;
    if (!files.empty() && !files[0].empty()) {
        std::string charset;
        if (parts) {
            for (const TopLevelPart& part : *parts) {
                if (!IsPlainPart(part.header) || HasName(part.header)) continue;
                const std::optional<std::string> type =
                    HeaderFieldValue(part.header, "Content-Type");
                charset = type ? HeaderParameter(*type, "charset").value_or("") : "";
            }
        }
        body = CharsetToUtf8(ExtractMessageBody(files[0]), charset);
    } else if (parts) {
        for (const TopLevelPart& part : *parts) {
            if (IsHtmlPart(part.header) && !HasName(part.header)) {
                body = HtmlBody(DecodePartText(part.header, part.content));
                break;
            }
        }
    }
    record.SetBody(body);
    const std::shared_ptr<TextCollection> attachments = record.Attachments();
    for (std::size_t i = 1; i < files.size(); ++i) {
        attachments->Add(files[i]);
        if (site.decodedTypes && i < site.decodedTypes->size())
            record.SetAttachmentType(attachments->Count(), (*site.decodedTypes)[i]);
    }
}

}  // namespace

std::shared_ptr<txMessage> BuildMessage(std::string_view bytes, const MessageBuild& how,
                                        const MessageSite& site) {
    MessageValues values;
    how.read(bytes, how, site, values);
    if (std::optional<std::string> body = BodyFromParts(values)) values.body = std::move(body);
    if (how.decodeWords) {
        for (std::optional<std::string>* value :
             {&values.subject, &values.senderName, &values.senderAddress, &values.replyToName,
              &values.replyToAddress, &values.receipentName, &values.receipentAddress})
            DecodeWords(*value);
    }
    auto record = std::make_shared<txMessage>();
    FillRecord(values, *record);
    if (how.parseHeader) {
        record->ParseHeader();
        // The header's names and addresses, as the message wrote them.
        if (how.decodeWords) {
            const auto decode = [&](auto get, auto set) {
                const std::string text = ((*record).*get)();
                if (NeedsDecoding(text)) ((*record).*set)(DecodeEncodedWords(text));
            };
            decode(&txMessage::SenderName, &txMessage::SetSenderName);
            decode(&txMessage::SenderAddress, &txMessage::SetSenderAddress);
            decode(&txMessage::ReplyToName, &txMessage::SetReplyToName);
            decode(&txMessage::ReplyToAddress, &txMessage::SetReplyToAddress);
            decode(&txMessage::ReceipentName, &txMessage::SetReceipentName);
            decode(&txMessage::ReceipentAddress, &txMessage::SetReceipentAddress);
        }
    }
    if (how.decodeWhole) DecodeWhole(bytes, site, *record);
    return record;
}

}  // namespace tallix::sources
