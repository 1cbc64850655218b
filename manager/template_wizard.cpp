#include "manager/template_wizard.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <string_view>

#include "manager/client_procs.h"
#include "manager/file_drop.h"
#include "manager/template_choices.h"
#include "manager/template_edit.h"
#include "manager/template_test_bench.h"
#include "manager/wizard_message_file.h"
#include "model/field_vocabulary.h"
#include "settings/error_reporter.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"

namespace tallix::manager {
namespace {

constexpr int kLastPage = kWizardPageCount - 1;
constexpr int kOutputPage = 2;  // the output file and delimiter
// Width of the advice column and of the text boxes, in average characters, so the window
// keeps its proportions at any font size.
constexpr int kAdviceWidthChars = 30;
constexpr int kPageWidthChars = 56;
constexpr int kFormattedTextLines = 9;
constexpr int kPickedLines = 4;

constexpr std::string_view kFinishCaption = "Finish";
constexpr std::string_view kNextCaption = "&Next";

QString Q(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// The caption each page gives the window (the closing page keeps the one before it) and the
// advice shown beside it.
struct PageText {
    const char* caption;
    const char* info;
    const char* tip;
    const char* pitfall;
};

constexpr PageText kPages[kWizardPageCount] = {
    {"The Template Wizard",
     "Name the template after the data it collects, for example \"Web Orders\" or \"Newsletter "
     "Sign-ups\". The name can be up to 255 characters long.",
     "The name is also the template's file name in the template folder, so you will find it "
     "there under the same name.",
     "The name must be unique: no other template in the list may have it."},
    {"The Message Filter",
     "A filter makes the template read only the messages that contain a text in one message "
     "field, such as \"Order\" in the subject.",
     "Upper and lower case do not matter in the filter text.",
     "Without a filter every message of the mailbox is read by this template and gives a line "
     "in its output file. Blanks around the filter text must occur in the message too."},
    {"The Created Output File",
     "Each message the template reads adds one line to this file. The file is created when it "
     "does not exist, and lines are added at its end.",
     "The file is written as CSV: a value holding the delimiter is quoted, so a spreadsheet "
     "opens it correctly. Choose SEMICOLON where your spreadsheet expects it.",
     "Make sure the folder exists and you may write to it; type \"printer\" to print the lines "
     "instead."},
    {"The Standard Message Fields",
     "Tick the values every message carries that you want in the output: who sent it, to whom, "
     "and when.",
     "They come first in each output line, in the order date, time, recipient, sender.",
     "Some mail sources do not know every value; an unknown value stays empty."},
    {"The Message Text Field",
     "Take the whole message text as one value, or paste the form your messages follow and let "
     "each \"Description: value\" line become a value of its own. Or select the values one by "
     "one in a sample message and make a variable of each (Ctrl+M).",
     "\"Load from a message file...\" fills the box with the text of a real message (a saved "
     ".eml file, or the first message of a mailbox file).",
     "Only lines that hold the separator become values; the text before it must read the same "
     "in every message."},
    {"Ready to create the template",
     "These options apply to every value the template takes out of a message.",
     "Quotation marks keep values with commas or blanks in one field of the output line.",
     "Case-sensitive and whole-string searches find less: use them only when a description also "
     "occurs elsewhere in the message."},
    {nullptr,
     "Finish writes the template and shows it in the template list, active and ready to run.",
     "Tick the box to check the new template in the editor right away.",
     "Nothing is written before Finish; Cancel leaves no trace."},
};

constexpr std::string_view kWelcomeText =
    "This wizard builds a complete template in a few steps: which messages to read, where the "
    "data goes, and which values to take out of each message.\n\n"
    "Start by giving the template a name.";
constexpr std::string_view kClosingText =
    "That is all the wizard needs.\n\n"
    "Click Finish to create the template. You can change any of its settings later in the "
    "template editor.";

FrmWizard::MessageFileChooser& MessageChooser() {
    static FrmWizard::MessageFileChooser chooser;
    return chooser;
}

QLabel* Heading(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont f = label->font();
    f.setBold(true);
    f.setPointSizeF(f.pointSizeF() * 1.2);
    label->setFont(f);
    return label;
}

QLabel* Buddy(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    label->setWordWrap(true);
    return label;
}

template <class W>
W* Named(W* w, const char* name) {
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

QLabel* AdviceBox(QVBoxLayout* column, const QString& title, const char* name, QWidget* parent) {
    auto* box = new QGroupBox(title, parent);
    auto* label = Named(new QLabel(box), name);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    auto* layout = new QVBoxLayout(box);
    layout->addWidget(label);
    column->addWidget(box);
    return label;
}

}  // namespace

void FrmWizard::SetMessageFileChooser(MessageFileChooser chooser) {
    MessageChooser() = std::move(chooser);
}

FrmWizard::FrmWizard(QWidget* parent) : QDialog(parent) {
    setObjectName("frmWizard");
    setModal(true);

    WizFrame = Named(new QStackedWidget(this), "WizFrame");
    WizFrame->addWidget(BuildWelcomePage());
    WizFrame->addWidget(BuildFilterPage());
    WizFrame->addWidget(BuildOutputPage());
    WizFrame->addWidget(BuildStandardFieldsPage());
    WizFrame->addWidget(BuildMessageTextPage());
    WizFrame->addWidget(BuildOptionsPage());
    WizFrame->addWidget(BuildClosingPage());
    // The load button stands above the text box it fills, so Tab reaches it first.
    setTabOrder(cmdLoadMessage, txtMsgText);
    setTabOrder(txtMsgText, cmdPickValue);
    setTabOrder(cmdPickValue, cmdRemovePicked);
    setTabOrder(cmdRemovePicked, lstPicked);
    setTabOrder(lstPicked, txtDelimiter);
    const int charWidth = fontMetrics().averageCharWidth();
    WizFrame->setMinimumWidth(
        std::max(charWidth * kPageWidthChars, WizFrame->minimumSizeHint().width()));

    auto* advice = new QVBoxLayout;
    txtInfo = AdviceBox(advice, "About this step", "txtInfo", this);
    txtTip = AdviceBox(advice, "Tip", "txtTip", this);
    txtPit = AdviceBox(advice, "Watch out", "txtPit", this);
    advice->addStretch(1);
    m_advice = new QWidget(this);
    m_advice->setLayout(advice);
    m_advice->setFixedWidth(charWidth * kAdviceWidthChars);
    advice->setContentsMargins(0, 0, 0, 0);

    auto* body = new QHBoxLayout;
    body->addWidget(WizFrame, 1);
    body->addWidget(m_advice);

    cmdBack = Named(new QPushButton("< &Back", this), "cmdBack");
    cmdNext = Named(new QPushButton("&Next >", this), "cmdNext");
    cmdCancel = Named(new QPushButton("Cancel", this), "cmdCancel");
    cmdNext->setDefault(true);
    auto* rule = new QFrame(this);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdBack);
    buttons->addWidget(cmdNext);
    buttons->addSpacing(charWidth * 2);
    buttons->addWidget(cmdCancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(body, 1);
    layout->addWidget(rule);
    layout->addLayout(buttons);

    connect(cmdNext, &QPushButton::clicked, this, [this] { cmdNext_Click(); });
    connect(cmdBack, &QPushButton::clicked, this, [this] { cmdBack_Click(); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });

    // The advice column is as tall as the longest advice needs, so no page cuts its text
    // and the window keeps one size from page to page.
    int adviceHeight = 0;
    for (int page = kLastPage; page >= 0; --page) {
        ShowPage(page);
        adviceHeight = std::max(adviceHeight, m_advice->heightForWidth(m_advice->width()));
    }
    m_advice->setMinimumHeight(adviceHeight);
}

void FrmWizard::RelayoutAdvice() {
    // Word-wrapped labels in group boxes: the layouts keep the heights they worked out for the
    // previous texts until each box says its own height changed.
    for (QWidget* w : m_advice->findChildren<QWidget*>()) w->updateGeometry();
    for (QLayout* l : m_advice->findChildren<QLayout*>()) l->invalidate();
    m_advice->layout()->invalidate();
}

QWidget* FrmWizard::BuildWelcomePage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(Heading(Q(kPages[0].caption), page));
    lblWelcome = Named(new QLabel(QString::fromUtf8(kWelcomeText), page), "lblWelcome");
    lblWelcome->setWordWrap(true);
    layout->addWidget(lblWelcome);
    layout->addSpacing(fontMetrics().height());
    txtTemplateName = Named(new QLineEdit(Q(kDefaultWizardTemplateName), page), "txtTemplateName");
    layout->addWidget(Buddy("&Template Name:", txtTemplateName, page));
    layout->addWidget(txtTemplateName);
    lblNameProblem = Named(new QLabel(page), "lblNameProblem");
    lblNameProblem->setWordWrap(true);
    lblNameProblem->setTextFormat(Qt::PlainText);
    lblNameProblem->hide();
    layout->addWidget(lblNameProblem);
    layout->addStretch(1);
    // Once a name was refused, the reason follows the typing until the name can be taken.
    connect(txtTemplateName, &QLineEdit::textEdited, this, [this] {
        if (lblNameProblem->isHidden()) return;
        std::string name = txtTemplateName->text().toStdString();
        ShowNameProblem(NameProblem(name));
    });
    return page;
}

QWidget* FrmWizard::BuildFilterPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(Heading(Q(kPages[1].caption), page));
    optNoFilter =
        Named(new QRadioButton("Parse &all message with this template", page), "optNoFilter");
    optFilter = Named(new QRadioButton("Parse &only:", page), "optFilter");
    auto* group = new QButtonGroup(page);
    group->addButton(optNoFilter);
    group->addButton(optFilter);
    optNoFilter->setChecked(true);
    layout->addWidget(optNoFilter);
    layout->addWidget(optFilter);

