#pragma once
// A trial of one template: the template as it stands in memory (saved or not) applied to
// messages through the run's own code (filter, extraction, scripts, output line, duplicate
// check), with the lines collected instead of appended. A trial writes no output file, no
// last-run stamp and no log, shows no box and deletes no message; it works on a run context of
// its own, so a trial and a run share nothing mutable.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/run_context.h"

namespace tallix {
class clsTemplate;
}
namespace tallix::sources {
class AttachmentDecoder;
class MailSource;
}  // namespace tallix::sources

namespace tallix::engine {

// The output of a trial. The duplicate check answers from the real output file, read but
// never opened for writing, together with the lines the trial has "written" so far, so a
// trial holds back exactly the lines a run would.
class TrialOutput final : public OutputSink {
  public:
    // 0 when the file could be opened for appending as a run opens it, else the errno a run
    // would meet; nothing is created.
    int Open(const std::string& path) override;
    int HoldsLine(const std::string& path, const std::string& trimmed, bool& found,
                  const LineForm& form = {}) override;
    int Append(const std::string& path, std::string_view line, const LineForm& form = {}) override;
    // Keeps the record as a line "printed".
    void Print(const std::function<std::string()>& record) override;

    struct Line {
        std::string path;  // "printer" for a printed record
        std::string text;
    };
    const std::vector<Line>& Lines() const { return m_lines; }

  private:
    struct File {
        std::string content;  // the real file's bytes as read, then the trial's lines
        std::unordered_set<std::string> lines;
        LineSplit split = LineSplit::CrLf;
    };
    int Load(const std::string& path, File*& file, LineSplit split);

    std::unordered_map<std::string, File> m_files;
    std::vector<Line> m_lines;
};

struct TrialVariable {
    std::string name;
    std::string field;
    std::string value;
};

// What the template made of one message.
struct TrialMessage {
    std::int32_t number = 0;  // from 1, in the source's order
    std::string subject;
    std::string body;
    // The sender's name and address as the SENDER_NAME and SENDER_ADDRESS fields read them.
    std::string senderName;
    std::string senderAddress;
    bool matched = false;  // the filter let the message through
    bool failed = false;   // something went wrong with the template on this message
    std::vector<TrialVariable> variables;
    std::string outputLine;  // the (last) line as a run builds it ("" when not matched)
    bool written = false;    // a run would append it (false: not matched, or a duplicate)
    // Every line the message gives (one per attachment or per repeated occurrence), and
    // whether a run would append each.
    std::vector<std::string> lines;
    std::vector<bool> linesWritten;
    std::vector<FoundText> found;
    // Each attachment's name and its text as the ATTACHMENT field reads it (a PDF's or a
    // spreadsheet's converted text; "" for one extensions.txt excludes).
    std::vector<std::pair<std::string, std::string>> attachments;
    std::vector<std::string> reports;   // what a run would have reported or asked
    std::vector<std::string> withheld;  // what the scripts would have done to files and programs
};

class TemplateTrial {
  public:
    // Copies `tpl`; the caller's template (and its file) is never touched. `settings` are
    // the values a run would read (the script language and directory among them).
    TemplateTrial(const SettingsState& settings, const clsTemplate& tpl);
    ~TemplateTrial();
    TemplateTrial(const TemplateTrial&) = delete;
    TemplateTrial& operator=(const TemplateTrial&) = delete;

    // The template against the current message of `source` (a fresh copy per message, as a
    // run reads it anew for every message).
    TrialMessage Apply(sources::MailSource& source, std::int32_t number);
    const TrialOutput& Output() const { return m_output; }

  private:
    std::shared_ptr<clsTemplate> m_template;
    std::string m_name;
    TrialOutput m_output;
    RunContext m_run;
};

struct TrialSummary {
    bool connected = false;
    bool cancelled = false;
    std::int32_t total = 0;  // messages the source announced
    std::int32_t messages = 0;
    std::int32_t matched = 0;
    std::int32_t written = 0;  // lines a run would append
    std::int32_t failed = 0;
    std::vector<std::string> reports;  // reports of the source itself (connecting, reading)
};

// Called per message with the number of messages announced; returning false cancels.
using TrialProgress = std::function<bool(const TrialMessage&, std::int32_t total)>;

// Walks every message of `source` (connect, first, next, disconnect; never a deletion) with a
// trial of `tpl`. `cancel`, when given, is looked at between messages.
TrialSummary TrySource(const SettingsState& settings, const clsTemplate& tpl,
                       sources::MailSource& source, const TrialProgress& progress,
                       const std::atomic<bool>* cancel = nullptr);

// The kinds of message file a trial reads.
enum class MessageFileKind {
    Mailbox,  // a Netscape or Eudora mailbox file: messages behind "From -" separator lines
    Mbox,     // a standard mbox file: "From " followed by the sender and the date
    Message,  // one message (.eml): header fields, a blank line, the body
    Unreadable,
};
// The kind by the file's first bytes; `error` gets the errno when it cannot be read.
MessageFileKind DetectMessageFile(const std::string& path, int& error);

// A source over a message file: a mailbox or standard mbox file is read where it lies; one
// message is copied, behind a separator line, into a mailbox in the scratch directory and read
// from there. nullptr (and `problem` set) when the file cannot be read.
// `settings` are the trial's: with "EUDORA" a file that starts "From " and a sender is read as a
// Eudora mailbox. The source decodes attachments through `decoder`, which must be used on the
// calling thread only (the engine's MimeHost() on the program's main thread, or a host of the
// trial's own).
std::unique_ptr<sources::MailSource> OpenMessageFile(const std::string& path,
                                                     const SettingsState& settings,
                                                     sources::AttachmentDecoder& decoder,
                                                     std::string& problem);

// A text with its control characters made visible: CR as "\r", LF as "\n", tab as "\t",
// others as "\xHH".
std::string VisibleText(std::string_view text);

// The largest message file a trial copies into the scratch directory.
inline constexpr std::size_t kMaxTrialMessageBytes = 64u * 1024u * 1024u;

}  // namespace tallix::engine
