#include "sources/message_builder.h"

#include "model/message.h"
#include "settings/logs.h"
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
void DecodeWhole(const MessageSite& site, txMessage& record) {
    if (!site.decoder || !site.decodedFiles) return;
    if (!site.decoder->DecodeFile(site.messageFile, site.decodeDir, site.naming)) return;
    const std::vector<std::string>& files = *site.decodedFiles;
    record.SetBody(files.empty() || files[0].empty() ? std::string()
                                                     : ExtractMessageBody(files[0]));
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
    auto record = std::make_shared<txMessage>();
    FillRecord(values, *record);
    if (how.parseHeader) record->ParseHeader();
    if (how.decodeWhole) DecodeWhole(site, *record);
    return record;
}

}  // namespace tallix::sources
