#include "engine/extraction.h"

#include <array>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "engine/extraction_text.h"
#include "engine/output_line.h"
#include "engine/procedure_contexts.h"
#include "engine/scripting.h"
#include "model/field_vocabulary.h"
#include "model/message.h"
#include "model/template.h"
#include "settings/error_reporter.h"
#include "settings/global_utils.h"
#include "settings/system_rules.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"
#include "sources/mail_source.h"

namespace tallix::engine {
namespace {

constexpr std::string_view kMessageNotInitialized =
    "called ParseMessage called with message not initialized.";

std::int32_t AttachmentCount(const txMessage& message) {
    auto attachments = message.Attachments();
    return attachments ? attachments->Count() : 0;
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

void ParseMessage(RunContext& run, MessageWork& message, TemplateWork& work) {
    bool finished = Guard(context::kParseMessage, [&] {
        if (!message.source.Message()) {
            ReportError(message.source.ID() + std::string(kMessageNotInitialized), true);
            return;
        }
        LetEventsRun();
        if (!MatchesFilter(run, message, *work.tpl)) return;
        message.templateStatus.at(work.index) = TemplateOutcome::Parsed;
        std::int32_t count = work.tpl->colFields()->Count();
        for (std::int32_t k = 1; k <= count; ++k) {
            if (!ParseVariable(run, message, work, k)) message.MarkTemplateFailed(work.index);
            LetEventsRun();
        }
        if (run.settings.useScripts) {
            DoScripts(run, work);
            // The scripts may have changed this message's copy of the output definition or of
            // the delimiter word; the line is built from what they say now.
            work.delimiter = ",";
            work.outputOrder = ParseOutput(work.tpl->colOutPutLines()->Item(1), work.delimiter);
            SetDelimiter(work);
        }
        CreateOutputString(work);
        if (!AppendOutput(run, work)) message.MarkTemplateFailed(work.index);
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

// GetValue's work; false when it failed (and was reported).
bool TakeValue(const MessageWork& message, std::string_view fieldName, std::int32_t attachmentIndex,
               std::string& result) {
    return Guard(context::kGetValue, [&] {
        const std::string field = Trim(fieldName);
        txMessage& m = message.Message();
        if (field == kFieldAttachment) {
            if (attachmentIndex == 0) return;
            result = m.GetAttachString(m.Attachments()->Item(attachmentIndex));
            if (m.bIsHtml()) errStripHtml(result);
            return;
        }
        for (const FieldRow& row : kFieldReaders) {
            if (row.name == field) {
                result = row.read(m, message);
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

std::string GetDateString(const MessageWork& message, std::string_view which) {
    return GuardValue<std::string>(context::kGetDateString, "", [&] {
        txMessage& m = message.Message();
        if (which == "Sent") return DatePart(m.SentDate());
        if (which == "Received") return DatePart(m.ReceiveDate());
        return std::string();
    });
}

namespace {

VariableSearch SearchOf(const clsExportField& variable) {
    VariableSearch search;
    search.field = UCase(variable.FieldType());
    search.ignoreCase = variable.MatchCase() == "0";
    search.start = variable.FindStart();
    search.stop = variable.FindStop();
    if (search.ignoreCase) {
        search.start = UpperCaseText(search.start);
        search.stop = UpperCaseText(search.stop);
    }
    search.wholeWord = variable.MatchWholeString();
    search.lineStartOnly = variable.StartOfLineOnly() == "1";
    return search;
}

constexpr std::size_t kKeptSearches = 1024;  // above this, entries of gone variables are dropped

// The value between the start and the stop string in `text` (the field's text, or attachment
// `index`'s); nothing when either is not found or the stop does not lie after the start.
std::optional<std::string> CutValue(RunContext& run, MessageWork& message,
                                    const VariableSearch& search, std::int32_t index,
                                    const std::string& text) {
    const std::string& working = search.ignoreCase ? run.fields.Upper(search.field, index) : text;
    std::size_t s = FindStartPos(search.start, working, search.wholeWord);
    // Only the first occurrence is looked at: when it does not begin a line, nothing is found.
    if (search.lineStartOnly && s > search.start.size() + 1 &&
        !IsLineBreak(working[s - search.start.size() - 2]))
        s = 0;
    if (s == 0) return std::nullopt;
    const std::size_t e = FindStopPos(search.stop, working, s);
    if (e <= s) return std::nullopt;
    // A trial notes where the value was cut from (ParseVariable adds the variable).
    if (std::vector<FoundText>* found = message.found)
        found->push_back({0, search.field, index, s - 1, e - s});
    return TrimLineBreaks(Trim(std::string_view(text).substr(s - 1, e - s)));
}

// The variable's value from its field, or from the first attachment, in order, that holds it;
// a blank text ends the search.
std::string ValueOf(RunContext& run, MessageWork& message, const VariableSearch& search) {
    const bool attachments = search.field == kFieldAttachment;
    const std::int32_t last = attachments ? AttachmentCount(message.Message()) : 0;
    for (std::int32_t index = attachments ? 1 : 0; index <= last; ++index) {
        const std::string& text = FieldText(run, message, search.field, index);
        if (TrimView(text).empty()) break;
        if (std::optional<std::string> value = CutValue(run, message, search, index, text))
            return std::move(*value);
    }
    return {};
}

}  // namespace

const VariableSearch& VariableSearches::For(const std::shared_ptr<clsExportField>& variable) {
    if (auto it = m_kept.find(variable.get());
        it != m_kept.end() && it->second.variable.lock() == variable)
        return it->second.search;
    if (m_kept.size() >= kKeptSearches)
        std::erase_if(m_kept, [](const auto& entry) { return entry.second.variable.expired(); });
    Kept& entry = m_kept[variable.get()];
    entry = Kept{variable, SearchOf(*variable)};
    return entry.search;
}

bool ParseVariable(RunContext& run, MessageWork& message, TemplateWork& work,
                   std::int32_t position) {
    return Guard(context::kParseVariable, [&] {
        auto variable = work.tpl->colFields()->Item(position);
        if (!variable) Raise(kErrSubscript);
        std::vector<FoundText>* found = message.found;
        const std::size_t noted = found ? found->size() : 0;
        const std::string value = ValueOf(run, message, run.searches.For(variable));
        if (found && found->size() > noted) found->back().variable = position;
        variable->SetValue(value);
        if (NumberOf(variable->UseQuotes()) == 1) variable->SetValue(ChangeQuotes(value));
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
        if (field != kFieldAttachment) {
            if (TrimView(FieldText(run, message, field, 0)).empty()) return false;
            return fields.Upper(field, 0).find(wanted) != std::string::npos;
        }
        const std::int32_t count = AttachmentCount(message.Message());
        for (std::int32_t i = 1; i <= count; ++i) {
            if (TrimView(FieldText(run, message, kFieldAttachment, i)).empty()) continue;
            if (fields.Upper(kFieldAttachment, i).find(wanted) != std::string::npos) return true;
        }
        return false;
    });
}

}  // namespace tallix::engine
