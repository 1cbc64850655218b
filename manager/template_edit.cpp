#include "manager/template_edit.h"

#include <fcntl.h>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFocusEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QShortcut>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "engine/templates/script_files.h"
#include "manager/client_procs.h"
#include "manager/main_window.h"
#include "manager/template_choices.h"
#include "model/field_vocabulary.h"
#include "model/template.h"
#include "settings/error_reporter.h"
#include "settings/global_utils.h"
#include "settings/settings_store.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"

namespace tallix::manager {
namespace {

constexpr std::string_view kCtxProcs = "modClientProcs - ";
constexpr std::string_view kCtxForm = "frmTemplateEdit ";
constexpr std::string_view kScriptTemplateObject = "Template";

std::string ProcCtx(std::string_view name) {
    return std::string(kCtxProcs) + std::string(name);
}
std::string FormCtx(std::string_view name) {
    return std::string(kCtxForm) + std::string(name);
}

QString Q(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}
std::string S(const QString& s) {
    return s.toStdString();
}

// Sort key of the sorted lists: without regard to case, ties in byte order.
bool SortsBefore(const QString& a, const QString& b) {
    const int c = QString::compare(a, b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
}

QListWidgetItem* InsertSorted(QListWidget* list, const QString& text) {
    int at = 0;
    while (at < list->count() && !SortsBefore(text, list->item(at)->text())) ++at;
    auto* item = new QListWidgetItem(text);
    list->insertItem(at, item);
    return item;
}

std::vector<std::string> Entries(const QListWidget* list) {
    std::vector<std::string> out;
    for (int i = 0; i < list->count(); ++i) out.push_back(S(list->item(i)->text()));
    return out;
}

std::string Join(const std::vector<std::string>& parts, std::string_view sep) {
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i) out += sep;
        out += parts[i];
    }
    return out;
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

std::string CutForHelp(const std::string& text) {
    return text.size() > kHelpTextShown ? text.substr(0, kHelpTextShown) + "..." : text;
}

QPushButton* Button(const char* name, const char* caption, QWidget* parent) {
    auto* b = new QPushButton(QString::fromLatin1(caption), parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    return b;
}

// Marks the controls as filled by code for as long as it lives.
struct FillScope {
    explicit FillScope(int& n) : count(n) { ++count; }
    ~FillScope() { --count; }
    FillScope(const FillScope&) = delete;
    FillScope& operator=(const FillScope&) = delete;
    int& count;
};

// Renames `from` to `to` unless `to` exists; errno on failure, 0 when done.
int RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without the no-replace flag: check, then rename.
    std::error_code ec;
    if (std::filesystem::exists(to, ec)) return EEXIST;
    return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace

std::string SetStartComboStr(const std::string& findStart) {
    const std::string v = Trim(findStart);
    if (v.empty() || v == "NONE" || EqualsNoCase(v, kBeginningOfField))
        return std::string(kStartBeginning);
    return std::string(kStartAfterText);
}

std::string SetStopComboStr(const std::string& findStop) {
    const std::string v = Trim(findStop);
    if (v.empty() || v == "NONE" || EqualsNoCase(v, kEndOfField))
        return std::string(kStopEndOfField);
    if (EqualsNoCase(v, kEndOfLine)) return std::string(kStopEndOfLine);
    return std::string(kStopDefinedText);
}

std::string FindTextFromChoice(const std::string& choice, const std::string& boxText) {
    if (LCase(choice).find(LCase(std::string(kStopDefinedText))) == std::string::npos)
        return "{" + choice + "}";
    return boxText;
}

bool ShowVarStart(const std::string& choice) {
    return choice == kStartAfterText;
}
bool ShowVarStop(const std::string& choice) {
    return choice == kStopDefinedText;
}

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

    tabMain = new QTabWidget(this);
    tabMain->setObjectName("tabMain");
    BuildGeneralTab();
    BuildVariablesTab();
    BuildOutputTab();
    BuildScriptingTab();

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

    // Load: the General tab first, the field lists for the source, the scripts.
    tabMain->setCurrentIndex(kEditorTabGeneral);
    FillMapiFilterCombo(cboFilterField);
    FillMapiCombo(cboVarMapiField);
    SetScripting();
    Wire();
    SetVarCntrls(false);
    SetChanged(false);
}

FrmTemplateEdit::~FrmTemplateEdit() = default;

void FrmTemplateEdit::BuildGeneralTab() {
    auto* page = new QWidget;
    page->setObjectName("tabGeneral");
    auto* layout = new QVBoxLayout(page);

    auto* frameTemplate = new QGroupBox("Template:", page);
    auto* tf = new QFormLayout(frameTemplate);
    txtTemplateName = new QLineEdit(frameTemplate);
    txtTemplateName->setObjectName("txtTemplateName");
    chkActive = new QCheckBox(frameTemplate);
    chkActive->setObjectName("chkActive");
    tf->addRow("Name:", txtTemplateName);
    tf->addRow("Active:", chkActive);
    layout->addWidget(frameTemplate);

    auto* frameFilter = new QGroupBox("Message Filter:", page);
    auto* ff = new QFormLayout(frameFilter);
    cboFilterField = new QComboBox(frameFilter);
    cboFilterField->setObjectName("cboFilterField");
    txtFilterFindStr = new QLineEdit(frameFilter);
    txtFilterFindStr->setObjectName("txtFilterFindStr");
    ff->addRow("Field:", cboFilterField);
    ff->addRow("Match String:", txtFilterFindStr);
    layout->addWidget(frameFilter);

    auto* frameOutput = new QGroupBox("Output File", page);
    auto* of = new QFormLayout(frameOutput);
    txtOutputFileName = new QLineEdit(frameOutput);
    txtOutputFileName->setObjectName("txtOutputFileName");
    cmdDirBrowse = Button("cmdDirBrowse", "&Browse...", frameOutput);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(txtOutputFileName, 1);
    fileRow->addWidget(cmdDirBrowse);
    cboDelimiter = new QComboBox(frameOutput);
    cboDelimiter->setObjectName("cboDelimiter");
    for (std::string_view d : {kDelimiterComma, kDelimiterSpace, kDelimiterTab})
        cboDelimiter->addItem(Q(d));
    of->addRow("File Name:", fileRow);
    of->addRow("Delimiter:", cboDelimiter);
    layout->addWidget(frameOutput);
    layout->addStretch(1);

    tabMain->addTab(page, "&General");
}

void FrmTemplateEdit::BuildVariablesTab() {
    auto* page = new QWidget;
    page->setObjectName("tabVariables");
    auto* layout = new QGridLayout(page);

    lstVars = new QListWidget(page);
    lstVars->setObjectName("lstVars");
    cmdVarAdd = Button("cmdVarAdd", "A&dd", page);
    cmdDelete = Button("cmdDelete", "&Remove", page);
    auto* left = new QVBoxLayout;
    left->addWidget(lstVars, 1);
    auto* addRemove = new QHBoxLayout;
    addRemove->addWidget(cmdVarAdd);
    addRemove->addWidget(cmdDelete);
    left->addLayout(addRemove);
    layout->addLayout(left, 0, 0);

    frameProp = new QGroupBox("Variable Properties", page);
    frameProp->setObjectName("frameProp");
    auto* pf = new QGridLayout(frameProp);
    txtVarName = new QLineEdit(frameProp);
    txtVarName->setObjectName("txtVarName");
    cboVarMapiField = new QComboBox(frameProp);
    cboVarMapiField->setObjectName("cboVarMapiField");
    cboStart = new QComboBox(frameProp);
    cboStart->setObjectName("cboStart");
    cboStart->addItems({Q(kStartBeginning), Q(kStartAfterText)});
    txtVarFindStr = new QLineEdit(frameProp);
    txtVarFindStr->setObjectName("txtVarFindStr");
    cboStop = new QComboBox(frameProp);
    cboStop->setObjectName("cboStop");
    cboStop->addItems({Q(kStopEndOfField), Q(kStopEndOfLine), Q(kStopDefinedText)});
    txtVarStopStr = new QLineEdit(frameProp);
    txtVarStopStr->setObjectName("txtVarStopStr");
    cboVarType = new QComboBox(frameProp);
    cboVarType->setObjectName("cboVarType");
    cboVarType->addItem(Q(kVarTypeMapi));
    chkUseQuote = new QCheckBox("Use quotation marks around output value.", frameProp);
    chkUseQuote->setObjectName("chkUseQuote");
    chkRemoveLF = new QCheckBox("Remove Line Feed/Return characters from within data", frameProp);
    chkRemoveLF->setObjectName("chkRemoveLF");
    chkMatchString = new QCheckBox("Match Whole String", frameProp);
    chkMatchString->setObjectName("chkMatchString");
    chkMatchCase = new QCheckBox("Match Case", frameProp);
    chkMatchCase->setObjectName("chkMatchCase");
    chkStartOfLine = new QCheckBox("Start of Line Only", frameProp);
    chkStartOfLine->setObjectName("chkStartOfLine");

    int row = 0;
    pf->addWidget(new QLabel("Name:", frameProp), row, 0);
    pf->addWidget(txtVarName, row++, 1, 1, 2);
    pf->addWidget(new QLabel("Message Field:", frameProp), row, 0);
    pf->addWidget(cboVarMapiField, row++, 1, 1, 2);
    pf->addWidget(new QLabel("Data Starts:", frameProp), row, 0);
    pf->addWidget(cboStart, row, 1);
    pf->addWidget(txtVarFindStr, row++, 2);
    pf->addWidget(new QLabel("Continues Until:", frameProp), row, 0);
    pf->addWidget(cboStop, row, 1);
    pf->addWidget(txtVarStopStr, row++, 2);
    pf->addWidget(new QLabel("Type:", frameProp), row, 0);
    pf->addWidget(cboVarType, row++, 1);
    for (QCheckBox* c : {chkUseQuote, chkRemoveLF, chkMatchString, chkMatchCase, chkStartOfLine})
        pf->addWidget(c, row++, 0, 1, 3);
    pf->setColumnStretch(2, 1);
    layout->addWidget(frameProp, 0, 1);

    lblHelp = new QLabel(page);
    lblHelp->setObjectName("lblHelp");
    lblHelp->setWordWrap(true);
    lblHelp->setFrameShape(QFrame::StyledPanel);
    layout->addWidget(lblHelp, 1, 0, 1, 2);
    layout->setColumnStretch(0, 1);
    layout->setColumnStretch(1, 2);
    layout->setRowStretch(0, 1);

    tabMain->addTab(page, "&Variables");
}

namespace {

// Two lists side by side with the move buttons between them.
QGridLayout* TwoLists(QWidget* page, const char* leftCaption, QListWidget* left,
                      const char* rightCaption, QListWidget* right,
                      std::initializer_list<QPushButton*> buttons) {
    auto* grid = new QGridLayout;
    auto* leftLabel = new QLabel(QString::fromLatin1(leftCaption), page);
    leftLabel->setBuddy(left);
    auto* rightLabel = new QLabel(QString::fromLatin1(rightCaption), page);
    rightLabel->setBuddy(right);
    grid->addWidget(leftLabel, 0, 0);
    grid->addWidget(left, 1, 0);
    auto* column = new QVBoxLayout;
    column->addStretch(1);
    for (QPushButton* b : buttons) column->addWidget(b);
    column->addStretch(1);
    grid->addLayout(column, 1, 1);
    grid->addWidget(rightLabel, 0, 2);
    grid->addWidget(right, 1, 2);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(1, 1);
    // The focus goes as the eye reads: the left list, the buttons, the right list.
    QWidget* previous = left;
    for (QPushButton* b : buttons) {
        QWidget::setTabOrder(previous, b);
        previous = b;
    }
    QWidget::setTabOrder(previous, right);
    return grid;
}

}  // namespace

void FrmTemplateEdit::BuildOutputTab() {
    auto* page = new QWidget;
    page->setObjectName("tabOutputFormat");
    auto* layout = new QVBoxLayout(page);
    lstOutVars = new QListWidget(page);
    lstOutVars->setObjectName("lstOutVars");
    lstVarIncluded = new QListWidget(page);
    lstVarIncluded->setObjectName("lstVarIncluded");
    cmdAddOne = Button("cmdAddOne", "Add  >> ", page);
    cmdRemoveOne = Button("cmdRemoveOne", "<< Remove", page);
    cmdAddAll = Button("cmdAddAll", "Add All  >> ", page);
    cmdRemoveAll = Button("cmdRemoveAll", "Remove All", page);
    cmdMoveUp = Button("cmdMoveUp", "Up", page);
    cmdMoveDown = Button("cmdMoveDown", "Down", page);
    // The focus order follows the layout: available list, buttons, output list.
    layout->addLayout(
        TwoLists(page, "&Available:", lstOutVars, "&Output List:", lstVarIncluded,
                 {cmdAddOne, cmdRemoveOne, cmdAddAll, cmdRemoveAll, cmdMoveUp, cmdMoveDown}),
        1);
    txtOutputLine = new QLineEdit(page);
    txtOutputLine->setObjectName("txtOutputLine");
    txtOutputLine->setReadOnly(true);
    auto* outRow = new QFormLayout;
    outRow->addRow("Output:", txtOutputLine);
    layout->addLayout(outRow);
    chkAllowDuplicate = new QCheckBox("&Allow Duplicates", page);
    chkAllowDuplicate->setObjectName("chkAllowDuplicate");
    layout->addWidget(chkAllowDuplicate);
    tabMain->addTab(page, "Output &Format");
}

void FrmTemplateEdit::BuildScriptingTab() {
    auto* page = new QWidget;
    page->setObjectName("tabScripting");
    auto* layout = new QVBoxLayout(page);
    lstScripts = new QListWidget(page);
    lstScripts->setObjectName("lstScripts");
    lstUseScripts = new QListWidget(page);
    lstUseScripts->setObjectName("lstUseScripts");
    cmdScriptAddOne = Button("cmdScriptAddOne", "Add  >> ", page);
    cmdScriptRemoveOne = Button("cmdScriptRemoveOne", "<< Remove", page);
    cmdScriptAddAll = Button("cmdScriptAddAll", "Add All  >> ", page);
    cmdScriptRemoveAll = Button("cmdScriptRemoveAll", "Remove All", page);
    cmdScriptUp = Button("cmdScriptUp", "Up", page);
    cmdScriptDown = Button("cmdScriptDown", "Down", page);
    layout->addLayout(
        TwoLists(page, "&Available Scripts:", lstScripts, "&Script Run List:", lstUseScripts,
                 {cmdScriptAddOne, cmdScriptRemoveOne, cmdScriptAddAll, cmdScriptRemoveAll,
                  cmdScriptUp, cmdScriptDown}),
        1);
    tabMain->addTab(page, "Sc&ripting");
}

void FrmTemplateEdit::Wire() {
    auto edited = [this] {
        if (!m_filling) SetChanged(true);
    };
    for (QLineEdit* e : {txtTemplateName, txtFilterFindStr, txtOutputFileName, txtVarName,
                         txtVarFindStr, txtVarStopStr})
        connect(e, &QLineEdit::textEdited, this, edited);
    for (QCheckBox* c : {chkActive, chkUseQuote, chkRemoveLF, chkMatchString, chkMatchCase,
                         chkStartOfLine, chkAllowDuplicate})
        connect(c, &QCheckBox::toggled, this, edited);
    // Combo boxes count as an edit only when their selection really changed.
    for (QComboBox* c : {cboFilterField, cboVarMapiField, cboVarType})
        connect(c, &QComboBox::currentIndexChanged, this, edited);
    connect(cboStart, &QComboBox::currentIndexChanged, this, [this] {
        if (m_filling) return;
        if (cboStart->currentText() == Q(kStartAfterText) &&
            txtVarFindStr->text() == Q(kBeginningOfField))
            txtVarFindStr->clear();
        SetChanged(true);
        UpdateStartStopBoxes();
        ShowHelpLine();
    });
    connect(cboStop, &QComboBox::currentIndexChanged, this, [this] {
        if (m_filling) return;
        SetChanged(true);
        UpdateStartStopBoxes();
        ShowHelpLine();
    });
    connect(cboDelimiter, &QComboBox::currentIndexChanged, this, [this] {
        if (m_filling) return;
        Guard(FormCtx("cboDelimiter_Click"), [this] {
            SetDelimiterFromCombo();
            MakeOutputFromList();
        });
    });
    connect(lstVars, &QListWidget::currentRowChanged, this, [this](int row) {
        if (m_filling) return;
        Guard(FormCtx("lstVars_Click"), [&] {
            SaveAndSetVar(row);
            ShowHelpLine();
        });
    });
    connect(tabMain, &QTabWidget::currentChanged, this, [this] {
        UpdateStartStopBoxes();
        ShowHelpLine();
    });
    connect(cmdVarAdd, &QPushButton::clicked, this,
            [this] { Guard(FormCtx("cmdVarAdd_Click"), [this] { AddNewVariable(); }); });
    connect(cmdDelete, &QPushButton::clicked, this,
            [this] { Guard(FormCtx("cmdDelete_Click"), [this] { DeleteVariableClicked(); }); });

    auto outputs = [this](const char* handler, auto procedure) {
        return [this, handler, procedure] {
            Guard(FormCtx(handler), [&] {
                procedure();
                MakeOutputFromList();
            });
        };
    };
    connect(cmdAddOne, &QPushButton::clicked, this,
            outputs("cmdAddOne_Click", [this] { AddOneToInclude(lstOutVars, lstVarIncluded); }));
    connect(cmdRemoveOne, &QPushButton::clicked, this, outputs("cmdRemoveOne_Click", [this] {
                RemoveOneFromInclude(lstVarIncluded, lstOutVars);
            }));
    connect(cmdAddAll, &QPushButton::clicked, this,
            outputs("cmdAddAll_Click", [this] { AddAllToInclude(lstOutVars, lstVarIncluded); }));
    connect(cmdRemoveAll, &QPushButton::clicked, this, outputs("cmdRemoveAll_Click", [this] {
                RemoveAllFromInclude(lstVarIncluded, lstOutVars);
            }));
    connect(cmdMoveUp, &QPushButton::clicked, this,
            outputs("cmdMoveUp_Click", [this] { MoveUpList(lstVarIncluded); }));
    connect(cmdMoveDown, &QPushButton::clicked, this,
            outputs("cmdMoveDown_Click", [this] { MoveDownList(lstVarIncluded); }));

    auto scripts = [this](const char* handler, auto procedure) {
        return [this, handler, procedure] { Guard(FormCtx(handler), procedure); };
    };
    connect(cmdScriptAddOne, &QPushButton::clicked, this, scripts("cmdScriptAddOne_Click", [this] {
                AddOneToInclude(lstScripts, lstUseScripts);
            }));
    connect(cmdScriptRemoveOne, &QPushButton::clicked, this,
            scripts("cmdScriptRemoveOne_Click",
                    [this] { RemoveOneFromInclude(lstUseScripts, lstScripts, true); }));
    connect(cmdScriptAddAll, &QPushButton::clicked, this, scripts("cmdScriptAddAll_Click", [this] {
                AddAllToInclude(lstScripts, lstUseScripts);
            }));
    connect(cmdScriptRemoveAll, &QPushButton::clicked, this,
            scripts("cmdScriptRemoveAll_Click",
                    [this] { RemoveAllFromInclude(lstUseScripts, lstScripts, true); }));
    connect(cmdScriptUp, &QPushButton::clicked, this,
            scripts("cmdScriptUp_Click", [this] { MoveUpList(lstUseScripts); }));
    connect(cmdScriptDown, &QPushButton::clicked, this,
            scripts("cmdScriptDown_Click", [this] { MoveDownList(lstUseScripts); }));

    connect(cmdDirBrowse, &QPushButton::clicked, this, [this] { BrowseOutputFile(); });
    connect(cmdApply, &QPushButton::clicked, this, [this] { ApplyClicked(); });
    connect(cmdOK, &QPushButton::clicked, this, [this] { OkClicked(); });
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(cmdHelp, &QPushButton::clicked, this,
            [] { DoHelp(kHelpCommandContext, kHelpContextEditor); });
    // F1 anywhere in the dialog opens the same page (one topic serves every control).
    auto* f1 = new QShortcut(QKeySequence::HelpContents, this);
    connect(f1, &QShortcut::activated, cmdHelp, &QPushButton::click);

    for (QWidget* w : {static_cast<QWidget*>(txtTemplateName), static_cast<QWidget*>(txtVarName),
                       static_cast<QWidget*>(txtOutputFileName)})
        w->installEventFilter(this);
}

// ---------------------------------------------------------------------------------------
// Dialog state

void FrmTemplateEdit::SetChanged(bool changed) {
    m_changed = changed;
    cmdApply->setEnabled(changed);
    if (changed) Q_EMIT templateEdited();
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
        GetEditCtrlValues();
        return m_tpl->Clone();
    });
}

