#include "manager/options_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdlib>
#include <string_view>

#include "manager/client_procs.h"
#include "manager/file_drop.h"
#include "manager/options_procs.h"
#include "settings/error_reporter.h"
#include "settings/settings_store.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"
#include "sources/mailbox_kind.h"

namespace tallix::manager {
namespace {

constexpr std::string_view kFormCtx = "frmOptions ";
std::string Ctx(std::string_view handler) {
    return std::string(kFormCtx) + std::string(handler);
}
std::string ProcCtx(std::string_view procedure) {
    return "modClientProcs - " + std::string(procedure);
}

// The largest port number; the box takes digits only, so the stored port is always a number
// a connection can use.
constexpr int kMaxPort = 65535;

// Captions. Where a caption would name something Linux does not have (a MAPI client, ActiveX
// scripting), it names what stands in for it here: the Maildir and our script languages.
constexpr std::string_view kExtMapiCaption = "Maildir folder named below (the local mail store)";
constexpr std::string_view kSimpleMapiCaption = "Default Maildir ($MAILDIR, else ~/Maildir)";
constexpr std::string_view kProfileLabel = "Maildir folder:";
constexpr std::string_view kMapiHelpText =
    "Both choices read a Maildir, the local mail store that mail programs and delivery agents "
    "on this system share (a folder holding cur, new and tmp). To read a particular Maildir, "
    "select the first option and give its folder. To read your default Maildir (the folder "
    "named by $MAILDIR, else ~/Maildir), select the second option.";
constexpr std::string_view kUseScriptingCaption = "Use Scripting (JScript, JavaScript or Lua)";

QLabel* Label(std::string_view text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setBuddy(buddy);
    return label;
}

// A line edit and its "Browse..." button on one row.
QHBoxLayout* WithBrowse(QLineEdit* box, QPushButton* button) {
    auto* row = new QHBoxLayout;
    row->addWidget(box, 1);
    row->addWidget(button);
    return row;
}

template <class T>
T* Named(T* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

}  // namespace

FrmOptions::FrmOptions(QWidget* parent) : QDialog(parent) {
    setObjectName("frmOptions");
    setWindowTitle("System Options");
    auto* layout = new QVBoxLayout(this);

    tbsOptions = Named(new QTabWidget(this), "tbsOptions");
    layout->addWidget(tbsOptions, 1);
    // Pages are made in tab order, and each page's controls in reading order, so the focus
    // moves through them as they are laid out.
    tbsOptions->addTab(BuildGeneralTab(), "&General");
    tbsOptions->addTab(BuildMapiTab(), "&MAPI Client");
    tbsOptions->addTab(BuildInternetMailTab(), "&Internet Mail");
    tbsOptions->addTab(BuildLocalFileTab(), "&Local File");

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    cmdOK = Named(new QPushButton("OK", this), "cmdOK");
    cmdCancel = Named(new QPushButton("&Cancel", this), "cmdCancel");
    cmdApply = Named(new QPushButton("&Apply", this), "cmdApply");
    cmdHelp = Named(new QPushButton("&Help", this), "cmdHelp");
    for (QPushButton* b : {cmdOK, cmdCancel, cmdApply, cmdHelp}) buttons->addWidget(b);
    layout->addLayout(buttons);
    cmdOK->setDefault(true);

    Connect();
    Guard(Ctx("Form_Load"), [&] {
        tbsOptions->setCurrentIndex(kTabGeneral);
        // Every control of the dialog has the dialog's help topic.
        auto* help = new QShortcut(QKeySequence::HelpContents, this);
        connect(help, &QShortcut::activated, this, [this] { cmdHelp->click(); });
    });
    EnableAccountBoxes();
    MarkUnchanged();
}

FrmOptions::~FrmOptions() {
    if (!m_check) return;
    disconnect(m_check, nullptr, this, nullptr);
    m_check->kill();
    m_check->waitForFinished(2000);
    QDir(m_checkDir).removeRecursively();
}

QWidget* FrmOptions::BuildGeneralTab() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);

