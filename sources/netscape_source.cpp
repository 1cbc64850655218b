#include "sources/netscape_source.h"

#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>

#include "model/file_bytes.h"
#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/logs.h"
#include "settings/report_capture.h"
#include "settings/run_time_error.h"
#include "settings/scratch_dir.h"
#include "settings/settings_store.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"
#include "sources/attachment_names.h"
#include "sources/mailbox_dates.h"
#include "sources/mailbox_kind.h"
#include "sources/mbox_framing.h"
#include "sources/message_builder.h"
#include "sources/mime_text.h"

namespace tallix::sources {
namespace {

// Context texts of the error reports.
constexpr std::string_view kCtxConnect = "clsNetscape - Connect";
constexpr std::string_view kCtxGetMessages = "clsNetscape - NSGetMessages";
constexpr std::string_view kCtxGetMsgCount = "clsNetscape - GetMsgCount";
constexpr std::string_view kCtxGetFirstMsg = "clsNetscape - GetFirstMsg";
constexpr std::string_view kCtxGetNextMsg = "clsNetscape - GetNextMsg";
constexpr std::string_view kCtxGetMessage = "clsNetscape - GetMessage";
constexpr std::string_view kCtxMsgParts = "clsNetscape - Parsing Message Parts";
constexpr std::string_view kCtxGetHeader = "clsNetscape - GetHeader";
constexpr std::string_view kCtxBoundary = "clsNetscape - GetBoundaryMarker";
constexpr std::string_view kCtxGetBody = "clsNetscape - GetBody";
constexpr std::string_view kCtxAttachment = "clsNetscape - GetAttachment";
constexpr std::string_view kCtxSubject = "clsNetscape - GetSubject";
constexpr std::string_view kCtxReceipent = "clsNetscape - GetReceipent";
constexpr std::string_view kCtxSender = "clsNetscape - GetSender";
constexpr std::string_view kCtxReplyTo = "clsNetscape - GetReplyTo";
constexpr std::string_view kCtxSentDate = "clsNetscape - GetSentDate";
constexpr std::string_view kCtxReceiveDate = "clsNetscape - GetReceiveDate";
// Only a lookup reports; adding or removing a source raises to the caller.
constexpr CollectionContexts kColContexts{.item = "colNetscape - Get Item"};

constexpr std::string_view kNoSentDate = "Unable to find the sent date in the message header.";
constexpr std::string_view kInMessageNumber = "In message number: ";
constexpr std::string_view kUnknownRecipient = "Unknown";

// The two file formats.
constexpr std::string_view kNetscapeSeparator = "From -";
constexpr std::string_view kEudoraSeparator = "From ";
constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kCr = "\r";
constexpr std::string_view kBlankLine = "\r\n\r\n";
constexpr char kLeadingMark = '>';

// Header field names, matched in exact case.
constexpr std::string_view kBoundaryName = "boundary=";
constexpr std::string_view kSubjectName = "Subject:";
constexpr std::string_view kToName = "To:";
constexpr std::string_view kFromName = "From:";
constexpr std::string_view kReplyToName = "Reply-To:";
constexpr std::string_view kDateName = "Date:";
constexpr std::string_view kContentTypeName = "Content-Type:";
constexpr std::string_view kPlainText = "text/plain";
constexpr std::string_view kFileNameParam = "filename=";
constexpr std::string_view kExtendedFileNameParam = "filename*";
constexpr std::string_view kNameParam = "name=";

// Above this the buffer of one message is given back once a smaller message follows, so a
// single huge message does not pin its memory for the rest of the walk.
constexpr std::size_t kKeepMessageBuffer = std::size_t{64} << 20;

// 1-based position of `what` in `text` at or after `start`; 0 when absent.
std::size_t Find(std::string_view text, std::size_t start, std::string_view what) {
    if (start < 1 || start > text.size()) return 0;
    const std::size_t at = text.find(what, start - 1);
    return at == std::string_view::npos ? 0 : at + 1;
}

// The `length` bytes from 1-based `start`, clipped to the text.
std::string_view Slice(std::string_view text, std::size_t start, std::size_t length) {
    if (start < 1 || start > text.size()) return {};
    return text.substr(start - 1, length);
}

// The `length` bytes at 0-based `at`, clipped to the text; empty past its end.
std::string_view Bytes(std::string_view text, std::size_t at, std::size_t length) {
    return at < text.size() ? text.substr(at, length) : std::string_view();
}

// True when the boundary found at 0-based `at` of `text` is a delimiter: at the start of a line
// behind "--", and followed by the end of its line, blanks or the closing "--". The same
// letters elsewhere are content: a short boundary such as "b" stands in base64 text, and a line
// "--best wishes" is no delimiter of it.
bool IsDelimiterAt(std::string_view text, std::size_t at, std::size_t length) {
    if (at < 2 || text[at - 1] != '-' || text[at - 2] != '-') return false;
    if (at > 2 && text[at - 3] != '\n' && text[at - 3] != '\r') return false;
    const std::size_t end = at + length;
    if (end >= text.size()) return true;
    const char next = text[end];
    return next == '\r' || next == '\n' || next == ' ' || next == '\t' ||
           Bytes(text, end, 2) == "--";
}

// 0-based position of the next delimiter of `boundary` at or after `from` (of the boundary
// itself, after its "--"); npos when there is none. An empty boundary is found where an empty
// text is.
std::size_t FindDelimiter(std::string_view text, std::string_view boundary, std::size_t from) {
    if (boundary.empty()) return text.find(boundary, from);
    for (std::size_t at = text.find(boundary, from); at != std::string_view::npos;
         at = text.find(boundary, at + 1))
        if (IsDelimiterAt(text, at, boundary.size())) return at;
    return std::string_view::npos;
}

// The last delimiter of `boundary` that starts at or before `before`; npos when there is none.
std::size_t FindDelimiterBefore(std::string_view text, std::string_view boundary,
                                std::size_t before) {
    if (boundary.empty()) return std::string_view::npos;
    for (std::size_t at = text.rfind(boundary, before); at != std::string_view::npos && at > 0;
         at = text.rfind(boundary, at - 1))
        if (IsDelimiterAt(text, at, boundary.size())) return at;
    return std::string_view::npos;
}

// The header lines of one part of a multipart message: from `afterBoundary` (the rest of its
// boundary line) through the line end of its last header line. None for the closing boundary
// ("--" right after the boundary: the blank line that may follow it, the mailbox's own after
// the last message or an epilogue's, opens no part) and for a part without a blank line.
std::optional<std::string_view> PartHeaderLines(std::string_view msg, std::size_t afterBoundary) {
    if (Bytes(msg, afterBoundary, 2) == "--") return std::nullopt;
    const std::size_t blank = msg.find(kBlankLine, afterBoundary);
    if (blank == std::string_view::npos) return std::nullopt;
    return msg.substr(afterBoundary, blank + kCrLf.size() - afterBoundary);
}

MailboxFormat FormatFor(const std::string& useSource) {
    MailboxFormat f;
    if (useSource == kSourceFileOther) {
        // Each message is brought to CR LF as it is cut out, so its fields end at CR LF.
        f.mbox = true;
        f.separator = kMboxFromLine;
        f.lineEnd = kCrLf;
        f.receiveMarker = kMboxFromLine;
        return f;
    }
    f.eudora = useSource == kSourceEudora;
    f.separator = f.eudora ? kEudoraSeparator : kNetscapeSeparator;
    f.endMarker = std::string(f.eudora ? kCrLf : kBlankLine) + f.separator;
    f.lineEnd = f.eudora ? kCr : kCrLf;
    f.receiveMarker = f.separator;
    return f;
}

// Every LF that has no CR before it becomes CR LF. `text` may continue what `out` holds.
void AppendWithCrLf(std::string& out, std::string_view text) {
    out.reserve(out.size() + text.size() + text.size() / 32);
    // Whole lines are copied at once; only the line ends are looked at.
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t lf = text.find('\n', at);
        if (lf == std::string_view::npos) {
            out.append(text.substr(at));
            break;
        }
        out.append(text.substr(at, lf - at));
        const char previous = lf > at ? text[lf - 1] : (out.empty() ? '\0' : out.back());
        if (previous != '\r') out.push_back('\r');
        out.push_back('\n');
        at = lf + 1;
    }
}

void RemoveQuietly(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
}

// The end of the Content-Type field that opens a part: the first line end that is not
// followed by a folded continuation line (0-based, the position of that CR).
std::size_t FieldEnd(std::string_view part) {
    std::size_t at = 0;
    while ((at = part.find(kCrLf, at)) != std::string_view::npos) {
        const std::size_t next = at + kCrLf.size();
        if (next >= part.size() || (part[next] != ' ' && part[next] != '\t')) return at;
        at = next;
    }
    return part.size();
}

}  // namespace

