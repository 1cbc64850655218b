// The one mapping between the template editor's controls and the draft it edits, and the
// one place where the draft reads and writes the template keys the template object does not
// know: the patterns, the repeated variables and the output options.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "manager/template_choices.h"
#include "manager/template_edit.h"
#include "manager/template_edit_parts.h"
#include "model/export_field.h"
#include "model/profile_file.h"
#include "settings/error_reporter.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"

namespace tallix::manager {
using namespace edit_parts;
namespace {

using profile::ProfileDocument;

constexpr std::string_view kSectionPatterns = "Patterns";
constexpr std::string_view kSectionRepeat = "Repeat";
constexpr std::string_view kSectionOutput = "Output";
constexpr std::string_view kKeyItems = "Items";
constexpr std::string_view kKeyPerAttachment = "PerAttachment";
constexpr std::string_view kKeyFormat = "Format";
constexpr std::string_view kKeyFormulaGuard = "FormulaGuard";
constexpr std::string_view kKeyBom = "BOM";
constexpr std::string_view kKeyHeaderRow = "HeaderRow";
constexpr std::string_view kKeyDateFormat = "DateFormat";
constexpr char kItemsSeparator = ',';

// A flag of the output section as the run reads it: on only when "True".
bool ReadFlag(const ProfileDocument& doc, std::string_view key) {
    return doc.Find(kSectionOutput, key).value_or("") == kTrueText;
}

// The names of a comma list, trimmed; empty pieces dropped.
std::vector<std::string> SplitNames(std::string_view list) {
    std::vector<std::string> names;
    for (const std::string& piece : Split(list, std::string(1, kItemsSeparator)))
        if (!Trim(piece).empty()) names.push_back(Trim(piece));
    return names;
}

// The same names without regard to order or case.
bool SameNames(std::vector<std::string> a, std::vector<std::string> b) {
    for (auto* list : {&a, &b}) {
        for (std::string& name : *list) name = LCase(name);
        std::sort(list->begin(), list->end());
    }
    return a == b;
}

bool IsProfileBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v';
}

// A pattern as its key's value: reading a value drops blanks around it and one pair of
// quotes around it, so a pattern that would lose either is quoted once more.
std::string StoredPattern(const std::string& pattern) {
    const bool blankEdge = IsProfileBlank(pattern.front()) || IsProfileBlank(pattern.back());
    const bool quoted = pattern.size() >= 2 && pattern.front() == pattern.back() &&
                        (pattern.front() == '"' || pattern.front() == '\'');
    return blankEdge || quoted ? "\"" + pattern + "\"" : pattern;
}

// Removes the section when it was left without keys.
void DropIfEmpty(ProfileDocument& doc, std::string_view section) {
    if (doc.KeyNames(section).empty()) doc.DeleteSection(section);
}

std::string Flag(bool on) {
    return std::string(on ? kFlagOn : kFlagOff);
}

// How the check boxes show a stored flag: the engine reads "1" as on for these three...
bool OnWhenOne(const std::string& v) {
    return Trim(v) == kFlagOn;
}
// ...and anything but "0" as on for whole-string and case matching.
bool OnUnlessZero(const std::string& v) {
    return Trim(v) != kFlagOff;
}

}  // namespace

void FrmTemplateEdit::SetDraft(const TemplateDraft& draft) {
    Guard(ProcCtx("SetEditCtrlValues"), [&] {
        {
            FillScope filling(m_filling);
            txtTemplateName->setText(Q(draft.name));
            chkActive->setChecked(draft.active);
            SelectFieldChoice(cboFilterField, txtFilterHeaderName, draft.filterField);
            txtFilterFindStr->setText(Q(draft.filterText));
            // The stored output line is comma-separated whatever the delimiter.
            m_delimiter = ",";
            m_vars = draft.variables;
            SetExportFields(draft.output);
            SetScriptsUsed(draft.scripts);
            txtOutputFileName->setText(Q(draft.outputFile));
            SetComboIndex(cboDelimiter, draft.delimiter);
            chkAllowDuplicate->setChecked(draft.allowDuplicate);
            chkPerAttachment->setChecked(draft.perAttachment);
            SelectFormat(draft.format);
            chkFormulaGuard->setChecked(draft.formulaGuard);
            chkBom->setChecked(draft.bom);
            chkHeaderRow->setChecked(draft.headerRow);
            chkIsoDates->setChecked(draft.isoDates);
            cboVarType->setCurrentIndex(0);
        }
        // Then the template's own delimiter, and the sample line drawn with it.
        SetDelimiterFromCombo();
        MakeOutputFromList();
        SetChanged(false);
    });
}

