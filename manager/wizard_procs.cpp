#include "manager/wizard_procs.h"

#include "engine/selection_variable.h"

#include <QTreeWidget>

#include "manager/client_procs.h"
#include "manager/main_window.h"
#include "manager/template_draft.h"
#include "manager/template_wizard.h"
#include "model/export_field.h"
#include "model/field_vocabulary.h"
#include "settings/error_reporter.h"
#include "settings/text_functions.h"

namespace tallix::manager {
namespace {

constexpr std::string_view kCtx = "modClientProcs - ";
std::string Ctx(std::string_view procedure) {
    return std::string(kCtx) + std::string(procedure);
}

// The output line lists the variable names with this separator, whatever the delimiter.
constexpr std::string_view kOutputListSeparator = ",";
// A variable-definition line holds at most 509 characters when read back and the start text
// stands in it twice over (as the start and, nearly whole, as the name); a longer description
// is not a form's field label but running text.
constexpr std::size_t kMaxDescriptionChars = 200;

bool& Completed() {
    static bool completed = false;
    return completed;
}

WizardRunner& Runner() {
    static WizardRunner runner;
    return runner;
}

std::string_view Flag(bool on) {
    return on ? kFlagOn : kFlagOff;
}

// A name no variable of `t` has yet (compared without regard to case, as the editor does):
// `name`, else `name` followed by the smallest number from 2 that is free.
std::string UniqueVariableName(const clsTemplate& t, const std::string& name) {
    std::vector<std::string> taken;
    for (const auto& field : t.colFields()->NewEnum()) taken.push_back(field->FieldNameRef());
    return engine::UniqueName(name, taken);
}

// The lines of `text`, split at LF, CR or CR LF.
std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        lines.push_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

// The start text of a formatted line whose separator starts at the 1-based position `p`: the
// description, the separator's first character and one character more (the blank after a
// colon). When the separator is a single character and the one after it is not a blank or a
// tab, that character already belongs to the value ("Name:John") and stays out of the start
// text, or every value would lose its first character.
std::string StartTextOf(std::string_view line, std::size_t p, std::string_view separator) {
    std::size_t length = p + 1;
    if (separator.size() == 1 && p < line.size() && line[p] != ' ' && line[p] != '\t') length = p;
    return Left(line, length);
}

// The variable name a start text gives: trimmed, without its last character, without
// blanks. Commas go too: the output line separates names with them.
std::string NameOfStartText(std::string_view startText) {
    std::string name = Trim(startText);
    if (!name.empty()) name.pop_back();
    std::string out;
    for (char c : name)
        if (c != ' ' && c != ',') out.push_back(c);
    return out;
}

void ShowNewTemplateRow(const std::string& name, QTreeWidgetItem*& row) {
    FrmMain* form = MainForm();
    row = form ? form->FindRow(name) : nullptr;
    if (!row) return;
    form->lvMainList->clearSelection();
    form->lvMainList->setCurrentItem(row);
    row->setSelected(true);
    form->lvMainList->scrollToItem(row);
}

}  // namespace

bool WizardCompleted() {
    return Completed();
}
void SetWizardCompleted(bool done) {
    Completed() = done;
}
void SetWizardRunner(WizardRunner runner) {
    Runner() = std::move(runner);
}

void StdFieldFromWizard(clsTemplate& t, const ExtractionOptions& options, std::string_view name,
                        std::string_view field, std::string_view startText) {
    Guard(Ctx("StdFieldFromWizard"), [&] {
        auto var = t.colFields()->Add();
        if (!var) Raise(kErrObjectRequired);
        var->SetFieldName(name);
        var->SetFieldType(field);
        if (startText.empty()) {
            var->SetFindStart(kBeginningOfField);
            var->SetFindStop(kEndOfField);
        } else {
            var->SetFindStart(startText);
            var->SetFindStop(kEndOfLine);
        }
        var->SetMatchCase(Flag(options.matchCase));
        var->SetMatchWholeString(Flag(options.matchWholeString));
        var->SetRemoveLF(Flag(options.removeReturns));
        var->SetUseQuotes(Flag(options.useQuotes));
        var->SetStartOfLineOnly(Flag(options.startOfLineOnly));
    });
}

int ParseWizardText(clsTemplate& t, const ExtractionOptions& options, std::string_view text,
                    std::string_view separator, std::string_view field) {
    return GuardValue(Ctx("ParseWizardText"), 0, [&] {
        int created = 0;
        if (Trim(text).empty() || Trim(separator).empty()) return created;
        for (std::string_view raw : Lines(text)) {
            const std::string line = Trim(raw);
            if (line.empty()) continue;
            const std::size_t p = InStr(1, line, separator, Compare::Text);
            if (p == 0) continue;
            const std::string start = StartTextOf(line, p, separator);
            // A ";" would split the stored variable line; such a line is no field label.
            if (start.size() > kMaxDescriptionChars || start.find(';') != std::string::npos)
                continue;
            const std::string name = NameOfStartText(start);
            // A line that starts with the separator describes nothing to name.
            if (name.empty()) continue;
            StdFieldFromWizard(t, options, UniqueVariableName(t, name), field, start);
            ++created;
        }
        return created;
    });
}

void PickedVariables(clsTemplate& t, const ExtractionOptions& options,
                     const std::vector<VariableDraft>& picked, std::string_view field) {
    Guard(Ctx("PickedVariables"), [&] {
        std::vector<std::string> repeated = t.RepeatedVariables();
        for (const VariableDraft& p : picked) {
            auto var = t.colFields()->Add();
            if (!var) Raise(kErrObjectRequired);
            const std::string name = UniqueVariableName(t, Trim(p.name));
            var->SetFieldName(name);
            var->SetFieldType(field);
            var->SetFindStart(p.findStart);
            var->SetFindStop(p.findStop);
            // The options page asks for more than the selection needed, never for less.
            var->SetMatchCase(Flag(options.matchCase));
            var->SetMatchWholeString(
                Flag(options.matchWholeString || p.matchWholeString == kFlagOn));
            var->SetRemoveLF(Flag(options.removeReturns || p.removeLF == kFlagOn));
            var->SetUseQuotes(Flag(options.useQuotes || p.useQuotes == kFlagOn));
            var->SetStartOfLineOnly(Flag(options.startOfLineOnly));
            if (p.repeat) repeated.push_back(name);
        }
        if (!repeated.empty()) t.SetRepeatItems(Join(repeated, kOutputListSeparator));
    });
}

std::shared_ptr<clsTemplate> BuildWizardTemplate(const WizardAnswers& a,
                                                 const std::string& fileName) {
    auto t = std::make_shared<clsTemplate>();
    t->SetFileName(fileName);
    t->SetActive(true);
    auto filter = t->objFilter();
    filter->SetFileName(fileName);
    filter->SetFindString(a.useFilter ? a.filterString : std::string());
    filter->SetMapiField(a.useFilter ? a.filterField : std::string(kFieldNone));
    t->SetOutputDeliminator(a.delimiter);
    t->SetOutputFile(a.outputFile);

    const ExtractionOptions& o = a.options;
    const std::pair<bool, std::pair<std::string_view, std::string_view>> standard[] = {
        {a.sentDate, {kVarSentDate, kFieldMsgSentDate}},
        {a.sentTime, {kVarSentTime, kFieldMsgSentTime}},
        {a.recipientAddress, {kVarToAddr, kFieldRecipientAddress}},
        {a.recipientName, {kVarToName, kFieldRecipientName}},
        {a.senderAddress, {kVarFromAddr, kFieldSenderAddress}},
        {a.senderName, {kVarFromName, kFieldSenderName}},
    };
    for (const auto& [checked, var] : standard)
        if (checked) StdFieldFromWizard(*t, o, var.first, var.second, "");

    const std::string_view textField = a.useAttachment ? kFieldAttachment : kFieldMsgText;
    if (a.createFromText && !a.picked.empty()) {
        PickedVariables(*t, o, a.picked, textField);
    } else if (a.createFromText) {
        ParseWizardText(*t, o, a.formattedText, a.textSeparator, textField);
    } else {
        StdFieldFromWizard(*t, o, a.useAttachment ? kVarAttachmentText : kVarMessageText, textField,
                           "");
    }

    t->SetVariableCount(t->colFields()->Count());
    std::vector<std::string> names;
    for (const auto& field : t->colFields()->NewEnum()) names.push_back(field->FieldName());
    t->SetOutputLineCount(1);
    auto lines = std::make_shared<TextCollection>();
    lines->Add(Join(names, kOutputListSeparator));
    t->SetcolOutPutLines(lines);
    return t;
}

bool WriteWizardTemplate(const WizardAnswers& answers) {
    return GuardValue(Ctx("DoWizard"), false, [&] {
        const std::string name = Trim(answers.templateName);
        const std::string path = MakeFileName(name);
        State().currentTemplate = BuildWizardTemplate(answers, path);
        NewTemplateDefaults(*State().currentTemplate);
        return SaveCurrentFile(true);
    });
}

void DoWizard() {
    Guard(Ctx("DoWizard"), [] {
        SetWizardCompleted(false);
        auto wizard = std::make_unique<FrmWizard>(MainForm());
        if (Runner())
            Runner()(*wizard);
        else
            wizard->exec();
        if (!WizardCompleted()) return;

        // Finish wrote the template before the wizard closed.
        const WizardAnswers answers = wizard->Answers();
        wizard.reset();
        const std::string name = Trim(answers.templateName);

        QTreeWidgetItem* row = nullptr;
        GetTempFiles();
        ShowNewTemplateRow(name, row);
        // The new template opens in the editor as an existing one: its row is selected.
        if (answers.review && row) {
            State().newTemplate = false;
            EditTemplate(false);
        }
    });
}

}  // namespace tallix::manager
