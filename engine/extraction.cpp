#include "engine/extraction.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "engine/attachment_parts.h"
#include "engine/attachment_text.h"
#include "engine/extraction_text.h"
#include "engine/output_line.h"
#include "engine/procedure_contexts.h"
#include "engine/scripting.h"
#include "model/field_vocabulary.h"
#include "model/message.h"
#include "model/template.h"
#include "model/template_pattern.h"
#include "settings/error_reporter.h"
#include "settings/global_utils.h"
#include "settings/logs.h"
#include "settings/report_capture.h"
#include "settings/scratch_dir.h"
#include "settings/system_rules.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"
#include "sources/encoded_words.h"
#include "sources/mail_source.h"

namespace tallix::engine {
namespace {

constexpr std::string_view kMessageNotInitialized =
    "called ParseMessage called with message not initialized.";

std::int32_t AttachmentCount(const txMessage& message) {
    auto attachments = message.Attachments();
    return attachments ? attachments->Count() : 0;
}

// The fields that tell of one attachment: its text, name, size or type.
bool IsAttachmentField(std::string_view field) {
    return field == kFieldAttachment || field == kFieldAttachmentName ||
           field == kFieldAttachmentSize || field == kFieldAttachmentType;
}

// The number a flag text holds; a text that is not a number is a type mismatch.
double NumberOf(std::string_view text) {
    std::string_view t = TrimView(text);
    std::size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    bool digits = false;
    for (; i < t.size(); ++i) {
        if (t[i] >= '0' && t[i] <= '9')
            digits = true;
        else if (t[i] != '.')
            break;
    }
    if (!digits || i != t.size()) Raise(kErrTypeMismatch);
    return Val(t);
}

}  // namespace

namespace {

// The values of the template's variables for one message (or one of its attachments) and
// the lines they make: one, or one per occurrence of the repeated variables.
void MakeLines(RunContext& run, MessageWork& message, TemplateWork& work);

}  // namespace

void ParseMessage(RunContext& run, MessageWork& message, TemplateWork& work) {
    bool finished = Guard(context::kParseMessage, [&] {
        if (!message.source.Message()) {
            ReportError(message.source.ID() + std::string(kMessageNotInitialized), true);
            return;
        }
        LetEventsRun();
        if (!MatchesFilter(run, message, *work.tpl)) return;
        message.templateStatus.at(work.index) = TemplateOutcome::Parsed;
        work.lines.clear();
        work.outputLine.clear();
        if (!work.tpl->PerAttachment()) {
            work.attachment = 0;
            MakeLines(run, message, work);
            return;
        }
        // A line for each attachment, in the message's order; none without.
        const std::int32_t count = AttachmentCount(message.Message());
        for (std::int32_t a = 1; a <= count; ++a) {
            work.attachment = a;
            MakeLines(run, message, work);
        }
        work.attachment = 0;
    });
    if (!finished) message.MarkTemplateFailed(work.index);
}

namespace {

// How each field name is read from the current message (and its source). Attachments and
// "<NONE>" are handled by TakeValue itself; a name without a row gives "".
using FieldReader = std::string (*)(txMessage& m, const MessageWork& message);
struct FieldRow {
    std::string_view name;
    FieldReader read;
};
constexpr std::array kFieldReaders{
    FieldRow{kFieldMsgText, [](txMessage& m, const MessageWork&) { return m.Body(); }},
    FieldRow{kFieldMsgSubject, [](txMessage& m, const MessageWork&) { return m.Subject(); }},
    FieldRow{kFieldMsgSentDate,
             [](txMessage&, const MessageWork& w) { return GetDateString(w, "Sent"); }},
    FieldRow{kFieldMsgReceiveDate,
             [](txMessage&, const MessageWork& w) { return GetDateString(w, "Received"); }},
    FieldRow{kFieldMsgSentTime, [](txMessage& m, const MessageWork&) { return m.SentTime(); }},
    FieldRow{kFieldMsgReceiveTime,
             [](txMessage& m, const MessageWork&) { return m.ReceiveTime(); }},
    FieldRow{kFieldReplyToName, [](txMessage& m, const MessageWork&) { return m.ReplyToName(); }},
    FieldRow{kFieldReplyToAddress,
             [](txMessage& m, const MessageWork&) { return m.ReplyToAddress(); }},
    FieldRow{kFieldSenderName, [](txMessage& m, const MessageWork&) { return m.SenderName(); }},
    FieldRow{kFieldSenderAddress,
             [](txMessage&, const MessageWork& w) { return w.source.ConvertAddress(); }},
    FieldRow{kFieldSenderType, [](txMessage& m, const MessageWork&) { return m.SenderType(); }},
    FieldRow{kFieldRecipientName,
             [](txMessage& m, const MessageWork&) { return m.ReceipentName(); }},
    FieldRow{kFieldRecipientAddress,
             [](txMessage& m, const MessageWork&) { return m.ReceipentAddress(); }},
};

// What a date or time field's name is followed by when the template writes it in ISO form:
// the kept text of "MSG_SENT_DATE/ISO" is not the kept text of "MSG_SENT_DATE".
constexpr std::string_view kIsoSuffix = "/ISO";

bool IsDateField(std::string_view field) {
    return field == kFieldMsgSentDate || field == kFieldMsgReceiveDate;
}
bool IsTimeField(std::string_view field) {
    return field == kFieldMsgSentTime || field == kFieldMsgReceiveTime;
}

// The header `name` of the message's header text: the first of that name (any case), its
// folded lines joined, encoded words decoded; "" when the message has none.
std::string HeaderValue(std::string_view header, std::string_view name) {
    if (name.empty()) return {};
    std::string value;
    bool inField = false;
    std::size_t at = 0;
    while (at < header.size()) {
        std::size_t end = header.find_first_of("\r\n", at);
        if (end == std::string_view::npos) end = header.size();
        const std::string_view line = header.substr(at, end - at);
        at = end;
        if (at < header.size() && header[at] == '\r') ++at;
        if (at < header.size() && header[at] == '\n') ++at;
        if (line.empty()) break;  // the end of the message's own header
        const bool folded = line.front() == ' ' || line.front() == '\t';
        if (inField) {
            if (!folded) break;
            value += line;
            continue;
        }
        if (folded) continue;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        if (!EqualsNoCase(TrimView(line.substr(0, colon)), name)) continue;
        value = line.substr(colon + 1);
        inField = true;
    }
    return sources::DecodeEncodedWords(Trim(value));
}

// An attachment that is not text (a PDF, a spreadsheet): `text`, its content as read, becomes
// the text it shows. False for any other attachment, `text` unchanged. A conversion that
// fails leaves the text empty and says why once, naming the message and the attachment.
bool ConvertAttachmentText(const MessageWork& message, const std::string& path,
                           std::string_view type, std::string& text) {
    if (text.empty()) return false;  // excluded by extensions.txt, empty or unreadable
    // The converters (and the look into a zip) read the file by its path: an attachment kept
    // in memory whose first bytes say PDF, zip or OLE2 is written first. Others need no file.
    const std::string_view head = std::string_view(text).substr(0, 1024);
    if (head.find("%PDF-") != std::string_view::npos ||
        head.starts_with(std::string_view("PK\x03\x04", 4)) ||
        head.starts_with("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"))
        WriteKeptScratchFile(path);
    const AttachmentKind kind = KindOfAttachment(path, text, type);
    // A forwarded message is read by the program's own code from the bytes at hand.
    if (kind == AttachmentKind::Message) {
        text = ForwardedMessageText(text);
        return true;
    }
    if (kind == AttachmentKind::Other) return false;
    ConvertedText converted = ConvertAttachmentApart(path, kind);
    text = std::move(converted.text);
    if (!converted.ok)
        NoteAttachmentProblem(message, path, converted.problem, "its text is left empty");
    return true;
}

std::string AttachmentSize(const std::string& path) {
    if (const std::string* kept = KeptScratchFile(path)) return std::to_string(kept->size());
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    return std::to_string(static_cast<long long>(st.st_size));
}

// A date or time text in ISO form; the text as it is when it does not read as one.
std::string IsoForm(const std::string& text, bool date) {
    if (TrimView(text).empty()) return text;
    const std::optional<DateValue> value = ParseDate(text);
    if (!value) return text;
    return date ? IsoDate(*value) : IsoTime(*value);
}

// GetValue's work; false when it failed (and was reported).
bool TakeValue(const MessageWork& message, std::string_view fieldName, std::int32_t attachmentIndex,
               std::string& result) {
    return Guard(context::kGetValue, [&] {
        std::string field = Trim(fieldName);
        txMessage& m = message.Message();
        if (field == kFieldAttachment) {
            if (attachmentIndex == 0) return;
            const std::string path = m.Attachments()->Item(attachmentIndex);
            result = m.GetAttachString(path);
            if (ConvertAttachmentText(message, path, m.AttachmentType(attachmentIndex), result))
                return;
            if (m.bIsHtml()) errStripHtml(result);
            return;
        }
        if (const std::string_view header = HeaderFieldName(field); !header.empty()) {
            result = HeaderValue(m.Header(), header);
            return;
        }
        if (field == kFieldAttachmentName || field == kFieldAttachmentSize ||
            field == kFieldAttachmentType) {
            const auto attachments = m.Attachments();
            if (attachmentIndex < 1 || !attachments || attachmentIndex > attachments->Count())
                return;
            const std::string path = attachments->Item(attachmentIndex);
            if (field == kFieldAttachmentName)
                result = NameOfAttachment(path);
            else if (field == kFieldAttachmentSize)
                result = AttachmentSize(path);
            else
                result = m.AttachmentType(attachmentIndex);
            return;
        }
        const bool iso = field.ends_with(kIsoSuffix);
        if (iso) field.resize(field.size() - kIsoSuffix.size());
        for (const FieldRow& row : kFieldReaders) {
            if (row.name == field) {
                if (iso && IsDateField(field)) {
                    const std::string full =
                        field == kFieldMsgSentDate ? m.SentDate() : m.ReceiveDate();
                    result = IsoForm(full, true);
                } else {
                    result = row.read(m, message);
                    if (iso && IsTimeField(field)) result = IsoForm(result, false);
                }
                return;
            }
        }
        // "<NONE>" and unknown names give "".
    });
}

// The text GetValue gives for a field of the message, taken once per message.
const std::string& FieldText(RunContext& run, const MessageWork& message, std::string_view field,
                             std::int32_t index) {
    run.fields.Use(message.source.Message());
    if (const std::string* kept = run.fields.Find(field, index)) return *kept;
    std::string text;
    const bool read = TakeValue(message, field, index, text);
    return run.fields.Keep(field, index, std::move(text), read);
}

}  // namespace

std::string GetValue(const MessageWork& message, std::string_view fieldName,
                     std::int32_t attachmentIndex) {
    std::string result;
    TakeValue(message, fieldName, attachmentIndex, result);
    return result;
}

const std::string& RunFieldText(RunContext& run, const MessageWork& message,
                                std::string_view fieldName, std::int32_t attachmentIndex) {
    return FieldText(run, message, fieldName, attachmentIndex);
}

std::string GetDateString(const MessageWork& message, std::string_view which) {
    return GuardValue<std::string>(context::kGetDateString, "", [&] {
        txMessage& m = message.Message();
        if (which == "Sent") return DatePart(m.SentDate());
        if (which == "Received") return DatePart(m.ReceiveDate());
        return std::string();
    });
}

namespace {

VariableSearch SearchOf(const clsExportField& variable, const clsTemplate& tpl) {
    VariableSearch search;
    search.field = UCase(variable.FieldType());
    if (EqualsNoCase(tpl.DateFormat(), kDateFormatIso) &&
        (IsDateField(search.field) || IsTimeField(search.field)))
        search.field += kIsoSuffix;
    search.ignoreCase = variable.MatchCase() == "0";
    search.patternText = tpl.Pattern(variable.FieldNameRef());
    if (!search.patternText.empty()) {
        PatternError error;
        search.pattern = CompiledPattern::Compile(search.patternText, search.ignoreCase, error);
        return search;
    }
    search.start = variable.FindStart();
    search.stop = variable.FindStop();
    if (search.ignoreCase) {
        search.start = UpperCaseText(search.start);
        search.stop = UpperCaseText(search.stop);
    }
    search.startMark = StartMark(search.start);
    search.stopMark = StopMark(search.stop);
    search.wholeWord = variable.MatchWholeString();
    search.lineStartOnly = variable.StartOfLineOnly() == "1";
    return search;
}

constexpr std::size_t kKeptSearches = 1024;  // above this, entries of gone variables are dropped

// Where a value lies in a field's text: `length` bytes from `start` (0-based); `next` is where
// the search for the next occurrence begins.
struct Cut {
    std::size_t start = 0;
    std::size_t length = 0;
    std::size_t next = 0;
};

// Says once, for the message, that a pattern was stopped: in the error log in a run, among
// the trial's reports in a trial.
void NotePatternStopped(RunContext& run, const MessageWork& message, const TemplateWork& work,
                        std::string_view variable, const std::string& problem) {
    const std::string text = "Template " + work.tpl->FileName() + ", variable " +
                             std::string(variable) + ": the pattern was stopped (" + problem +
                             ") on a message of " + message.source.ID() +
                             "; the value is left empty";
    if (run.mode == ApplyMode::Trial) {
        if (ReportCapture* capture = ReportCapture::Active()) capture->Add(text);
        return;
    }
    WriteLog(kErrorLog, text);
}

// The first value at or after byte `from` of `text` (the field's text, or attachment
// `index`'s); nothing when none is found. `stopped` is set when a pattern hit its limits.
std::optional<Cut> CutFrom(RunContext& run, const VariableSearch& search, std::int32_t index,
                           const std::string& text, std::size_t from, std::string& stopped) {
    if (!search.patternText.empty()) {
        if (!search.pattern) return std::nullopt;
        const CompiledPattern::Match m = search.pattern->Find(text, from);
        if (m.outcome == CompiledPattern::Outcome::Found) {
            // An empty match goes on one byte further, so a repeat always moves on.
            const std::size_t next = m.matchEnd > from ? m.matchEnd : from + 1;
            return Cut{m.valueStart, m.valueLength, next};
        }
        if (m.outcome != CompiledPattern::Outcome::NotFound) stopped = m.problem;
        return std::nullopt;
    }
    const std::string& working = search.ignoreCase ? run.fields.Upper(search.field, index) : text;
    if (from > working.size()) return std::nullopt;
    const std::string_view rest = std::string_view(working).substr(from);
    std::size_t s = FindStartPos(search.startMark, search.start, rest, search.wholeWord);
    // Only the first occurrence is looked at: when it does not begin a line, nothing is found.
    if (search.lineStartOnly && from + s > search.start.size() + 1 &&
        !IsLineBreak(working[from + s - search.start.size() - 2]))
        s = 0;
    if (s == 0) return std::nullopt;
    const std::size_t e = FindStopPos(search.stopMark, search.stop, rest, s);
    if (e <= s) return std::nullopt;
    return Cut{from + s - 1, e - s, from + e - 1};
}

// The values of a variable, from its field or from the first attachment, in order, that
// holds one (a blank text ends the search); only the first unless `every`. With a line per
// attachment the attachment fields are that attachment's.
std::vector<std::string> ValuesOf(RunContext& run, MessageWork& message, const TemplateWork& work,
                                  std::string_view variable, const VariableSearch& search,
                                  bool every) {
    std::vector<std::string> values;
    const bool attachments = search.field == kFieldAttachment;
    const bool aboutAttachment = !attachments && IsAttachmentField(search.field);
    std::int32_t first = 0, last = 0;
    if (attachments) {
        first = work.attachment ? work.attachment : 1;
        last = work.attachment ? work.attachment : AttachmentCount(message.Message());
    } else if (aboutAttachment) {
        first = last = work.attachment ? work.attachment : 1;
    }
    std::string stopped;
    for (std::int32_t index = first; index <= last; ++index) {
        const std::string& text = FieldText(run, message, search.field, index);
        if (TrimView(text).empty()) break;
        std::size_t from = 0;
        while (std::optional<Cut> cut = CutFrom(run, search, index, text, from, stopped)) {
            // A trial notes where the value was cut from (ParseVariable adds the variable).
            if (std::vector<FoundText>* found = message.found)
                found->push_back({0, search.field, index, cut->start, cut->length});
            std::string value = std::string(std::string_view(text).substr(cut->start, cut->length));
            // A start and stop text cut a value that is trimmed; a pattern's group is the value.
            values.push_back(search.patternText.empty() ? TrimLineBreaks(Trim(value))
                                                        : std::move(value));
            if (!every || cut->next <= from) break;
            from = cut->next;
        }
        if (!stopped.empty()) {
            NotePatternStopped(run, message, work, variable, stopped);
            values.clear();
            break;
        }
        if (!values.empty()) break;
    }
    return values;
}

// A variable's value as the output takes it.
std::string AsStored(const clsExportField& variable, std::string value) {
    if (NumberOf(variable.UseQuotesRef()) == 1) return ChangeQuotes(value);
    return value;
}

}  // namespace

const VariableSearch& VariableSearches::For(const std::shared_ptr<clsExportField>& variable,
                                            const clsTemplate& tpl) {
    // The entry is this variable's when it shares its owner: the weak pointer keeps the
    // owner's record, so a later variable at the same address never has the same owner.
    if (auto it = m_kept.find(variable.get()); it != m_kept.end() &&
                                               !it->second.variable.owner_before(variable) &&
                                               !variable.owner_before(it->second.variable))
        return it->second.search;
    if (m_kept.size() >= kKeptSearches)
        std::erase_if(m_kept, [](const auto& entry) { return entry.second.variable.expired(); });
    Kept& entry = m_kept[variable.get()];
    entry = Kept{variable, SearchOf(*variable, tpl)};
    return entry.search;
}

namespace {

// The values of `variable`, the one at `position` (null: there is none): at every occurrence
// with `every`, else the first; a trial notes where they were cut from.
std::vector<std::string> VariableValues(RunContext& run, MessageWork& message,
                                        const TemplateWork& work, std::int32_t position,
                                        const std::shared_ptr<clsExportField>& variable,
                                        bool every) {
    if (!variable) Raise(kErrSubscript);
    std::vector<FoundText>* found = message.found;
    const std::size_t noted = found ? found->size() : 0;
    std::vector<std::string> values = ValuesOf(run, message, work, variable->FieldNameRef(),
                                               run.searches.For(variable, *work.tpl), every);
    if (found)
        for (std::size_t i = noted; i < found->size(); ++i) (*found)[i].variable = position;
    return values;
}

// ParseVariable's work once the variable at `position` is at hand.
void ParseOne(RunContext& run, MessageWork& message, TemplateWork& work, std::int32_t position,
              const std::shared_ptr<clsExportField>& variable) {
    std::vector<std::string> values = VariableValues(run, message, work, position, variable, false);
    variable->SetValue(AsStored(*variable, values.empty() ? std::string() : values.front()));
}

// The values of `variable`, the one at `position`, at every occurrence; false when it failed
// (reported).
bool ParseRepeated(RunContext& run, MessageWork& message, TemplateWork& work, std::int32_t position,
                   const std::shared_ptr<clsExportField>& variable,
                   std::vector<std::string>& values) {
    return Guard(context::kParseVariable, [&] {
        values = VariableValues(run, message, work, position, variable, true);
        for (std::string& value : values) value = AsStored(*variable, std::move(value));
    });
}

void MakeLines(RunContext& run, MessageWork& message, TemplateWork& work) {
    const auto fields = work.tpl->colFields();
    const std::int32_t count = fields->Count();
    const std::vector<std::string> repeatedNames = work.tpl->RepeatedVariables();
    const auto repeated = [&](const std::string& name) {
        const std::string_view trimmed = TrimView(name);
        return std::any_of(repeatedNames.begin(), repeatedNames.end(),
                           [&](const std::string& r) { return EqualsNoCase(r, trimmed); });
    };
    // The occurrences of each repeated variable, by position.
    std::vector<std::pair<std::int32_t, std::vector<std::string>>> occurrences;
    std::size_t lines = 1;
    for (std::int32_t k = 1; k <= count; ++k) {
        auto variable = fields->Item(k);
        if (variable && !repeatedNames.empty() && repeated(variable->FieldNameRef())) {
            std::vector<std::string> values;
            if (!ParseRepeated(run, message, work, k, variable, values))
                message.MarkTemplateFailed(work.index);
            if (occurrences.empty()) lines = 0;
            lines = std::max(lines, values.size());
            occurrences.emplace_back(k, std::move(values));
        } else if (!Guard(context::kParseVariable,
                          [&] { ParseOne(run, message, work, k, variable); })) {
            message.MarkTemplateFailed(work.index);
        }
        LetEventsRun();
    }
    // Line i takes occurrence i of every repeated variable (empty where one has fewer); the
    // other variables keep their one value.
    for (std::size_t line = 0; line < lines; ++line) {
        for (auto& [position, values] : occurrences)
            if (auto variable = fields->Item(position))
                variable->SetValue(line < values.size() ? values[line] : std::string());
        if (run.settings.useScripts) {
            // A script that failed leaves the line without what it was to give: the template
            // fails for this message, no (further) line is written and the message is not
            // deleted. Scripts run in a process of their own and may open the attachments'
            // files by their paths: the ones kept in memory are written first, and so are
            // the lines gathered for the output files, which a script may read.
            WriteKeptScratchFiles();
            FlushOutput(run, &message);
            if (!DoScripts(run, work)) {
                message.MarkTemplateFailed(work.index);
                return;
            }
            // The scripts may have changed this message's copy of the output definition or of
            // the delimiter word; the line is built from what they say now.
            work.delimiter = ",";
            work.outputOrder = ParseOutput(work.tpl->colOutPutLines()->Item(1), work.delimiter);
            SetDelimiter(work);
        }
        CreateOutputString(work);
        work.lines.push_back(work.outputLine);
        if (!AppendOutput(run, work)) message.MarkTemplateFailed(work.index);
    }
}

}  // namespace

bool ParseVariable(RunContext& run, MessageWork& message, TemplateWork& work,
                   std::int32_t position) {
    return Guard(context::kParseVariable, [&] {
        ParseOne(run, message, work, position, work.tpl->colFields()->Item(position));
    });
}

bool MatchesFilter(RunContext& run, MessageWork& message, const clsTemplate& tpl) {
    return GuardValue(context::kMatchesFilter, false, [&] {
        auto filter = tpl.objFilter();
        const std::string field = filter->MapiField();
        const std::string find = filter->FindString();
        if (field == kFieldNone || TrimView(find).empty()) return true;
        const std::string wanted = UpperCaseText(find);
        MessageFields& fields = run.fields;
        if (!IsAttachmentField(field)) {
            if (TrimView(FieldText(run, message, field, 0)).empty()) return false;
            return fields.Upper(field, 0).find(wanted) != std::string::npos;
        }
        // Any attachment that holds the text lets the message through.
        const std::int32_t count = AttachmentCount(message.Message());
        for (std::int32_t i = 1; i <= count; ++i) {
            if (TrimView(FieldText(run, message, field, i)).empty()) continue;
            if (fields.Upper(field, i).find(wanted) != std::string::npos) return true;
        }
        return false;
    });
}

}  // namespace tallix::engine
