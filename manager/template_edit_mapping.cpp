// The one mapping between the template editor's controls and the draft it edits.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include "manager/template_choices.h"
#include "manager/template_edit.h"
#include "manager/template_edit_parts.h"
#include "model/export_field.h"
#include "settings/error_reporter.h"
#include "settings/settings_store.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"

namespace tallix::manager {
using namespace edit_parts;
namespace {

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
            // What following the setting means now is said beside the choice.
            cboProcessOnce->setItemText(
                kProcessOnceFollowRow,
                Q(std::string(kProcessOnceFollow) + (Settings().processOnce ? " (on)" : " (off)")));
            cboProcessOnce->setCurrentIndex(!draft.processOnce   ? kProcessOnceFollowRow
                                            : *draft.processOnce ? kProcessOnceYesRow
                                                                 : kProcessOnceNoRow);
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
    if (cboProcessOnce->currentIndex() != kProcessOnceFollowRow)
        draft.processOnce = cboProcessOnce->currentIndex() == kProcessOnceYesRow;
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

}  // namespace tallix::manager