    frameFilter = Named(new QGroupBox(page), "frameFilter");
    auto* frame = new QVBoxLayout(frameFilter);
    txtFilterString = Named(new QLineEdit(frameFilter), "txtFilterString");
    cboMsgField = Named(new QComboBox(frameFilter), "cboMsgField");
    FillMapiCombo(cboMsgField);
    const int subject = cboMsgField->findText(Q(kFieldMsgSubject));
    if (subject >= 0) cboMsgField->setCurrentIndex(subject);
    frame->addWidget(Buddy("Messages that &contain:", txtFilterString, frameFilter));
    frame->addWidget(txtFilterString);
    frame->addWidget(Buddy("In the following message &field:", cboMsgField, frameFilter));
    frame->addWidget(cboMsgField);
    // "Header..." takes the header's name from the box under the list.
    txtHeaderName = Named(NewHeaderNameBox(frameFilter), "txtHeaderName");
    auto* headerRow = new QHBoxLayout;
    headerRow->addWidget(Buddy("&Header name:", txtHeaderName, frameFilter));
    headerRow->addWidget(txtHeaderName, 1);
    frame->addLayout(headerRow);
    layout->addWidget(frameFilter);
    layout->addStretch(1);

    connect(optFilter, &QRadioButton::toggled, this, [this] { EnableFilterControls(); });
    connect(cboMsgField, &QComboBox::currentIndexChanged, this, [this] { EnableFilterControls(); });
    EnableFilterControls();
    return page;
}

QWidget* FrmWizard::BuildOutputPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(Heading(Q(kPages[2].caption), page));
    txtOutputFile = Named(new QLineEdit(DefaultOutputFile(), page), "txtOutputFile");
    // Alt+B is "< Back".
    cmdOutputFile = Named(new QPushButton("B&rowse...", page), "cmdOutputFile");
    layout->addWidget(Buddy("&Write the data to the following file:", txtOutputFile, page));
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(txtOutputFile, 1);
    fileRow->addWidget(cmdOutputFile);
    layout->addLayout(fileRow);
    outputFileCheck =
        new PathFieldCheck(txtOutputFile, PathUse::FileToWrite, page, "Create &Folder");
    layout->addLayout(outputFileCheck->Layout());
    layout->addSpacing(fontMetrics().height() / 2);
    cboDelimiter = Named(new QComboBox(page), "cboDelimiter");
    cboDelimiter->addItems(
        {Q(kDelimiterComma), Q(kDelimiterSpace), Q(kDelimiterTab), Q(kDelimiterSemicolon)});
    layout->addWidget(
        Buddy("Use the following &delimiter to seperate the data:", cboDelimiter, page));
    auto* delimiterRow = new QHBoxLayout;
    delimiterRow->addWidget(cboDelimiter);
    delimiterRow->addStretch(1);
    layout->addLayout(delimiterRow);
    layout->addStretch(1);
    connect(cmdOutputFile, &QPushButton::clicked, this, [this] { cmdOutputFile_Click(); });
    return page;
}