TemplateDraft FrmTemplateEdit::Draft() const {
    TemplateDraft draft;
    draft.name = S(txtTemplateName->text());
    draft.active = chkActive->isChecked();
    draft.filterField = ChosenField(cboFilterField, txtFilterHeaderName);
    draft.filterText = S(txtFilterFindStr->text());
    draft.outputFile = S(txtOutputFileName->text());
    draft.delimiter = S(cboDelimiter->currentText());
    draft.variables = m_vars;
    const int position = CurrentPosition();
    if (m_curVar >= 0 && position >= 1 && position <= static_cast<int>(draft.variables.size()))
        TakeVariable(draft.variables[static_cast<std::size_t>(position - 1)]);
    draft.output = Entries(lstVarIncluded);
    draft.allowDuplicate = chkAllowDuplicate->isChecked();
    draft.perAttachment = chkPerAttachment->isChecked();
    draft.format = FormatStored(S(cboFormat->currentText()));
    draft.formulaGuard = chkFormulaGuard->isChecked();
    draft.bom = chkBom->isChecked();
    draft.headerRow = chkHeaderRow->isChecked();
    draft.isoDates = chkIsoDates->isChecked();
    draft.scripts = Entries(lstUseScripts);
    return draft;
}

void FrmTemplateEdit::ShowVariable(const VariableDraft& variable) {
    {
        FillScope filling(m_filling);
        txtVarName->setText(Q(variable.name));
        SelectFieldChoice(cboVarMapiField, txtVarHeaderName, variable.field);
        // A pattern takes the place of the start and stop texts, which stay as stored.
        SetComboIndex(cboStart, variable.pattern.empty() ? SetStartComboStr(variable.findStart)
                                                         : std::string(kStartRegex));
        txtVarFindStr->setText(Q(variable.findStart));
        txtVarPattern->setText(Q(variable.pattern));
        chkRepeat->setChecked(variable.repeat);
        SetComboIndex(cboStop, SetStopComboStr(variable.findStop));
        txtVarStopStr->setText(Q(variable.findStop));
        cboVarType->setCurrentIndex(0);
        chkUseQuote->setChecked(OnWhenOne(variable.useQuotes));
        chkRemoveLF->setChecked(OnWhenOne(variable.removeLF));
        chkMatchString->setChecked(OnUnlessZero(variable.matchWholeString));
        chkMatchCase->setChecked(OnUnlessZero(variable.matchCase));
        chkStartOfLine->setChecked(OnWhenOne(variable.startOfLineOnly));
    }
    UpdateStartStopBoxes();
    ShowPatternCheck();
}

void FrmTemplateEdit::TakeVariable(VariableDraft& variable) const {
    variable.field = ChosenField(cboVarMapiField, txtVarHeaderName);
    const std::string start = S(cboStart->currentText());
    const bool regex = start == kStartRegex;
    if (!regex) variable.findStart = FindTextFromChoice(start, S(txtVarFindStr->text()));
    variable.pattern = regex ? S(txtVarPattern->text()) : std::string();
    variable.repeat = chkRepeat->isChecked();
    variable.findStop = FindTextFromChoice(S(cboStop->currentText()), S(txtVarStopStr->text()));
    variable.useQuotes = Flag(chkUseQuote->isChecked());
    variable.removeLF = Flag(chkRemoveLF->isChecked());
    variable.matchWholeString = Flag(chkMatchString->isChecked());
    variable.matchCase = Flag(chkMatchCase->isChecked());
    variable.startOfLineOnly = Flag(chkStartOfLine->isChecked());
}

// ---------------------------------------------------------------------------------------
// The keys the draft reads and writes itself

