// The local mail store's reading step of the message builder: the values the two MAPI
// sources hand over, taken from the store's parse of a message file.

#include "settings/error_reporter.h"
#include "settings/run_time_error.h"
#include "settings/scratch_dir.h"
#include "sources/attachment_names.h"
#include "sources/cdo_objects.h"
#include "sources/compuserve_address.h"
#include "sources/maildir_inbox.h"
#include "sources/message_builder.h"
#include "sources/mime_text.h"

namespace tallix::sources {

void ReadStoreMessage(std::string_view bytes, const MessageBuild& how, const MessageSite& site,
                      MessageValues& values) {
    maildir::ParsedMessage own;
    if (!site.parsed) own = maildir::ParseMessageBytes(bytes);
    const maildir::ParsedMessage& m = site.parsed ? *site.parsed : own;
    // Each value on its own: one that cannot be read stays unset and the next is taken, or
    // the failure goes to the caller, as the kind says.
    const auto take = [&](auto&& step) {
        if (how.failures == StoreFailure::SkipValue)
            SkipOnError(step);
        else
            step();
    };

    take([&] {
        if (how.sentTime == StoreSentTime::Delivery) {
            values.sentTime = maildir::DateTimeText(site.delivered);
        } else {
            if (!m.sentTime) Raise(kErrInvalidCall, "The message has no sending time");
            values.sentTime = maildir::DateTimeText(*m.sentTime);
        }
        values.sentDate = values.sentTime;
    });
    take([&] {
        values.receiveTime = maildir::DateTimeText(site.delivered);
        values.receiveDate = values.receiveTime;
    });
    const std::string senderType(cdo::kAddressTypeSmtp);
    if (m.sender) values.senderName = m.sender->name;
    values.senderAddress = m.sender ? CompuServeAddress(m.sender->address, senderType) : "";
    if (m.sender || how.senderTypeWithoutSender) values.senderType = senderType;
    values.subject = m.subject;
    if (!m.recipients.empty()) {
        values.receipentName = m.recipients.front().name;
        values.receipentAddress = m.recipients.front().address;
    }
    // Encoded HTML-only mail gives what every source gives (the record strips the tags);
    // HTML written as 7-bit text keeps the text it shows, as this store always gave it.
    values.body = m.textFromHtml && m.htmlDecoded ? HtmlPartBody(m.html, true) : m.text;
    values.header = m.header;

    // The file is named by us, not by the message, so two attachments of one name are both
    // kept.
    std::set<std::string> taken;
    for (const maildir::MailAttachment& a : m.attachments) {
        take([&] {
            const std::string name = AttachmentFileName(a.source, taken);
            if (ScratchDir().empty()) RaiseNoScratchDir();
            const std::string path = ScratchFile(name);
            cdo::CdoAttachment(&a).WriteToFile(path);
            values.attachments.push_back(path);
            values.attachmentTypes.push_back(a.type);
        });
    }
}

}  // namespace tallix::sources