    auto* top = new QHBoxLayout;
    auto* source = Named(new QGroupBox("Message Source", page), "fraSource");
    auto* sourceLayout = new QVBoxLayout(source);
    optMAPI = Named(new QRadioButton("MAPI Client", source), "optMAPI");
    OptPop3 = Named(new QRadioButton("Internet Mail", source), "OptPop3");
    OptFile = Named(new QRadioButton("Local File", source), "OptFile");
    for (QRadioButton* b : {optMAPI, OptPop3, OptFile}) sourceLayout->addWidget(b);
    top->addWidget(source);
    auto* deletion = new QVBoxLayout;
    chkDelMessages = Named(new QCheckBox("Delete messages after parsing", page), "chkDelMessages");
    chkPromptDelete = Named(new QCheckBox("Prompt before deleting", page), "chkPromptDelete");
    chkUnusedMsgs = Named(new QCheckBox("Delete un-used messages", page), "chkUnusedMsgs");
    deletion->addWidget(chkDelMessages);
    // The two dependent boxes are indented under the one they depend on.
    for (QCheckBox* b : {chkPromptDelete, chkUnusedMsgs}) {
        auto* row = new QHBoxLayout;
        row->addSpacing(chkDelMessages->style()->pixelMetric(QStyle::PM_IndicatorWidth) * 2);
        row->addWidget(b);
        deletion->addLayout(row);
    }
    chkProcessOnce = Named(new QCheckBox("Process each message only once", page), "chkProcessOnce");
    chkProcessOnce->setToolTip(
        "Remembers which messages each template was given (Processed.db in the program "
        "folder) and does not give them to it again: for mail that is not deleted.");
    deletion->addWidget(chkProcessOnce);
    deletion->addStretch(1);
    top->addLayout(deletion, 1);
    layout->addLayout(top);

    auto* templates = Named(new QGroupBox("Template Information", page), "fraTemplates");
    auto* templatesLayout = new QVBoxLayout(templates);
    txtDirectory = Named(new QLineEdit(templates), "txtDirectory");
    cmdDirBrowse = Named(new QPushButton("Browse...", templates), "cmdDirBrowse");
    templatesLayout->addWidget(
        Label("Directory where templates are stored:", txtDirectory, templates));
    templatesLayout->addLayout(WithBrowse(txtDirectory, cmdDirBrowse));
    templateDirCheck = new PathFieldCheck(txtDirectory, PathUse::Folder, templates);
    templatesLayout->addLayout(templateDirCheck->Layout());
    chkHelpText =
        Named(new QCheckBox("Show help text when designing templates", templates), "chkHelpText");
    templatesLayout->addWidget(chkHelpText);
    layout->addWidget(templates);

    auto* scripting = Named(new QGroupBox(page), "fraScripting");
    auto* scriptLayout = new QGridLayout(scripting);
    chkUseScripting =
        Named(new QCheckBox(QString::fromUtf8(kUseScriptingCaption), scripting), "chkUseScripting");
    txtScriptDir = Named(new QLineEdit(scripting), "txtScriptDir");
    lblScriptDir = Named(Label("Directory where script files are stored:", txtScriptDir, scripting),
                         "lblScriptDir");
    cmdScriptBrowse = Named(new QPushButton("Browse...", scripting), "cmdScriptBrowse");
    txtEngine = Named(new QLineEdit(scripting), "txtEngine");
    txtEngine->setPlaceholderText("JScript, JavaScript or Lua");
    lblEngine = Named(Label("Language:", txtEngine, scripting), "lblEngine");
    txtExtension = Named(new QLineEdit(scripting), "txtExtension");
    lblExtension = Named(Label("File Ext:", txtExtension, scripting), "lblExtension");
    scriptLayout->addWidget(chkUseScripting, 0, 0, 1, 4);
    scriptLayout->addWidget(lblScriptDir, 1, 0, 1, 4);
    scriptLayout->addLayout(WithBrowse(txtScriptDir, cmdScriptBrowse), 2, 0, 1, 4);
    scriptDirCheck = new PathFieldCheck(txtScriptDir, PathUse::Folder, scripting);
    scriptLayout->addLayout(scriptDirCheck->Layout(), 3, 0, 1, 4);
    scriptLayout->addWidget(lblEngine, 4, 0);
    scriptLayout->addWidget(txtEngine, 4, 1);
    scriptLayout->addWidget(lblExtension, 4, 2);
    scriptLayout->addWidget(txtExtension, 4, 3);
    scriptLayout->setColumnStretch(1, 2);
    scriptLayout->setColumnStretch(3, 1);
    layout->addWidget(scripting);
    layout->addStretch(1);
    return page;
}