clsNetscape::clsNetscape() : clsNetscape(Settings().useSource) {}

clsNetscape::clsNetscape(std::string_view useSource) {
    SetKind(useSource);
    m_filePath = Settings().localFileName;
}

void clsNetscape::SetKind(std::string_view useSource) {
    m_format = FormatFor(std::string(useSource));
    SetID(std::string(m_format.mbox ? kMboxId : m_format.eudora ? kEudoraId : kNetscapeId));
}

// Takes the messages after the current one apart on a thread of its own, with a copy of the
// walk that reads the same open file. A message that needs nothing of the run (no attachment
// to decode) and reports nothing is handed over ready; any other is handed back to be taken
// apart again on the walk's thread, as without the read-ahead, so its reports and files come
// as they always did. Each item says where the walk stood before it and after it: the walk
// takes an item only where it stands itself.
class clsNetscape::ReadAhead {
  public:
    struct Item {
        std::size_t readPos = 0;
        std::int32_t messageIndex = 0;
        std::size_t nextReadPos = 0;
        std::int32_t nextIndex = 0;
        std::shared_ptr<txMessage> message;  // null: taken apart on the walk's thread
        std::string senderAddress;
        std::size_t bytes = 0;  // the message's length in the file
        bool end = false;       // nothing after it
    };

    explicit ReadAhead(std::unique_ptr<clsNetscape> walk)
        : m_walk(std::move(walk)), m_thread([this] { Run(); }) {}
    ~ReadAhead() {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_room.notify_one();
        m_thread.join();
    }
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    Item Take() {
        std::unique_lock lock(m_mutex);
        if (m_items.empty()) {
            m_walkWaits = true;
            m_ready.wait(lock, [&] { return !m_items.empty(); });
            m_walkWaits = false;
        }
        Item item = std::move(m_items.front());
        m_items.pop_front();
        m_bytes -= item.bytes;
        // The thread is woken when there is room for a good many, not for every message.
        const bool wake = m_aheadWaits && Room();
        lock.unlock();
        if (wake) m_room.notify_one();
        return item;
    }

  private:
    // Messages taken apart ahead of the walk at most, and their bytes at most (one message
    // however long); the thread goes on once half of either is free again.
    static constexpr std::size_t kDepth = 32;
    static constexpr std::size_t kBytes = std::size_t{16} << 20;

    bool Full() const { return m_items.size() >= kDepth || m_bytes >= kBytes; }
    bool Room() const { return m_items.size() <= kDepth / 2 && m_bytes <= kBytes / 2; }