QWidget* FrmWizard::BuildStandardFieldsPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(Heading(Q(kPages[3].caption), page));
    auto check = [&](const char* caption, const char* name) {
        auto* box = Named(new QCheckBox(caption, page), name);
        layout->addWidget(box);
        return box;
    };
    chkSenderName = check("&Senders Display Name", "chkSenderName");
    chkSendAddr = check("Sender's &E-Mail Address ", "chkSendAddr");
    chkRecpName = check("&Receipents Display Name", "chkRecpName");
    chkRecpAddr = check("Receipents E-&Mail Address", "chkRecpAddr");
    chkMsgDate = check("D&ate the Message was sent", "chkMsgDate");
    chkMsgTime = check("&Time the Message was sent", "chkMsgTime");
    layout->addStretch(1);
    return page;
}

QWidget* FrmWizard::BuildMessageTextPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(Heading(Q(kPages[4].caption), page));
    optNoCreate =
        Named(new QRadioButton("&Include the entire text of the msg.", page), "optNoCreate");
    optCreate =
        Named(new QRadioButton("Create &variables from the following formmatted text", page),
              "optCreate");
    auto* createGroup = new QButtonGroup(page);
    createGroup->addButton(optNoCreate);
    createGroup->addButton(optCreate);
    optNoCreate->setChecked(true);
    layout->addWidget(optNoCreate);
    layout->addWidget(optCreate);

    optUseMsg = Named(new QRadioButton("&Use the Msg Body", page), "optUseMsg");
    optUseAttach = Named(new QRadioButton("Use the Msg A&ttachment", page), "optUseAttach");
    auto* sourceGroup = new QButtonGroup(page);
    sourceGroup->addButton(optUseMsg);
    sourceGroup->addButton(optUseAttach);
    optUseMsg->setChecked(true);
    auto* sourceRow = new QHBoxLayout;
    sourceRow->addWidget(optUseMsg);
    sourceRow->addWidget(optUseAttach);
    sourceRow->addStretch(1);
    layout->addLayout(sourceRow);

    // The hint is no text of the box: what is pasted or typed does not have to replace it.
    txtMsgText = Named(new QPlainTextEdit(page), "txtMsgText");
    txtMsgText->setPlaceholderText(Q(kDefaultFormattedText));
    txtMsgText->setTabChangesFocus(true);
    txtMsgText->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtMsgText->setMinimumHeight(fontMetrics().lineSpacing() * kFormattedTextLines);
    cmdLoadMessage = Named(new QPushButton("&Load from a message file...", page), "cmdLoadMessage");
    auto* textLabelRow = new QHBoxLayout;
    textLabelRow->addWidget(Buddy("The &Formatted Text:", txtMsgText, page), 1);
    textLabelRow->addWidget(cmdLoadMessage);
    layout->addLayout(textLabelRow);
    layout->addWidget(txtMsgText, 1);

    cmdPickValue =
        Named(new QPushButton("Ma&ke a variable from the selection", page), "cmdPickValue");
    cmdPickValue->setToolTip("Ctrl+M: the value selected in the text becomes a variable");
    cmdRemovePicked = Named(new QPushButton("Re&move", page), "cmdRemovePicked");
    auto* pickRow = new QHBoxLayout;
    pickRow->addWidget(cmdPickValue);
    pickRow->addWidget(cmdRemovePicked);
    pickRow->addStretch(1);
    layout->addLayout(pickRow);
    lblPickNote = Named(new QLabel(page), "lblPickNote");
    lblPickNote->setWordWrap(true);
    lblPickNote->setTextFormat(Qt::PlainText);
    lblPickNote->hide();
    layout->addWidget(lblPickNote);
    lstPicked = Named(new QListWidget(page), "lstPicked");
    lstPicked->setMaximumHeight(fontMetrics().lineSpacing() * kPickedLines);
    layout->addWidget(Buddy(
        "&Picked values (they take the place of the lines with the separator):", lstPicked, page));
    layout->addWidget(lstPicked);
    auto* pick = new QAction("Make a variable from the selection", txtMsgText);
    pick->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    pick->setShortcutContext(Qt::WidgetShortcut);
    txtMsgText->addAction(pick);
    txtMsgText->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(txtMsgText, &QPlainTextEdit::customContextMenuRequested, this,
            [this, pick](const QPoint& at) {
                QMenu* menu = txtMsgText->createStandardContextMenu(at);
                menu->addSeparator();
                menu->addAction(pick);
                menu->exec(txtMsgText->viewport()->mapToGlobal(at));
                delete menu;
            });
    connect(pick, &QAction::triggered, this, [this] { PickValue(); });
    connect(cmdPickValue, &QPushButton::clicked, this, [this] { PickValue(); });
    connect(cmdRemovePicked, &QPushButton::clicked, this, [this] { RemovePicked(); });

    txtDelimiter = Named(new QLineEdit(Q(kDefaultTextSeparator), page), "txtDelimiter");
    txtDelimiter->setMaximumWidth(fontMetrics().averageCharWidth() * 8);
    auto* separatorRow = new QHBoxLayout;
    separatorRow->addWidget(
        Buddy("This character &seperates data from descriptions:", txtDelimiter, page));
    separatorRow->addWidget(txtDelimiter);
    separatorRow->addStretch(1);
    layout->addLayout(separatorRow);

    connect(optCreate, &QRadioButton::toggled, this, [this] { EnableTextControls(); });
    connect(cmdLoadMessage, &QPushButton::clicked, this, [this] { cmdLoadMessage_Click(); });
    EnableTextControls();
    // A message file dropped on the page (or on the text box) is loaded as the button loads
    // one, and its text is what the variables are made from.
    auto dropped = [this](const QString& path) {
        optCreate->setChecked(true);
        LoadMessageFile(path);
    };
    AcceptFileDrops(page, dropped);
    AcceptFileDrops(txtMsgText->viewport(), dropped);
    return page;
}

