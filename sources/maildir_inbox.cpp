#include "sources/maildir_inbox.h"

#include <ctime>

#include "settings/run_time_error.h"
#include "settings/system_rules.h"

namespace tallix::sources::maildir {

MaildirInbox::MaildirInbox(std::string dir) : m_dir(std::move(dir)) {
    if (!IsMaildir(m_dir)) Raise(kErrFileNotFound, "Not a Maildir: " + m_dir);
}

std::unique_ptr<InboxMessage> MaildirInbox::Load(const InboxEntry& entry) {
    std::string bytes;
    std::string failure;
    const ReadOutcome outcome = ReadMessageFile(entry.path, bytes, failure);
    if (outcome == ReadOutcome::Vanished) return nullptr;
    auto message = std::make_unique<InboxMessage>();
    message->entry = entry;
    switch (outcome) {
        case ReadOutcome::TooLong:
            message->refused = kRefusedTooLong;
            return message;
        case ReadOutcome::NotAFile:
            message->refused = kRefusedNotAFile;
            return message;
        case ReadOutcome::Failed:
            message->refused = std::string(kRefusedUnreadable) + failure;
            return message;
        case ReadOutcome::Read:
        case ReadOutcome::Vanished:
            break;
    }
    message->parsed = ParseMessageBytes(bytes);
    for (const std::string_view note : message->parsed.notes) message->notes.emplace_back(note);
    return message;
}

std::string DateTimeText(std::int64_t secondsSinceEpoch) {
    const std::time_t t = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm local{};
    if (!::localtime_r(&t, &local)) Raise(kErrOverflow);
    const DateValue value = DateSerial(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
                            TimeSerial(local.tm_hour, local.tm_min, local.tm_sec);
    return FormatGeneralDate(value);
}

}  // namespace tallix::sources::maildir
