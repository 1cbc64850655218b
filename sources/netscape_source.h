#pragma once
// clsNetscape: the mailbox file source. A Netscape mail folder, a Eudora mailbox or a standard
// mbox file (see MboxFraming) is many messages stored one after another in one text file. The file
// is opened at Connect and read by offset up to the length it had then (see MailboxReader); each
// message is cut out by searching for the text that starts a message, split into header and body by
// plain text searches, and handed to the engine as a txMessage. Multipart messages have their
// plain-text parts joined into the body and their attachments decoded to files in the scratch
// directory. The source cannot delete messages.
//
// Positions in the steps below count bytes from 1, as in the rest of the system's text rules.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "model/message.h"
#include "sources/attachment_decoder.h"
#include "sources/mail_source.h"
#include "sources/mailbox_reader.h"
#include "sources/message_builder.h"

namespace tallix::sources {

inline constexpr std::string_view kNetscapeId = "Netscape mail file";
inline constexpr std::string_view kEudoraId = "Eudora mail file";
inline constexpr std::string_view kMboxId = "mbox mail file";
inline constexpr std::string_view kDeleteNotImplemented = "Delete feature not yet implemented.";

// Limits on what one message can make the walk hold or do. Mail comes from strangers: going
// past a limit is reported (with the message's number) and the message is read as well as
// the limit allows; the walk goes on with the next message.
// The message header block: fields beyond it are not looked for, and the record's Header
// is cut there (at the end of its last whole line).
inline constexpr std::size_t kMaxMessageHeaderBytes = std::size_t{1} << 20;
// One header field's value, up to its line end: longer values are cut.
inline constexpr std::size_t kMaxFieldValueBytes = std::size_t{64} << 10;
// Content-Type blocks of one multipart message looked at (its own, then one per part); the
// parts after them are neither taken into the body nor decoded.
inline constexpr std::size_t kMaxMessageParts = 1024;
inline constexpr std::string_view kHeaderTooLong =
    "Message header longer than the limit; the rest of it is not read.";
inline constexpr std::string_view kFieldTooLong =
    "Header field value longer than the limit; it is cut.";
inline constexpr std::string_view kTooManyParts =
    "More message parts than the limit; the rest are skipped.";
inline constexpr std::string_view kNameTooLong =
    "Attachment name longer than the limit; it is shortened.";
// Noted in the error log, followed by the attachment's file name, when the decoder refuses a
// part: the attachment is left out.
inline constexpr std::string_view kDecodeRefused =
    "The attachment could not be decoded and is left out:";

// The texts that tell the two file formats apart, fixed when the source is created.
struct MailboxFormat {
    std::string separator;       // starts a message
    std::string endMarker;       // ends a message, as searched for in the file
    std::string lineEnd;         // ends a header field's value (in the CR LF form of a message)
    std::string receiveMarker;   // the separator line that carries the receive date
    std::size_t resumeStep = 2;  // from the end marker to the line of the next separator
    bool eudora = false;
    // A standard mbox file ("FILE_OTHER"): messages are found by MboxFraming instead of the
    // separator and end marker, ">From " lines are unquoted, and the receive date is read
    // from the message's own "From " line only.
    bool mbox = false;
};

class clsNetscape final : public MailSource {
  public:
    // Reads "UseSource" and "LocalFileName" from the settings the program has loaded; every
    // kind of mailbox file is named by "LocalFileName".
    clsNetscape();
    // A reader of the mailbox kind `useSource` ("NETSCAPE", "EUDORA" or "FILE_OTHER") whatever
    // the settings name; the file is still "LocalFileName" until SetFilePath.
    explicit clsNetscape(std::string_view useSource);
    ~clsNetscape() override;

    // Reads mailbox files of the kind `useSource` from now on (the engine's run gives the kind
    // and the file it read at start-up).
    void SetKind(std::string_view useSource);

    const std::string& FilePath() const { return m_filePath; }
    void SetFilePath(std::string path) { m_filePath = std::move(path); }
    // The engine's MIME decoding; without one, attachments are reported and skipped.
    void SetAttachmentDecoder(AttachmentDecoder* decoder) { m_decoder = decoder; }
    // Whether the walk takes the messages after the current one apart on a second thread
    // (off unless set; never while the engine asks for known messages by header). A message
    // with an attachment, or one that reports anything, is taken apart on the walk's own
    // thread as without it, so what the walk writes and reports is the same either way; what
    // the dump accessors below show is then only kept for those.
    void SetReadAhead(bool on) { m_readAheadWanted = on; }

    void Connect() override;
    void GetFirstMsg() override;
    void GetNextMsg() override;
    void DoDeleteMessage() override;
    std::string ConvertAddress() override;
    void Disconnect() override;