QWidget* FrmWizard::BuildOptionsPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(Heading(Q(kPages[5].caption), page));
    auto check = [&](const char* caption, const char* name) {
        auto* box = Named(new QCheckBox(caption, page), name);
        layout->addWidget(box);
        return box;
    };
    chkStartOfLineOnly = check("&Start Of Line Only", "chkStartOfLineOnly");
    chkMatchCase = check("Make searches &case sensitive", "chkMatchCase");
    chkMathWholeStr = check("Match on &Whole String Only", "chkMathWholeStr");
    chkUseQuotes = check("Use &quotation around the found extracted data", "chkUseQuotes");
    chkRemoveReturns =
        check("Remove &Line/Return feeds  from within the extracted data", "chkRemoveReturns");
    layout->addStretch(1);
    return page;
}

QWidget* FrmWizard::BuildClosingPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(Heading("All set", page));
    lblClosing = Named(new QLabel(QString::fromUtf8(kClosingText), page), "lblClosing");
    lblClosing->setWordWrap(true);
    layout->addWidget(lblClosing);
    layout->addSpacing(fontMetrics().height());
    chkReview = Named(new QCheckBox("&Review Template After Creation", page), "chkReview");
    layout->addWidget(chkReview);
    layout->addStretch(1);
    return page;
}

