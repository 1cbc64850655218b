#include "manager/client_procs.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QPointer>
#include <QPrinter>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>

#include "engine/processed_store.h"
#include "engine/templates/run_report.h"
#include "engine/templates/template_listing.h"
#include "manager/main_window.h"
#include "manager/manager_windows.h"
#include "manager/run_panel.h"
#include "manager/template_draft.h"
#include "manager/template_edit.h"
#include "manager/template_test_bench.h"
#include "model/file_bytes.h"
#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/global_utils.h"
#include "settings/logs.h"
#include "settings/registry.h"
#include "settings/settings_store.h"
#include "settings/system_rules.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"

namespace tallix::manager {
namespace {

constexpr std::string_view kCtx = "modClientProcs - ";
// How often the run panel reads the engine's report.
constexpr std::chrono::milliseconds kRunReportPoll{250};

std::string Ctx(std::string_view procedure) {
    return std::string(kCtx) + std::string(procedure);
}

FrmMain*& TheMainForm() {
    static FrmMain* form = nullptr;
    return form;
}

QPointer<FrmSplash>& TheSplash() {
    static QPointer<FrmSplash> splash;
    return splash;
}

FrmMain& Form() {
    if (!TheMainForm()) Raise(kErrObjectRequired);
    return *TheMainForm();
}

std::string Res(int id) {
    return LoadResString(id);
}

// A row whose file has gone since the list was filled is said so and the list is read
// again; reading it would give an empty template and writing that back would create a
// file from nothing.
bool RowFileStillThere(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec)) return true;
    MsgBox(std::string(kMsgTemplateGone) + path, MsgButtons::Ok, MsgIcon::Exclamation, kErrorTitle);
    GetTempFiles();
    return false;
}

// The template of the selected row, read from its file; nullptr when no row is selected
// (the user is asked to select one) or its file is gone. `row` receives the selected row.
std::shared_ptr<clsTemplate> ReadSelectedTemplate(QTreeWidgetItem*& row) {
    row = Form().SelectedItem();
    if (!row) {
        MsgBox(kMsgSelectToEdit);
        return nullptr;
    }
    const std::string path = FrmMain::RowTag(row);
    if (!RowFileStillThere(path)) return nullptr;
    auto t = std::make_shared<clsTemplate>();
    t->SetFileName(path);
    t->ReadTemplate();
    return t;
}

void SelectRow(QTreeWidgetItem* item) {
    FrmMain& form = Form();
    form.lvMainList->clearSelection();
    if (!item) return;
    form.lvMainList->setCurrentItem(item);
    item->setSelected(true);
    form.lvMainList->scrollToItem(item);
}

EditorRunner& TheEditorRunner() {
    static EditorRunner runner;
    return runner;
}

// A fresh editor over the main window, filled from the current template, shown modally. Its
// last tab, "Test", tries the template as edited on a message file or the configured source.
void OpenTemplateEditor(bool isNew) {
    FrmTemplateEdit editor(State().currentTemplate, MainForm());
    editor.SetEditCtrlValues(isNew);
    auto* bench = new TemplateTestBench;
    bench->setObjectName("tabTest");
    editor.AddTab(bench, QStringLiteral("&Test"));
    auto tryEdited = [&editor, bench] {
        if (std::shared_ptr<clsTemplate> edited = editor.EditedTemplate())
            bench->SetTemplate(*edited);
    };
    QObject::connect(&editor, &FrmTemplateEdit::templateEdited, bench, tryEdited);
    // A value selected on the Test tab becomes a variable of the template being edited.
    QObject::connect(bench, &TemplateTestBench::VariableMade, &editor,
                     &FrmTemplateEdit::AddMadeVariable);
    QObject::connect(bench, &TemplateTestBench::VariableRefined, &editor,
                     &FrmTemplateEdit::ReplaceMadeVariable);
    tryEdited();
    if (TheEditorRunner())
        TheEditorRunner()(editor);
    else
        editor.exec();
}

}  // namespace

