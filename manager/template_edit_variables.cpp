// The template editor's "&Variables" tab: the variable list, adding, deleting and renaming
// variables, their property controls and the help line.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

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

void FrmTemplateEdit::BuildVariablesTab() {
    auto* page = Named(new QWidget, "tabVariables");
    auto* layout = new QGridLayout(page);

    lstVars = Named(new QListWidget(page), "lstVars");
    cmdVarAdd = Button("cmdVarAdd", "A&dd", page);
    cmdDelete = Button("cmdDelete", "Re&move", page);  // Alt+R is the Scripting tab
    auto* left = new QVBoxLayout;
    left->addWidget(lstVars, 1);
    auto* addRemove = new QHBoxLayout;
    addRemove->addWidget(cmdVarAdd);
    addRemove->addWidget(cmdDelete);
    left->addLayout(addRemove);
    layout->addLayout(left, 0, 0);

    frameProp = Named(new QGroupBox("Variable Properties", page), "frameProp");
    auto* pf = new QGridLayout(frameProp);
    txtVarName = Named(new QLineEdit(frameProp), "txtVarName");
    cboVarMapiField = Named(new QComboBox(frameProp), "cboVarMapiField");
    txtVarHeaderName = Named(NewHeaderNameBox(frameProp), "txtVarHeaderName");
    cboStart = Named(new QComboBox(frameProp), "cboStart");
    cboStart->addItems({Q(kStartBeginning), Q(kStartAfterText), Q(kStartRegex)});
    txtVarFindStr = Named(new QLineEdit(frameProp), "txtVarFindStr");
    txtVarPattern = Named(new QLineEdit(frameProp), "txtVarPattern");
    lblPatternCheck = Named(new QLabel(frameProp), "lblPatternCheck");
    lblPatternCheck->setWordWrap(true);
    cboStop = Named(new QComboBox(frameProp), "cboStop");
    cboStop->addItems({Q(kStopEndOfField), Q(kStopEndOfLine), Q(kStopDefinedText)});
    txtVarStopStr = Named(new QLineEdit(frameProp), "txtVarStopStr");
    cboVarType = Named(new QComboBox(frameProp), "cboVarType");
    cboVarType->addItem(Q(kVarTypeMapi));
    chkUseQuote =
        Named(new QCheckBox("Use quotation marks around output value.", frameProp), "chkUseQuote");
    chkRemoveLF =
        Named(new QCheckBox("Remove Line Feed/Return characters from within data", frameProp),
              "chkRemoveLF");
    chkMatchString = Named(new QCheckBox("Match Whole String", frameProp), "chkMatchString");
    chkMatchCase = Named(new QCheckBox("Match Case", frameProp), "chkMatchCase");
    chkStartOfLine = Named(new QCheckBox("Start of Line Only", frameProp), "chkStartOfLine");
    chkRepeat = Named(new QCheckBox("Repeat (one line per occurrence)", frameProp), "chkRepeat");

    // The boxes beside a list take their names from what the list chose.
    lstVars->setAccessibleName("Variables");
    txtVarHeaderName->setAccessibleName("Header name");
    txtVarFindStr->setAccessibleName("Text the data starts after");
    txtVarStopStr->setAccessibleName("Text the data ends before");
    auto label = [this](const char* text, QWidget* buddy) {
        auto* l = new QLabel(QString::fromLatin1(text), frameProp);
        l->setBuddy(buddy);
        return l;
    };
    int row = 0;
    pf->addWidget(label("Name:", txtVarName), row, 0);
    pf->addWidget(txtVarName, row++, 1, 1, 2);
    pf->addWidget(label("Message Field:", cboVarMapiField), row, 0);
    pf->addWidget(cboVarMapiField, row, 1);
    pf->addWidget(txtVarHeaderName, row++, 2);
    pf->addWidget(label("Data Starts:", cboStart), row, 0);
    pf->addWidget(cboStart, row, 1);
    pf->addWidget(txtVarFindStr, row++, 2);
    pf->addWidget(label("Pattern:", txtVarPattern), row, 0);
    pf->addWidget(txtVarPattern, row++, 1, 1, 2);
    pf->addWidget(lblPatternCheck, row++, 1, 1, 2);
    pf->addWidget(label("Continues Until:", cboStop), row, 0);
    pf->addWidget(cboStop, row, 1);
    pf->addWidget(txtVarStopStr, row++, 2);
    pf->addWidget(label("Type:", cboVarType), row, 0);
    pf->addWidget(cboVarType, row++, 1);
    for (QCheckBox* c :
         {chkUseQuote, chkRemoveLF, chkMatchString, chkMatchCase, chkStartOfLine, chkRepeat})
        pf->addWidget(c, row++, 0, 1, 3);
    pf->setColumnStretch(2, 1);
    layout->addWidget(frameProp, 0, 1);

    lblHelp = Named(new QLabel(page), "lblHelp");
    lblHelp->setWordWrap(true);
    lblHelp->setFrameShape(QFrame::StyledPanel);
    layout->addWidget(lblHelp, 1, 0, 1, 2);
    layout->setColumnStretch(0, 1);
    layout->setColumnStretch(1, 2);
    layout->setRowStretch(0, 1);

    tabMain->addTab(page, "&Variables");
}

