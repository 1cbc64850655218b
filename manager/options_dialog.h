#pragma once
// The options dialog "System Options": the mail source the engine reads, the stored POP3
// and IMAP accounts, the template and script directories, the script language, the deletion policy
// and the show-help flag. The dialog edits an OptionsValues through one mapping (SetValues,
// Values); the procedures that read and store the values are in options_procs.h; the
// dialog's own handlers are here.

#include <QDialog>
#include <QString>
#include <QStringList>
#include <string_view>
#include <vector>

#include "manager/options_procs.h"
#include "manager/path_field_check.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QProcess;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace tallix::manager {

class PathFieldCheck;

// Tab positions, in the order the dialog shows them.
inline constexpr int kTabGeneral = 0;
inline constexpr int kTabMapi = 1;
inline constexpr int kTabInternetMail = 2;
inline constexpr int kTabLocalFile = 3;

class FrmOptions final : public QDialog {
    Q_OBJECT
  public:
    explicit FrmOptions(QWidget* parent = nullptr);
    // A connection test still running is stopped and its file removed.
    ~FrmOptions() override;

    // The controls the tests drive where they check how the dialog behaves (focus, keys,
    // enabling, message boxes); the values go through SetValues and Values.
    QTabWidget* tbsOptions;

    // "&General"
    QRadioButton* optMAPI;
    QRadioButton* OptPop3;
    QCheckBox* chkDelMessages;
    QCheckBox* chkPromptDelete;
    QCheckBox* chkUnusedMsgs;
    QCheckBox* chkProcessOnce;
    QLineEdit* txtDirectory;
    QPushButton* cmdDirBrowse;
    QCheckBox* chkHelpText;
    QCheckBox* chkUseScripting;
    QLabel* lblScriptDir;
    QLineEdit* txtScriptDir;
    QPushButton* cmdScriptBrowse;
    QLabel* lblEngine;
    QLineEdit* txtEngine;
    QLabel* lblExtension;
    QLineEdit* txtExtension;

    // "&MAPI Client": the local mail store (a Maildir)
    QRadioButton* optSimpleMapi;
    QLineEdit* txtProfile;

    // "&Internet Mail": the protocol chooses which file's accounts the list shows.
    QRadioButton* optProtoPop3;
    QRadioButton* optProtoImap;
    QListWidget* lstPOPName;
    QPushButton* cmdVarAdd;
    QPushButton* cmdDelete;
    QLineEdit* txtPOPName;
    QLineEdit* txtHostName;
    QLineEdit* txtPort;
    QLineEdit* txtLoginName;
    QLineEdit* txtPassword;
    QLineEdit* txtPasswordCommand;
    QComboBox* cboSecurity;
    QComboBox* cboAuth;
    QLineEdit* txtFolder;
    QLineEdit* txtMoveTo;
    QPushButton* cmdTestConnection;
    QLabel* lblTestResult;

    // "&Local File"
    QPushButton* cmdFileFormatDir;

    // The warnings beside the path boxes, checked as the paths are typed: the template and
    // script folders, the Maildir folder, and the mailbox file (with the kind it looks like
    // and an offer to read it as that kind).
    PathFieldCheck* templateDirCheck;
    PathFieldCheck* scriptDirCheck;
    PathFieldCheck* profileCheck;
    PathFieldCheck* localFileCheck;

    QPushButton* cmdOK;
    QPushButton* cmdCancel;
    QPushButton* cmdApply;
    QPushButton* cmdHelp;

    // The list row of the account shown in the account boxes (its index in the values'
    // accounts), -1 for none.
    int shownAccount = -1;
    // True between "Add" and the acceptance of the new account's name.
    bool addingAccount = false;

    // The one mapping between the controls and the values: SetValues shows `values` in a
    // dialog just made (the account list shows their names and the first account, the
    // source buttons the source when it is one they stand for); Values gives what the
    // controls show, with the accounts as edited so far (the account boxes reach their
    // account when the dialog copies them: on a list click, Add, Apply or OK).
    void SetValues(const OptionsValues& values);
    OptionsValues Values() const;

    // After the procedures have filled the controls: Apply off until the user changes one.
    void MarkUnchanged();

    // The account-name check run when the name box loses its focus. Returns false when a
    // new account's name was refused (the box keeps the focus).
    bool CheckAccountName();

    // "&Cancel": Escape and the window's close button do the same.
    void reject() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Controls the procedures and tests reach only through the values.
    QRadioButton* OptFile;
    QRadioButton* optExtMapi;
    QLabel* lblProfile;
    QPushButton* cmdProfileBrowse;
    QRadioButton* OptFileNetscape;
    QRadioButton* OptFileEudora;
    QRadioButton* OptFileOther;
    QLineEdit* txtFormatFile;

    QWidget* BuildGeneralTab();
    QWidget* BuildMapiTab();
    QWidget* BuildInternetMailTab();
    QWidget* BuildLocalFileTab();
    void Connect();
    void EnableSourceTabs();
    void EnableAccountBoxes();
    void Changed();

    // The account boxes, to and from one account (part of the mapping).
    Pop3AccountValues AccountBoxes() const;
    void ShowAccountBoxes(const Pop3AccountValues& account);
    // The names the account list shows, in order.
    QStringList ListedNames() const;
    // The source choice's "UseSource" value, "" when no source button is selected.
    std::string SelectedSource() const;
    // The kind the mailbox file looks like, and the offer to read it as that kind.
    PathNote MailboxNote(const std::string& path);

    // Control behaviour that serves the procedures of the same names.
    void SetDeleteMsgControls();
    void SetScriptControls();
    void DoDirLookup(QLineEdit& box);
    void ClearPop3Ctrl();
    void SetPop3Ctrls();
    void ShowNewAccount();
    void CopyShownAccount();

    // The protocol buttons: the edits of the account shown go into it, and the list shows
    // the other protocol's accounts.
    void OnProtocolChanged();
    bool ImapShown() const;
    // "Test connection": the account shown is checked by the imap_check tool, from a file
    // of its own; the answer appears beside the button.
    void OnTestConnection();

    void OnAccountRowChanged();
    void OnAdd();
    void OnRemove();
    void OnFileBrowse();
    bool Apply();
    void OnOK();
    void OnCancel();

    bool m_checking = false;  // inside the name check (its message box takes the focus)
    // The accounts as edited; the list shows their names in this order. The other
    // protocol's accounts wait in m_otherAccounts.
    std::vector<Pop3AccountValues> m_accounts;
    std::vector<Pop3AccountValues> m_otherAccounts;
    QProcess* m_check = nullptr;  // the connection test running, if any
    QString m_checkDir;           // its private folder, removed when it ends
};

}  // namespace tallix::manager
