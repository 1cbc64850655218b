// The template editor's "Output &Format" tab: which variables the output line holds, in
// which order, the sample line drawn with the delimiter and the format, and the options of
// the output file.
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLineEdit>
#include <QTabWidget>
#include <QVBoxLayout>

#include "manager/template_choices.h"
#include "manager/template_edit.h"
#include "manager/template_edit_parts.h"
#include "settings/error_reporter.h"
#include "settings/text_functions.h"

namespace tallix::manager {
using namespace edit_parts;

void FrmTemplateEdit::BuildOutputTab() {
    auto* page = Named(new QWidget, "tabOutputFormat");
    auto* layout = new QVBoxLayout(page);
    lstOutVars = NamedList("lstOutVars", page);
    lstVarIncluded = NamedList("lstVarIncluded", page);
    std::tie(cmdAddOne, cmdRemoveOne, cmdAddAll, cmdRemoveAll, cmdMoveUp, cmdMoveDown) =
        MoveButtons(page, {"cmdAddOne", "cmdRemoveOne", "cmdAddAll", "cmdRemoveAll", "cmdMoveUp",
                           "cmdMoveDown"});
    // The focus order follows the layout: available list, buttons, output list.
    layout->addLayout(
        TwoLists(page, "Avai&lable:", lstOutVars, "&Output List:", lstVarIncluded,
                 {cmdAddOne, cmdRemoveOne, cmdAddAll, cmdRemoveAll, cmdMoveUp, cmdMoveDown}),
        1);
    txtOutputLine = Named(new QLineEdit(page), "txtOutputLine");
    txtOutputLine->setReadOnly(true);
    auto* outRow = new QFormLayout;
    outRow->addRow("Output:", txtOutputLine);
    layout->addLayout(outRow);
    cboFormat = Named(new QComboBox(page), "cboFormat");
    for (std::string_view shown : {kFormatDelimitedShown, kFormatCsvShown, kFormatJsonlShown})
        cboFormat->addItem(Q(shown));
    outRow->addRow("For&mat:", cboFormat);
    // Alt+A is the dialog's Apply.
    chkAllowDuplicate = Named(new QCheckBox("Allow &Duplicates", page), "chkAllowDuplicate");
    layout->addWidget(chkAllowDuplicate);
    chkPerAttachment = Named(new QCheckBox("One line &per attachment", page), "chkPerAttachment");
    chkFormulaGuard =
        Named(new QCheckBox("G&uard against formulas (a ' before a value starting with =, +, -, @)",
                            page),
              "chkFormulaGuard");
    chkBom = Named(new QCheckBox("Start a new file with a UTF-8 byte-order mar&k", page), "chkBom");
    chkHeaderRow = Named(new QCheckBox("Start a new file with a line of the output &names", page),
                         "chkHeaderRow");
    chkIsoDates =
        Named(new QCheckBox("&ISO dates and times (YYYY-MM-DD, HH:MM:SS)", page), "chkIsoDates");
    for (QCheckBox* c : {chkPerAttachment, chkFormulaGuard, chkBom, chkHeaderRow, chkIsoDates})
        layout->addWidget(c);
    tabMain->addTab(page, "Output &Format");
}

void FrmTemplateEdit::WireOutputTab() {
    for (QCheckBox* c :
         {chkAllowDuplicate, chkPerAttachment, chkFormulaGuard, chkBom, chkHeaderRow, chkIsoDates})
        connect(c, &QCheckBox::toggled, this, &FrmTemplateEdit::MarkEdited);
    connect(cboFormat, &QComboBox::currentIndexChanged, this, [this] {
        if (m_filling) return;
        Guard(FormCtx("cboFormat_Click"), [this] {
            // Saved with the template: an edit even when the sample line stays the same.
            SetChanged(true);
            MakeOutputFromList();
        });
    });
    // Every move redraws the sample line.
    auto outputs = [this](QPushButton* button, const char* handler, auto procedure) {
        connect(button, &QPushButton::clicked, this, [this, handler, procedure] {
            Guard(FormCtx(handler), [&] {
                procedure();
                MakeOutputFromList();
            });
        });
    };
    outputs(cmdAddOne, "cmdAddOne_Click", [this] { AddOneToInclude(lstOutVars, lstVarIncluded); });
    outputs(cmdRemoveOne, "cmdRemoveOne_Click",
            [this] { RemoveOneFromInclude(lstVarIncluded, lstOutVars); });
    outputs(cmdAddAll, "cmdAddAll_Click", [this] { AddAllToInclude(lstOutVars, lstVarIncluded); });
    outputs(cmdRemoveAll, "cmdRemoveAll_Click",
            [this] { RemoveAllFromInclude(lstVarIncluded, lstOutVars); });
    outputs(cmdMoveUp, "cmdMoveUp_Click", [this] { MoveUpList(lstVarIncluded); });
    outputs(cmdMoveDown, "cmdMoveDown_Click", [this] { MoveDownList(lstVarIncluded); });
}

void FrmTemplateEdit::FillOutputLists(const std::vector<std::string>& outputArray) {
    const OutputLists lists = SplitOutput(Entries(lstVars), outputArray);
    lstOutVars->clear();
    lstVarIncluded->clear();
    for (const std::string& name : lists.available) lstOutVars->addItem(Q(name));
    for (const std::string& name : lists.included) lstVarIncluded->addItem(Q(name));
}

void FrmTemplateEdit::SelectFormat(const std::string& stored) {
    SelectFieldText(cboFormat, FormatShown(stored));
}

void FrmTemplateEdit::MakeOutputFromList() {
    Guard(ProcCtx("MakeOutputFromList"), [this] {
        const std::string text = SampleLine(Entries(lstVarIncluded), m_delimiter,
                                            FormatStored(S(cboFormat->currentText())));
        if (Q(text) == txtOutputLine->text()) return;
        SetChanged(true);
        txtOutputLine->setText(Q(text));
    });
}

}  // namespace tallix::manager
