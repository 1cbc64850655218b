// The template editor's frame: the tabs and buttons, the changed flag, and saving.
#include "manager/template_edit.h"

#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTabWidget>
#include <QVBoxLayout>

#include "manager/client_procs.h"
#include "manager/template_choices.h"
#include "manager/template_edit_parts.h"
#include "model/template.h"
#include "settings/error_reporter.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"

namespace tallix::manager {
using namespace edit_parts;

void SetComboIndex(QComboBox* combo, const std::string& text) {
    Guard(ProcCtx("SetComboIndex"), [&] {
        if (combo->count() == 0) return;
        combo->setCurrentIndex(0);
        const QString wanted = Q(Trim(text));
        for (int i = 0; i < combo->count(); ++i) {
            if (Q(Trim(S(combo->itemText(i)))) == wanted) {
                combo->setCurrentIndex(i);
                return;
            }
        }
    });
}

FrmTemplateEdit::FrmTemplateEdit(std::shared_ptr<clsTemplate> tpl, QWidget* parent)
    : QDialog(parent), m_tpl(std::move(tpl)) {
    if (!m_tpl) m_tpl = std::make_shared<clsTemplate>();
    setObjectName("frmTemplateEdit");
    setWindowTitle(Q(kEditorCaption));
    setModal(true);

    // The controls are made in the order the focus moves through them.
    tabMain = Named(new QTabWidget(this), "tabMain");
    BuildGeneralTab();
    BuildVariablesTab();
    BuildOutputTab();
    BuildScriptingTab();
    BuildButtons();

    // Load: the General tab first, the field lists for the source, the scripts.
    tabMain->setCurrentIndex(kEditorTabGeneral);
    FillMapiFilterCombo(cboFilterField);
    FillMapiCombo(cboVarMapiField);
    SetScripting();
    WireGeneralTab();
    WireVariablesTab();
    WireOutputTab();
    WireScriptingTab();
    WireButtons();
    SetVarCntrls(false);
    SetChanged(false);
}

FrmTemplateEdit::~FrmTemplateEdit() = default;

void FrmTemplateEdit::BuildButtons() {
    cmdOK = Button("cmdOK", "OK", this);
    cmdOK->setDefault(true);
    cmdOK->setAutoDefault(true);
    cmdCancel = Button("cmdCancel", "&Cancel", this);
    cmdApply = Button("cmdApply", "&Apply", this);
    cmdHelp = Button("cmdHelp", "&Help", this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    for (QPushButton* b : {cmdOK, cmdCancel, cmdApply, cmdHelp}) buttons->addWidget(b);

    auto* top = new QVBoxLayout(this);
    top->addWidget(tabMain, 1);
    top->addLayout(buttons);
}

void FrmTemplateEdit::WireButtons() {
    connect(tabMain, &QTabWidget::currentChanged, this, [this] {
        UpdateStartStopBoxes();
        ShowHelpLine();
    });
    connect(cmdApply, &QPushButton::clicked, this, [this] { ApplyClicked(); });
    connect(cmdOK, &QPushButton::clicked, this, [this] { OkClicked(); });
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(cmdHelp, &QPushButton::clicked, this,
            [] { DoHelp(kHelpCommandContext, kHelpContextEditor); });
    // F1 anywhere in the dialog opens the same page (one topic serves every control).
    auto* f1 = new QShortcut(QKeySequence::HelpContents, this);
    connect(f1, &QShortcut::activated, cmdHelp, &QPushButton::click);
}

// ---------------------------------------------------------------------------------------
// Dialog state

void FrmTemplateEdit::SetChanged(bool changed) {
    m_changed = changed;
    cmdApply->setEnabled(changed);
    if (changed) Q_EMIT templateEdited();
}

void FrmTemplateEdit::MarkEdited() {
    if (!m_filling) SetChanged(true);
}

void FrmTemplateEdit::Activate() {
    SetChanged(false);
    SetVarCntrls(lstVars->count() > 0);
    UpdateStartStopBoxes();
    ShowHelpLine();
}

void FrmTemplateEdit::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    Activate();
}

int FrmTemplateEdit::AddTab(QWidget* page, const QString& caption) {
    return tabMain->addTab(page, caption);
}

std::shared_ptr<clsTemplate> FrmTemplateEdit::EditedTemplate() {
    return GuardValue<std::shared_ptr<clsTemplate>>(FormCtx("EditedTemplate"), nullptr, [this] {
        std::shared_ptr<clsTemplate> copy = m_tpl->Clone();
        manager::GetEditCtrlValues(Draft(), *copy);
        return copy;
    });
}

void FrmTemplateEdit::SetEditCtrlValues(bool isNew) {
    SetDraft(DraftFromTemplate(*m_tpl, isNew));
    EnableForget();
}

void FrmTemplateEdit::GetEditCtrlValues() {
    manager::GetEditCtrlValues(Draft(), *m_tpl);
}

// ---------------------------------------------------------------------------------------
// Leaving a box, saving

bool FrmTemplateEdit::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut && !m_filling) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        // The focus leaving for another window (a message box, the file dialog) or a menu
        // is no leaving of the box.
        const bool leftWindow =
            reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason;
        // QApplication already names the widget that takes the focus.
        const QWidget* next = QApplication::focusWidget();
        if (!leftWindow && next != cmdCancel) {
            if (watched == txtTemplateName)
                TemplateNameLeft();
            else if (watched == txtVarName && next != cmdDelete)
                CheckVarName();
            else if (watched == txtOutputFileName)
                OutputFileLeft();
        }
    }
    return QDialog::eventFilter(watched, event);
}

bool FrmTemplateEdit::SaveTemplate() {
    return GuardValue(FormCtx("cmdApply_Click"), false, [this] {
        // A name typed into the variable's box and not yet checked (Enter pressed on OK
        // while the box had the focus) gets its checks now.
        if (m_curVar >= 0 && Trim(S(txtVarName->text())) != CurrentEntryName() && !CheckVarName())
            return false;
        if (!SaveDraft(Draft(), m_tpl)) return false;
        SetChanged(false);
        EnableForget();
        return true;
    });
}

void FrmTemplateEdit::ApplyClicked() {
    SaveTemplate();
}

void FrmTemplateEdit::OkClicked() {
    Guard(FormCtx("cmdOK_Click"), [this] {
        std::string name = S(txtTemplateName->text());
        std::string message;
        if (!IsGoodFileName(name, message, State().newTemplate)) {
            MsgBox(std::string(kMsgCannotSaveTemplate) + message, MsgButtons::Ok, MsgIcon::Critical,
                   kErrorTitle);
            return;
        }
        if (SaveTemplate()) accept();
    });
}

}  // namespace tallix::manager
