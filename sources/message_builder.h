#pragma once
// One road from a message's bytes to the message record, for every kind of source.
//
// BuildMessage reads the values of a message (the step where the kinds of source follow
// different rules, named by the kind's row of the table below), fills a new record from them
// (one step for every kind), lets the record parse its header where the kind relies on that,
// and has the whole message decoded where the kind's parts are decoded after the record is
// filled. docs/architecture.md ("One road for a message") explains each difference.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sources/attachment_decoder.h"

namespace tallix {
class txMessage;
}

namespace tallix::sources {

namespace maildir {
struct ParsedMessage;
}

// The values of one message as a source read them, before they become the record. A value
// the kind does not give stays unset and the record keeps its initial value: assigning an
// empty text is not the same (an empty time reads as midnight).
struct MessageValues {
    std::optional<std::string> senderName, senderAddress, senderType;
    std::optional<std::string> replyToName, replyToAddress;
    std::optional<std::string> receipentName, receipentAddress;
    std::optional<std::string> header;
    std::optional<std::string> sentDate, sentTime, receiveDate, receiveTime;
    std::optional<std::string> subject, body;
    // The parts the body is made of as the message wrote them: the header lines of each and
    // its content, transfer encoding and character set not yet undone. When the kind gives
    // them, the builder decodes them into the body: the plain parts, one after the other, or
    // when there is none the HTML parts' text (HtmlPartBody). `body` is then the plain parts'
    // contents one after the other, as written: when none of them needs decoding it stays.
    struct TextPart {
        std::string header;
        std::string content;
    };
    std::vector<TextPart> plainParts, htmlParts;
    // The files written for the message, in the order the message holds them, and the MIME
    // type of each where the kind knows it.
    std::vector<std::string> attachments;
    std::vector<std::string> attachmentTypes;
};

// What a source knows of a message besides its bytes.
struct MessageSite {
    // The mailbox file: the values its text searches read while the message was cut out
    // (the walk reads them before it decides whether the message is handed over). The
    // builder takes them over: they are moved from.
    MessageValues* read = nullptr;
    // The local store: its parse of the message file (the store's objects answer from it,
    // so the bytes are not parsed twice) and the delivery time.
    const maildir::ParsedMessage* parsed = nullptr;
    std::int64_t delivered = 0;
    // A server message: the file it was retrieved into, where its decoded parts go, the
    // decoder, how the source names the parts, and the files that naming gave (slot 0 the
    // plain-text body, then the attachments).
    std::string messageFile;
    std::string decodeDir;
    AttachmentDecoder* decoder = nullptr;
    DecodeCallbacks naming;
    const std::vector<std::string>* decodedFiles = nullptr;
    const std::vector<std::string>* decodedTypes = nullptr;  // the MIME type of each
};

// Where the local store's sending time comes from.
enum class StoreSentTime { DateField, Delivery };
// What a value or attachment of the local store that cannot be read or written does.
enum class StoreFailure { SkipValue, PassOn };

struct MessageBuild;
using ReadValues = void (*)(std::string_view bytes, const MessageBuild& how,
                            const MessageSite& site, MessageValues& values);

// How one kind of source reads its messages. Each member names a step in which the kinds
// differ.
struct MessageBuild {
    std::string_view kind;
    // Reads the header, subject, addresses, dates, body and attachments.
    ReadValues read;
    // The record derives the sender, reply-to and recipient from its header (ParseHeader).
    bool parseHeader;
    // After the record is filled the whole message is decoded: the plain-text part replaces
    // the body and the other parts are the attachments.
    bool decodeWhole;
    // The header texts the reading step gives are as the message wrote them: encoded words
    // in the names and addresses are decoded (the store's reader has decoded its own).
    bool decodeWords;
    // The local store only.
    StoreSentTime sentTime;
    bool senderTypeWithoutSender;  // the sender type is given when the message has no sender
    StoreFailure failures;
};

// The reading step of each kind (the mailbox's and the server's are in tallix_sources, the
// local store's, which needs GMime's parse, in tallix_maildir).
void ReadMailboxValues(std::string_view bytes, const MessageBuild& how, const MessageSite& site,
                       MessageValues& values);
void ReadServerMessage(std::string_view bytes, const MessageBuild& how, const MessageSite& site,
                       MessageValues& values);
void ReadStoreMessage(std::string_view bytes, const MessageBuild& how, const MessageSite& site,
                      MessageValues& values);

// The one table: a row per kind of source.
inline constexpr MessageBuild kMailboxBuild{
    "mailbox file", &ReadMailboxValues,       false, false,
    true,           StoreSentTime::DateField, false, StoreFailure::SkipValue};
inline constexpr MessageBuild kPop3Build{
    "POP3", &ReadServerMessage,       true,  true,
    true,   StoreSentTime::DateField, false, StoreFailure::SkipValue};
inline constexpr MessageBuild kImapBuild{
    "IMAP", &ReadServerMessage,       true,  true,
    true,   StoreSentTime::DateField, false, StoreFailure::SkipValue};
inline constexpr MessageBuild kMapiBuild{
    "Extended MAPI", &ReadStoreMessage,        false, false,
    false,           StoreSentTime::DateField, false, StoreFailure::SkipValue};
inline constexpr MessageBuild kSimpleMapiBuild{
    "Simple MAPI", &ReadStoreMessage,       false, false,
    false,         StoreSentTime::Delivery, true,  StoreFailure::PassOn};

// The record of one message. Failures of the reading step are handled as the kind's Part
// says: reported by the step, skipped, or passed on to the caller.
std::shared_ptr<txMessage> BuildMessage(std::string_view bytes, const MessageBuild& how,
                                        const MessageSite& site);

// The record filled from `values`, in one fixed order.
void FillRecord(const MessageValues& values, txMessage& record);

// Levels of multiparts inside a multipart that are read for text parts.
inline constexpr int kMaxNestedMultiparts = 8;

// The text parts of the multipart whose header is `header` and whose content is `content`, in
// order, multiparts inside it read in turn: a plain part (or one without a Content-Type) goes
// to values.plainParts and its content onto values.body, an HTML part to values.htmlParts; a
// named part is an attachment and is left out. `depth` counts the levels read so far.
void AddTextParts(std::string_view header, std::string_view content, MessageValues& values,
                  int depth = 1);

// The body the text parts of `values` make, as UTF-8 with CR LF line ends; nullopt when the
// kind gave no parts.
std::optional<std::string> BodyFromParts(const MessageValues& values);

// The parts of the top level of a multipart message (header lines and content, split at its
// boundary lines as a whole-message decode splits it); nullopt when it is not multipart.
struct TopLevelPart {
    std::string_view header;
    std::string_view content;
};
std::optional<std::vector<TopLevelPart>> TopLevelParts(std::string_view message);

}  // namespace tallix::sources
