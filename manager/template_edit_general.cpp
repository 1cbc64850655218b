// The template editor's "&General" tab: name, active flag, each message once and forgetting
// the messages processed, filter, output file, delimiter.
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QVBoxLayout>
#include <chrono>
#include <filesystem>

#include "engine/forget_command.h"
#include "engine/run_lock.h"
#include "manager/client_procs.h"
#include "manager/template_choices.h"
#include "manager/template_edit.h"
#include "manager/template_edit_parts.h"
#include "model/field_vocabulary.h"
#include "settings/error_reporter.h"
#include "settings/user_interface.h"

namespace tallix::manager {
using namespace edit_parts;
namespace {

// `frame` with its controls in a form, each after its label.
QGroupBox* InForm(QGroupBox* frame, std::initializer_list<std::pair<const char*, QWidget*>> rows) {
    auto* form = new QFormLayout(frame);
    for (const auto& [label, control] : rows) form->addRow(label, control);
    return frame;
}

// A label for `buddy`, for the form rows whose field is a layout.
QLabel* Label(const char* text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setBuddy(buddy);
    return label;
}

}  // namespace

void FrmTemplateEdit::BuildGeneralTab() {
    auto* page = Named(new QWidget, "tabGeneral");
    auto* layout = new QVBoxLayout(page);

    auto* frameTemplate = new QGroupBox("Template:", page);
    txtTemplateName = Named(new QLineEdit(frameTemplate), "txtTemplateName");
    chkActive = Named(new QCheckBox(frameTemplate), "chkActive");
    InForm(frameTemplate, {{"Name:", txtTemplateName}, {"Active:", chkActive}});
    cboProcessOnce = Named(new QComboBox(frameTemplate), "cboProcessOnce");
    for (std::string_view choice : {kProcessOnceFollow, kProcessOnceYes, kProcessOnceNo})
        cboProcessOnce->addItem(Q(choice));
    cboProcessOnce->setToolTip(
        "Whether a message the template has been offered in an earlier run is passed over");
    cmdForget = Button("cmdForget", "Forget &processed messages", frameTemplate);
    cmdForget->setToolTip("Let the next run offer the template every message again");
    auto* onceRow = new QHBoxLayout;
    onceRow->addWidget(cboProcessOnce, 1);
    onceRow->addWidget(cmdForget);
    static_cast<QFormLayout*>(frameTemplate->layout())
        ->addRow(Label("Each message &once:", cboProcessOnce, frameTemplate), onceRow);
    layout->addWidget(frameTemplate);

    // A label names its field to a screen reader only when both have the same parent: the
    // rows that hold more than one control are layouts, not widgets.
    auto* frameFilter = new QGroupBox("Message Filter:", page);
    cboFilterField = Named(new QComboBox(frameFilter), "cboFilterField");
    txtFilterHeaderName = Named(NewHeaderNameBox(frameFilter), "txtFilterHeaderName");
    txtFilterHeaderName->setAccessibleName("Filter header name");
    auto* fieldRow = new QHBoxLayout;
    fieldRow->addWidget(cboFilterField, 1);
    fieldRow->addWidget(txtFilterHeaderName, 1);
    txtFilterFindStr = Named(new QLineEdit(frameFilter), "txtFilterFindStr");
    auto* filterForm = new QFormLayout(frameFilter);
    filterForm->addRow(Label("Field:", cboFilterField, frameFilter), fieldRow);
    filterForm->addRow("Match String:", txtFilterFindStr);
    layout->addWidget(frameFilter);

    auto* frameOutput = new QGroupBox("Output File", page);
    auto* of = new QFormLayout(frameOutput);
    txtOutputFileName = Named(new QLineEdit(frameOutput), "txtOutputFileName");
    cmdDirBrowse = Button("cmdDirBrowse", "&Browse...", frameOutput);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(txtOutputFileName, 1);
    fileRow->addWidget(cmdDirBrowse);
    cboDelimiter = Named(new QComboBox(frameOutput), "cboDelimiter");
    for (std::string_view d :
         {kDelimiterComma, kDelimiterSpace, kDelimiterTab, kDelimiterSemicolon})
        cboDelimiter->addItem(Q(d));
    of->addRow(Label("File Name:", txtOutputFileName, frameOutput), fileRow);
    outputFileCheck = new PathFieldCheck(txtOutputFileName, PathUse::FileToWrite, frameOutput);
    of->addRow(QString(), outputFileCheck->Layout());
    of->addRow("Delimiter:", cboDelimiter);
    layout->addWidget(frameOutput);
    layout->addStretch(1);

    tabMain->addTab(page, "&General");
}

void FrmTemplateEdit::WireGeneralTab() {
    for (QLineEdit* e : {txtTemplateName, txtFilterHeaderName, txtFilterFindStr, txtOutputFileName})
        connect(e, &QLineEdit::textEdited, this, &FrmTemplateEdit::MarkEdited);
    connect(chkActive, &QCheckBox::toggled, this, &FrmTemplateEdit::MarkEdited);
    // A combo box counts as an edit only when its selection really changed.
    connect(cboFilterField, &QComboBox::currentIndexChanged, this, [this] {
        EnableHeaderBox(cboFilterField, txtFilterHeaderName);
        MarkEdited();
    });
    connect(cboDelimiter, &QComboBox::currentIndexChanged, this, [this] {
        if (m_filling) return;
        Guard(FormCtx("cboDelimiter_Click"), [this] {
            // The delimiter is saved with the template: an edit even when the sample line
            // stays the same (fewer than two names in it).
            SetChanged(true);
            SetDelimiterFromCombo();
            MakeOutputFromList();
        });
    });
    connect(cmdDirBrowse, &QPushButton::clicked, this, [this] { BrowseOutputFile(); });
    connect(cboProcessOnce, &QComboBox::currentIndexChanged, this, &FrmTemplateEdit::MarkEdited);
    connect(cmdForget, &QPushButton::clicked, this, [this] { ForgetProcessed(); });
    for (QLineEdit* box : {txtTemplateName, txtOutputFileName}) box->installEventFilter(this);
}

void FrmTemplateEdit::SetDelimiterFromCombo() {
    m_delimiter = DelimiterCharacter(S(cboDelimiter->currentText()));
}

void FrmTemplateEdit::TemplateNameLeft() {
    Guard(FormCtx("txtTemplateName_LostFocus"), [this] {
        std::string name = S(txtTemplateName->text());
        std::string message;
        if (!IsGoodFileName(name, message, State().newTemplate))
            MsgBox(message, MsgButtons::Ok, MsgIcon::Critical, kErrorTitle);
    });
}

void FrmTemplateEdit::OutputFileLeft() {
    Guard(FormCtx("txtOutputFileName_LostFocus"),
          [this] { CheckOutputFile(S(txtOutputFileName->text())); });
}

void FrmTemplateEdit::BrowseOutputFile() {
    Guard(FormCtx("cmdDirBrowse_Click"), [this] {
        const QString chosen = ChooseOutputFile(this, txtOutputFileName->text());
        if (chosen.isEmpty()) return;
        txtOutputFileName->setText(chosen);
        CheckOutputFile(S(chosen));
        SetChanged(true);
    });
}

void FrmTemplateEdit::EnableForget() {
    // A new template has a bare name until it is saved.
    const QFileInfo file(QString::fromStdString(m_tpl->FileName()));
    cmdForget->setEnabled(file.isAbsolute() && file.isFile());
}

void FrmTemplateEdit::ForgetProcessed() {
    Guard(FormCtx("cmdForget_Click"), [this] {
        // The record knows the template by the name of the file its runs read, whatever the
        // name box shows now.
        const std::string name = std::filesystem::path(m_tpl->FileName()).filename().string();
        if (MsgBox(std::string(kMsgForgetAsk) + name + std::string(kMsgForgetAskEnd),
                   MsgButtons::YesNo, MsgIcon::Question, kEditorCaption) != MsgAnswer::Yes)
            return;
        // A run in progress is not waited for: the window would freeze meanwhile.
        const engine::ForgetOutcome outcome =
            engine::ForgetProcessed(name, std::chrono::milliseconds(0));
        if (!outcome.error.empty()) {
            std::string text = outcome.error;
            if (text == engine::kAnotherRun) text += kMsgForgetWaitForRun;
            MsgBox(text, MsgButtons::Ok, MsgIcon::Critical, kErrorTitle);
            return;
        }
        MsgBox(engine::ForgetDoneText(outcome, name), MsgButtons::Ok, MsgIcon::Information,
               kEditorCaption);
        ShowTemplateHistories();
    });
}

}  // namespace tallix::manager