ManagerState& State() {
    static ManagerState state;
    return state;
}

void ResetManagerState() {
    State() = ManagerState{};
}

FrmMain* MainForm() {
    return TheMainForm();
}
void SetMainForm(FrmMain* form) {
    TheMainForm() = form;
}

std::unique_ptr<FrmMain> Main() {
    std::unique_ptr<FrmMain> form;
    Guard(Ctx("Main"), [&] {
        State().startupComplete = false;
        auto* splash = new FrmSplash;
        splash->setAttribute(Qt::WA_DeleteOnClose);
        TheSplash() = splash;
        splash->show();
        splash->tmrSplash->start();

        form = std::make_unique<FrmMain>();
        SetMainForm(form.get());
        GetGeneralSettings();
        GetUseSource();
        if (Trim(Settings().useSource).empty())
            MsgBox(kMsgSourceNotSet, MsgButtons::Ok, MsgIcon::None, kErrorTitle);
        GetPOP3Configurations();
        GetTempFiles();
        GetRunSettings();
        State().startupComplete = true;
    });
    return form;
}

void GetGeneralSettings() {
    State().pop3ConfigPath = sources::Pop3ConfigPath();
    GetShowHelp();
    GetMapiProfile();
    GetTemplateDir();
}

void GetRunSettings() {
    GetUseScripts();
    GetScriptDir();
    GetScriptExt();
    GetScriptEngine();
    GetDeleteFlag();
    GetLocalFileName();
    GetProcessOnce();
}

void ExitSplash() {
    Guard(Ctx("ExitSplash"), [] {
        if (FrmSplash* splash = TheSplash()) {
            splash->tmrSplash->stop();
            splash->close();
        }
        if (!MainForm()) {
            MsgBox(kMsgErrorLoading);
            QCoreApplication::exit(1);
            return;
        }
        MainForm()->show();
        MainForm()->lvMainList->setFocus();
    });
}

void GetPOP3Configurations() {
    // A new collection read from the account file replaces the one held.
    auto configs = std::make_shared<sources::colPop3Config>(State().pop3ConfigPath);
    configs->GetConfigs();
    State().pop3Configs = std::move(configs);
    auto imap = std::make_shared<sources::colPop3Config>(sources::ImapConfigPath());
    imap->GetConfigs();
    State().imapConfigs = std::move(imap);
}

void GetTempFiles() {
    Guard(Ctx("GetTempFiles"), [] {
        FrmMain& form = Form();
        form.ClearList();
        form.lvMainList->setVisible(false);
        const std::string dir = Settings().templateDir;
        // The files the engine would run, in the order it runs them.
        for (const std::string& name :
             engine::ListMatchingFiles(JoinPath(dir, "*" + std::string(kTemplateExtension)))) {
            const std::string path = JoinPath(dir, name);
            clsTemplate t;
            t.SetFileName(path);
            t.ReadActiveFlag();
            t.ReadLastRan();
            form.AddRow(StripExt(name), t.Active(), t.LastRan(), path);
        }
        ShowTemplateHistories();
        form.lvMainList->setVisible(true);
    });
}

