#pragma once
// modClientProcs: the manager's start-up and the procedures behind the main window's
// commands. Each one traps its own failures and reports them under
// "modClientProcs - " + its name, then returns.

#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "model/template.h"
#include "sources/pop3_config.h"

namespace tallix::manager {

class FrmMain;
class FrmTemplateEdit;

// Texts the user sees, once each.
inline constexpr std::string_view kMsgSelectToEdit = "Must select a template to edit";
inline constexpr std::string_view kMsgNoTemplateSelected = "There is no template selected";
inline constexpr std::string_view kMsgDeleteSelected = "Delete the selected file";
inline constexpr std::string_view kMsgSelectTemplate = "You must select a template.";
inline constexpr std::string_view kMsgNoSelectedItem = "No currently selected Item";
inline constexpr std::string_view kMsgBlankName = "File name cannot be blank.";
inline constexpr std::string_view kMsgInvalidName = "Invalid template name";
inline constexpr std::string_view kMsgNameExists = "This template name already exist";
inline constexpr std::string_view kMsgUnableToPrint = "Unable to print the template file";
inline constexpr std::string_view kMsgUnableToViewLog = "Unable to view system Log";
inline constexpr std::string_view kMsgSourceNotSet =
    "The message source is not set.\nUse the View/Option menu item to set this item.";
inline constexpr std::string_view kMsgErrorLoading = "Error loading application.";
inline constexpr std::string_view kUntitled = "Untitled";
inline constexpr std::string_view kUntitledPlaceholder = "<Untitled>";
inline constexpr std::string_view kNeverRan = "Never";
inline constexpr std::string_view kEngineExecutable = "txengine";
// The program the options dialog's "Test connection" runs.
inline constexpr std::string_view kImapCheckExecutable = "imap_check";
inline constexpr std::string_view kExamplesDir = "Examples";
// A row whose file vanished after the list was filled (another program or the user removed
// it): said instead of writing a new template from nothing.
inline constexpr std::string_view kMsgTemplateGone = "The template file no longer exists:\n";

// The "Last Match" column: the tip of a template with no recorded run, the warning of one that
// stopped matching, and what a record that cannot be read shows.
inline constexpr std::string_view kTipNoRunRecorded =
    "No run of this template is recorded: runs are recorded while each message is processed "
    "once (System Options, or the template's own choice)";
inline constexpr std::string_view kTipStoppedMatching =
    "Matched no message in its last run, after matching in each of the 3 runs before it: has "
    "the mail it reads changed?";
inline constexpr std::string_view kMsgRecordUnreadable =
    "The record of processed messages cannot be read: ";

// Help contexts of the help set.
inline constexpr int kHelpCommandContext = 1;
inline constexpr int kHelpContextEditor = 3;
inline constexpr int kHelpContextOptions = 4;
inline constexpr int kHelpContextSupport = 7;
inline constexpr int kHelpContextGettingStarted = 15;
inline constexpr int kHelpContextOrdering = 43;

// The manager-wide state that lives as long as the program.
struct ManagerState {
    std::shared_ptr<clsTemplate> currentTemplate = std::make_shared<clsTemplate>();
    std::string pop3ConfigPath;
    std::shared_ptr<sources::colPop3Config> pop3Configs;  // the stored POP3 accounts
    std::shared_ptr<sources::colPop3Config> imapConfigs;  // the stored IMAP accounts
    bool examplesMode = false;
    bool startupComplete = false;
    // True while the editor is open for a new template, false for an existing one.
    bool newTemplate = false;
};
ManagerState& State();
void ResetManagerState();

// The main window the procedures work on (not owned); Main sets it.
FrmMain* MainForm();
void SetMainForm(FrmMain* form);

// Start-up: splash, main window, settings in the manager's order, accounts, template list.
// Returns the main window (owned by the caller); the splash closes itself once start-up
// is complete.
std::unique_ptr<FrmMain> Main();
void ExitSplash();
// The settings Main reads before the message source (the accounts file's path, help, MAPI
// profile, template directory) and those it reads after the template list (scripting,
// deletion, local mail file), for windows opened without Main.
void GetGeneralSettings();
void GetRunSettings();

// Reads the stored accounts: POP3.CFG and IMAP.CFG.
void GetPOP3Configurations();
void GetTempFiles();
// Fills the "Last Match" column of every row from the record of processed messages, read
// without holding up a run that writes it, and marks the templates that stopped matching.
void ShowTemplateHistories();
// The time of a run, as the list shows the last-run stamps.
std::string ShownRunTime(std::time_t at);
void EditTemplate(bool isNew);
void CopyCurrentTemplate();
std::string FileCopyNum(std::string_view name);
void DoDelete();
void ToggleActivityFlag();
// `anyRow`: every row counts (a new template not yet saved, a name from the wizard); else
// the selected row, the template being named, does not.
bool IsGoodFileName(std::string& name, std::string& message, bool anyRow);
// Why the trimmed `name` cannot be a template's name whatever the list holds, said for the
// user ("" when it can); IsGoodFileName refuses these with kMsgInvalidName.
std::string_view NameRuleBroken(std::string_view name);
bool InCurrentList(std::string_view name, bool anyRow);
std::string MakeFileName(std::string_view name);
// Writes the current template's file; false, after a box naming the file and the system's
// reason, when it could not be written.
bool SaveCurrentFile(bool isNew);
// After a write of `t`: false when it was saved; else shows the box above and returns true.
bool ReportTemplateNotSaved(const clsTemplate& t);
std::string NewTemplateName();
// Starts the engine on one template (or all, for "") and waits for it; false when the
// engine could not be started.
bool RunEngine(const std::string& templateName);
void ParseCurrent();
void ParseAll();
void PrintTemplate();
void ViewLogFile(std::string_view logFileName);
void DoHelp(int command, int context);
void DoExamples();

// How EditTemplate shows the prepared editor: modally by default. Tests drive the dialog
// through a runner instead (it gets the filled dialog and returns when done with it); an
// empty function restores the modal dialog.
using EditorRunner = std::function<void(FrmTemplateEdit& editor)>;
void SetEditorRunner(EditorRunner runner);

// A program of ours the manager starts: beside the manager, or in $TALLIX_HOME when that is
// set (a private program directory holds its own programs). EnginePath: the engine.
std::string ProgramPath(std::string_view name);
std::string EnginePath();

}  // namespace tallix::manager