QWidget* FrmOptions::BuildMapiTab() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    optExtMapi = Named(new QRadioButton(QString::fromUtf8(kExtMapiCaption), page), "optExtMapi");
    optSimpleMapi =
        Named(new QRadioButton(QString::fromUtf8(kSimpleMapiCaption), page), "optSimpleMapi");
    layout->addWidget(optExtMapi);
    layout->addWidget(optSimpleMapi);
    txtProfile = Named(new QLineEdit(page), "txtProfile");
    lblProfile = Named(Label(kProfileLabel, txtProfile, page), "lblProfile");
    cmdProfileBrowse = Named(new QPushButton("Browse...", page), "cmdProfileBrowse");
    auto* profileRow = new QHBoxLayout;
    profileRow->addWidget(lblProfile);
    profileRow->addLayout(WithBrowse(txtProfile, cmdProfileBrowse), 1);
    layout->addLayout(profileRow);
    profileCheck = new PathFieldCheck(txtProfile, PathUse::Folder, page);
    // A folder that is there but holds no Maildir fails the logon at the run: said now.
    profileCheck->SetNote([](const std::string& path) {
        PathNote note;
        const sources::MailboxGuess guess = sources::RecogniseMailbox(path);
        if (!sources::IsFolderKind(guess.kind) || guess.kind == sources::MailboxKind::Maildir)
            return note;
        note.text = "It holds no Maildir (no cur and new folders)";
        note.text += guess.kind == sources::MailboxKind::Folder
                         ? "."
                         : ": it looks like " + sources::DescribeMailboxKind(guess) + ".";
        return note;
    });
    layout->addLayout(profileCheck->Layout());
    auto* help = Named(new QGroupBox("Help", page), "fraHelp");
    auto* helpLayout = new QVBoxLayout(help);
    auto* helpText = Named(new QLabel(QString::fromUtf8(kMapiHelpText), help), "lblHelp");
    helpText->setWordWrap(true);
    helpLayout->addWidget(helpText);
    layout->addWidget(help);
    layout->addStretch(1);
    return page;
}