void FrmTemplateEdit::WireVariablesTab() {
    for (QLineEdit* e : {txtVarName, txtVarFindStr, txtVarStopStr})
        connect(e, &QLineEdit::textEdited, this, &FrmTemplateEdit::MarkEdited);
    for (QCheckBox* c : {chkUseQuote, chkRemoveLF, chkMatchString, chkMatchCase, chkStartOfLine})
        connect(c, &QCheckBox::toggled, this, &FrmTemplateEdit::MarkEdited);
    // The pattern is checked as it is typed; the help line follows it and the repeat box.
    connect(txtVarPattern, &QLineEdit::textEdited, this, [this] {
        MarkEdited();
        ShowPatternCheck();
        ShowHelpLine();
    });
    connect(chkMatchCase, &QCheckBox::toggled, this, [this] { ShowPatternCheck(); });
    connect(chkRepeat, &QCheckBox::toggled, this, [this] {
        MarkEdited();
        if (!m_filling) ShowHelpLine();
    });
    connect(txtVarHeaderName, &QLineEdit::textEdited, this, [this] {
        MarkEdited();
        ShowHelpLine();
    });
    // A combo box counts as an edit only when its selection really changed.
    connect(cboVarMapiField, &QComboBox::currentIndexChanged, this, [this] {
        EnableHeaderBox(cboVarMapiField, txtVarHeaderName);
        MarkEdited();
    });
    connect(cboVarType, &QComboBox::currentIndexChanged, this, &FrmTemplateEdit::MarkEdited);
    connect(cboStart, &QComboBox::currentIndexChanged, this, [this] {
        if (m_filling) return;
        if (cboStart->currentText() == Q(kStartAfterText) &&
            txtVarFindStr->text() == Q(kBeginningOfField))
            txtVarFindStr->clear();
        SetChanged(true);
        UpdateStartStopBoxes();
        ShowPatternCheck();
        ShowHelpLine();
    });
    connect(cboStop, &QComboBox::currentIndexChanged, this, [this] {
        if (m_filling) return;
        SetChanged(true);
        UpdateStartStopBoxes();
        ShowHelpLine();
    });
    connect(lstVars, &QListWidget::currentRowChanged, this, [this](int row) {
        if (m_filling) return;
        Guard(FormCtx("lstVars_Click"), [&] {
            SaveAndSetVar(row);
            ShowHelpLine();
        });
    });
    connect(cmdVarAdd, &QPushButton::clicked, this,
            [this] { Guard(FormCtx("cmdVarAdd_Click"), [this] { AddNewVariable(); }); });
    connect(cmdDelete, &QPushButton::clicked, this,
            [this] { Guard(FormCtx("cmdDelete_Click"), [this] { DeleteVariableClicked(); }); });
    txtVarName->installEventFilter(this);
}

// Refills the variable lists. The output order comes in as names rather than as the output
// text, so a refresh keeps a name that holds the delimiter character (a space) in place.
void FrmTemplateEdit::SetExportFields(const std::vector<std::string>& outputArray) {
    Guard(ProcCtx("SetExportFields"), [&] {
        {
            FillScope filling(m_filling);
            ClearVarList();
            for (const ListedVariable& listed : ListedVariables(m_vars)) {
                auto* item = new QListWidgetItem(Q(listed.name));
                item->setData(Qt::UserRole, listed.position);
                lstVars->addItem(item);
            }
            m_curVar = -1;
            if (lstVars->count() > 0) {
                lstVars->setCurrentRow(0);
                m_curVar = 0;
                SetVarValues(CurrentPosition());
            }
            FillOutputLists(outputArray);
        }
        MakeOutputFromList();
    });
}

void FrmTemplateEdit::ClearVarList() {
    FillScope filling(m_filling);
    lstVars->clear();
    lstOutVars->clear();
    lstVarIncluded->clear();
    m_curVar = -1;
}

