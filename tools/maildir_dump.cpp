// maildir_dump [DIR | FILE...]: prints what the local mail store makes of messages, one block
// per message: the values the Extended MAPI source hands over, the attachments with the
// names they would be written under, and what reading ran into. With a Maildir (default: the
// store an empty profile means) the inbox is listed in walking order; with files, each file
// is read as one message.

#include <iostream>
#include <set>
#include <string>

#include "settings/error_reporter.h"
#include "sources/attachment_names.h"
#include "sources/cdo_objects.h"
#include "sources/maildir_inbox.h"

namespace {

using namespace tallix;
using namespace tallix::sources;

std::string Shown(const std::string& text, std::size_t limit = 300) {
    std::string out;
    for (char c : text.substr(0, limit)) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return text.size() > limit ? out + "..." : out;
}

void Dump(const maildir::InboxMessage& m) {
    const maildir::ParsedMessage& p = m.parsed;
    std::cout << m.entry.path << "\n";
    std::cout << "  received: " << maildir::DateTimeText(m.entry.delivered) << "\n";
    std::cout << "  sent: " << (p.sentTime ? maildir::DateTimeText(*p.sentTime) : "(none)") << "\n";
    if (p.sender)
        std::cout << "  sender: " << p.sender->name << " <" << p.sender->address << ">\n";
    else
        std::cout << "  sender: (none)\n";
    for (const maildir::MailAddress& r : p.recipients)
        std::cout << "  recipient: " << r.name << " <" << r.address << ">\n";
    std::cout << "  subject: " << p.subject << "\n";
    std::cout << "  text" << (p.textFromHtml ? " (from HTML)" : "") << ": " << Shown(p.text)
              << "\n";
    std::set<std::string> taken;
    for (const maildir::MailAttachment& a : p.attachments) {
        std::cout << "  attachment: \"" << Shown(a.source, 120) << "\" -> "
                  << AttachmentFileName(a.source, taken) << " (" << a.content.size() << " bytes)\n";
    }
    for (const std::string& note : m.notes) std::cout << "  note: " << note << "\n";
}

}  // namespace

int main(int argc, char** argv) {
    SetSilentMode(true);
    const std::string first = argc > 1 ? argv[1] : maildir::DefaultMaildir();
    if (maildir::IsMaildir(first)) {
        maildir::MaildirInbox inbox(first);
        inbox.Refresh();
        std::cout << first << ": " << inbox.Entries().size() << " messages\n";
        for (const maildir::InboxEntry& e : inbox.Entries()) {
            if (auto m = maildir::MaildirInbox::Load(e)) Dump(*m);
        }
        return 0;
    }
    if (argc < 2) {
        std::cerr << "usage: maildir_dump [MAILDIR | FILE...]  (" << first
                  << " is not a Maildir)\n";
        return 2;
    }
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        maildir::InboxEntry entry{argv[i], argv[i], 0};
        if (auto m = maildir::MaildirInbox::Load(entry))
            Dump(*m);
        else {
            std::cerr << argv[i] << ": no such file\n";
            status = 1;
        }
    }
    return status;
}