std::string ShownRunTime(std::time_t at) {
    std::tm local{};
    localtime_r(&at, &local);
    const DateValue when = DateSerial(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
                           TimeSerial(local.tm_hour, local.tm_min, local.tm_sec);
    return FormatShortDate(when) + " " + FormatLongTime(when);
}

void ShowTemplateHistories() {
    Guard(Ctx("ShowTemplateHistories"), [] {
        FrmMain& form = Form();
        const std::string path = JoinPath(ProgramDir(), engine::kProcessedFileName);
        std::map<std::string, engine::TemplateHistory> histories;
        const std::string error = engine::ReadTemplateHistories(path, histories);
        const QString unreadable =
            QString::fromStdString(std::string(kMsgRecordUnreadable) + path + ": " + error);
        static_assert(engine::kMatchingRunsBefore == 3, "the warning's tip names the number");
        const QString warning = QString::fromStdString(std::string(kTipStoppedMatching));
        for (int i = 0; i < form.lvMainList->topLevelItemCount(); ++i) {
            QTreeWidgetItem* row = form.lvMainList->topLevelItem(i);
            if (!error.empty()) {
                FrmMain::SetLastMatch(row, QString(), unreadable, QString());
                continue;
            }
            // The runs are recorded under the template's file name.
            const auto found =
                histories.find(std::filesystem::path(FrmMain::RowTag(row)).filename().string());
            if (found == histories.end()) {
                FrmMain::SetLastMatch(row, QString::fromStdString(std::string(kNeverRan)),
                                      QString::fromStdString(std::string(kTipNoRunRecorded)),
                                      QString());
                continue;
            }
            const engine::TemplateHistory& history = found->second;
            FrmMain::SetLastMatch(
                row,
                QString::fromStdString(history.lastMatch ? ShownRunTime(*history.lastMatch)
                                                         : std::string(kNeverRan)),
                QString(), history.stale ? warning : QString());
        }
    });
}

void EditTemplate(bool isNew) {
    Guard(Ctx("EditTemplate"), [&] {
        if (isNew) State().currentTemplate = std::make_shared<clsTemplate>();
        if (!isNew) {
            QTreeWidgetItem* item = nullptr;
            auto t = ReadSelectedTemplate(item);
            if (!t) return;
            State().currentTemplate = t;
        } else {
            State().currentTemplate->SetFileName(NewTemplateName());
        }
        // The editor maps the stored delimiter name to its character itself.
        OpenTemplateEditor(isNew);
    });
}

std::string FileCopyNum(std::string_view name) {
    return GuardValue(Ctx("FileCopyNum"), std::string(), [&] {
        const FrmMain& form = Form();
        for (int n = 1;; ++n) {
            std::string candidate = "Copy (" + std::to_string(n) + ") of " + std::string(name);
            if (!form.FindRow(candidate)) return candidate;
        }
    });
}

void CopyCurrentTemplate() {
    Guard(Ctx("CopyCurrentTemplate"), [] {
        FrmMain& form = Form();
        QTreeWidgetItem* item = nullptr;
        auto t = ReadSelectedTemplate(item);
        if (!t) return;
        State().currentTemplate = t;

        const std::string copyName = FileCopyNum(Trim(FrmMain::RowText(item)));
        const std::string copyPath =
            JoinPath(Settings().templateDir, copyName + std::string(kTemplateExtension));
        t->SetFileName(copyPath);
        t->SetLastRan(kNeverRan);
        // The copy writes to the original's output file: it stays inactive until the user
        // saves it in the editor (which stores the flag the editor shows, the original's).
        const bool active = t->Active();
        t->SetActive(false);
        t->WriteTemplateFile(true);
        t->SetActive(active);
        // No copy was made: the editor is not opened on a file that does not exist.
        if (ReportTemplateNotSaved(*t)) return;

        GetTempFiles();
        SelectRow(form.FindRow(JustFileName(copyPath)));
        State().newTemplate = false;
        // The editor opens on the copy as it was made, with the original's flag.
        State().currentTemplate = t;
        OpenTemplateEditor(false);
    });
}

void DoDelete() {
    Guard(Ctx("DoDelete"), [] {
        FrmMain& form = Form();
        QTreeWidgetItem* item = form.SelectedItem();
        if (!item) {
            MsgBox(kMsgNoTemplateSelected, MsgButtons::Ok, MsgIcon::Exclamation, kErrorTitle);
            return;
        }
        QApplication::beep();
        if (MsgBox(kMsgDeleteSelected, MsgButtons::OkCancel, MsgIcon::Question,
                   Res(kResShortProductName)) != MsgAnswer::Ok)
            return;
        // Into the desktop's trash, as the file manager does: a template deleted by mistake
        // can be put back. Where there is no trash the file stays and the box says so.
        const QString path = QString::fromStdString(FrmMain::RowTag(item));
        // The trash of the user's data folder is made first where it is missing: the
        // library would otherwise fall back to a folder named "files" in the working
        // directory.
        const QString trash =
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash";
        for (const char* part : {"/files", "/info"}) QDir().mkpath(trash + part);
        QFile::setPermissions(
            trash, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        if (!QFile::moveToTrash(path)) {
            MsgBox("The template " + path.toStdString() +
                       " could not be moved to the trash; it is left where it is.",
                   MsgButtons::Ok, MsgIcon::Exclamation, kErrorTitle);
            return;
        }
        delete item;
    });
}

void ToggleActivityFlag() {
    Guard(Ctx("ToggleActivityFlag"), [] {
        FrmMain& form = Form();
        QTreeWidgetItem* item = form.SelectedItem();
        if (!item) {
            MsgBox(kMsgSelectToEdit);
            return;
        }
        const std::string path = FrmMain::RowTag(item);
        if (!RowFileStillThere(path)) return;
        // The file is read now, not taken from the row: the engine may have stamped its last
        // run since the list was filled. Only the flag is written, into the file as it is
        // then, so nothing the engine wrote is put back to an older value.
        clsTemplate t;
        t.SetFileName(path);
        t.ReadTemplate();
        t.SetActive(!t.Active());
        t.WriteActiveFlag();
        // A file that kept its flag (marked read-only) is named, and the row stays as it was.
        if (ReportTemplateNotSaved(t)) return;
        item->setText(kColActive, t.Active() ? "True" : "False");
        item->setText(kColLastRun, QString::fromStdString(t.LastRan()));
    });
}

bool InCurrentList(std::string_view name, bool anyRow) {
    return GuardValue(Ctx("InCurrentList"), false, [&] {
        const FrmMain& form = Form();
        const QTreeWidgetItem* selected = form.SelectedItem();
        const std::string wanted = Trim(name);
        for (int i = 0; i < form.lvMainList->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* row = form.lvMainList->topLevelItem(i);
            if (Trim(FrmMain::RowText(row)) != wanted) continue;
            if (anyRow || row != selected) return true;
        }
        return false;
    });
}

bool IsGoodFileName(std::string& name, std::string& message, bool anyRow) {
    return GuardValue(Ctx("IsGoodFileName"), false, [&] {
        name = Trim(name);
        message.clear();
        if (name.empty()) {
            message = kMsgBlankName;
            return false;
        }
        if (!NameRuleBroken(name).empty()) {
            message = kMsgInvalidName;
            return false;
        }
        if (InCurrentList(name, anyRow)) {
            message = kMsgNameExists;
            return false;
        }
        return true;
    });
}

std::string_view NameRuleBroken(std::string_view name) {
    // A "/" would put the file outside the template directory (or fail for a missing folder),
    // a leading "." would hide it from the list and from the engine, and a leading "-" would
    // make the engine read the name as an option such as "--help".
    if (name == kUntitledPlaceholder)
        return "That is what the list shows for a template not yet named.";
    if (name.find('/') != std::string_view::npos)
        return "A name cannot hold \"/\": it becomes the template's file name.";
    if (name.find('\0') != std::string_view::npos) return "A name cannot hold a null character.";
    if (!name.empty() && name.front() == '.')
        return "A name cannot start with \".\": the template's file would be hidden.";
    if (!name.empty() && name.front() == '-')
        return "A name cannot start with \"-\": the engine would take it for an option.";
    return {};
}

std::string MakeFileName(std::string_view name) {
    return GuardValue(Ctx("MakeFileName"), std::string(), [&] {
        return JoinPath(Settings().templateDir, Trim(name) + std::string(kTemplateExtension));
    });
}

bool ReportTemplateNotSaved(const clsTemplate& t) {
    const int error = t.LastWriteError();
    if (error == 0) return false;
    MsgBox(std::string(kMsgCannotSaveChanges) + t.FileName() + ": " + std::strerror(error),
           MsgButtons::Ok, MsgIcon::Critical, kErrorTitle);
    return true;
}

bool SaveCurrentFile(bool isNew) {
    // A file that could not be written is named with the reason, and the caller keeps its
    // window open so that nothing the user entered is lost.
    return GuardValue(Ctx("SaveCurrentFile"), false, [&] {
        clsTemplate& t = *State().currentTemplate;
        t.WriteTemplateFile(isNew);
        return !ReportTemplateNotSaved(t);
    });
}

std::string NewTemplateName() {
    return GuardValue(Ctx("NewTemplateName"), std::string(kUntitled), [] {
        const FrmMain& form = Form();
        std::string candidate(kUntitled);
        const int rows = form.lvMainList->topLevelItemCount();
        for (int i = 1; i <= rows; ++i) {
            if (!form.FindRow(candidate)) return candidate;
            candidate += std::to_string(i);
        }
        return candidate;
    });
}

void SetEditorRunner(EditorRunner runner) {
    TheEditorRunner() = std::move(runner);
}

std::string ProgramPath(std::string_view name) {
    const char* home = std::getenv("TALLIX_HOME");
    const std::string dir = home && *home ? ProgramDir() : ExecutableDir();
    return JoinPath(dir, name);
}

std::string EnginePath() {
    return ProgramPath(kEngineExecutable);
}

bool RunEngine(const std::string& templateName) {
    return GuardValue(Ctx("RunEngine"), false, [&] {
        FrmMain& form = Form();
        // The engine reports its progress and, at its end, what each template wrote into a
        // file of a private folder of this run.
        QTemporaryDir reportDir;
        const std::string reportPath =
            reportDir.isValid() ? reportDir.filePath("run-report").toStdString() : std::string();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (!reportPath.empty())
            environment.insert(engine::kRunReportVariable, QString::fromStdString(reportPath));
        // The examples mode runs the example templates; otherwise the engine reads the stored
        // template directory itself.
        if (State().examplesMode)
            environment.insert(engine::kTemplateDirVariable,
                               QString::fromStdString(Settings().templateDir));
        else
            environment.remove(engine::kTemplateDirVariable);

        // The name is one argument, whole: no shell, no length limit.
        QProcess engine;
        engine.setProgram(QString::fromStdString(EnginePath()));
        if (!templateName.empty()) engine.setArguments({QString::fromStdString(templateName)});
        engine.setWorkingDirectory(QDir::currentPath());
        engine.setProcessEnvironment(environment);
        engine.setProcessChannelMode(QProcess::ForwardedChannels);
        // An engine without a display asks its questions on standard input: it reads the end
        // of input and takes the default answer instead of waiting for a line nobody sends.
        engine.setStandardInputFile(QProcess::nullDevice());
        engine.start();
        if (!engine.waitForStarted(-1)) {
            MsgBox("Unable to run the " + Res(kResShortProductName) + ".", MsgButtons::Ok,
                   MsgIcon::None, kErrorTitle);
            return false;
        }
        // The window keeps painting while the engine runs; only the run panel takes input.
        RunPanel& panel = *form.dockRun;
        // SIGTERM: the engine stops after the message it is reading.
        panel.BeginRun([&engine] { engine.terminate(); });
        form.SetRunning(true);
        QTimer poll;
        poll.setInterval(kRunReportPoll);
        QObject::connect(&poll, &QTimer::timeout, &panel, [&] {
            if (std::optional<engine::RunReport> report = engine::ReadRunReport(reportPath))
                panel.ShowProgress(*report);
        });
        poll.start();
        QEventLoop loop;
        QObject::connect(&engine, &QProcess::finished, &loop, &QEventLoop::quit);
        if (engine.state() != QProcess::NotRunning) loop.exec();
        poll.stop();
        panel.FinishRun(engine::ReadRunReport(reportPath),
                        engine.exitStatus() == QProcess::CrashExit, engine.exitCode());
        form.SetRunning(false);
        form.update();
        return true;
    });
}

void ParseCurrent() {
    Guard(Ctx("ParseCurrent"), [] {
        FrmMain& form = Form();
        QTreeWidgetItem* item = form.SelectedItem();
        const std::string name = Trim(FrmMain::RowText(item));
        if (!item || name.empty()) {
            MsgBox(kMsgSelectTemplate);
            return;
        }
        if (!RunEngine(name)) return;
        GetTempFiles();
        SelectRow(form.FindRow(name));
    });
}

void ParseAll() {
    Guard(Ctx("ParseAll"), [] {
        if (RunEngine("")) GetTempFiles();
    });
}

void PrintTemplate() {
    Guard(Ctx("PrintTemplate"), [] {
        FrmMain& form = Form();
        QTreeWidgetItem* item = form.SelectedItem();
        if (!item) {
            MsgBox(kMsgNoSelectedItem);
            return;
        }
        const std::string path = FrmMain::RowTag(item);
        Guard(kMsgUnableToPrint, [&] {
            std::string text;
            if (int error = ReadRegularFile(path, text)) RaiseErrno(error);
            QTextDocument doc;
            doc.setDefaultFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
            doc.setPlainText(QString::fromUtf8(text).remove(QLatin1Char('\r')));
            QPrinter& printer = form.Printer();
            printer.setDocName(QString::fromStdString(JustFileName(path)));
            if (!printer.isValid()) Raise(kErrDeviceUnavailable);
            doc.print(&printer);
        });
    });
}

void ViewLogFile(std::string_view logFileName) {
    Guard(Ctx("ViewLogFile"), [&] {
        const std::string name = Trim(logFileName);
        const std::string title = EqualsNoCase(name, kErrorLog) ? "Error Log" : "System Log";
        const std::string path = JoinPath(ProgramDir(), name);
        std::error_code ec;
        if (!std::filesystem::exists(path, ec)) {
            SystemMsg("There is no " + title, false);
            return;
        }
        Guard(kMsgUnableToViewLog,
              [&] { ShowLogViewer(QString::fromStdString(path), QString::fromStdString(title)); });
    });
}

void DoHelp(int command, int context) {
    Guard(Ctx("DoHelp"), [&] {
        const QString page = HelpPageForContext(context);
        const QString path = HelpDirectory() + "/" + (page.isEmpty() ? "contents.html" : page);
        if (!QFileInfo::exists(path)) {
            MsgBox("Cannot find the help file " + path.toStdString() + ".", MsgButtons::Ok,
                   MsgIcon::Exclamation, Res(kResProductName) + " Help");
            return;
        }
        (void)command;  // every caller asks for the topic of a context
        FrmHelp* help = HelpWindow();
        help->tabs->setCurrentIndex(0);
        help->ShowPage(QFileInfo(path).fileName());
    });
}

void DoExamples() {
    Guard(Ctx("DoExamples"), [] {
        FrmMain& form = Form();
        if (State().examplesMode) {
            State().examplesMode = false;
            GetTemplateDir();
        } else {
            QApplication::beep();
            const std::string text =
                Res(kResShortProductName) + " will now switch to the examples directory.\n" +
                "If you create new templates they will be saved in the examples directory.\n" +
                "To change back to the normal directory click this option again";
            if (MsgBox(text, MsgButtons::OkCancel, MsgIcon::Information, Res(kResProductName)) !=
                MsgAnswer::Ok) {
                form.mnuHelpExamples->setChecked(false);
                return;
            }
            State().examplesMode = true;
            // Only in memory: the stored template directory stays as it is.
            Settings().templateDir = JoinPath(DataDir(), kExamplesDir);
        }
        GetTempFiles();
        form.mnuHelpExamples->setChecked(State().examplesMode);
    });
}

}  // namespace tallix::manager
