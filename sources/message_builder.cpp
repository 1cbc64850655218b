#include "sources/message_builder.h"

#include <algorithm>

#include "model/message.h"
#include "settings/logs.h"
#include "settings/scratch_dir.h"
#include "settings/text_functions.h"
#include "sources/encoded_words.h"
#include "sources/mime_text.h"
#include "sources/pop3_client.h"
#include "sources/pop3_source.h"

namespace tallix::sources {

void ReadMailboxValues(std::string_view, const MessageBuild&, const MessageSite& site,
                       MessageValues& values) {
    // The mailbox file's own text searches have read the message while it was cut out.
    if (site.read) values = std::move(*site.read);
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
    if (IsMultipartHeader(message.header)) {
        // The text parts, nested ones included, for a body the whole decode does not give.
        values.body = std::string();
        AddTextParts(message.header, body, values);
        return;
    }
    values.body = std::string(body);
    // A message that is not MIME keeps this body: it is decoded by its own header.
    (IsHtmlPart(message.header) ? values.htmlParts : values.plainParts)
        .push_back({message.header, std::string(body)});
}

void AddTextParts(std::string_view header, std::string_view content, MessageValues& values,
                  int depth) {
    const std::optional<std::string> type = HeaderFieldValue(header, "Content-Type");
    const std::optional<std::string> boundary =
        type ? HeaderParameter(*type, "boundary") : std::nullopt;
    if (!boundary) return;
    for (const MimePart& part : SplitMultipart(content, *boundary)) {
        if (IsMultipartHeader(part.header)) {
            if (depth < kMaxNestedMultiparts)
                AddTextParts(part.header, part.content, values, depth + 1);
            continue;
        }
        // A named part is an attachment, not text of the body.
        if (!PartFileName(part.header).empty()) continue;
        const std::optional<std::string> partType = HeaderFieldValue(part.header, "Content-Type");
        if (!partType || LCase(TrimView(*partType)).starts_with("text/plain")) {
            if (!values.body) values.body.emplace();
            values.body->append(part.content);
            values.plainParts.push_back({std::string(part.header), std::string(part.content)});
        } else if (IsHtmlPart(part.header)) {
            values.htmlParts.push_back({std::string(part.header), std::string(part.content)});
        }
    }
}

namespace {

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
        // Parts written as their text: the body the reading step gave is already these parts
        // one after the other, and stays.
        const auto asWritten = [](const MessageValues::TextPart& part) {
            return PartAsWritten(part.header, part.content);
        };
        if (std::all_of(values.plainParts.begin(), values.plainParts.end(), asWritten))
            return std::nullopt;
        std::string body;
        for (const MessageValues::TextPart& part : values.plainParts)
            body += PartBodyText(part.header, part.content, false);
        return body;
    }
    if (!values.htmlParts.empty()) {
        std::string body;
        for (const MessageValues::TextPart& part : values.htmlParts)
            body += PartBodyText(part.header, part.content, true);
        return body;
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

// The whole message decoded, named by the source's callbacks; the part the source named as the
// plain-text body replaces the body, the other named files are the attachments. A message
// that is not MIME (the decode does not succeed) keeps its body and has no attachments. A
// decoder that decodes in memory writes nothing: the body is taken from its parts and the
// attachments are kept as scratch files in memory, each holding what its file would (where two
// parts have one name, the later one). One that cannot has written the files.
void DecodeWhole(std::string_view bytes, const MessageSite& site, txMessage& record) {
    if (!site.decoder || !site.decodedFiles) return;
    std::vector<DecodedFile> decoded;
    if (!site.decoder->DecodeBytes(bytes, site.messageFile, site.decodeDir, decoded, site.naming))
        return;
    const std::vector<std::string>& files = *site.decodedFiles;
    const std::string bodyFile = files.empty() ? std::string() : files[0];
    const bool inMemory = !decoded.empty();
    // The decode undid the transfer encoding of the plain part; its character set is read
    // from that part's header. Without a top-level plain part the body the builder made from
    // the message's text parts (an HTML part, an alternative inside a mixed message) stays.
    if (!bodyFile.empty()) {
        std::string charset;
        if (const std::optional<std::vector<TopLevelPart>> parts = TopLevelParts(bytes)) {
            for (const TopLevelPart& part : *parts) {
                if (!IsPlainPart(part.header) || HasName(part.header)) continue;
                const std::optional<std::string> type =
                    HeaderFieldValue(part.header, "Content-Type");
                charset = type ? HeaderParameter(*type, "charset").value_or("") : "";
            }
        }
        std::string body;
        if (inMemory) {
            const auto last =
                std::find_if(decoded.rbegin(), decoded.rend(),
                             [&](const DecodedFile& file) { return file.path == bodyFile; });
            if (last != decoded.rend()) body = last->bytes;
        } else {
            body = ExtractMessageBody(bodyFile);
        }
        record.SetBody(CharsetToUtf8(body, charset));
    }
    // The body is handed over above and is no file of the message, unless an attachment was
    // given its name.
    const bool bodyIsAttachment =
        !bodyFile.empty() && std::find(files.begin() + 1, files.end(), bodyFile) != files.end();
    for (DecodedFile& file : decoded)
        if (file.path != bodyFile || bodyIsAttachment)
            KeepScratchFile(file.path, std::move(file.bytes));
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
