#pragma once
// The text of a message file for the wizard's formatted-text box: a single message (.eml) or
// the first message of a mailbox file (a line starting "From " opens each message). The
// message is read with the mail store's own message reader, so encodings are undone and an
// HTML-only message gives the text it shows. No Qt here.

#include <cstddef>
#include <string>
#include <string_view>

namespace tallix::manager {

// Bytes of a message read at most; a longer message is read up to this point. A form mail
// is a few kilobytes, and the text box is no place for more.
inline constexpr std::size_t kMaxWizardMessageBytes = std::size_t{4} << 20;

inline constexpr std::string_view kMsgUnableToReadMessage = "Unable to read the message file: ";
inline constexpr std::string_view kMsgNotAMessage = "The file does not hold a mail message: ";
inline constexpr std::string_view kMsgMessageWithoutText = "The message has no text: ";

struct MessageFileText {
    bool ok = false;
    std::string text;     // the body, lines ended by LF alone
    std::string problem;  // what went wrong, for the user, when !ok
};

// Reads `path`. Never raises: a file that cannot be read, holds no message or a message
// without text gives !ok with the problem said (and written to the error log).
MessageFileText ReadMessageFileText(const std::string& path);

}  // namespace tallix::manager
