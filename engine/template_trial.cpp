#include "engine/template_trial.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "engine/disposal.h"
#include "engine/engine_run.h"
#include "engine/extraction.h"
#include "engine/output_files.h"
#include "engine/output_line.h"
#include "engine/procedure_contexts.h"
#include "engine/script_host/script_host.h"
#include "model/export_field.h"
#include "model/field_vocabulary.h"
#include "model/file_bytes.h"
#include "model/message.h"
#include "model/template.h"
#include "settings/error_reporter.h"
#include "settings/global_utils.h"
#include "settings/report_capture.h"
#include "settings/scratch_dir.h"
#include "settings/settings_store.h"
#include "settings/text_functions.h"
#include "sources/netscape_source.h"

namespace tallix::engine {
namespace {

constexpr std::string_view kUnsavedName = "(unsaved template)";
// The separator line put before a single message so the mailbox reader takes it as one.
// Its line end is the message's own: the reader takes a file's line ends from its first line.
constexpr std::string_view kMessageSeparator = "From - Thu Jan  1 00:00:00 1970";
constexpr std::string_view kTrialMailbox = "$$trial-mailbox";

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

// ---- TrialOutput --------------------------------------------------------------------------

int TrialOutput::Open(const std::string& path) {
    // What opening for appending (created when missing) would meet, found without creating.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return EISDIR;
        if (!S_ISREG(st.st_mode)) return EINVAL;
        return ::access(path.c_str(), W_OK) == 0 ? 0 : errno;
    }
    if (errno != ENOENT) return errno;
    const std::string dir = DirectoryOf(path);
    struct stat dirStat {};
    if (::stat(dir.c_str(), &dirStat) != 0) return errno;
    if (!S_ISDIR(dirStat.st_mode)) return ENOTDIR;
    return ::access(dir.c_str(), W_OK | X_OK) == 0 ? 0 : errno;
}

int TrialOutput::Load(const std::string& path, File*& file, LineSplit split) {
    auto it = m_files.find(path);
    if (it == m_files.end()) {
        File loaded;
        int error = ReadRegularFile(path, loaded.content);
        if (error == ENOENT)
            loaded.content.clear();  // a run would create it empty
        else if (error)
            return error;
        it = m_files.emplace(path, std::move(loaded)).first;
        it->second.split = split;
        ForEachReadLine(
            it->second.content, [&](std::string_view l) { it->second.lines.insert(Trim(l)); },
            split);
    } else if (it->second.split != split) {
        File& f = it->second;
        f.split = split;
        f.lines.clear();
        ForEachReadLine(
            f.content, [&](std::string_view l) { f.lines.insert(Trim(l)); }, split);
    }
    file = &it->second;
    return 0;
}

int TrialOutput::HoldsLine(const std::string& path, const std::string& trimmed, bool& found,
                           const LineForm& form) {
    found = false;
    if (int error = Open(path)) return error;
    File* file = nullptr;
    if (int error = Load(path, file, form.split)) return error;
    found = file->lines.count(trimmed) != 0;
    return 0;
}

int TrialOutput::Append(const std::string& path, std::string_view line, const LineForm& form) {
    if (int error = Open(path)) return error;
    File* file = nullptr;
    if (int error = Load(path, file, form.split)) return error;
    std::string bytes = file->content.empty() ? form.preamble : std::string();
    bytes.append(line).append(form.end);
    const std::string& c = file->content;
    // The new bytes start a line of their own unless the file ends inside a line (or with a
    // CR that our LF would complete); then the lines are read again, as the duplicate check
    // of a run reads the file again.
    const bool startsLine = c.empty() || c.ends_with("\r\n") ||
                            (form.split == LineSplit::Lf && c.back() == '\n') ||
                            (c.back() == '\r' && bytes.front() != '\n');
    file->content += bytes;
    if (startsLine) {
        ForEachReadLine(
            bytes, [&](std::string_view l) { file->lines.insert(Trim(l)); }, form.split);
    } else {
        file->lines.clear();
        ForEachReadLine(
            file->content, [&](std::string_view l) { file->lines.insert(Trim(l)); }, form.split);
    }
    m_lines.push_back({path, std::string(line)});
    return 0;
}

void TrialOutput::Print(const std::function<std::string()>& record) {
    m_lines.push_back({std::string(kPrinterOutput), record()});
}

// ---- TemplateTrial ------------------------------------------------------------------------

TemplateTrial::TemplateTrial(const SettingsState& settings, const clsTemplate& tpl)
    : m_template(tpl.Clone()), m_run(settings) {
    m_name = Trim(JustFileName(tpl.FileName()));
    if (m_name.empty()) m_name = kUnsavedName;
    m_run.mode = ApplyMode::Trial;
    m_run.output = &m_output;
}

TemplateTrial::~TemplateTrial() = default;

TrialMessage TemplateTrial::Apply(sources::MailSource& source, std::int32_t number) {
    TrialMessage result;
    result.number = number;
    ReportCapture capture;
    script::WithheldEffects withheld;
    MessageWork message(source, 1);
    message.found = &result.found;
    TemplateWork work(m_template->Clone(), 0);
    const std::size_t linesBefore = m_output.Lines().size();
    if (const auto& m = source.Message()) {
        result.subject = m->Subject();
        result.body = m->Body();
    }
    // Inactive templates are tried too: the trial is about what the rules extract.
    Guard(context::kTryTemplate, [&] { ApplyTemplate(m_run, message, work, m_name); });
    // After the template, so an attachment it read is not converted a second time.
    if (const auto& m = source.Message()) {
        result.senderName = RunFieldText(m_run, message, kFieldSenderName, 0);
        result.senderAddress = RunFieldText(m_run, message, kFieldSenderAddress, 0);
        const auto attachments = m->Attachments();
        for (std::int32_t i = 1; attachments && i <= attachments->Count(); ++i)
            result.attachments.emplace_back(RunFieldText(m_run, message, kFieldAttachmentName, i),
                                            RunFieldText(m_run, message, kFieldAttachment, i));
    }
    const TemplateOutcome outcome = message.templateStatus[0];
    result.failed = outcome == TemplateOutcome::Failed || !message.allParsedOK;
    // "Failed" may come before or after the filter: the filter itself answers then.
    result.matched =
        outcome == TemplateOutcome::Parsed ||
        (outcome == TemplateOutcome::Failed && MatchesFilter(m_run, message, *work.tpl));
    if (result.matched) {
        result.outputLine = work.outputLine;
        result.lines = work.lines;
        // Which lines a run would append: the trial output took them in order.
        const auto& taken = m_output.Lines();
        std::size_t next = linesBefore;
        for (const std::string& line : work.lines) {
            const bool appended = next < taken.size() &&
                                  (taken[next].text == line || taken[next].path == kPrinterOutput);
            if (appended) ++next;
            result.linesWritten.push_back(appended);
        }
        for (const auto& field : work.tpl->colFields()->NewEnum())
            result.variables.push_back({field->FieldName(), field->FieldType(), field->Value()});
    }
    result.written = m_output.Lines().size() > linesBefore;
    result.reports = capture.Texts();
    result.withheld = withheld.Texts();
    message.found = nullptr;
    // The scratch files the source wrote for this message go, as after a run's message.
    DeleteTempFiles(m_run, message);
    return result;
}

TrialSummary TrySource(const SettingsState& settings, const clsTemplate& tpl,
                       sources::MailSource& source, const TrialProgress& progress,
                       const std::atomic<bool>* cancel) {
    TrialSummary summary;
    TemplateTrial trial(settings, tpl);
    ReportCapture capture;
    auto cancelled = [&] { return cancel && cancel->load(); };
    SourceWalk walk;
    walk.connected = [&](std::int32_t total) {
        summary.connected = true;
        summary.total = total;
    };
    walk.message = [&](std::int32_t number) {
        if (cancelled()) {
            summary.cancelled = true;
            return false;
        }
        // What the source reported while reading this message belongs to it.
        std::vector<std::string> reading = capture.Texts();
        capture.Clear();
        TrialMessage m = trial.Apply(source, number);
        m.reports.insert(m.reports.begin(), reading.begin(), reading.end());
        ++summary.messages;
        if (m.matched) ++summary.matched;
        // Each line a run would append counts (a message may give several).
        const auto appended = static_cast<std::int32_t>(
            std::count(m.linesWritten.begin(), m.linesWritten.end(), true));
        summary.written += std::max(appended, m.written ? 1 : 0);
        if (m.failed) ++summary.failed;
        if (progress && !progress(m, summary.total)) {
            summary.cancelled = true;
            return false;
        }
        return true;
    };
    Guard(context::kTryTemplate, [&] { ForEachMessage(source, walk); });
    summary.reports = capture.Texts();
    return summary;
}

// ---- message files ------------------------------------------------------------------------

MessageFileKind DetectMessageFile(const std::string& path, int& error) {
    error = 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = errno;
        return MessageFileKind::Unreadable;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return MessageFileKind::Unreadable;
    }
    char head[6] = {};
    const ssize_t n = ::read(fd, head, sizeof head);
    ::close(fd);
    if (n < 0) {
        error = errno;
        return MessageFileKind::Unreadable;
    }
    const std::string_view start(head, static_cast<std::size_t>(n));
    if (start == "From -") return MessageFileKind::Mailbox;
    if (start.starts_with("From ")) return MessageFileKind::Mbox;
    return MessageFileKind::Message;
}

