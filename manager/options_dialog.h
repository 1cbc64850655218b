#pragma once
// The options dialog "System Options": the mail source the engine reads, the stored POP3
// accounts, the template and script directories, the script language, the deletion policy
// and the show-help flag. The procedures that fill it and store what it shows are in
// options_procs.h; the dialog's own handlers are here.

#include <QDialog>
#include <QString>
#include <string_view>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace tallix::manager {

// Tab positions, in the order the dialog shows them.
inline constexpr int kTabGeneral = 0;
inline constexpr int kTabMapi = 1;
inline constexpr int kTabInternetMail = 2;
inline constexpr int kTabLocalFile = 3;

// The name an account has between "Add" and the acceptance of its own name.
inline constexpr std::string_view kNewAccountName = "<New>";

class FrmOptions final : public QDialog {
    Q_OBJECT
  public:
    explicit FrmOptions(QWidget* parent = nullptr);

    QTabWidget* tbsOptions;

    // "&General"
    QRadioButton* optMAPI;
    QRadioButton* OptPop3;
    QRadioButton* OptFile;
    QCheckBox* chkDelMessages;
    QCheckBox* chkPromptDelete;
    QCheckBox* chkUnusedMsgs;
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
    QRadioButton* optExtMapi;
    QRadioButton* optSimpleMapi;
    QLabel* lblProfile;
    QLineEdit* txtProfile;
    QPushButton* cmdProfileBrowse;

    // "&Internet Mail"
    QListWidget* lstPOPName;
    QPushButton* cmdVarAdd;
    QPushButton* cmdDelete;
    QLineEdit* txtPOPName;
    QLineEdit* txtHostName;
    QLineEdit* txtPort;
    QLineEdit* txtLoginName;
    QLineEdit* txtPassword;

    // "&Local File"
    QRadioButton* OptFileNetscape;
    QRadioButton* OptFileEudora;
    QRadioButton* OptFileOther;
    QLineEdit* txtFormatFile;
    QPushButton* cmdFileFormatDir;

    QPushButton* cmdOK;
    QPushButton* cmdCancel;
    QPushButton* cmdApply;
    QPushButton* cmdHelp;

    // The list row of the account shown in the account boxes (its position in the account
    // collection less one), -1 for none.
    int shownAccount = -1;
    // True between "Add" and the acceptance of the new account's name.
    bool addingAccount = false;

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
    QWidget* BuildGeneralTab();
    QWidget* BuildMapiTab();
    QWidget* BuildInternetMailTab();
    QWidget* BuildLocalFileTab();
    void Connect();
    void EnableSourceTabs();
    void EnableAccountBoxes();
    void Changed();

    void OnAccountRowChanged();
    void OnAdd();
    void OnRemove();
    void OnFileBrowse();
    bool Apply();
    void OnOK();
    void OnCancel();

    bool m_checking = false;  // inside the name check (its message box takes the focus)
};

}  // namespace tallix::manager