int FrmTemplateEdit::CurrentPosition() const {
    if (m_curVar < 0 || m_curVar >= lstVars->count()) return 0;
    return lstVars->item(m_curVar)->data(Qt::UserRole).toInt();
}

std::string FrmTemplateEdit::CurrentEntryName() const {
    if (m_curVar < 0 || m_curVar >= lstVars->count()) return {};
    return Trim(S(lstVars->item(m_curVar)->text()));
}

VariableDraft* FrmTemplateEdit::VariableAt(int position) {
    if (position < 1 || position > static_cast<int>(m_vars.size())) return nullptr;
    return &m_vars[static_cast<std::size_t>(position - 1)];
}

void FrmTemplateEdit::SetVarValues(int position) {
    Guard(ProcCtx("SetVarValues"), [&] {
        if (const VariableDraft* variable = VariableAt(position)) ShowVariable(*variable);
    });
}

void FrmTemplateEdit::GetVarValues(int position) {
    Guard(ProcCtx("GetVarValues"), [&] {
        if (VariableDraft* variable = VariableAt(position)) TakeVariable(*variable);
    });
}

void FrmTemplateEdit::SaveAndSetVar(int row) {
    Guard(ProcCtx("SaveAndSetVar"), [&] {
        if (m_curVar >= 0) GetVarValues(CurrentPosition());
        m_curVar = row < lstVars->count() ? row : -1;
        if (m_curVar >= 0) SetVarValues(CurrentPosition());
    });
}

void FrmTemplateEdit::SetVarCntrls(bool enabled) {
    frameProp->setEnabled(enabled);
    cmdDelete->setEnabled(enabled);
    UpdateStartStopBoxes();
}

void FrmTemplateEdit::UpdateStartStopBoxes() {
    // A pattern finds the value on its own: the stop choice does not apply to it.
    const bool regex = cboStart->currentText() == Q(kStartRegex);
    txtVarFindStr->setEnabled(ShowVarStart(S(cboStart->currentText())));
    txtVarPattern->setEnabled(regex);
    cboStop->setEnabled(!regex);
    txtVarStopStr->setEnabled(!regex && ShowVarStop(S(cboStop->currentText())));
}

void FrmTemplateEdit::ShowPatternCheck() {
    const bool regex = cboStart->currentText() == Q(kStartRegex);
    lblPatternCheck->setVisible(regex);
    lblPatternCheck->setText(
        regex ? Q(PatternCheckText(S(txtVarPattern->text()), chkMatchCase->isChecked()))
              : QString());
}

void FrmTemplateEdit::SelectVarEntry(const std::string& name) {
    for (int i = 0; i < lstVars->count(); ++i) {
        if (S(lstVars->item(i)->text()) != name) continue;
        {
            FillScope filling(m_filling);
            lstVars->setCurrentRow(i);
        }
        m_curVar = i;
        SetVarValues(CurrentPosition());
        return;
    }
}

void FrmTemplateEdit::AddNewVariable() {
    Guard(ProcCtx("AddNewVariable"), [this] {
        if (m_curVar >= 0) GetVarValues(CurrentPosition());
        manager::AddNewVariable(m_vars);
        SetExportFields(Entries(lstVarIncluded));
        SelectVarEntry(std::string(kNewVarName));
        SetVarCntrls(true);
        SetChanged(true);
        ShowHelpLine();
        txtVarName->setFocus(Qt::OtherFocusReason);
        txtVarName->selectAll();
    });
}

void FrmTemplateEdit::AddMadeVariable(const VariableDraft& variable) {
    Guard(ProcCtx("AddMadeVariable"), [&] {
        if (m_curVar >= 0) GetVarValues(CurrentPosition());
        VariableDraft made = variable;
        const std::vector<std::string> listed = Entries(lstVars);
        for (int n = 2; !VarNameRefusal(listed, -1, made.name).empty(); ++n)
            made.name = Trim(variable.name) + std::to_string(n);
        m_vars.push_back(made);
        std::vector<std::string> output = Entries(lstVarIncluded);
        output.push_back(made.name);
        SetExportFields(output);
        SelectVarEntry(made.name);
        SetVarCntrls(true);
        SetChanged(true);
        ShowHelpLine();
    });
}