    void Put(Item item) {
        std::unique_lock lock(m_mutex);
        m_bytes += item.bytes;
        m_items.push_back(std::move(item));
        const bool wake = m_walkWaits;
        lock.unlock();
        if (wake) m_ready.notify_one();
    }

    void Run() {
        // Named, so a profile or a debugger tells it from the run's own thread.
        ::pthread_setname_np(::pthread_self(), "txreadahead");
        // A failure outside a message's own guard (no memory left) ends the read-ahead, never
        // the walk, which goes on alone.
        if (!RunCatching([&] { Walk(); })) {
            Err().Clear();
            Item end;
            end.end = true;
            RunCatching([&] { Put(std::move(end)); });
        }
    }

    void Walk() {
        // Nothing made here reaches the user or the logs: a message that reports is taken
        // apart again on the walk's thread, which reports it.
        ReportCapture quiet;
        clsNetscape& walk = *m_walk;
        for (;;) {
            {
                std::unique_lock lock(m_mutex);
                if (!m_stop && Full()) {
                    m_aheadWaits = true;
                    m_room.wait(lock, [&] { return m_stop || Room(); });
                    m_aheadWaits = false;
                }
                if (m_stop) return;
            }
            Item item;
            item.readPos = walk.m_readPos;
            item.messageIndex = walk.m_messageIndex;
            if (walk.m_readPos >= walk.m_file.Size() || walk.m_file.Shrank()) {
                item.end = true;
                Put(std::move(item));
                return;
            }
            quiet.Clear();
            walk.m_leftToWalk = false;
            std::shared_ptr<txMessage> message;
            const bool taken = Guard(walk.InMessage(kCtxGetNextMsg), [&] {
                walk.GetMessage();
                if (walk.m_messageText.empty() || walk.m_header.empty() || walk.m_leftToWalk)
                    return;
                message = walk.HandOver();
            });
            if (taken && !walk.m_leftToWalk && quiet.Texts().empty()) {
                item.message = std::move(message);
                if (item.message) item.senderAddress = walk.m_values.senderAddress;
            }
            item.nextReadPos = walk.m_readPos;
            item.nextIndex = walk.m_messageIndex;
            item.bytes = item.nextReadPos > item.readPos ? item.nextReadPos - item.readPos : 0;
            Put(std::move(item));
        }
    }

    std::unique_ptr<clsNetscape> m_walk;  // used by the thread alone
    std::mutex m_mutex;
    std::condition_variable m_ready;  // an item came, for the walk
    std::condition_variable m_room;   // room came, for the thread
    std::deque<Item> m_items;
    std::size_t m_bytes = 0;  // of m_items
    bool m_walkWaits = false;
    bool m_aheadWaits = false;
    bool m_stop = false;
    std::thread m_thread;  // last: started once the rest is made
};

clsNetscape::~clsNetscape() = default;

std::unique_ptr<clsNetscape> clsNetscape::AheadCopy() const {
    auto copy = std::make_unique<clsNetscape>(std::string_view{});
    copy->SetID(ID());
    copy->m_filePath = m_filePath;
    copy->m_format = m_format;
    copy->m_leadingMark = m_leadingMark;
    copy->m_lineFeedOnly = m_lineFeedOnly;
    copy->m_readPos = m_readPos;
    copy->m_messageIndex = m_messageIndex;
    copy->m_aheadCopy = true;
    copy->m_file.OpenSame(m_file);
    return copy;
}

std::string clsNetscape::InMessage(std::string_view context) const {
    return std::string(context) + "\n" + std::string(kInMessageNumber) +
           std::to_string(m_messageIndex);
}

void clsNetscape::ReportLimit(std::string_view what, std::size_t limit) const {
    ReportError(InMessage(std::string(what) + " Limit: " + std::to_string(limit)), true, false);
}

// ---------------------------------------------------------------------------------------------
// Reading the file

void clsNetscape::Connect() {
    m_ahead.reset();
    Guard(kCtxConnect, [&] {
        SetIsConnected(false);
        SetTotalMessages(0);
        if (m_filePath.empty()) return;
        m_file.Close();
        // Only a mailbox that cannot be read ends the run.
        if (!Guard(
                kCtxGetMessages, [&] { NSGetMessages(); }, kLoggedEnding))
            return;
        if (m_file.Size() != 0) {
            // An mbox file's framing does not depend on its first line end or character.
            if (!m_format.mbox) IsNewCharacter();
            NSGetMsgCount();
        }
        m_readPos = 1;
        SetIsConnected(true);
    });
}

void clsNetscape::NSGetMessages() {
    // A folder given as the mail file is named with what it holds (a profile's mail file).
    const MailboxGuess guess = RecogniseMailbox(m_filePath);
    if (const std::string advice = MailboxKindAdvice(guess, ""); IsFolderKind(guess.kind))
        RaiseForFile(kErrPathFileAccess, m_filePath, SystemReason(EISDIR) + ". " + advice);
    ConcerningFile(m_filePath, [&] { m_file.Open(m_filePath); });
}

std::size_t clsNetscape::FindInFile(std::size_t start, std::string_view what) const {
    if (start < 1) return 0;
    const std::size_t at = m_file.Find(start - 1, what);
    return at == std::string_view::npos ? 0 : at + 1;
}

void clsNetscape::IsNewCharacter() {
    m_leadingMark = m_file.Size() != 0 && m_file.At(0) == kLeadingMark;
    // Linux mail clients (local folders are this format) end lines with LF alone; the first
    // line end of the file decides how the whole file is searched. Each message is brought
    // to CR LF when it is cut out, so the rules that follow see one form only.
    const std::size_t lf = FindInFile(1, "\n");
    m_lineFeedOnly = lf != 0 && (lf == 1 || m_file.At(lf - 2) != '\r');
    if (m_leadingMark) {
        m_format.endMarker = std::string(1, kLeadingMark) + m_format.separator;
        m_format.resumeStep = 1;
    } else if (m_lineFeedOnly) {
        m_format.endMarker = std::string(m_format.eudora ? "\n" : "\n\n") + m_format.separator;
        m_format.resumeStep = 1;
    }
}