QWidget* FrmOptions::BuildInternetMailTab() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* protocol = new QHBoxLayout;
    optProtoPop3 = Named(new QRadioButton("P&OP3 (POP3.CFG)", page), "optProtoPop3");
    optProtoImap = Named(new QRadioButton("IMA&P (IMAP.CFG)", page), "optProtoImap");
    optProtoPop3->setChecked(true);
    auto* protocolLabel = new QLabel("Protocol:", page);
    protocol->addWidget(protocolLabel);
    protocol->addWidget(optProtoPop3);
    protocol->addWidget(optProtoImap);
    protocol->addStretch(1);
    layout->addLayout(protocol);

    auto* properties = Named(new QGroupBox("Properties", page), "fraProperties");
    auto* inner = new QHBoxLayout(properties);

    auto* listColumn = new QVBoxLayout;
    lstPOPName = Named(new QListWidget(properties), "lstPOPName");
    lstPOPName->setAccessibleName("Accounts");
    lstPOPName->setSelectionMode(QAbstractItemView::SingleSelection);
    listColumn->addWidget(lstPOPName, 1);
    auto* listButtons = new QHBoxLayout;
    cmdVarAdd = Named(new QPushButton("A&dd", properties), "cmdVarAdd");
    cmdDelete = Named(new QPushButton("&Remove", properties), "cmdDelete");
    listButtons->addWidget(cmdVarAdd);
    listButtons->addWidget(cmdDelete);
    listColumn->addLayout(listButtons);
    inner->addLayout(listColumn, 1);

    auto* boxes = new QGridLayout;
    txtPOPName = Named(new QLineEdit(properties), "txtPOPName");
    txtHostName = Named(new QLineEdit(properties), "txtHostName");
    txtPort = Named(new QLineEdit(properties), "txtPort");
    txtPort->setValidator(new QIntValidator(0, kMaxPort, txtPort));
    txtLoginName = Named(new QLineEdit(properties), "txtLoginName");
    txtPassword = Named(new QLineEdit(properties), "txtPassword");
    txtPassword->setEchoMode(QLineEdit::Password);
    txtPasswordCommand = Named(new QLineEdit(properties), "txtPasswordCommand");
    txtPasswordCommand->setPlaceholderText("a program that prints the password or token");
    txtPasswordCommand->setToolTip(
        "Used when the password box is empty: the first line the program prints is the "
        "password (or, with OAuth 2, the access token). Run without a shell.");
    cboSecurity = Named(new QComboBox(properties), "cboSecurity");
    cboSecurity->addItem("Default (TLS on ports 993 and 995, else STARTTLS)", QString());
    cboSecurity->addItem("TLS", QString("TLS"));
    cboSecurity->addItem("STARTTLS (required)", QString("STARTTLS"));
    cboSecurity->addItem("None (unencrypted)", QString("None"));
    cboAuth = Named(new QComboBox(properties), "cboAuth");
    cboAuth->addItem("Password", QString());
    cboAuth->addItem("OAuth 2 access token (XOAUTH2)", QString("XOAUTH2"));
    txtFolder = Named(new QLineEdit(properties), "txtFolder");
    txtFolder->setPlaceholderText("INBOX");
    txtMoveTo = Named(new QLineEdit(properties), "txtMoveTo");
    txtMoveTo->setPlaceholderText("deleted messages are removed");
    txtMoveTo->setToolTip("With deletion on, parsed messages are moved to this folder instead.");
    int row = 0;
    for (auto [caption, box] : std::initializer_list<std::pair<const char*, QWidget*>>{
             {"Name:", txtPOPName},
             {"Host Name:", txtHostName},
             {"Port:", txtPort},
             {"Login Name:", txtLoginName},
             {"Password:", txtPassword},
             {"Password from comma&nd:", txtPasswordCommand},
             {"&Security:", cboSecurity},
             {"A&uthentication:", cboAuth},
             {"&Folder:", txtFolder},
             {"Mo&ve deleted to:", txtMoveTo}}) {
        QLabel* label = Label(caption, box, properties);
        label->setObjectName(QString("lbl") + box->objectName().mid(3));
        boxes->addWidget(label, row, 0);
        boxes->addWidget(box, row, 1);
        ++row;
    }
    cmdTestConnection = Named(new QPushButton("&Test connection", properties), "cmdTestConnection");
    cmdTestConnection->setToolTip(
        "Logs in, lists the folders and counts the messages of the folder; reads none.");
    lblTestResult = Named(new QLabel(properties), "lblTestResult");
    lblTestResult->setWordWrap(true);
    lblTestResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // The answer gets a row of its own, the boxes' whole width, for a list of folders.
    auto* testRow = new QHBoxLayout;
    testRow->addWidget(cmdTestConnection);
    testRow->addStretch(1);
    boxes->addLayout(testRow, row++, 0, 1, 2);
    boxes->addWidget(lblTestResult, row, 0, 1, 2);
    boxes->setRowStretch(row + 1, 1);
    inner->addLayout(boxes, 2);
    layout->addWidget(properties, 1);
    txtPOPName->installEventFilter(this);
    return page;
}

QWidget* FrmOptions::BuildLocalFileTab() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* format = Named(new QGroupBox("File Format", page), "fraFileFormat");
    auto* formatLayout = new QVBoxLayout(format);
    OptFileNetscape = Named(new QRadioButton("Netscape", format), "OptFileNetscape");
    OptFileEudora = Named(new QRadioButton("Eurdora", format), "OptFileEudora");
    OptFileOther =
        Named(new QRadioButton("Other - RFC 822 Compliant File", format), "OptFileOther");
    for (QRadioButton* b : {OptFileNetscape, OptFileEudora, OptFileOther})
        formatLayout->addWidget(b);
    layout->addWidget(format);
    txtFormatFile = Named(new QLineEdit(page), "txtFormatFile");
    cmdFileFormatDir = Named(new QPushButton("Browse...", page), "cmdFileFormatDir");
    layout->addWidget(Label("File Path and Name:", txtFormatFile, page));
    layout->addLayout(WithBrowse(txtFormatFile, cmdFileFormatDir));
    localFileCheck = new PathFieldCheck(txtFormatFile, PathUse::FileToRead, page);
    localFileCheck->SetNote([this](const std::string& path) { return MailboxNote(path); });
    // A mailbox file dropped from a file manager takes the box's place, checked as typed.
    AcceptFileDrops(txtFormatFile, [this](const QString& path) { txtFormatFile->setText(path); });
    layout->addLayout(localFileCheck->Layout());
    layout->addStretch(1);
    return page;
}

