#pragma once
// The procedures of modClientProcs that serve the options dialog. They work on the values the
// dialog edits (OptionsValues), not on its controls: the settings and accounts are read into
// the values, and the values are stored. The dialog maps its controls to and from the values
// (options_dialog.h). Each procedure traps its own failures and reports them under
// "modClientProcs - " + its name.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "sources/pop3_config.h"

class QWidget;

namespace tallix::manager {

class FrmOptions;

inline constexpr std::string_view kMsgInvalidAccountName = "Invalid Name";
inline constexpr std::string_view kMsgDeleteAccount = "Delete the following: ";
inline constexpr std::string_view kConfirmationTitle = "Confirmation";
inline constexpr std::string_view kChooseDirectoryTitle = "Choose Directory";
inline constexpr std::string_view kMailSourceFileTitle = "Mail Source File";
// Every file: on Linux a mailbox file often has no extension at all, which "*.*" would hide.
inline constexpr std::string_view kMailSourceFileFilter = "All files (*)";

// The name an account has between "Add" and the acceptance of its own name.
inline constexpr std::string_view kNewAccountName = "<New>";

// One POP3 or IMAP account as the account boxes show it. The keys after the password are
// as stored ("" when absent); folder and moveTo belong to IMAP accounts only.
struct Pop3AccountValues {
    std::string id;
    std::string hostName;
    std::int32_t port = sources::kDefaultPop3Port;
    std::string loginName;
    std::string password;
    std::string security;
    std::string auth;
    std::string passwordCommand;
    std::string folder;
    std::string moveTo;
    bool operator==(const Pop3AccountValues&) const = default;
};

// What the options dialog edits: the settings it shows and the stored POP3 accounts.
struct OptionsValues {
    // The "UseSource" value the source choice stands for; "" when no source is chosen (the
    // setting then keeps its value).
    std::string source;
    std::int16_t deleteFlag = 0;  // 0 never, 1 after asking, 2 without asking
    bool deleteUnused = false;
    bool processOnce = false;  // each message offered to a template once
    std::string templateDir;
    bool showHelp = false;
    bool useScripts = false;
    std::string scriptDir;
    std::string scriptEngine;
    std::string scriptExt;
    std::string mapiProfile;
    std::string localFileName;
    // In list order; stored in POP3.CFG and IMAP.CFG in this order.
    std::vector<Pop3AccountValues> accounts;
    std::vector<Pop3AccountValues> imapAccounts;
    bool operator==(const OptionsValues&) const = default;
};

// The folder and file pickers the dialog uses. They return the chosen path, or "" when the
// user cancelled. Tests replace them (an empty function restores the system dialogs).
using DirectoryChooser =
    std::function<QString(QWidget* parent, const QString& title, const QString& start)>;
using FileChooser = std::function<QString(QWidget* parent, const QString& title,
                                          const QString& start, const QString& filter)>;
void SetDirectoryChooser(DirectoryChooser chooser);
void SetFileChooser(FileChooser chooser);
QString ChooseDirectory(QWidget* parent, const QString& title, const QString& start);
QString ChooseFile(QWidget* parent, const QString& title, const QString& start,
                   const QString& filter);

// Creates and fills the dialog and shows it modally over the main window.
void InitOptions();
// The dialog filled from the settings and accounts, not yet shown (InitOptions shows it).
FrmOptions* LoadOptions(QWidget* parent);

// The settings and accounts in force, as the dialog opens on them. A manager that never had
// a source chosen gets the default store, and that choice is stored at once.
void SetOptionsCtrls(OptionsValues& values);
// Stores the values: the settings through their putters, the accounts in POP3.CFG; then
// reads back the settings the main window depends on and refills its list.
void SaveOptions(const OptionsValues& values);
// The account boxes into the account at `shown` (0-based), when there is one.
void GetPOP3Ctrls(std::vector<Pop3AccountValues>& accounts, int shown,
                  const Pop3AccountValues& boxes);
// What the boxes show for an account being added (`port`: the protocol's own).
Pop3AccountValues AddNewPOP3(std::int32_t port = sources::kDefaultPop3Port);
// The manager-wide accounts of `configs` become `accounts`; nothing is written.
void SetPOP3Configs(sources::colPop3Config* configs,
                    const std::vector<Pop3AccountValues>& accounts);
// Rewrites the account files (POP3.CFG, IMAP.CFG) from the manager-wide accounts.
void PutPOP3Configs();

// The IMAP port new accounts get.
inline constexpr std::int32_t kDefaultImapPort = 143;

// The account-name rule: a name is refused when it is "<New>", empty after trimming, or
// equal (trimmed, without regard to case) to another of `names`; `ownRow` is the entry that
// belongs to the account being named (-1 for a new account).
bool ValidPOP3Name(const QStringList& names, const QString& name, int ownRow);

}  // namespace tallix::manager
