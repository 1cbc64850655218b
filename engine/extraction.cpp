#include "engine/extraction.h"

#include <array>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "engine/extraction_text.h"
#include "engine/output_line.h"
#include "engine/run_state.h"
#include "engine/scripting.h"
#include "engine/template_trial.h"
#include "model/field_vocabulary.h"
#include "model/message.h"
#include "model/template.h"
#include "settings/error_reporter.h"
#include "settings/settings_store.h"
#include "settings/system_rules.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"
#include "sources/mail_source.h"

namespace tallix::engine {
namespace {

constexpr std::string_view kMessageNotInitialized =
    "called ParseMessage called with message not initialized.";

txMessage& CurrentMessage() {
    sources::MailSource* source = CurrentRun().currentSource;
    if (!source || !source->Message()) Raise(kErrObjectRequired);
    return *source->Message();
}

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

void ParseMessage() {
    bool finished = Guard("Sub ParseMessage:", [] {
        RunState& run = CurrentRun();
        sources::MailSource* source = run.currentSource;
        if (!source || !source->Message()) {
            ReportError(
                (source ? source->ID() : std::string()) + std::string(kMessageNotInitialized),
                true);
            return;
        }
        LetEventsRun();
        if (!MatchesFilter()) return;
        run.templateStatus.at(run.currentTemplateIndex) = TemplateOutcome::Parsed;
        std::int32_t count = run.currentTemplate->colFields()->Count();
        for (std::int32_t k = 1; k <= count; ++k) {
            ParseVariable(k);
            LetEventsRun();
        }
        if (Settings().useScripts) DoScripts();
        CreateOutputString();
        AppendOutput();
    });
    if (!finished) MarkTemplateFailed();
}

namespace {

// How each field name is read from the current message (and its source). Attachments and
// "<NONE>" are handled by TakeValue itself; a name without a row gives "".
using FieldReader = std::string (*)(txMessage& m, sources::MailSource& source);
struct FieldRow {
    std::string_view name;
    FieldReader read;
};
constexpr std::array kFieldReaders{
    FieldRow{kFieldMsgText, [](txMessage& m, sources::MailSource&) { return m.Body(); }},
    FieldRow{kFieldMsgSubject, [](txMessage& m, sources::MailSource&) { return m.Subject(); }},
    FieldRow{kFieldMsgSentDate,
             [](txMessage&, sources::MailSource&) { return GetDateString("Sent"); }},
    FieldRow{kFieldMsgReceiveDate,
             [](txMessage&, sources::MailSource&) { return GetDateString("Received"); }},
    FieldRow{kFieldMsgSentTime, [](txMessage& m, sources::MailSource&) { return m.SentTime(); }},
    FieldRow{kFieldMsgReceiveTime,
             [](txMessage& m, sources::MailSource&) { return m.ReceiveTime(); }},
    FieldRow{kFieldReplyToName, [](txMessage& m, sources::MailSource&) { return m.ReplyToName(); }},
    FieldRow{kFieldReplyToAddress,
             [](txMessage& m, sources::MailSource&) { return m.ReplyToAddress(); }},
    FieldRow{kFieldSenderName, [](txMessage& m, sources::MailSource&) { return m.SenderName(); }},
    FieldRow{kFieldSenderAddress,
             [](txMessage&, sources::MailSource& s) { return s.ConvertAddress(); }},
    FieldRow{kFieldSenderType, [](txMessage& m, sources::MailSource&) { return m.SenderType(); }},
    FieldRow{kFieldRecipientName,
             [](txMessage& m, sources::MailSource&) { return m.ReceipentName(); }},
    FieldRow{kFieldRecipientAddress,
             [](txMessage& m, sources::MailSource&) { return m.ReceipentAddress(); }},
};

// GetValue's work; false when it failed (and was reported).
bool TakeValue(std::string_view fieldName, std::int32_t attachmentIndex, std::string& result) {
    return Guard("Sub GetValue:", [&] {
        const std::string field = Trim(fieldName);
        txMessage& m = CurrentMessage();
        if (field == kFieldAttachment) {
            if (attachmentIndex == 0) return;
            result = m.GetAttachString(m.Attachments()->Item(attachmentIndex));
            if (m.bIsHtml()) errStripHtml(result);
            return;
        }
        for (const FieldRow& row : kFieldReaders) {
            if (row.name == field) {
                result = row.read(m, *CurrentRun().currentSource);
                return;
            }
        }
        // "<NONE>" and unknown names give "".
    });
}

// The text GetValue gives for a field of the current message, taken once per message.
const std::string& FieldText(std::string_view field, std::int32_t index) {
    RunState& run = CurrentRun();
    if (run.currentSource) run.fields.Use(run.currentSource->Message());
    if (const std::string* kept = run.fields.Find(field, index)) return *kept;
    std::string text;
    const bool read = TakeValue(field, index, text);
    return run.fields.Keep(field, index, std::move(text), read);
}

}  // namespace

std::string GetValue(std::string_view fieldName, std::int32_t attachmentIndex) {
    std::string result;
    TakeValue(fieldName, attachmentIndex, result);
    return result;
}

std::string GetDateString(std::string_view which) {
    return GuardValue<std::string>("Sub GetDateString:", "", [&] {
        txMessage& m = CurrentMessage();
        if (which == "Sent") return DatePart(m.SentDate());
        if (which == "Received") return DatePart(m.ReceiveDate());
        return std::string();
    });
}

namespace {

// A variable's search as the extraction runs it. When case does not matter the search
// strings are upper-cased and the field's upper-cased text is searched; the value is then cut
// from the text as it stands (upper-casing keeps every position).
struct Search {
    std::string field;
    bool ignoreCase = false;
    std::string start;
    std::string stop;
    std::string wholeWord;       // "0": the start string may stand inside a word
    bool lineStartOnly = false;  // only a start string that begins a line counts
};

Search SearchOf(const clsExportField& variable) {
    Search search;
    search.field = UCase(variable.FieldType());
    search.ignoreCase = variable.MatchCase() == "0";
    search.start = variable.FindStart();
    search.stop = variable.FindStop();
    if (search.ignoreCase) {
        search.start = UCase(search.start);
        search.stop = UCase(search.stop);
    }
    search.wholeWord = variable.MatchWholeString();
    search.lineStartOnly = variable.StartOfLineOnly() == "1";
    return search;
}

// The searches of the variables in use, each made once per variable: without scripts one copy
// of each template serves every message, and reading and upper-casing its search texts again
// for every message was a good part of the extraction's time. An entry counts only while its
// variable lives; a template read again, or copied for scripts or a trial, brings new
// variables. Kept per thread, as trials run on threads of their own.
constexpr std::size_t kKeptSearches = 1024;  // above this, entries of gone variables are dropped

const Search& SearchFor(const std::shared_ptr<clsExportField>& variable) {
    struct Kept {
        std::weak_ptr<clsExportField> variable;
        Search search;
    };
    thread_local std::unordered_map<const clsExportField*, Kept> kept;
    if (auto it = kept.find(variable.get());
        it != kept.end() && it->second.variable.lock() == variable)
        return it->second.search;
    if (kept.size() >= kKeptSearches)
        std::erase_if(kept, [](const auto& entry) { return entry.second.variable.expired(); });
    Kept& entry = kept[variable.get()];
    entry = Kept{variable, SearchOf(*variable)};
    return entry.search;
}

// The value between the start and the stop string in `text` (the field's text, or attachment
// `index`'s); nothing when either is not found or the stop does not lie after the start.
std::optional<std::string> CutValue(const Search& search, std::int32_t index,
                                    const std::string& text) {
    const std::string& working =
        search.ignoreCase ? CurrentRun().fields.Upper(search.field, index) : text;
    std::size_t s = FindStartPos(search.start, working, search.wholeWord);
    // Only the first occurrence is looked at: when it does not begin a line, nothing is found.
    if (search.lineStartOnly && s > search.start.size() + 1 &&
        !IsLineBreak(working[s - search.start.size() - 2]))
        s = 0;
    if (s == 0) return std::nullopt;
    const std::size_t e = FindStopPos(search.stop, working, s);
    if (e <= s) return std::nullopt;
    // A trial notes where the value was cut from (ParseVariable adds the variable).
    if (std::vector<FoundText>* found = CurrentRun().foundTexts)
        found->push_back({0, search.field, index, s - 1, e - s});
    return TrimLineBreaks(Trim(std::string_view(text).substr(s - 1, e - s)));
}

// The variable's value from its field, or from the first attachment, in order, that holds it;
// a blank text ends the search.
std::string ValueOf(const Search& search) {
    const bool attachments = search.field == kFieldAttachment;
    const std::int32_t last = attachments ? AttachmentCount(CurrentMessage()) : 0;
    for (std::int32_t index = attachments ? 1 : 0; index <= last; ++index) {
        const std::string& text = FieldText(search.field, index);
        if (TrimView(text).empty()) break;
        if (std::optional<std::string> value = CutValue(search, index, text))
            return std::move(*value);
    }
    return {};
}

}  // namespace

void ParseVariable(std::int32_t position) {
    bool finished = Guard("Sub ParseVariable:", [&] {
        auto variable = CurrentRun().currentTemplate->colFields()->Item(position);
        if (!variable) Raise(kErrSubscript);
        std::vector<FoundText>* found = CurrentRun().foundTexts;
        const std::size_t noted = found ? found->size() : 0;
        const std::string value = ValueOf(SearchFor(variable));
        if (found && found->size() > noted) found->back().variable = position;
        variable->SetValue(value);
        if (NumberOf(variable->UseQuotes()) == 1) variable->SetValue(ChangeQuotes(value));
    });
    if (!finished) MarkTemplateFailed();
}

bool MatchesFilter() {
    return GuardValue("Sub MatchesFilter:", false, [] {
        auto filter = CurrentRun().currentTemplate->objFilter();
        const std::string field = filter->MapiField();
        const std::string find = filter->FindString();
        if (field == kFieldNone || TrimView(find).empty()) return true;
        const std::string wanted = UCase(find);
        MessageFields& fields = CurrentRun().fields;
        if (field != kFieldAttachment) {
            if (TrimView(FieldText(field, 0)).empty()) return false;
            return fields.Upper(field, 0).find(wanted) != std::string::npos;
        }
        const std::int32_t count = AttachmentCount(CurrentMessage());
        for (std::int32_t i = 1; i <= count; ++i) {
            if (TrimView(FieldText(kFieldAttachment, i)).empty()) continue;
            if (fields.Upper(kFieldAttachment, i).find(wanted) != std::string::npos) return true;
        }
        return false;
    });
}

}  // namespace tallix::engine
