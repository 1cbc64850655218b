#pragma once
// One Maildir message file taken apart into the values the local mail store offers: sender,
// recipients, subject, sending time, body text and attachments, all text in UTF-8. The MIME
// structure is read with GMime; nothing of GMime shows outside this reader.
//
// Mail comes from strangers: the reader never fails. A file that is not a message at all is
// handed back as its own text, and a limit reached is noted, not raised.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallix::sources::maildir {

// Parts of one message looked at (every part of every nesting level counts); later parts are
// neither read as body nor offered as attachments.
inline constexpr std::size_t kMaxMessageParts = 1024;
// Nesting levels of multiparts and attached messages descended into.
inline constexpr int kMaxPartDepth = 32;

inline constexpr std::string_view kNoteTooManyParts =
    "More message parts than the limit; the rest are skipped.";
inline constexpr std::string_view kNoteTooDeep =
    "Message parts nested deeper than the limit; the deeper ones are skipped.";
inline constexpr std::string_view kNoteNotAMessage =
    "The file could not be read as a message; its text is the body.";

struct MailAddress {
    std::string name;     // the display name, or the address when there is none
    std::string address;  // the address itself (local part @ domain)
};

struct MailAttachment {
    std::string source;   // the name the message gives the attachment (may be empty, hostile)
    std::string content;  // the decoded bytes
    std::string type;     // the MIME type, lower case ("" when the part has none)
};

struct ParsedMessage {
    // False when the bytes held no message structure; `text` is then the bytes themselves.
    bool parsed = false;
    // The Date: field as seconds since the epoch; none without a readable Date: field.
    std::optional<std::int64_t> sentTime;
    std::optional<MailAddress> sender;
    std::string subject;
    // The header lines as the message holds them, up to the blank line that ends them (at most
    // kMaxHeaderTextBytes, cut at a line end).
    std::string header;
    std::vector<MailAddress> recipients;  // To:, then Cc:
    // The plain body, or the text of the HTML body when there is no plain one; line ends CR LF.
    std::string text;
    bool textFromHtml = false;
    // With textFromHtml: the HTML body itself, converted to UTF-8 with CR LF line ends, and
    // whether it had to be decoded (a transfer encoding, bytes beyond 7 bits, or a set that
    // changed them): a decoded one gives the record body every source gives
    // (HtmlPartBody of sources/mime_text.h).
    std::string html;
    bool htmlDecoded = false;
    std::vector<MailAttachment> attachments;
    // Limits reached while reading (texts above).
    std::vector<std::string_view> notes;
};

ParsedMessage ParseMessageBytes(std::string_view bytes);

inline constexpr std::size_t kMaxHeaderTextBytes = 1024 * 1024;

// Helpers the reader uses, offered for their own tests.
// `bytes` in the named character set, as UTF-8 (CharsetToUtf8 of sources/mime_text.h: an
// unknown set is read as UTF-8 when valid, else as Windows-1252; a byte the set cannot
// convert becomes U+FFFD).
std::string ToUtf8(std::string_view bytes, std::string_view charset);

}  // namespace tallix::sources::maildir