// ---------------------------------------------------------------------------------------
// Filling the controls and taking them back

void FrmTemplateEdit::SetEditCtrlValues(bool isNew) {
    Guard(ProcCtx("SetEditCtrlValues"), [&] {
        {
            FillScope filling(m_filling);
            const std::string file = m_tpl->FileName();
            txtTemplateName->setText(Q(isNew ? file : JustFileName(file)));
            chkActive->setChecked(m_tpl->Active());
            SetComboIndex(cboFilterField, m_tpl->objFilter()->MapiField());
            txtFilterFindStr->setText(Q(m_tpl->objFilter()->FindString()));
            // The stored output line is comma-separated whatever the delimiter.
            m_delimiter = ",";
            SetExportFields();
            SetScriptsUsed();
            txtOutputFileName->setText(Q(m_tpl->OutputFile()));
            SetComboIndex(cboDelimiter, m_tpl->OutputDeliminator());
            chkAllowDuplicate->setChecked(m_tpl->AllowDuplicate());
            cboVarType->setCurrentIndex(0);
        }
        // Then the template's own delimiter, and the sample line drawn with it.
        SetDelimiterFromCombo();
        MakeOutputFromList();
        SetChanged(false);
    });
}

void FrmTemplateEdit::GetEditCtrlValues() {
    Guard(ProcCtx("GetEditCtrlValues"), [this] {
        const std::string name = Trim(S(txtTemplateName->text()));
        m_tpl->SetFileName(MakeFileName(name));
        m_tpl->SetActive(chkActive->isChecked());
        m_tpl->objFilter()->SetFindString(S(txtFilterFindStr->text()));
        m_tpl->objFilter()->SetMapiField(S(cboFilterField->currentText()));
        m_tpl->SetVariableCount(lstVars->count());
        if (m_curVar >= 0) GetVarValues(CurrentPosition());
        m_tpl->SetOutputFile(Trim(S(txtOutputFileName->text())));
        m_tpl->SetOutputDeliminator(S(cboDelimiter->currentText()));
        m_tpl->SetOutputLineCount(1);
        auto lines = std::make_shared<TextCollection>();
        lines->Add(Trim(Join(Entries(lstVarIncluded), ",")));
        m_tpl->SetcolOutPutLines(lines);
        m_tpl->SetAllowDuplicate(chkAllowDuplicate->isChecked());
        m_tpl->SetScriptsToRun(Join(Entries(lstUseScripts), ","));
    });
}