std::unique_ptr<sources::MailSource> OpenMessageFile(const std::string& path,
                                                     const SettingsState& settings,
                                                     sources::AttachmentDecoder& decoder,
                                                     std::string& problem) {
    int error = 0;
    const MessageFileKind kind = DetectMessageFile(path, error);
    if (kind == MessageFileKind::Unreadable) {
        problem = "Cannot read " + path + ": " +
                  std::string(StandardErrorDescription(ErrorNumberFromErrno(error)));
        return nullptr;
    }
    if (kind == MessageFileKind::Mbox) {
        // A Eudora mailbox's separator is "From " and a sender too: with "EUDORA" configured
        // such a file is read as a Eudora mailbox, else as a standard mbox file.
        auto source = std::make_unique<sources::clsNetscape>(
            settings.useSource == kSourceEudora ? kSourceEudora : kSourceFileOther);
        source->SetAttachmentDecoder(&decoder);
        source->SetFilePath(path);
        return source;
    }
    auto source = std::make_unique<sources::clsNetscape>(settings.useSource);
    source->SetAttachmentDecoder(&decoder);
    if (kind == MessageFileKind::Mailbox) {
        source->SetFilePath(path);
        return source;
    }
    std::string message;
    if (int e = ReadRegularFile(path, message)) {
        problem = "Cannot read " + path + ": " +
                  std::string(StandardErrorDescription(ErrorNumberFromErrno(e)));
        return nullptr;
    }
    if (message.size() > kMaxTrialMessageBytes) {
        problem = path + " is larger than " +
                  std::to_string(kMaxTrialMessageBytes / (1024 * 1024)) +
                  " MiB and is not read as one message";
        return nullptr;
    }
    const std::string copy = ScratchFile(kTrialMailbox);
    if (ScratchDir().empty()) {
        problem = "No scratch directory for a copy of " + path;
        return nullptr;
    }
    ::unlink(copy.c_str());
    const std::size_t firstEnd = message.find('\n');
    const bool crlf =
        firstEnd != std::string::npos && firstEnd > 0 && message[firstEnd - 1] == '\r';
    if (int e = WriteNewFile(copy, {kMessageSeparator, crlf ? "\r\n" : "\n", message})) {
        problem = "Cannot copy " + path + " to " + copy + ": " +
                  std::string(StandardErrorDescription(ErrorNumberFromErrno(e)));
        return nullptr;
    }
    source->SetFilePath(copy);
    return source;
}

std::string VisibleText(std::string_view text) {
    static constexpr std::string_view kHex = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\\')
            out += "\\\\";
        else if (u < 0x20 || u == 0x7F) {
            out += "\\x";
            out += kHex[u >> 4];
            out += kHex[u & 0xF];
        } else
            out += c;
    }
    return out;
}

}  // namespace tallix::engine