void clsNetscape::NSGetMsgCount() {
    Guard(kCtxGetMsgCount, [&] {
        const std::string_view separator = m_format.separator;
        std::int64_t count = 0;
        if (m_format.mbox) {
            // The messages the walk hands over, not every "From " of the file.
            count = static_cast<std::int64_t>(std::min<std::size_t>(
                MboxFraming(m_file).Count(), std::numeric_limits<std::int32_t>::max()));
            SetTotalMessages(static_cast<std::int32_t>(count));
            return;
        }
        // Counted wherever it stands, not only at line starts.
        count = static_cast<std::int64_t>(m_file.Count(separator));
        SetTotalMessages(static_cast<std::int32_t>(
            std::min<std::int64_t>(count, std::numeric_limits<std::int32_t>::max())));
    });
}

std::int64_t clsNetscape::NSGetPositionOf(std::int64_t nStartAt, std::string_view sFindStr) const {
    if (sFindStr.empty()) return -1;
    if (nStartAt < 1) return 0;
    return static_cast<std::int64_t>(FindInFile(static_cast<std::size_t>(nStartAt), sFindStr));
}

// ---------------------------------------------------------------------------------------------
// Walking

void clsNetscape::GetFirstMsg() {
    m_ahead.reset();
    Guard(kCtxGetFirstMsg, [&] {
        SetMessage(nullptr);
        SetMessageNumber(1);
        m_readPos = 1;
        m_messageIndex = 0;
        GetMessage();
        if (!m_messageText.empty()) SetMessage(HandOver());
    });
    // A check by header needs the record as the walk leaves it after each message: no
    // read-ahead then.
    if (m_readAheadWanted && !AsksKnownMessages() && Message() && m_readPos < m_file.Size() &&
        !m_file.Shrank()) {
        // Without it (no thread to be had) the walk goes on alone, as it would anyway.
        if (!RunCatching([&] { m_ahead = std::make_unique<ReadAhead>(AheadCopy()); }))
            Err().Clear();
    }
}

void clsNetscape::GetNextMsg() {
    SetMessage(nullptr);
    // A message that cannot be handed over is reported and passed by; the walk goes on with
    // the one after it. Each pass moves the read position forward, so this ends.
    while (m_readPos < m_file.Size()) {
        if (m_ahead) {
            ReadAhead::Item item = m_ahead->Take();
            if (item.end || item.readPos != m_readPos || item.messageIndex != m_messageIndex) {
                // The read-ahead stopped, or the walk went elsewhere: it goes on here alone.
                m_ahead.reset();
                continue;
            }
            if (item.message) {
                m_readPos = item.nextReadPos;
                m_messageIndex = item.nextIndex;
                ForgetParts();
                m_values.senderAddress = std::move(item.senderAddress);
                m_messageText.clear();
                SetMessage(std::move(item.message));
                break;
            }
        }
        if (TakeNextHere()) break;
    }
}

bool clsNetscape::TakeNextHere() {
    return Guard(InMessage(kCtxGetNextMsg), [&] {
        GetMessage();
        if (m_messageText.empty()) return;
        // A later message without a header is handed over as a fresh record with nothing
        // assigned (the first message is filled either way).
        SetMessage(m_header.empty() ? std::make_shared<txMessage>() : HandOver());
    });
}

void clsNetscape::GetMessage() {
    const std::size_t length = m_file.Size();
    // Where the walk resumes when this message cannot be taken apart: after it, not at the
    // end of the file, so one bad message does not lose the ones behind it.
    const std::size_t pastEnd = length + 1;
    std::size_t resume = pastEnd;
    const bool ok = Guard(kCtxGetMessage, [&] {
        m_messageText.clear();
        if (m_format.mbox) {
            const std::optional<MboxSpan> span = MboxFraming(m_file).Next(m_readPos - 1);
            // Only line ends are left: the walk is over, which is no failure.
            if (!span) {
                m_readPos = pastEnd;
                return;
            }
            resume = span->end + 1;
            ++m_messageIndex;
            m_readPos = resume;
            CutMessage(span->start + 1, span->end + 1);
            GetMsgParts();
            return;
        }
        const std::size_t start = FindInFile(m_readPos, m_format.separator);
        if (start == 0) Raise(kErrInvalidCall);
        // Without an end marker the message runs to the end of the file, its last byte
        // included.
        std::size_t end = pastEnd;
        if (start < length) {
            end = FindInFile(start + m_format.endMarker.size(), m_format.endMarker);
            if (end == 0) end = pastEnd;
        }
        resume = end == pastEnd ? pastEnd : end + m_format.resumeStep;
        if (start < end) {
            ++m_messageIndex;
            m_readPos = resume;
            CutMessage(start, end);
            GetMsgParts();
        } else {
            m_readPos = pastEnd;
            SetMessage(nullptr);
        }
    });
    // A file cut shorter than it was at Connect cannot be read on: the walk ends with the
    // report made above.
    if (!ok) m_readPos = m_file.Shrank() ? pastEnd : resume;
}