void FrmOptions::Connect() {
    // Any change of a text box, check box or choice enables Apply.
    for (QLineEdit* box : findChildren<QLineEdit*>())
        connect(box, &QLineEdit::textChanged, this, &FrmOptions::Changed);
    for (QCheckBox* box : findChildren<QCheckBox*>())
        connect(box, &QCheckBox::toggled, this, &FrmOptions::Changed);
    for (QRadioButton* b : findChildren<QRadioButton*>())
        connect(b, &QRadioButton::toggled, this, &FrmOptions::Changed);
    for (QComboBox* box : findChildren<QComboBox*>())
        connect(box, &QComboBox::currentIndexChanged, this, &FrmOptions::Changed);

    for (QRadioButton* b : {optMAPI, OptPop3, OptFile})
        connect(b, &QRadioButton::toggled, this, &FrmOptions::EnableSourceTabs);
    // The mailbox file's note compares the kind it looks like with the kind chosen.
    for (QRadioButton* b : {OptFileNetscape, OptFileEudora, OptFileOther})
        connect(b, &QRadioButton::toggled, this, [this] { localFileCheck->Recheck(); });
    // A local file whose kind the user has not chosen yet is read as the first kind, and the
    // dialog shows that choice, so what is stored is what was shown. (MAPI without a kind
    // stores the default store, whose button would empty the folder box when checked here.)
    connect(OptFile, &QRadioButton::clicked, this, [this] {
        if (!OptFileNetscape->isChecked() && !OptFileEudora->isChecked() &&
            !OptFileOther->isChecked())
            OptFileNetscape->setChecked(true);
    });
    connect(optExtMapi, &QRadioButton::toggled, this, [this](bool on) {
        if (!on) return;
        txtProfile->setEnabled(true);
        cmdProfileBrowse->setEnabled(true);
    });
    connect(optSimpleMapi, &QRadioButton::toggled, this, [this](bool on) {
        if (!on) return;
        // Simple MAPI reads the default store: the folder box is emptied, so Apply stores
        // no folder.
        txtProfile->clear();
        txtProfile->setEnabled(false);
        cmdProfileBrowse->setEnabled(false);
    });
    connect(chkDelMessages, &QCheckBox::clicked, this, [this] { SetDeleteMsgControls(); });
    connect(chkUseScripting, &QCheckBox::clicked, this, [this] { SetScriptControls(); });
    connect(cmdDirBrowse, &QPushButton::clicked, this, [this] { DoDirLookup(*txtDirectory); });
    connect(cmdScriptBrowse, &QPushButton::clicked, this, [this] { DoDirLookup(*txtScriptDir); });
    connect(cmdProfileBrowse, &QPushButton::clicked, this, [this] { DoDirLookup(*txtProfile); });
    connect(cmdFileFormatDir, &QPushButton::clicked, this, &FrmOptions::OnFileBrowse);
    connect(lstPOPName, &QListWidget::currentRowChanged, this, &FrmOptions::OnAccountRowChanged);
    connect(optProtoImap, &QRadioButton::toggled, this, &FrmOptions::OnProtocolChanged);
    connect(cmdTestConnection, &QPushButton::clicked, this, &FrmOptions::OnTestConnection);
    connect(cmdVarAdd, &QPushButton::clicked, this, &FrmOptions::OnAdd);
    connect(cmdDelete, &QPushButton::clicked, this, &FrmOptions::OnRemove);
    connect(cmdApply, &QPushButton::clicked, this, [this] { Apply(); });
    connect(cmdOK, &QPushButton::clicked, this, &FrmOptions::OnOK);
    connect(cmdCancel, &QPushButton::clicked, this, &FrmOptions::reject);
    connect(cmdHelp, &QPushButton::clicked, this, [] {
        Guard(Ctx("cmdHelp_Click"), [] { DoHelp(kHelpCommandContext, kHelpContextOptions); });
    });
}