void FrmWizard::EnableFilterControls() {
    for (QWidget* w : frameFilter->findChildren<QWidget*>()) w->setEnabled(optFilter->isChecked());
    if (optFilter->isChecked()) EnableHeaderBox(cboMsgField, txtHeaderName);
}

void FrmWizard::EnableTextControls() {
    const bool on = optCreate->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{txtMsgText, txtDelimiter, cmdLoadMessage,
                                                      cmdPickValue, cmdRemovePicked, lstPicked})
        w->setEnabled(on);
    for (QLabel* label : txtMsgText->parentWidget()->findChildren<QLabel*>())
        if (label->buddy() == txtMsgText || label->buddy() == txtDelimiter ||
            label->buddy() == lstPicked)
            label->setEnabled(on);
}

int FrmWizard::CurrentPage() const {
    return WizFrame->currentIndex();
}

void FrmWizard::ShowPage(int page) {
    page = std::clamp(page, 0, kLastPage);
    WizFrame->setCurrentIndex(page);
    if (kPages[page].caption) m_caption = QString::fromLatin1(kPages[page].caption);
    setWindowTitle(m_caption);
    txtInfo->setText(QString::fromUtf8(kPages[page].info));
    txtTip->setText(QString::fromUtf8(kPages[page].tip));
    txtPit->setText(QString::fromUtf8(kPages[page].pitfall));
    RelayoutAdvice();
    cmdBack->setEnabled(page > 0);
    cmdNext->setText(Q(page == kLastPage ? kFinishCaption : kNextCaption));
    // The focus goes to the page's first control, so the keyboard starts where the eye does.
    QWidget* shown = WizFrame->currentWidget();
    for (QWidget* w = shown->nextInFocusChain(); w && w != shown; w = w->nextInFocusChain()) {
        if (!shown->isAncestorOf(w)) break;
        if ((w->focusPolicy() & Qt::TabFocus) && w->isEnabled()) {
            w->setFocus();
            return;
        }
    }
    cmdNext->setFocus();
}