void clsNetscape::CutMessage(std::size_t start, std::size_t end) {
    const std::size_t length = end - start;
    if (m_messageText.capacity() > kKeepMessageBuffer && length < m_messageText.capacity() / 4) {
        std::string().swap(m_messageText);
    }
    m_messageText.clear();
    m_file.ForEachPiece(start - 1, length, [&](std::string_view piece) {
        // An mbox file may mix LF and CR LF lines; every message is read in the CR LF form.
        if (m_lineFeedOnly || m_format.mbox) {
            AppendWithCrLf(m_messageText, piece);
        } else {
            m_messageText.append(piece);
        }
    });
    if (m_format.mbox) {
        // The message's own "From " line is not a quoted body line.
        std::size_t bodyFrom = 0;
        if (m_messageText.starts_with(kMboxFromLine)) {
            const std::size_t lf = m_messageText.find('\n');
            bodyFrom = lf == std::string::npos ? m_messageText.size() : lf + 1;
        }
        UnquoteFromLines(m_messageText, bodyFrom);
    }
}

std::shared_ptr<txMessage> clsNetscape::HandOver() {
    Values& v = m_values;
    MessageValues values;
    values.senderName = v.senderName;
    values.senderAddress = v.senderAddress;
    values.replyToName = v.replyToName;
    values.replyToAddress = v.replyToAddress;
    values.receipentName = v.receipentName;
    values.receipentAddress = v.receipentAddress;
    values.header = m_header;
    values.sentDate = v.sentDate;
    values.receiveDate = v.receiveDate;
    values.receiveTime = v.receiveTime;
    values.sentTime = v.sentTime;
    values.body = std::move(v.body);
    values.subject = v.subject;
    values.plainParts = std::move(v.plainParts);
    values.htmlParts = std::move(v.htmlParts);
    if (m_multipart && m_attachmentFiles.size() > 1) {
        values.attachments.assign(m_attachmentFiles.begin() + 1, m_attachmentFiles.end());
        values.attachmentTypes.assign(m_attachmentTypes.begin() + 1, m_attachmentTypes.end());
    }
    MessageSite site;
    site.read = &values;
    return BuildMessage(m_messageText, kMailboxBuild, site);
}

// ---------------------------------------------------------------------------------------------
// Taking a message apart

void clsNetscape::ForgetParts() {
    m_values = Values{};
    m_header.clear();
    m_multipart = false;
    m_boundary.clear();
    m_attachmentFiles.assign(1, std::string());
    m_attachmentTypes.assign(1, std::string());
    m_attachmentNames.clear();
}

void clsNetscape::GetMsgParts() {
    ForgetParts();
    Guard(InMessage(kCtxMsgParts), [&] {
        if (m_messageText.empty()) Raise(kErrInvalidCall);
        GetHeader();
        if (m_header.empty()) return;
        // A message every template has had is handed over as its header block alone.
        if (IsKnownMessage(m_header)) return;
        // The read-ahead leaves a message that names a file to the walk's own thread before
        // taking its body apart (the walk does all of it again).
        if (m_aheadCopy && (m_header.find(kFileNameParam) != std::string::npos ||
                            m_header.find(kExtendedFileNameParam) != std::string::npos)) {
            m_leftToWalk = true;
            return;
        }
        GetBody();
        // The body is cut out; from here on the header only serves the field look-ups and
        // the record, which need no more than its start.
        if (m_header.size() > kMaxMessageHeaderBytes) {
            ReportLimit(kHeaderTooLong, kMaxMessageHeaderBytes);
            const std::size_t lineEnd = m_header.rfind(kCrLf, kMaxMessageHeaderBytes - 1);
            m_header.resize(lineEnd == std::string::npos ? kMaxMessageHeaderBytes : lineEnd + 1);
        }
        GetSubject();
        GetReceipent();
        GetSender();
        GetReplyTo();
        GetSentDate();
        GetReceiveDate();
    });
}

void clsNetscape::GetHeader() {
    Guard(kCtxGetHeader, [&] {
        m_header.clear();
        m_multipart = false;
        const std::string_view msg = m_messageText;
        const std::size_t blank = msg.find(kBlankLine);
        if (blank == std::string_view::npos) Raise(kErrInvalidCall);
        // The message's own header lines, ending with the CR of the last one.
        const std::string_view ownLines = msg.substr(0, blank + 1);
        if (msg.find(kBoundaryName) == std::string_view::npos) {
            m_header = ownLines;
            return;
        }
        m_multipart = true;
        GetBoundaryMarker();
        if (m_boundary.empty()) Raise(kErrInvalidCall);

        // The first boundary is looked for from the last LF of the blank line on.
        std::size_t boundaryAt = FindDelimiter(msg, m_boundary, blank + kBlankLine.size() - 1);
        if (boundaryAt == std::string_view::npos) {
            m_multipart = false;
            m_header = ownLines;
            return;
        }
        // The message's own lines and the preamble up to the line end before the first
        // boundary line ("--" and the boundary), and at least the blank line's first line end
        // and CR; then the header lines of every part, so that each part's Content-Type line
        // can be found in the header.
        m_header = msg.substr(0, std::max(blank + kBlankLine.size() - 1, boundaryAt - 2));
        while (boundaryAt != std::string_view::npos) {
            const std::size_t afterBoundary = boundaryAt + m_boundary.size();
            const std::optional<std::string_view> lines = PartHeaderLines(msg, afterBoundary);
            if (!lines) break;
            m_header += *lines;
            boundaryAt = FindDelimiter(msg, m_boundary, afterBoundary + lines->size());
        }
    });
}