PathNote FrmOptions::MailboxNote(const std::string& path) {
    PathNote note;
    const sources::MailboxGuess guess = sources::RecogniseMailbox(path);
    const std::string looks = sources::DescribeMailboxKind(guess);
    if (looks.empty()) return note;  // missing or unreadable: the path's own warning says so
    std::string chosen;
    if (OptFileNetscape->isChecked()) chosen = kSourceNetscape;
    if (OptFileEudora->isChecked()) chosen = kSourceEudora;
    if (OptFileOther->isChecked()) chosen = kSourceFileOther;
    const std::string advice = sources::MailboxKindAdvice(guess, chosen);
    note.text = advice.empty() ? "It looks like " + looks + "." : advice;
    if (guess.kind == sources::MailboxKind::ThunderbirdProfile && !guess.mailFile.empty()) {
        const std::string mailFile = guess.mailFile;
        note.actionCaption = tr("Use Its Inbox");
        note.action = [this, mailFile] {
            txtFormatFile->setText(QString::fromStdString(mailFile));
            OptFileNetscape->setChecked(true);
        };
    } else if (!advice.empty() && !guess.useSource.empty() && !sources::IsFolderKind(guess.kind)) {
        const std::string kind = guess.useSource;
        note.actionCaption =
            tr("Read as %1")
                .arg(QString::fromUtf8(sources::MailboxChoiceCaption(kind).data(),
                                       qsizetype(sources::MailboxChoiceCaption(kind).size())));
        note.action = [this, kind] {
            QRadioButton* button = kind == kSourceNetscape ? OptFileNetscape
                                   : kind == kSourceEudora ? OptFileEudora
                                                           : OptFileOther;
            button->setChecked(true);
        };
    }
    return note;
}

void FrmOptions::Changed() {
    cmdApply->setEnabled(true);
}

void FrmOptions::MarkUnchanged() {
    cmdApply->setEnabled(false);
}

void FrmOptions::EnableSourceTabs() {
    // Only the tab of the chosen source can be opened; "&General" always can. With no
    // source chosen every tab stays open.
    if (!optMAPI->isChecked() && !OptPop3->isChecked() && !OptFile->isChecked()) return;
    tbsOptions->setTabEnabled(kTabMapi, optMAPI->isChecked());
    tbsOptions->setTabEnabled(kTabInternetMail, OptPop3->isChecked());
    tbsOptions->setTabEnabled(kTabLocalFile, OptFile->isChecked());
}

void FrmOptions::EnableAccountBoxes() {
    // The boxes describe one account: with none shown there is nothing to edit.
    const bool on = addingAccount || shownAccount >= 0;
    for (QWidget* box :
         std::initializer_list<QWidget*>{txtPOPName, txtHostName, txtPort, txtLoginName,
                                         txtPassword, txtPasswordCommand, cboSecurity, cboAuth})
        box->setEnabled(on);
    // Folders and the connection test are IMAP's.
    for (QWidget* box : std::initializer_list<QWidget*>{txtFolder, txtMoveTo})
        box->setEnabled(on && ImapShown());
    cmdTestConnection->setEnabled(on && ImapShown() && !m_check);
    optProtoPop3->setEnabled(!addingAccount);
    optProtoImap->setEnabled(!addingAccount);
    cmdDelete->setEnabled(!addingAccount && lstPOPName->currentRow() >= 0);
    cmdVarAdd->setEnabled(!addingAccount);
    lstPOPName->setEnabled(!addingAccount);
}

void FrmOptions::SetDeleteMsgControls() {
    Guard(ProcCtx("SetDeleteMsgControls"), [&] {
        const bool on = chkDelMessages->isChecked();
        chkPromptDelete->setEnabled(on);
        chkUnusedMsgs->setEnabled(on);
    });
}

void FrmOptions::SetScriptControls() {
    Guard(ProcCtx("SetScriptControls"), [&] {
        const bool on = chkUseScripting->isChecked();
        for (QWidget* w :
             std::initializer_list<QWidget*>{txtScriptDir, txtEngine, txtExtension, cmdScriptBrowse,
                                             lblScriptDir, lblEngine, lblExtension})
            w->setEnabled(on);
    });
}

void FrmOptions::DoDirLookup(QLineEdit& box) {
    Guard(ProcCtx("DoDirLookup"), [&] {
        const QString chosen = ChooseDirectory(
            this, QString::fromUtf8(kChooseDirectoryTitle.data(), kChooseDirectoryTitle.size()),
            box.text());
        if (!chosen.isEmpty()) box.setText(chosen);
    });
}

void FrmOptions::ClearPop3Ctrl() {
    Guard(ProcCtx("ClearPop3Ctrl"), [&] {
        for (QLineEdit* box : {txtPOPName, txtHostName, txtPort, txtLoginName, txtPassword,
                               txtPasswordCommand, txtFolder, txtMoveTo})
            box->clear();
        cboSecurity->setCurrentIndex(0);
        cboAuth->setCurrentIndex(0);
        lblTestResult->clear();
    });
}