void FrmTemplateEdit::SetDelimiterFromCombo() {
    const QString d = cboDelimiter->currentText();
    m_delimiter = d == Q(kDelimiterSpace) ? " " : d == Q(kDelimiterTab) ? "\t" : ",";
}

// ---------------------------------------------------------------------------------------
// Variables

void FrmTemplateEdit::SetExportFields() {
    const auto lines = m_tpl->colOutPutLines();
    const std::string outputList = lines && lines->Count() >= 1 ? lines->Item(1) : std::string();
    SetExportFields(ParseOutput(outputList, m_delimiter));
}

// Refills the variable lists. The output order comes in as names rather than as the output
// text, so a refresh keeps a name that holds the delimiter character (a space) in place.
void FrmTemplateEdit::SetExportFields(const std::vector<std::string>& outputArray) {
    Guard(ProcCtx("SetExportFields"), [&] {
        {
            FillScope filling(m_filling);
            ClearVarList();
            const auto fields = m_tpl->colFields()->NewEnum();
            for (std::size_t i = 0; i < fields.size(); ++i)
                AddVarEntry(fields[i]->FieldName(), static_cast<int>(i + 1));
            m_curVar = -1;
            if (lstVars->count() > 0) {
                lstVars->setCurrentRow(0);
                m_curVar = 0;
                SetVarValues(CurrentPosition());
            }
            FillOutputLists();
            for (const std::string& name : outputArray) MoveSelectedVar(name);
        }
        MakeOutputFromList();
    });
}