void clsNetscape::GetBoundaryMarker() {
    m_boundary.clear();
    Guard(InMessage(kCtxBoundary), [&] {
        const std::string_view msg = m_messageText;
        const std::size_t at = msg.find(kBoundaryName);
        if (at == std::string_view::npos) return;
        const std::size_t from = at + kBoundaryName.size();
        const std::size_t end = msg.find(m_format.lineEnd, from);
        if (end == std::string_view::npos) Raise(kErrInvalidCall);
        std::string_view value = msg.substr(from, end - from);
        // The quotes round the value are not part of it; an unquoted value ends where the
        // next parameter or blank begins.
        if (!value.empty() && value.front() == '"') {
            value.remove_prefix(1);
            value = value.substr(0, value.find('"'));
        } else {
            value = value.substr(0, value.find_first_of("; \t"));
        }
        m_boundary = value;
    });
}

std::size_t clsNetscape::FindPart(std::string_view part) const {
    return part.empty() ? 0 : Find(m_messageText, m_partCursor, part);
}

std::string clsNetscape::PartContent(std::size_t at, std::size_t partLength) const {
    const std::string_view msg = m_messageText;
    const std::size_t from = at + partLength;
    // The boundary is looked for in the content, not in the part's own header lines.
    const std::size_t delimiter =
        from < 1 ? std::string_view::npos : FindDelimiter(msg, m_boundary, from - 1);
    std::size_t next = delimiter == std::string_view::npos ? msg.size() : delimiter + 1;
    // Up to the two hyphens before the boundary.
    if (next < from + 2) return {};
    return std::string(Slice(msg, from, next - from - 2));
}

void clsNetscape::GetBody() {
    const bool ok = Guard(InMessage(kCtxGetBody), [&] {
        m_values.body.clear();
        m_values.plainParts.clear();
        m_values.htmlParts.clear();
        if (!m_multipart) {
            m_values.body = Slice(m_messageText, m_header.size() + 4, std::string_view::npos);
            (IsHtmlPart(m_header) ? m_values.htmlParts : m_values.plainParts)
                .push_back({m_header, m_values.body});
            return;
        }
        m_attachmentFiles.assign(1, std::string());
        m_attachmentTypes.assign(1, std::string());
        m_partCursor = 1;
        const std::string_view header = m_header;
        // The message's own header lines come first; its own Content-Type opens no part.
        const std::size_t ownHeaderEnd = m_messageText.find(kBlankLine) + 1;
        std::size_t c1 = Find(header, 1, kContentTypeName);
        std::size_t parts = 0;
        while (c1 != 0) {
            if (++parts > kMaxMessageParts) {
                ReportLimit(kTooManyParts, kMaxMessageParts);
                break;
            }
            std::size_t c2 = Find(header, c1 + kContentTypeName.size(), kContentTypeName);
            std::string lastPart;
            std::string_view part;
            if (c2 != 0) {
                part = Slice(header, c1, c2 - c1);
            } else {
                // The last part's header block ends the header without the blank line that
                // the other parts take from the boundary line after them; it is given back,
                // so that the content starts after the blank line as in every other part.
                c2 = header.size() + 1;
                lastPart = Slice(header, c1, std::string_view::npos);
                if (lastPart.ends_with(kCrLf)) lastPart += kCrLf;
                part = lastPart;
            }
            if (part.find(kPlainText) != std::string_view::npos) {
                GetBodyPart(part);
            } else if (c1 > ownHeaderEnd && IsMultipartHeader(part)) {
                // An alternative inside a mixed message: its text parts as every source reads
                // them (plain parts onto the body, HTML parts for a message without one).
                if (const std::size_t b = FindPart(part); b != 0) {
                    MessageValues nested;
                    AddTextParts(part, PartContent(b, part.size()), nested);
                    m_values.body += nested.body.value_or("");
                    for (auto& p : nested.plainParts) m_values.plainParts.push_back(std::move(p));
                    for (auto& p : nested.htmlParts) m_values.htmlParts.push_back(std::move(p));
                }
            } else if (part.find(kFileNameParam) == std::string_view::npos &&
                       part.find(kExtendedFileNameParam) == std::string_view::npos &&
                       IsHtmlPart(part)) {
                // Taken as the body only when the message has no plain part.
                if (const std::size_t b = FindPart(part); b != 0)
                    m_values.htmlParts.push_back({PartHeaderAt(b), PartContent(b, part.size())});
            }
            if (part.find(kFileNameParam) != std::string_view::npos ||
                part.find(kExtendedFileNameParam) != std::string_view::npos)
                GetAttachment(part);
            // Two parts with the same header lines are two parts: the next one is looked for
            // after this one.
            if (const std::size_t b = FindPart(part); b != 0) m_partCursor = b + part.size();
            c1 = Find(header, c2, kContentTypeName);
        }
    });
    if (!ok) {
        m_values.body.clear();
        m_values.plainParts.clear();
        m_values.htmlParts.clear();
    }
}

void clsNetscape::GetBodyPart(std::string_view sSearch) {
    const std::size_t b = FindPart(sSearch);
    if (b == 0) return;
    std::string content = PartContent(b, sSearch.size());
    m_values.body += content;
    m_values.plainParts.push_back({PartHeaderAt(b), std::move(content)});
}

std::string clsNetscape::PartHeaderAt(std::size_t at) const {
    const std::string_view msg = m_messageText;
    if (at < 1 || at > msg.size()) return {};
    // A part's Content-Transfer-Encoding may stand before its Content-Type.
    std::size_t start = at - 1;
    if (const std::size_t boundary = FindDelimiterBefore(msg, m_boundary, start);
        boundary != std::string_view::npos && !m_boundary.empty()) {
        const std::size_t lineEnd = msg.find('\n', boundary);
        if (lineEnd != std::string_view::npos && lineEnd < start) start = lineEnd + 1;
    }
    std::size_t end = msg.find(kBlankLine, at - 1);
    end = end == std::string_view::npos ? msg.size() : end + kCrLf.size();
    return std::string(msg.substr(start, end - start));
}