void FrmOptions::SetPop3Ctrls() {
    Guard(ProcCtx("SetPop3Ctrls"), [&] {
        ClearPop3Ctrl();
        const int row = lstPOPName->currentRow();
        if (row >= 0 && row < static_cast<int>(m_accounts.size()))
            ShowAccountBoxes(m_accounts[static_cast<std::size_t>(row)]);
        shownAccount = row;
    });
}

void FrmOptions::CopyShownAccount() {
    GetPOP3Ctrls(m_accounts, shownAccount, AccountBoxes());
}

void FrmOptions::ShowNewAccount() {
    Guard(ProcCtx("AddNewPOP3"), [&] {
        addingAccount = true;
        ClearPop3Ctrl();
        ShowAccountBoxes(AddNewPOP3(ImapShown() ? kDefaultImapPort : sources::kDefaultPop3Port));
        EnableAccountBoxes();
        // The focus goes to the name before the list and its buttons are disabled, so it
        // never passes through another control on the way.
        txtPOPName->setFocus(Qt::OtherFocusReason);
        txtPOPName->selectAll();
        cmdVarAdd->setEnabled(false);
        cmdDelete->setEnabled(false);
        lstPOPName->setEnabled(false);
    });
}

bool FrmOptions::ImapShown() const {
    return optProtoImap->isChecked();
}

void FrmOptions::OnProtocolChanged() {
    Guard(Ctx("optProtocol_Click"), [&] {
        if (shownAccount >= 0) CopyShownAccount();
        std::swap(m_accounts, m_otherAccounts);
        shownAccount = -1;
        {
            const QSignalBlocker block(lstPOPName);
            lstPOPName->clear();
            for (const Pop3AccountValues& account : m_accounts)
                lstPOPName->addItem(QString::fromStdString(account.id));
        }
        ClearPop3Ctrl();
        if (!m_accounts.empty()) lstPOPName->setCurrentRow(0);  // shows it in the boxes
        EnableAccountBoxes();
    });
}

void FrmOptions::OnTestConnection() {
    Guard(Ctx("cmdTestConnection_Click"), [&] {
        if (m_check) return;
        const QString tool = QString::fromStdString(ProgramPath(kImapCheckExecutable));
        if (!QFileInfo(tool).isExecutable()) {
            lblTestResult->setText(
                "The connection test needs the program imap_check, which "
                "is not there: " +
                tool);
            return;
        }
        // The account as the boxes show it, saved or not, in a file of its own that only
        // this user can read (it may hold the password).
        QByteArray pattern = (QDir::tempPath() + "/tallix-check-XXXXXX").toLocal8Bit();
        if (!::mkdtemp(pattern.data())) {
            lblTestResult->setText("The connection test could not make its folder in " +
                                   QDir::tempPath());
            return;
        }
        m_checkDir = QString::fromLocal8Bit(pattern);
        const std::string file = (m_checkDir + "/IMAP.CFG").toStdString();
        sources::colPop3Config accounts(file);
        Pop3AccountValues account = AccountBoxes();
        account.id = "Check";
        SetPOP3Configs(&accounts, {account});
        accounts.PutConfigs();
        m_check = new QProcess(this);
        m_check->setProcessChannelMode(QProcess::MergedChannels);
        connect(m_check, &QProcess::finished, this, [this] {
            const QString answer = QString::fromUtf8(m_check->readAll()).trimmed();
            lblTestResult->setText(answer.isEmpty() ? "The connection test gave no answer."
                                                    : answer);
            m_check->deleteLater();
            m_check = nullptr;
            QDir(m_checkDir).removeRecursively();
            EnableAccountBoxes();
        });
        lblTestResult->setText("Testing the connection...");
        m_check->start(tool, {"Check", QString::fromStdString(file)});
        EnableAccountBoxes();
    });
}

void FrmOptions::OnAccountRowChanged() {
    Guard(Ctx("lstPOPName_Click"), [&] {
        // The edits of the account shown so far go into it before the boxes change.
        if (shownAccount >= 0 && !addingAccount) CopyShownAccount();
        SetPop3Ctrls();
        EnableAccountBoxes();
    });
}

void FrmOptions::OnAdd() {
    Guard(Ctx("cmdVarAdd_Click"), [&] {
        CopyShownAccount();
        ShowNewAccount();
        EnableAccountBoxes();
    });
}