WizardAnswers FrmWizard::Answers() const {
    WizardAnswers a;
    a.templateName = txtTemplateName->text().toStdString();
    a.useFilter = optFilter->isChecked();
    a.filterString = txtFilterString->text().toStdString();
    a.filterField = ChosenField(cboMsgField, txtHeaderName);
    a.outputFile = txtOutputFile->text().toStdString();
    a.delimiter = cboDelimiter->currentText().toStdString();
    a.senderName = chkSenderName->isChecked();
    a.senderAddress = chkSendAddr->isChecked();
    a.recipientName = chkRecpName->isChecked();
    a.recipientAddress = chkRecpAddr->isChecked();
    a.sentDate = chkMsgDate->isChecked();
    a.sentTime = chkMsgTime->isChecked();
    a.createFromText = optCreate->isChecked();
    a.useAttachment = optUseAttach->isChecked();
    a.formattedText = txtMsgText->toPlainText().toStdString();
    a.textSeparator = txtDelimiter->text().toStdString();
    a.picked = m_picked;
    a.options.startOfLineOnly = chkStartOfLineOnly->isChecked();
    a.options.matchCase = chkMatchCase->isChecked();
    a.options.matchWholeString = chkMathWholeStr->isChecked();
    a.options.useQuotes = chkUseQuotes->isChecked();
    a.options.removeReturns = chkRemoveReturns->isChecked();
    a.review = chkReview->isChecked();
    return a;
}

