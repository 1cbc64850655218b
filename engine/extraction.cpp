#include "engine/extraction.h"

#include <array>

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

constexpr const char* kMessageNotInitialized = "called ParseMessage called with message not initialized.";

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
            ReportError((source ? source->ID() : std::string()) + kMessageNotInitialized, true);
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
    FieldRow{kFieldMsgSentDate, [](txMessage&, sources::MailSource&) { return GetDateString("Sent"); }},
    FieldRow{kFieldMsgReceiveDate, [](txMessage&, sources::MailSource&) { return GetDateString("Received"); }},
    FieldRow{kFieldMsgSentTime, [](txMessage& m, sources::MailSource&) { return m.SentTime(); }},
    FieldRow{kFieldMsgReceiveTime, [](txMessage& m, sources::MailSource&) { return m.ReceiveTime(); }},
    FieldRow{kFieldReplyToName, [](txMessage& m, sources::MailSource&) { return m.ReplyToName(); }},
    FieldRow{kFieldReplyToAddress, [](txMessage& m, sources::MailSource&) { return m.ReplyToAddress(); }},
    FieldRow{kFieldSenderName, [](txMessage& m, sources::MailSource&) { return m.SenderName(); }},
    FieldRow{kFieldSenderAddress, [](txMessage&, sources::MailSource& s) { return s.ConvertAddress(); }},
    FieldRow{kFieldSenderType, [](txMessage& m, sources::MailSource&) { return m.SenderType(); }},
    FieldRow{kFieldRecipientName, [](txMessage& m, sources::MailSource&) { return m.ReceipentName(); }},
    FieldRow{kFieldRecipientAddress, [](txMessage& m, sources::MailSource&) { return m.ReceipentAddress(); }},
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

void ParseVariable(std::int32_t position) {
    bool finished = Guard("Sub ParseVariable:", [&] {
        RunState& run = CurrentRun();
        auto variable = run.currentTemplate->colFields()->Item(position);
        if (!variable) Raise(kErrSubscript);
        const std::string field = UCase(variable->FieldType());
        const bool ignoreCase = variable->MatchCase() == "0";
        std::string start = variable->FindStart();
        std::string stop = variable->FindStop();
        if (ignoreCase) {
            start = UCase(start);
            stop = UCase(stop);
        }

        std::string value;
        bool attachmentMode = false;
        std::int32_t index = 0;
        const std::int32_t attachments = field == kFieldAttachment ? AttachmentCount(CurrentMessage()) : 0;
        if (field != kFieldAttachment || attachments > 0) {
            if (field == kFieldAttachment) {
                attachmentMode = true;
                index = 1;
            }
            while (true) {
                const std::string& text = FieldText(field, index);
                if (TrimView(text).empty()) break;
                const std::string& working = ignoreCase ? CurrentRun().fields.Upper(field, index) : text;
                std::size_t s = FindStartPos(start, working, variable->MatchWholeString());
                // A start string that must begin a line: only its first occurrence counts.
                if (variable->StartOfLineOnly() == "1" && s > start.size() + 1 &&
                    !IsLineBreak(working[s - start.size() - 2]))
                    s = 0;
                bool next = false;
                if (s == 0) {
                    if (!attachmentMode) break;
                    next = true;
                } else {
                    std::size_t e = FindStopPos(stop, working, s);
                    if (e == 0 && !attachmentMode) break;
                    if (s < e && e <= text.size() + 1) attachmentMode = false;
                    if (attachmentMode) {
                        next = true;
                    } else {
                        std::size_t n = e > s ? e - s : 0;
                        value = n ? TrimLineBreaks(Trim(std::string_view(text).substr(s - 1, n))) : "";
                        if (run.foundTexts) run.foundTexts->push_back({position, field, index, s - 1, n});
                        break;
                    }
                }
                if (next) {
                    if (++index > attachments) break;
                    if (index == attachments) attachmentMode = false;
                }
            }
        }
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