void FrmOptions::OnRemove() {
    Guard(Ctx("cmdDelete_Click"), [&] {
        const int row = lstPOPName->currentRow();
        if (row < 0 || row >= static_cast<int>(m_accounts.size())) return;
        const std::string text =
            std::string(kMsgDeleteAccount) + lstPOPName->item(row)->text().toStdString();
        if (MsgBox(text, MsgButtons::YesNo, MsgIcon::Question, kConfirmationTitle) !=
            MsgAnswer::Yes)
            return;
        m_accounts.erase(m_accounts.begin() + row);
        // Nothing is shown once the entry is gone: the boxes are emptied rather than filled
        // from the entry that moves into its place.
        shownAccount = -1;
        {
            const QSignalBlocker block(lstPOPName);
            delete lstPOPName->takeItem(row);
            lstPOPName->setCurrentRow(-1);
            lstPOPName->clearSelection();
        }
        ClearPop3Ctrl();
        EnableAccountBoxes();
        Changed();
    });
}

bool FrmOptions::CheckAccountName() {
    if (m_checking) return true;
    m_checking = true;
    bool accepted = true;
    Guard(Ctx("txtPopName_LostFocus"), [&] {
        const QString name = txtPOPName->text();
        if (addingAccount) {
            if (!ValidPOP3Name(ListedNames(), name, -1)) {
                accepted = false;
                MsgBox(kMsgInvalidAccountName, MsgButtons::Ok, MsgIcon::Exclamation, kErrorTitle);
                // The focus is on its way elsewhere: it is brought back once it got there.
                QTimer::singleShot(0, txtPOPName, [box = txtPOPName] {
                    box->setFocus(Qt::OtherFocusReason);
                    box->selectAll();
                });
                return;
            }
            m_accounts.emplace_back();
            lstPOPName->addItem(name);
            const int row = lstPOPName->count() - 1;
            // The new account takes what the boxes hold now; selecting it then shows it.
            shownAccount = row;
            CopyShownAccount();
            lstPOPName->setCurrentRow(row);
            addingAccount = false;
            EnableAccountBoxes();
            return;
        }
        if (shownAccount < 0 || shownAccount >= lstPOPName->count()) return;
        QListWidgetItem* own = lstPOPName->item(shownAccount);
        if (ValidPOP3Name(ListedNames(), name, shownAccount)) {
            if (own->text() != name) own->setText(name);
        } else {
            // A refused name would reach the account with the next copy of the boxes (two
            // accounts of one name share one section of the file): the box gets the
            // account's name back.
            txtPOPName->setText(own->text());
        }
        EnableAccountBoxes();
    });
    m_checking = false;
    return accepted;
}

bool FrmOptions::eventFilter(QObject* watched, QEvent* event) {
    if (watched == txtPOPName && event->type() == QEvent::FocusOut) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        // Another window taking over (a message box, a menu, the user switching programs)
        // is no move to another control; leaving for "&Cancel" checks nothing.
        const bool windowChange =
            reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason;
        if (!windowChange && QApplication::focusWidget() != cmdCancel && isVisible())
            CheckAccountName();
    }
    return QDialog::eventFilter(watched, event);
}

void FrmOptions::OnFileBrowse() {
    Guard(Ctx("cmdFileFormatDir_Click"), [&] {
        const QString chosen = ChooseFile(
            this, QString::fromUtf8(kMailSourceFileTitle.data(), kMailSourceFileTitle.size()),
            txtFormatFile->text(),
            QString::fromUtf8(kMailSourceFileFilter.data(), kMailSourceFileFilter.size()));
        if (!chosen.trimmed().isEmpty()) txtFormatFile->setText(chosen.trimmed());
    });
}

bool FrmOptions::Apply() {
    bool applied = false;
    Guard(Ctx("cmdApply_Click"), [&] {
        // A name still being typed is checked first: a new account with a refused name is
        // not stored (and its boxes are not copied over the account shown before it).
        if (!CheckAccountName()) return;
        if (shownAccount >= 0) CopyShownAccount();
        SaveOptions(Values());
        MarkUnchanged();
        applied = true;
    });
    return applied;
}

void FrmOptions::OnOK() {
    Guard(Ctx("cmdOK_Click"), [&] {
        if (Apply()) accept();
    });
}

void FrmOptions::OnCancel() {
    // The accounts are read again from their file, dropping every unsaved edit.
    Guard(Ctx("cmdCancel_Click"), [] { GetPOP3Configurations(); });
}

void FrmOptions::reject() {
    OnCancel();
    QDialog::reject();
}

}  // namespace tallix::manager
