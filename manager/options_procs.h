#pragma once
// The procedures of modClientProcs that serve the options dialog: opening it, settings to
// controls and back, the account boxes, and the folder picker. Each traps its own failures
// and reports them under "modClientProcs - " + its name.

#include <QString>
#include <functional>
#include <string>
#include <string_view>

class QLineEdit;
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

void SetOptionsCtrls(FrmOptions& form);
void SaveOptions(FrmOptions& form);
void SetDeleteMsgControls(FrmOptions& form);
void SetScriptControls(FrmOptions& form);
void DoDirLookup(QLineEdit& box);
void SetPop3Ctrls(FrmOptions& form);
void ClearPop3Ctrl(FrmOptions& form);
void GetPOP3Ctrls(FrmOptions& form);
void AddNewPOP3(FrmOptions& form);
void PutPOP3Configs();

// The "UseSource" value the dialog's source choice stands for; "" when no source button is
// selected (the setting then keeps its value).
std::string_view SelectedSource(const FrmOptions& form);

// The account-name rule: a name is refused when it is "<New>", empty after trimming, or
// equal (trimmed, without regard to case) to another entry of the list; `ownRow` is the
// entry that belongs to the account being named (-1 for a new account).
bool ValidPOP3Name(const FrmOptions& form, const QString& name, int ownRow);

}  // namespace tallix::manager