void clsNetscape::GetAttachment(std::string_view sSearch) {
    // Decoding needs the run's scratch files: the walk's own thread does it.
    if (m_aheadCopy) {
        m_leftToWalk = true;
        return;
    }
    Guard(InMessage(kCtxAttachment), [&] {
        const std::size_t b = FindPart(sSearch);
        if (b == 0) return;
        const std::string content = PartContent(b, sSearch.size());

        // The name stands in double quotes right after the first "name=" (which may be the
        // tail of "filename="), on the same line. A name given only in the RFC 2231 form
        // ("filename*=UTF-8''...", continued or not) is read from the part's header.
        std::size_t open = 0, close = 0;
        bool quoted = false;
        if (const std::size_t f = sSearch.find(kNameParam); f != std::string_view::npos) {
            open = f + kNameParam.size();
            if (open < sSearch.size() && sSearch[open] == '"') {
                close = sSearch.find_first_of("\"\r\n", open + 1);
                quoted = close != std::string_view::npos && sSearch[close] == '"';
            }
        }
        std::string name;
        if (quoted) {
            name = sSearch.substr(open + 1, close - open - 1);
        } else {
            // Only the RFC 2231 form is read from the header; a plain name must be quoted.
            if (sSearch.find("name*") == std::string_view::npos) Raise(kErrInvalidCall);
            const std::string partHeader = PartHeaderAt(b);
            std::optional<std::string> given;
            if (const auto disposition = HeaderFieldValue(partHeader, "Content-Disposition"))
                given = HeaderParameter(*disposition, "filename");
            if (const auto type = HeaderFieldValue(partHeader, "Content-Type"); !given && type)
                given = HeaderParameter(*type, "name");
            if (!given || given->empty()) Raise(kErrInvalidCall);
            name = *given;
        }
        if (const std::size_t slash = name.find_last_of("/\\");
            name.size() - (slash == std::string::npos ? 0 : slash + 1) > kMaxAttachmentNameBytes) {
            ReportLimit(kNameTooLong, kMaxAttachmentNameBytes);
        }

        // The file is named by us, not by the message: a safe base name, unique within the
        // message, in the scratch directory.
        const std::string fileName = AttachmentFileName(name, m_attachmentNames);
        const std::string quotedName = "\"" + fileName + "\"";
        std::string rebuilt;
        rebuilt.reserve(sSearch.size() + quotedName.size());
        if (quoted) {
            rebuilt.append(sSearch.substr(0, open))
                .append(quotedName)
                .append(sSearch.substr(close + 1));
        } else {
            rebuilt = sSearch;
        }

        // Join a folded Content-Type line; a line end that is not a fold stays.
        if (const std::size_t crlf = rebuilt.find(kCrLf);
            crlf != std::string::npos && crlf + 2 < rebuilt.size() &&
            (rebuilt[crlf + 2] == ' ' || rebuilt[crlf + 2] == '\t')) {
            rebuilt.erase(crlf, 2);
        }
        // The decoder names its output after the Content-Type's name parameter; when the
        // name stood only in another field, the Content-Type is given it too.
        if (const std::size_t fieldEnd = FieldEnd(rebuilt);
            UCase(std::string_view(rebuilt).substr(0, fieldEnd)).find("NAME=") ==
            std::string::npos) {
            rebuilt.insert(fieldEnd, "; " + std::string(kNameParam) + quotedName);
        }
        // A part without a transfer encoding is 7bit, written as it stands (a forwarded
        // message usually is); the decoder wants that said.
        if (UCase(rebuilt).find("CONTENT-TRANSFER-ENCODING:") == std::string::npos)
            rebuilt.insert(FieldEnd(rebuilt), "\r\nContent-Transfer-Encoding: 7bit");

        const std::string& dir = ScratchDir();
        if (dir.empty()) RaiseNoScratchDir();
        const std::string path = ScratchFile(fileName);
        const std::string scratch = ScratchFile(kScratchMessageFile);
        // The part is decoded from memory; its decoded bytes are kept as the scratch file's
        // content and written only when something needs the file itself (see scratch_dir.h).
        std::string entity;
        entity.reserve(rebuilt.size() + content.size() + kCrLf.size());
        entity.append(rebuilt).append(content).append(kCrLf);

        if (!m_decoder) Raise(kErrObjectRequired);
        // A failed decode must not leave an older file of that name to be read instead.
        RemoveScratchFile(path);
        // A refused decode is odd mail, not a failure of the program: the attachment is left
        // out and the refusal noted, without a box.
        std::vector<DecodedFile> decoded;
        if (!m_decoder->DecodeBytes(entity, scratch, dir, decoded)) {
            WriteLog(kErrorLog, InMessage(std::string(kCtxAttachment) + "\n" +
                                          std::string(kDecodeRefused) + " " + fileName));
            return;
        }
        for (DecodedFile& file : decoded) KeepScratchFile(file.path, std::move(file.bytes));
        m_attachmentFiles.push_back(path);
        m_attachmentTypes.push_back(MimeTypeOf(sSearch));
    });
}

// ---------------------------------------------------------------------------------------------
// Fields