void ReadDraftKeys(const ProfileDocument& doc, TemplateDraft& draft) {
    Guard(ProcCtx("ReadDraftKeys"), [&] {
        const std::vector<std::string> repeated =
            SplitNames(doc.Get(kSectionRepeat, kKeyItems, ""));
        for (VariableDraft& v : draft.variables) {
            const std::string name = Trim(v.name);
            v.pattern = name.empty() ? "" : doc.Find(kSectionPatterns, name).value_or("");
            v.repeat = std::any_of(repeated.begin(), repeated.end(),
                                   [&](const std::string& r) { return EqualsNoCase(r, name); });
        }
        draft.perAttachment = ReadFlag(doc, kKeyPerAttachment);
        draft.format = FormatStored(FormatShown(doc.Get(kSectionOutput, kKeyFormat, "")));
        draft.formulaGuard = ReadFlag(doc, kKeyFormulaGuard);
        draft.bom = ReadFlag(doc, kKeyBom);
        draft.headerRow = ReadFlag(doc, kKeyHeaderRow);
        draft.isoDates = EqualsNoCase(doc.Get(kSectionOutput, kKeyDateFormat, ""), kDateFormatIso);
    });
}

void WriteDraftKeys(const TemplateDraft& draft, ProfileDocument& doc) {
    Guard(ProcCtx("WriteDraftKeys"), [&] {
        // The output options: only a key whose meaning changes is written.
        for (const auto& [key, wanted] :
             {std::pair{kKeyPerAttachment, draft.perAttachment},
              std::pair{kKeyFormulaGuard, draft.formulaGuard}, std::pair{kKeyBom, draft.bom},
              std::pair{kKeyHeaderRow, draft.headerRow}}) {
            if (ReadFlag(doc, key) != wanted)
                doc.Set(kSectionOutput, key, wanted ? kTrueText : kFalseText);
        }
        const std::string format = doc.Get(kSectionOutput, kKeyFormat, "");
        if (FormatStored(FormatShown(format)) != FormatStored(FormatShown(draft.format)))
            doc.Set(kSectionOutput, kKeyFormat, draft.format);
        const bool iso = EqualsNoCase(doc.Get(kSectionOutput, kKeyDateFormat, ""), kDateFormatIso);
        if (iso != draft.isoDates) {
            if (draft.isoDates)
                doc.Set(kSectionOutput, kKeyDateFormat, kDateFormatIso);
            else
                doc.DeleteKey(kSectionOutput, kKeyDateFormat);
        }

        // One key per variable with a pattern; keys of names that no longer have one go.
        std::vector<std::string> withPattern;
        for (const VariableDraft& v : draft.variables) {
            if (v.pattern.empty()) continue;
            const std::string name = Trim(v.name);
            withPattern.push_back(name);
            if (doc.Find(kSectionPatterns, name) != v.pattern)
                doc.Set(kSectionPatterns, name, StoredPattern(v.pattern));
        }
        bool dropped = false;
        for (const std::string& key : doc.KeyNames(kSectionPatterns)) {
            const bool kept =
                std::any_of(withPattern.begin(), withPattern.end(),
                            [&](const std::string& n) { return EqualsNoCase(n, key); });
            if (kept) continue;
            doc.DeleteKey(kSectionPatterns, key);
            dropped = true;
        }
        if (dropped) DropIfEmpty(doc, kSectionPatterns);

        // The repeated variables in the template's order.
        std::vector<std::string> repeated;
        for (const VariableDraft& v : draft.variables)
            if (v.repeat) repeated.push_back(Trim(v.name));
        const std::optional<std::string> items = doc.Find(kSectionRepeat, kKeyItems);
        if (!SameNames(SplitNames(items.value_or("")), repeated)) {
            if (repeated.empty()) {
                doc.DeleteKey(kSectionRepeat, kKeyItems);
                DropIfEmpty(doc, kSectionRepeat);
            } else {
                doc.Set(kSectionRepeat, kKeyItems, Join(repeated, std::string(1, kItemsSeparator)));
            }
        }
    });
}

bool SaveDraftKeys(const TemplateDraft& draft, const std::string& path) {
    return GuardValue(ProcCtx("SaveDraftKeys"), false, [&] {
        profile::ProfileStatus status;
        ProfileDocument doc = ProfileDocument::Load(path, &status);
        // The template object has just written the file: a file that cannot be read now is
        // not replaced by the few keys written here.
        if (status.ok()) {
            const std::string before = doc.Bytes();
            WriteDraftKeys(draft, doc);
            if (doc.Bytes() != before) status = doc.Save(path);
        }
        if (status.ok()) return true;
        MsgBox(std::string(kMsgCannotSaveChanges) + path + ": " + std::strerror(status.error),
               MsgButtons::Ok, MsgIcon::Critical, kErrorTitle);
        return false;
    });
}

}  // namespace tallix::manager
