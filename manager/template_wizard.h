#pragma once
// The template wizard "frmWizard": seven pages shown one at a time in the same place, with
// three advice boxes for the page shown and the Back, Next (Finish on the last page) and
// Cancel buttons. It only asks; DoWizard (wizard_procs.h) builds the template from its
// answers once Finish has passed its checks.

#include <QDialog>
#include <QString>
#include <functional>
#include <vector>

#include "manager/path_field_check.h"
#include "manager/wizard_procs.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QStackedWidget;

namespace tallix::manager {

inline constexpr int kWizardPageCount = 7;
inline constexpr std::string_view kDefaultWizardTemplateName = "My Mailing List";
// The formatted-text box's placeholder.
inline constexpr std::string_view kDefaultFormattedText = "The pasted form text will be in here...";
inline constexpr std::string_view kDefaultTextSeparator = ":";
inline constexpr std::string_view kMsgNoHeaderName = "No header name has been entered.";
inline constexpr std::string_view kMsgTooManyVariables =
    "The formatted text gives more variables than one output line can list.\n"
    "Remove the lines you do not need.";

class FrmWizard final : public QDialog {
    Q_OBJECT
  public:
    explicit FrmWizard(QWidget* parent = nullptr);

    QStackedWidget* WizFrame;
    // Page 0
    QLineEdit* txtTemplateName;
    QLabel* lblNameProblem;  // why the name cannot be taken, under it
    QLabel* lblWelcome;
    // Page 1
    QRadioButton* optNoFilter;
    QRadioButton* optFilter;
    QGroupBox* frameFilter;
    QLineEdit* txtFilterString;
    QComboBox* cboMsgField;
    QLineEdit* txtHeaderName;  // the header's name when the field is "Header..."
    // Page 2
    QLineEdit* txtOutputFile;
    PathFieldCheck* outputFileCheck;  // the warning beside it, as the path is typed
    QPushButton* cmdOutputFile;
    QComboBox* cboDelimiter;
    // Page 3
    QCheckBox* chkSenderName;
    QCheckBox* chkSendAddr;
    QCheckBox* chkRecpName;
    QCheckBox* chkRecpAddr;
    QCheckBox* chkMsgDate;
    QCheckBox* chkMsgTime;
    // Page 4
    QRadioButton* optNoCreate;
    QRadioButton* optCreate;
    QRadioButton* optUseMsg;
    QRadioButton* optUseAttach;
    QPlainTextEdit* txtMsgText;
    QLineEdit* txtDelimiter;
    QPushButton* cmdLoadMessage;
    QPushButton* cmdPickValue;  // a variable from the value selected in the text (Ctrl+M)
    QPushButton* cmdRemovePicked;
    QListWidget* lstPicked;  // the variables made so, in output order
    QLabel* lblPickNote;     // why a selection made no variable
    // Page 5
    QCheckBox* chkStartOfLineOnly;
    QCheckBox* chkMatchCase;
    QCheckBox* chkMathWholeStr;
    QCheckBox* chkUseQuotes;
    QCheckBox* chkRemoveReturns;
    // Page 6
    QLabel* lblClosing;
    QCheckBox* chkReview;
    // Advice for the page shown.
    QLabel* txtInfo;
    QLabel* txtTip;
    QLabel* txtPit;

    QPushButton* cmdBack;
    QPushButton* cmdNext;
    QPushButton* cmdCancel;

    int CurrentPage() const;
    // Shows `page` (0 to 6): its caption, its advice, the buttons it allows.
    void ShowPage(int page);
    WizardAnswers Answers() const;

    // The buttons' actions: Next shows the next page or, on the last, checks and finishes;
    // Cancel clears the completed flag and closes.
    void cmdNext_Click();
    void cmdBack_Click();
    void cmdCancel_Click();
    void cmdOutputFile_Click();
    void cmdLoadMessage_Click();
    // Fills the formatted text from the message file at `path` (a box says why it cannot);
    // the load button and a file dropped on the message text page come here.
    void LoadMessageFile(const QString& path);
    // The value selected in the text becomes a variable (start and stop texts, name and
    // options worked out as on the editor's Test tab); the variables so made replace the
    // "Description: value" lines. Remove takes the one selected in the list out again.
    void PickValue();
    void RemovePicked();

    // Tests answer the message-file dialog without showing it: while set, the load button
    // takes the chooser's path ("" for cancelled). An empty function restores the dialog.
    using MessageFileChooser = std::function<QString()>;
    static void SetMessageFileChooser(MessageFileChooser chooser);

    // Escape and the window's close button cancel.
    void reject() override;

  private:
    QWidget* BuildWelcomePage();
    QWidget* BuildFilterPage();
    QWidget* BuildOutputPage();
    QWidget* BuildStandardFieldsPage();
    QWidget* BuildMessageTextPage();
    QWidget* BuildOptionsPage();
    QWidget* BuildClosingPage();
    void EnableFilterControls();
    void EnableTextControls();
    bool FinishChecks();
    // What refuses the (trimmed) name: the rules of a template name, another template of that
    // name, a file of that name; "" when it can be taken.
    std::string NameProblem(std::string& name) const;
    // Shows `problem` under the name ("" hides the line), and with the field for a screen
    // reader.
    void ShowNameProblem(const std::string& problem);
    // Next on the name page: false, with the reason under the name and the focus in it, when
    // the name cannot be taken.
    bool NameAccepted();
    // The output file's folder is there, or made now with the user's consent; otherwise the
    // output page is shown with the reason and Finish goes no further.
    bool OutputFolderReady();
    void RelayoutAdvice();

    QWidget* m_advice;  // the column of advice boxes
    std::vector<VariableDraft> m_picked;
    QString m_caption;  // the caption the last captioned page set
};

}  // namespace tallix::manager