std::string clsNetscape::FieldValue(std::size_t at, std::size_t nameLength) const {
    const std::string_view header = m_header;
    const std::string_view lineEnd = m_format.lineEnd;
    // A line that starts with a blank continues the field: its line end goes, the blank
    // stays. The header ends with the CR of its last line, so its end is a line end too.
    std::string unfolded;
    std::string_view value;
    std::size_t from = at + nameLength;
    for (bool first = true;; first = false) {
        std::size_t end = Find(header, from, lineEnd);
        if (end == 0) end = header.size() + 1;
        std::string_view piece = Slice(header, from, end - from);
        if (!piece.empty() && piece.back() == '\r') piece.remove_suffix(1);
        std::size_t next = end + lineEnd.size();  // 1-based start of the next line
        if (next <= header.size() && header[next - 1] == '\n') ++next;
        const bool continued = next <= header.size() && unfolded.size() <= kMaxFieldValueBytes &&
                               (header[next - 1] == ' ' || header[next - 1] == '\t');
        if (first && !continued) {
            value = piece;
            break;
        }
        unfolded.append(piece);
        if (!continued) {
            value = unfolded;
            break;
        }
        from = next;
    }
    value = TrimView(value);
    if (value.size() > kMaxFieldValueBytes) {
        ReportLimit(kFieldTooLong, kMaxFieldValueBytes);
        // Cut before a byte that continues a UTF-8 sequence, so no character is split.
        std::size_t cut = kMaxFieldValueBytes;
        while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80) --cut;
        value = value.substr(0, cut);
    }
    return Trim(value);
}

void clsNetscape::GetSubject() {
    Guard(kCtxSubject, [&] {
        if (const std::size_t at = Find(m_header, 1, kSubjectName); at != 0) {
            m_values.subject = FieldValue(at, kSubjectName.size());
        }
    });
}

void clsNetscape::GetReceipent() {
    Guard(kCtxReceipent, [&] {
        const std::string_view header = m_header;
        std::size_t at = Find(header, 1, kToName);
        // Only a field at a line start: "Reply-To:" and the like are passed over.
        while (at > 1 && header[at - 2] != '\n' && header[at - 2] != '\r') {
            at = Find(header, at + 1, kToName);
        }
        if (at == 0) {
            m_values.receipentName = m_values.receipentAddress = kUnknownRecipient;
            Raise(kErrInvalidCall);
        }
        SetAddressProp(FieldValue(at, kToName.size()), kSenderPropRecipient);
    });
}

void clsNetscape::GetSender() {
    Guard(InMessage(kCtxSender), [&] {
        const std::size_t at = Find(m_header, 1, kFromName);
        if (at == 0) Raise(kErrInvalidCall);
        SetAddressProp(FieldValue(at, kFromName.size()), kSenderPropSender);
    });
}

void clsNetscape::GetReplyTo() {
    Guard(kCtxReplyTo, [&] {
        if (const std::size_t at = Find(m_header, 1, kReplyToName); at != 0) {
            SetAddressProp(FieldValue(at, kReplyToName.size()), kSenderPropReplyTo);
        }
    });
}

void clsNetscape::GetSentDate() {
    Guard(kCtxSentDate, [&] {
        const std::size_t at = Find(m_header, 1, kDateName);
        if (at == 0) {
            ReportError(std::string(kNoSentDate) + "\n" + std::string(kInMessageNumber) +
                            std::to_string(m_messageIndex),
                        true, false);
            return;
        }
        const DateAndTime dt = ConvertDateText(SentDateText(FieldValue(at, kDateName.size())));
        m_values.sentDate = dt.date;
        m_values.sentTime = dt.time;
    });
}

void clsNetscape::GetReceiveDate() {
    Guard(kCtxReceiveDate, [&] {
        // An mbox message without a "From " line (a file holding a lone message) carries no
        // delivery date: the receive date stays empty, which is no failure.
        if (m_format.mbox && !m_header.starts_with(m_format.receiveMarker)) return;
        const std::size_t at = Find(m_header, 1, m_format.receiveMarker);
        if (at == 0) Raise(kErrInvalidCall);
        const std::string rest = FieldValue(at, m_format.receiveMarker.size());
        const DateAndTime dt = ConvertDateText(
            m_format.mbox ? MboxReceiveDateText(rest) : ReceiveDateText(rest, m_format.eudora));
        m_values.receiveDate = dt.date;
        m_values.receiveTime = dt.time;
    });
}

void clsNetscape::SetAddressProp(std::string_view value, std::string_view type) {
    if (TrimView(value).empty()) return;
    // The message record's own rule splits the value; its sender pair serves as the scratch.
    m_addressRules.SetSenderName("");
    m_addressRules.SetSenderAddress("");
    m_addressRules.SetSenderProp(value, kSenderPropSender);
    std::string name = m_addressRules.SenderName();
    std::string address = m_addressRules.SenderAddress();
    if (type == kSenderPropSender) {
        m_values.senderName = std::move(name);
        m_values.senderAddress = std::move(address);
    } else if (type == kSenderPropReplyTo) {
        m_values.replyToName = std::move(name);
        m_values.replyToAddress = std::move(address);
    } else if (type == kSenderPropRecipient) {
        m_values.receipentName = std::move(name);
        m_values.receipentAddress = std::move(address);
    }
}

std::string clsNetscape::RemoveQuotes(std::string_view value) {
    return m_addressRules.RemoveQuotes(value);
}

// ---------------------------------------------------------------------------------------------
// The rest of the contract

void clsNetscape::DoDeleteMessage() {
    MsgBox(kDeleteNotImplemented, MsgButtons::Ok, MsgIcon::None, ProductName());
}

std::string clsNetscape::ConvertAddress() {
    return m_values.senderAddress;
}

void clsNetscape::Disconnect() {
    m_ahead.reset();
}

void clsNetscape::Cleanup() {
    if (ScratchDir().empty()) return;
    RemoveQuietly(ScratchFile(kScratchMessageFile));
    for (std::size_t i = 1; i < m_attachmentFiles.size(); ++i)
        RemoveScratchFile(m_attachmentFiles[i]);
}

std::unique_ptr<colNetscape> NewColNetscape() {
    return std::make_unique<colNetscape>(kColContexts);
}

}  // namespace tallix::sources