std::string FrmWizard::NameProblem(std::string& name) const {
    std::string message;
    if (!IsGoodFileName(name, message, true)) return message;
    // A file of that name that is not in the list (another program put it there since the
    // list was filled) would be written over.
    std::error_code ec;
    if (std::filesystem::exists(MakeFileName(name), ec)) return std::string(kMsgNameExists);
    return {};
}

void FrmWizard::ShowNameProblem(const std::string& problem) {
    std::string shown = problem;
    std::string name = Trim(txtTemplateName->text().toStdString());
    if (problem == kMsgInvalidName) shown += "\n" + std::string(NameRuleBroken(name));
    lblNameProblem->setText(QString::fromStdString(shown));
    lblNameProblem->setVisible(!shown.empty());
    txtTemplateName->setAccessibleDescription(QString::fromStdString(shown));
}

bool FrmWizard::NameAccepted() {
    std::string name = txtTemplateName->text().toStdString();
    ShowNameProblem(NameProblem(name));
    if (lblNameProblem->isHidden()) return true;
    txtTemplateName->setFocus();
    txtTemplateName->selectAll();
    return false;
}

bool FrmWizard::FinishChecks() {
    // The name page checked the name when it was left; the list or the folder may have
    // changed since.
    std::string name = txtTemplateName->text().toStdString();
    if (const std::string message = NameProblem(name); !message.empty()) {
        MsgBox(std::string(kMsgCannotSaveChanges) + message, MsgButtons::Ok, MsgIcon::Critical,
               kErrorTitle);
        return false;
    }
    txtTemplateName->setText(QString::fromStdString(name));
    if (optFilter->isChecked() && cboMsgField->currentText() == Q(kHeaderChoice) &&
        txtHeaderName->text().isEmpty()) {
        MsgBox(kMsgNoHeaderName, MsgButtons::Ok, MsgIcon::Exclamation, kErrorTitle);
        return false;
    }
    if (Trim(txtOutputFile->text().toStdString()).empty()) {
        MsgBox(kMsgNoOutputFile, MsgButtons::Ok, MsgIcon::Exclamation, kErrorTitle);
        return false;
    }
    if (!OutputFolderReady()) return false;
    // A template read back keeps only the first 2047 characters of its output line; the
    // variables past them would never be written.
    const auto preview = BuildWizardTemplate(Answers(), std::string());
    if (preview->colOutPutLines()->Item(1).size() > kMaxOutputLineChars) {
        MsgBox(kMsgTooManyVariables, MsgButtons::Ok, MsgIcon::Exclamation, kErrorTitle);
        return false;
    }
    return true;
}

bool FrmWizard::OutputFolderReady() {
    // The first output file offered is in the documents folder, which a new account may not
    // have: a template whose every run would fail to open its file is not made without a word.
    const std::string path = Trim(txtOutputFile->text().toStdString());
    const PathProblem problem = CheckPathForUse(path, PathUse::FileToWrite);
    if (problem.warning.empty()) return true;
    ShowPage(kOutputPage);
    if (problem.missingFolder.empty()) {
        MsgBox(std::string(kMsgUnableToUseFile) + path + "\n" + problem.warning, MsgButtons::Ok,
               MsgIcon::Exclamation, kErrorTitle);
        return false;
    }
    if (MsgBox(std::string(kMsgUnableToUseFile) + path + "\n" + problem.warning +
                   "\nCreate the folder now?",
               MsgButtons::YesNo, MsgIcon::Question, kErrorTitle) != MsgAnswer::Yes)
        return false;
    if (const std::string failed = MakeFolder(problem.missingFolder); !failed.empty()) {
        MsgBox("The folder could not be made: " + failed, MsgButtons::Ok, MsgIcon::Critical,
               kErrorTitle);
        return false;
    }
    outputFileCheck->Recheck();
    return true;
}

