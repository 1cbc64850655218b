// The template editor's "Output &Format" tab: which variables the output line holds, in
// which order, and the sample line drawn with the delimiter.
#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLineEdit>
#include <QTabWidget>
#include <QVBoxLayout>

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
        TwoLists(page, "&Available:", lstOutVars, "&Output List:", lstVarIncluded,
                 {cmdAddOne, cmdRemoveOne, cmdAddAll, cmdRemoveAll, cmdMoveUp, cmdMoveDown}),
        1);
    txtOutputLine = Named(new QLineEdit(page), "txtOutputLine");
    txtOutputLine->setReadOnly(true);
    auto* outRow = new QFormLayout;
    outRow->addRow("Output:", txtOutputLine);
    layout->addLayout(outRow);
    chkAllowDuplicate = Named(new QCheckBox("&Allow Duplicates", page), "chkAllowDuplicate");
    layout->addWidget(chkAllowDuplicate);
    tabMain->addTab(page, "Output &Format");
}

void FrmTemplateEdit::WireOutputTab() {
    connect(chkAllowDuplicate, &QCheckBox::toggled, this, &FrmTemplateEdit::MarkEdited);
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

void FrmTemplateEdit::MakeOutputFromList() {
    Guard(ProcCtx("MakeOutputFromList"), [this] {
        const std::string text = Join(Entries(lstVarIncluded), m_delimiter);
        if (Q(text) == txtOutputLine->text()) return;
        SetChanged(true);
        txtOutputLine->setText(Q(text));
    });
}

}  // namespace tallix::manager
