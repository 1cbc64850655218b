#include "manager/wizard_message_file.h"

#include <algorithm>

#include "settings/error_reporter.h"
#include "settings/logs.h"
#include "sources/mailbox_reader.h"
#include "sources/maildir_reader.h"

namespace tallix::manager {
namespace {

constexpr std::string_view kMailboxSeparator = "From ";
constexpr std::string_view kNextMessage = "\nFrom ";

MessageFileText Problem(std::string_view what, const std::string& path,
                        std::string_view detail = {}) {
    MessageFileText r;
    r.problem = std::string(what) + path;
    if (!detail.empty()) r.problem += "\n" + std::string(detail);
    // A file from outside that cannot be used is noted where other reading problems are.
    WriteLog(kErrorLog, "frmWizard cmdLoadMessage_Click\n" + r.problem);
    return r;
}

// The bytes of the one message of the file, or of its first message when it is a mailbox.
std::string MessageBytes(sources::MailboxReader& file) {
    std::size_t start = 0;
    std::size_t end = file.Size();
    std::string head;
    file.AppendTo(head, 0, kMailboxSeparator.size());
    if (head == kMailboxSeparator) {
        const std::size_t lineEnd = file.Find(0, "\n");
        start = lineEnd == std::string::npos ? file.Size() : lineEnd + 1;
        const std::size_t next =
            start < file.Size() ? file.Find(start - 1, kNextMessage) : std::string::npos;
        if (next != std::string::npos) end = next + 1;
    }
    std::string bytes;
    file.AppendTo(bytes, start, std::min(end - start, kMaxWizardMessageBytes));
    return bytes;
}

bool HasText(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return c != ' ' && c != '\t' && c != '\r' && c != '\n'; });
}

}  // namespace

MessageFileText ReadMessageFileText(const std::string& path) {
    std::string bytes;
    sources::MailboxReader file;
    const PendingError before = Err();
    const bool read = RunCatching([&] {
        file.Open(path);
        bytes = MessageBytes(file);
    });
    if (!read) {
        const std::string detail = Err().description;
        Err() = before;
        return Problem(kMsgUnableToReadMessage, path, detail);
    }

    const sources::maildir::ParsedMessage message = sources::maildir::ParseMessageBytes(bytes);
    if (!message.parsed) return Problem(kMsgNotAMessage, path);
    if (!HasText(message.text)) return Problem(kMsgMessageWithoutText, path);

    MessageFileText r;
    r.ok = true;
    r.text.reserve(message.text.size());
    for (char c : message.text)
        if (c != '\r') r.text.push_back(c);
    return r;
}

}  // namespace tallix::manager