void FrmTemplateEdit::AddVarEntry(const std::string& name, int position) {
    QListWidgetItem* item = InsertSorted(lstVars, Q(name));
    item->setData(Qt::UserRole, position);
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

void FrmTemplateEdit::SetVarValues(int position) {
    Guard(ProcCtx("SetVarValues"), [&] {
        auto field = m_tpl->colFields()->Item(position);
        if (!field) return;
        {
            FillScope filling(m_filling);
            txtVarName->setText(Q(field->FieldName()));
            SetComboIndex(cboVarMapiField, field->FieldType());
            SetComboIndex(cboStart, SetStartComboStr(field->FindStart()));
            txtVarFindStr->setText(Q(field->FindStart()));
            SetComboIndex(cboStop, SetStopComboStr(field->FindStop()));
            txtVarStopStr->setText(Q(field->FindStop()));
            cboVarType->setCurrentIndex(0);
            chkUseQuote->setChecked(OnWhenOne(field->UseQuotes()));
            chkRemoveLF->setChecked(OnWhenOne(field->RemoveLF()));
            chkMatchString->setChecked(OnUnlessZero(field->MatchWholeString()));
            chkMatchCase->setChecked(OnUnlessZero(field->MatchCase()));
            chkStartOfLine->setChecked(OnWhenOne(field->StartOfLineOnly()));
        }
        UpdateStartStopBoxes();
    });
}

void FrmTemplateEdit::GetVarValues(int position) {
    Guard(ProcCtx("GetVarValues"), [&] {
        auto field = m_tpl->colFields()->Item(position);
        if (!field) return;
        // The name is not taken from the box: a new name reaches the variable only through
        // the rename checks (ReNameVar), so the output line always names real variables.
        field->SetFieldType(S(cboVarMapiField->currentText()));
        field->SetFindStart(
            FindTextFromChoice(S(cboStart->currentText()), S(txtVarFindStr->text())));
        field->SetFindStop(FindTextFromChoice(S(cboStop->currentText()), S(txtVarStopStr->text())));
        field->SetUseQuotes(Flag(chkUseQuote->isChecked()));
        field->SetRemoveLF(Flag(chkRemoveLF->isChecked()));
        field->SetMatchWholeString(Flag(chkMatchString->isChecked()));
        field->SetMatchCase(Flag(chkMatchCase->isChecked()));
        field->SetStartOfLineOnly(Flag(chkStartOfLine->isChecked()));
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
    txtVarFindStr->setEnabled(ShowVarStart(S(cboStart->currentText())));
    txtVarStopStr->setEnabled(ShowVarStop(S(cboStop->currentText())));
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
        auto field = m_tpl->colFields()->Add();
        if (!field) return;
        field->SetFieldName(kNewVarName);
        // A new variable's flags are off, as its check boxes show them.
        for (auto set : {&clsExportField::SetUseQuotes, &clsExportField::SetRemoveLF,
                         &clsExportField::SetMatchWholeString, &clsExportField::SetMatchCase,
                         &clsExportField::SetStartOfLineOnly})
            (field.get()->*set)(kFlagOff);
        m_tpl->SetVariableCount(m_tpl->colFields()->Count());
        SetExportFields(Entries(lstVarIncluded));
        SelectVarEntry(std::string(kNewVarName));
        SetVarCntrls(true);
        SetChanged(true);
        ShowHelpLine();
        txtVarName->setFocus(Qt::OtherFocusReason);
        txtVarName->selectAll();
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
        if (position < 1) return;
        m_tpl->colFields()->Remove(position);
        m_tpl->SetVariableCount(m_tpl->colFields()->Count());
        m_curVar = -1;
        {
            FillScope filling(m_filling);
            txtVarName->clear();
            cboVarMapiField->setCurrentIndex(0);
            cboStart->setCurrentIndex(0);
            cboStop->setCurrentIndex(0);
            txtVarFindStr->clear();
            txtVarStopStr->clear();
        }
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
        auto refuse = [&](std::string_view message) {
            QApplication::beep();
            MsgBox(message);
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
        };
        if (newName.empty()) return refuse(kMsgVarBlank);
        if (newName == kNewVarName) return refuse(kMsgVarInvalid);
        for (int i = 0; i < lstVars->count(); ++i)
            if (i != m_curVar && EqualsNoCase(Trim(S(lstVars->item(i)->text())), newName))
                return refuse(kMsgVarExists);
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
        for (int i = 0; i < lstVarIncluded->count(); ++i)
            if (Trim(S(lstVarIncluded->item(i)->text())) == oldName)
                lstVarIncluded->item(i)->setText(Q(newName));
        MakeOutputFromList();
    });
}

void FrmTemplateEdit::ReNameVar(const std::string& newName) {
    Guard(ProcCtx("ReNameVar"), [&] {
        const int position = CurrentPosition();
        auto field = m_tpl->colFields()->Item(position);
        if (!field) return;
        GetVarValues(position);
        field->SetFieldName(newName);
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
    const std::string start = S(cboStart->currentText());
    const std::string stop = S(cboStop->currentText());
    std::string text = "Data for '" + Trim(S(txtVarName->text())) +
                       "' is extracted from the message field: '" +
                       S(cboVarMapiField->currentText()) + "' .\n";
    if (ShowVarStart(start))
        text += "Data starts after the text '" + CutForHelp(S(txtVarFindStr->text())) +
                "' and stops at the text ";
    else
        text += "Data starts at " + start + " and stops at ";
    if (ShowVarStop(stop))
        text += "'" + CutForHelp(S(txtVarStopStr->text())) + "'";
    else
        text += stop + ".";
    lblHelp->setText(Q(text));
}

// ---------------------------------------------------------------------------------------
// Output and script lists

void FrmTemplateEdit::FillOutputLists() {
    lstOutVars->clear();
    lstVarIncluded->clear();
    for (int i = 0; i < lstVars->count(); ++i) lstOutVars->addItem(lstVars->item(i)->text());
}

void FrmTemplateEdit::MoveSelectedVar(const std::string& name) {
    const QString wanted = Q(Trim(name));
    for (int i = 0; i < lstOutVars->count(); ++i) {
        if (Q(Trim(S(lstOutVars->item(i)->text()))) != wanted) continue;
        lstVarIncluded->addItem(lstOutVars->takeItem(i));
        return;
    }
}

void FrmTemplateEdit::MakeOutputFromList() {
    Guard(ProcCtx("MakeOutputFromList"), [this] {
        const std::string text = Join(Entries(lstVarIncluded), m_delimiter);
        auto lines = std::make_shared<TextCollection>();
        lines->Add(text);
        m_tpl->SetcolOutPutLines(lines);
        if (Q(text) == txtOutputLine->text()) return;
        SetChanged(true);
        txtOutputLine->setText(Q(text));
    });
}

namespace {

void MoveItem(QListWidget* from, int row, QListWidget* to, bool sortTarget) {
    QListWidgetItem* item = from->takeItem(row);
    if (!item) return;
    if (sortTarget) {
        InsertSorted(to, item->text());
        delete item;
    } else {
        to->addItem(item);
    }
}

}  // namespace

void FrmTemplateEdit::AddOneToInclude(QListWidget* from, QListWidget* to, bool sortTarget) {
    Guard(ProcCtx("AddOneToInclude"), [&] {
        const int row = from->currentRow();
        if (row < 0 || !from->item(row)->isSelected()) return;
        MoveItem(from, row, to, sortTarget);
        SetChanged(true);
    });
}

void FrmTemplateEdit::RemoveOneFromInclude(QListWidget* from, QListWidget* to, bool sortTarget) {
    Guard(ProcCtx("RemoveOneFromInclude"), [&] {
        const int row = from->currentRow();
        if (row < 0 || !from->item(row)->isSelected()) return;
        MoveItem(from, row, to, sortTarget);
        SetChanged(true);
    });
}

void FrmTemplateEdit::AddAllToInclude(QListWidget* from, QListWidget* to, bool sortTarget) {
    Guard(ProcCtx("AddAllToInclude"), [&] {
        if (from->count() == 0) return;
        while (from->count() > 0) MoveItem(from, 0, to, sortTarget);
        SetChanged(true);
    });
}

void FrmTemplateEdit::RemoveAllFromInclude(QListWidget* from, QListWidget* to, bool sortTarget) {
    Guard(ProcCtx("RemoveAllFromInclude"), [&] {
        if (from->count() == 0) return;
        while (from->count() > 0) MoveItem(from, 0, to, sortTarget);
        SetChanged(true);
    });
}

void FrmTemplateEdit::MoveUpList(QListWidget* list) {
    Guard(ProcCtx("MoveUpList"), [&] {
        const int row = list->currentRow();
        if (row <= 0 || !list->item(row)->isSelected()) return;
        list->insertItem(row - 1, list->takeItem(row));
        list->setCurrentRow(row - 1);
        SetChanged(true);
    });
}

void FrmTemplateEdit::MoveDownList(QListWidget* list) {
    Guard(ProcCtx("MoveDownList"), [&] {
        const int row = list->currentRow();
        if (row < 0 || row >= list->count() - 1 || !list->item(row)->isSelected()) return;
        list->insertItem(row + 1, list->takeItem(row));
        list->setCurrentRow(row + 1);
        SetChanged(true);
    });
}

void FrmTemplateEdit::SetScripting() {
    Guard(ProcCtx("SetScripting"), [this] {
        lstScripts->clear();
        if (!Settings().useScripts) {
            tabMain->setTabEnabled(kEditorTabScripting, false);
            return;
        }
        tabMain->setTabEnabled(kEditorTabScripting, true);
        // The runner switches scripts off for the rest of an engine run when the language
        // cannot start; here that must not change the user's setting.
        const bool useScripts = Settings().useScripts;
        std::unique_ptr<engine::clsScripting> runner = engine::clsScripting::Create();
        Settings().useScripts = useScripts;
        if (!runner) return;
        runner->SetDirectory(Settings().scriptDir);
        runner->sc()->AddObject(kScriptTemplateObject, m_tpl);
        runner->GetScripts();
        for (const std::string& name : runner->sc()->Procedures())
            InsertSorted(lstScripts, Q(name));
    });
}

void FrmTemplateEdit::SetScriptsUsed() {
    Guard(ProcCtx("SetScriptsUsed"), [this] {
        lstUseScripts->clear();
        for (const std::string& name : engine::SplitScriptNames(m_tpl->ScriptsToRun())) {
            lstUseScripts->addItem(Q(name));
            for (int i = 0; i < lstScripts->count(); ++i) {
                if (S(lstScripts->item(i)->text()) == name) {
                    delete lstScripts->takeItem(i);
                    break;
                }
            }
        }
    });
}

// ---------------------------------------------------------------------------------------
// Handlers

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

bool FrmTemplateEdit::SaveTemplate() {
    return GuardValue(FormCtx("cmdApply_Click"), false, [this] {
        // A name typed into the variable's box and not yet checked (Enter pressed on OK
        // while the box had the focus) gets its checks now.
        if (m_curVar >= 0 && Trim(S(txtVarName->text())) != CurrentEntryName() && !CheckVarName())
            return false;

        const bool isNew = State().newTemplate;
        std::string name = S(txtTemplateName->text());
        std::string message;
        auto refuse = [&](const std::string& why) {
            QApplication::beep();
            MsgBox(std::string(kMsgCannotSaveChanges) + why, MsgButtons::Ok, MsgIcon::Critical,
                   kErrorTitle);
            return false;
        };
        if (!IsGoodFileName(name, message, isNew)) return refuse(message);

        FrmMain* form = MainForm();
        QTreeWidgetItem* row = form && !isNew ? form->SelectedItem() : nullptr;
        const std::string oldPath = FrmMain::RowTag(row);
        const std::string newPath = MakeFileName(name);
        // A file under the new name that is not this template's own (another program made
        // it, so it is not in the list) is never overwritten.
        std::error_code ec;
        if (std::filesystem::exists(newPath, ec) &&
            (oldPath.empty() || !std::filesystem::equivalent(oldPath, newPath, ec)))
            return refuse(std::string(kMsgNameExists));

        GetEditCtrlValues();
        if (row && Trim(FrmMain::RowText(row)) != name) {
            if (const int error = RenameNoReplace(oldPath, newPath)) {
                // The old file stays as it was and nothing is written under either name;
                // the edited values stay in the dialog for another try.
                m_tpl->SetFileName(oldPath);
                QApplication::beep();
                MsgBox(std::string(kMsgRenameFailed) + oldPath + " to " + newPath + ": " +
                           std::strerror(error) + "\n" + std::string(kMsgRenameNothingSaved),
                       MsgButtons::Ok, MsgIcon::Critical, kErrorTitle);
                return false;
            }
        }
        State().currentTemplate = m_tpl;
        SaveCurrentFile(isNew);
        // From now on the dialog edits the file just written: a later rename moves it.
        State().newTemplate = false;
        GetTempFiles();
        if (form) {
            if (QTreeWidgetItem* saved = form->FindRow(name)) {
                form->lvMainList->clearSelection();
                form->lvMainList->setCurrentItem(saved);
                saved->setSelected(true);
                form->lvMainList->scrollToItem(saved);
            }
        }
        SetChanged(false);
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