void FrmWizard::cmdNext_Click() {
    Guard("frmWizard cmdNext_Click", [&] {
        if (CurrentPage() == 0 && !NameAccepted()) return;
        if (CurrentPage() < kLastPage) {
            ShowPage(CurrentPage() + 1);
            return;
        }
        if (!FinishChecks()) return;
        if (!WriteWizardTemplate(Answers())) return;
        SetWizardCompleted(true);
        accept();
    });
}

void FrmWizard::cmdBack_Click() {
    Guard("frmWizard cmdBack_Click", [&] {
        if (CurrentPage() > 0) ShowPage(CurrentPage() - 1);
    });
}

void FrmWizard::cmdCancel_Click() {
    Guard("frmWizard cmdCancel_Click", [&] { reject(); });
}

void FrmWizard::reject() {
    SetWizardCompleted(false);
    QDialog::reject();
}

void FrmWizard::cmdOutputFile_Click() {
    Guard("frmWizard cmdOutputFile_Click", [&] {
        const QString chosen = ChooseOutputFile(this, txtOutputFile->text());
        if (chosen.isEmpty()) return;
        txtOutputFile->setText(chosen);
        CheckOutputFile(chosen.toStdString());
    });
}

void FrmWizard::cmdLoadMessage_Click() {
    Guard("frmWizard cmdLoadMessage_Click", [&] {
        QString path;
        if (MessageChooser()) {
            path = MessageChooser()();
        } else {
            path = QFileDialog::getOpenFileName(
                this, "Message File",
                QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation),
                "Mail Messages (*.eml *.mbox *.mbx);;All Files (*)");
        }
        if (!path.isEmpty()) LoadMessageFile(path);
    });
}

void FrmWizard::PickValue() {
    Guard("frmWizard cmdPickValue_Click", [&] {
        const QTextCursor cursor = txtMsgText->textCursor();
        const QString shown = txtMsgText->toPlainText();
        const std::string text = shown.toStdString();
        const auto start =
            static_cast<std::size_t>(shown.left(cursor.selectionStart()).toUtf8().size());
        const auto end =
            static_cast<std::size_t>(shown.left(cursor.selectionEnd()).toUtf8().size());
        const std::string field(optUseAttach->isChecked() ? kFieldAttachment : kFieldMsgText);
        std::vector<std::string> taken;
        for (const VariableDraft& v : m_picked) taken.push_back(v.name);
        const std::string delimiter = cboDelimiter->currentText().toStdString();
        MadeVariable made = MakeVariable(text, start, end - start, field, delimiter, taken, false);
        if (!made.problem.empty()) {
            lblPickNote->setText(QString::fromStdString(made.problem));
            lblPickNote->show();
            return;
        }
        if (made.repeatedLines >= 2 &&
            MsgBox(RepeatedBlockQuestion(made.repeatedLines, made.draft.findStart),
                   MsgButtons::YesNo, MsgIcon::Question, kPickTitle,
                   MsgAnswer::Yes) == MsgAnswer::Yes)
            made = MakeVariable(text, start, end - start, field, delimiter, taken, true);
        lblPickNote->hide();
        m_picked.push_back(made.draft);
        lstPicked->addItem(made.description);
        lstPicked->setCurrentRow(lstPicked->count() - 1);
    });
}

void FrmWizard::RemovePicked() {
    Guard("frmWizard cmdRemovePicked_Click", [&] {
        const int row = lstPicked->currentRow();
        if (row < 0 || row >= static_cast<int>(m_picked.size())) return;
        m_picked.erase(m_picked.begin() + row);
        delete lstPicked->takeItem(row);
    });
}

void FrmWizard::LoadMessageFile(const QString& path) {
    Guard("frmWizard LoadMessageFile", [&] {
        const MessageFileText loaded = ReadMessageFileText(path.toStdString());
        if (!loaded.ok) {
            MsgBox(loaded.problem, MsgButtons::Ok, MsgIcon::Exclamation, kErrorTitle);
            return;
        }
        txtMsgText->setPlainText(QString::fromStdString(loaded.text));
        txtMsgText->setFocus();
    });
}

}  // namespace tallix::manager