void FrmTemplateEdit::ReplaceMadeVariable(const VariableDraft& variable) {
    Guard(ProcCtx("ReplaceMadeVariable"), [&] {
        if (m_curVar >= 0) GetVarValues(CurrentPosition());
        const auto it = std::find_if(m_vars.begin(), m_vars.end(), [&](const VariableDraft& v) {
            return EqualsNoCase(Trim(v.name), Trim(variable.name));
        });
        if (it == m_vars.end()) {
            AddMadeVariable(variable);
            return;
        }
        // The name stays as the user may have spelt it since.
        const std::string name = it->name;
        *it = variable;
        it->name = name;
        if (m_curVar >= 0) SetVarValues(CurrentPosition());
        SetChanged(true);
        ShowHelpLine();
    });
}

void FrmTemplateEdit::DeleteVariableClicked() {
    if (m_curVar < 0) {
        lblHelp->setText(Q(kMsgNoVariable));
        return;
    }
    if (MsgBox(kMsgDeleteVariable, MsgButtons::YesNo, MsgIcon::Question, kWarningTitle,
               MsgAnswer::No) != MsgAnswer::Yes)
        return;
    DeleteCurVariable();
}

void FrmTemplateEdit::DeleteCurVariable() {
    Guard(ProcCtx("DeleteCurVariable"), [this] {
        const int position = CurrentPosition();
        if (!VariableAt(position)) return;
        m_vars.erase(m_vars.begin() + (position - 1));
        m_curVar = -1;
        {
            FillScope filling(m_filling);
            txtVarName->clear();
            cboVarMapiField->setCurrentIndex(0);
            cboStart->setCurrentIndex(0);
            cboStop->setCurrentIndex(0);
            txtVarFindStr->clear();
            txtVarStopStr->clear();
            txtVarHeaderName->clear();
            txtVarPattern->clear();
            chkRepeat->setChecked(false);
        }
        ShowPatternCheck();
        // The deleted name drops out of the output line: it is no variable any more.
        SetExportFields(Entries(lstVarIncluded));
        SetChanged(true);
        if (lstVars->count() == 0) SetVarCntrls(false);
        ShowHelpLine();
    });
}

bool FrmTemplateEdit::CheckVarName() {
    return GuardValue(FormCtx("txtVarName_LostFocus"), true, [this] {
        if (m_curVar < 0) return true;
        const std::string newName = Trim(S(txtVarName->text()));
        const std::string oldName = CurrentEntryName();
        const std::string_view refusal = VarNameRefusal(Entries(lstVars), m_curVar, newName);
        if (!refusal.empty()) {
            QApplication::beep();
            MsgBox(refusal);
            {
                FillScope filling(m_filling);
                txtVarName->setText(Q(oldName));
            }
            // The focus goes back once the focus change under way has finished.
            QTimer::singleShot(0, txtVarName, [box = txtVarName] {
                box->setFocus(Qt::OtherFocusReason);
                box->selectAll();
            });
            return false;
        }
        if (newName != oldName) {
            ChangeIncludeList(oldName, newName);
            ReNameVar(newName);
        }
        SetVarCntrls(true);
        return true;
    });
}

void FrmTemplateEdit::ChangeIncludeList(const std::string& oldName, const std::string& newName) {
    Guard(ProcCtx("ChangeIncludeList"), [&] {
        std::vector<std::string> included = Entries(lstVarIncluded);
        manager::ChangeIncludeList(included, oldName, newName);
        for (int i = 0; i < lstVarIncluded->count(); ++i) {
            const QString text = Q(included[static_cast<std::size_t>(i)]);
            if (lstVarIncluded->item(i)->text() != text) lstVarIncluded->item(i)->setText(text);
        }
        MakeOutputFromList();
    });
}

void FrmTemplateEdit::ReNameVar(const std::string& newName) {
    Guard(ProcCtx("ReNameVar"), [&] {
        const int position = CurrentPosition();
        VariableDraft* variable = VariableAt(position);
        if (!variable) return;
        GetVarValues(position);
        variable->name = newName;
        SetExportFields(Entries(lstVarIncluded));
        SelectVarEntry(newName);
        SetChanged(true);
        ShowHelpLine();
    });
}

QString FrmTemplateEdit::HelpText() const {
    return lblHelp->text();
}

void FrmTemplateEdit::ShowHelpLine() {
    lblHelp->setVisible(Settings().showHelp);
    if (m_curVar < 0) {
        lblHelp->setText(Q(kMsgNoVariable));
        return;
    }
    lblHelp->setText(
        Q(HelpLine({S(txtVarName->text()), ChosenField(cboVarMapiField, txtVarHeaderName),
                    S(cboStart->currentText()), S(txtVarFindStr->text()), S(cboStop->currentText()),
                    S(txtVarStopStr->text()), S(txtVarPattern->text()), chkRepeat->isChecked()})));
}

}  // namespace tallix::manager