    // The steps of a walk; only the class itself calls them during a run.
    void NSGetMessages();
    void NSGetMsgCount();
    // Position of `sFindStr` in the file at or after `nStartAt`; -1 for an empty text, 0 when
    // absent.
    std::int64_t NSGetPositionOf(std::int64_t nStartAt, std::string_view sFindStr) const;
    void IsNewCharacter();
    void GetMessage();
    void GetMsgParts();
    void GetHeader();
    void GetBoundaryMarker();
    void GetBody();
    void GetBodyPart(std::string_view sSearch);
    void GetAttachment(std::string_view sSearch);
    void GetSubject();
    void GetReceipent();
    void GetSender();
    void GetReplyTo();
    void GetSentDate();
    void GetReceiveDate();
    void SetAddressProp(std::string_view value, std::string_view type);
    std::string RemoveQuotes(std::string_view value);
    // Deletes the scratch message file and the current message's attachment files.
    void Cleanup();

    // What the walk holds now, for the dump tool and the tests.
    const MailboxFormat& Format() const { return m_format; }
    bool LeadingMark() const { return m_leadingMark; }
    bool LineFeedOnly() const { return m_lineFeedOnly; }
    std::size_t ReadPosition() const { return m_readPos; }
    std::size_t FileLength() const { return m_file.Size(); }
    const std::string& MessageText() const { return m_messageText; }
    const std::string& HeaderText() const { return m_header; }
    bool Multipart() const { return m_multipart; }
    const std::string& Boundary() const { return m_boundary; }
    // The current message's number in the walk, counting from 1.
    std::int32_t MessageIndex() const { return m_messageIndex; }

  private:
    class ReadAhead;
    struct Values {
        std::string senderName, senderAddress;
        std::string replyToName, replyToAddress;
        std::string receipentName, receipentAddress;
        std::string sentDate, sentTime;
        std::string receiveDate, receiveTime;
        std::string body, subject;
        // The parts the body is made of, for the builder to decode.
        std::vector<MessageValues::TextPart> plainParts, htmlParts;
    };

    // The whole header of the part whose header lines hold 1-based position `at` of the
    // message: from the line after the boundary line before it to its blank line.
    std::string PartHeaderAt(std::size_t at) const;
    // 1-based position of `what` in the file at or after 1-based `start`; 0 when absent.
    std::size_t FindInFile(std::size_t start, std::string_view what) const;
    // The context text followed by the number of the message it concerns.
    std::string InMessage(std::string_view context) const;
    // The trimmed value of the header field whose name starts at `at`, at most
    // kMaxFieldValueBytes long.
    std::string FieldValue(std::size_t at, std::size_t nameLength) const;
    // Reports a limit the current message went past.
    void ReportLimit(std::string_view what, std::size_t limit) const;
    // Where `part` stands in the message text, searching after the parts already taken.
    std::size_t FindPart(std::string_view part) const;
    // The content of a part found at `at`: up to the two hyphens before the next boundary.
    std::string PartContent(std::size_t at, std::size_t partLength) const;
    void CutMessage(std::size_t start, std::size_t end);
    // The record of the message read last; its body and text parts are moved into it.
    std::shared_ptr<txMessage> HandOver();
    // Forgets what was taken from the last message: values, header, parts.
    void ForgetParts();
    // One step of GetNextMsg on this thread: true when the walk stops here (a message was
    // handed over, or none is left).
    bool TakeNextHere();
    // A walk of its own over the same open file, from where this one stands, for ReadAhead.
    std::unique_ptr<clsNetscape> AheadCopy() const;

    std::string m_filePath;
    MailboxFormat m_format;
    // Reading moves its window, which changes nothing a caller can see.
    mutable MailboxReader m_file;
    AttachmentDecoder* m_decoder = nullptr;
    bool m_leadingMark = false;
    bool m_lineFeedOnly = false;
    std::size_t m_readPos = 1;
    std::int32_t m_messageIndex = 0;

    std::string m_messageText;
    std::string m_header;
    bool m_multipart = false;
    std::string m_boundary;
    std::vector<std::string> m_attachmentFiles{std::string()};  // slot 0 is never used
    std::vector<std::string> m_attachmentTypes{std::string()};  // the MIME type of each
    std::set<std::string> m_attachmentNames;                    // names given in this message
    std::size_t m_partCursor = 1;
    Values m_values;
    txMessage m_addressRules;  // splits addresses with the message record's own rules

    bool m_readAheadWanted = false;
    std::unique_ptr<ReadAhead> m_ahead;
    // In the read-ahead's copy: a message with an attachment is left to the walk's thread.
    bool m_aheadCopy = false;
    bool m_leftToWalk = false;
};

// The collection of mailbox file sources: one per run.
using colNetscape = SourceCollection<clsNetscape>;
std::unique_ptr<colNetscape> NewColNetscape();

}  // namespace tallix::sources
