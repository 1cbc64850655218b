#pragma once
// The template editor "Template Properties": a modal dialog over the main window that edits
// the manager's current template (name, active flag, filter, output file, variables, output
// order, scripts) and writes its file on Apply or OK. The procedures below keep the names
// the rest of the manager and the help set use for them.

#include <QDialog>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;

namespace tallix {
class clsTemplate;
}

namespace tallix::manager {

// Texts the editor shows.
inline constexpr std::string_view kEditorCaption = "Template Properties";
inline constexpr std::string_view kNewVarName = "<NewVar>";
inline constexpr std::string_view kMsgVarBlank = "The variable name cannot be blank";
inline constexpr std::string_view kMsgVarInvalid = "Not a valid variable name.";
inline constexpr std::string_view kMsgVarExists = "Variable already exist with this name.";
inline constexpr std::string_view kMsgNoVariable = "No Variable defined or selected...";
inline constexpr std::string_view kMsgDeleteVariable = "Delete the currently selected variable?";
inline constexpr std::string_view kWarningTitle = "Warning";
inline constexpr std::string_view kMsgCannotSaveChanges = "Cannot save the current changes.\n";
inline constexpr std::string_view kMsgCannotSaveTemplate = "Cannot Save Template.\n";
// A rename of the template's file that the system refused: nothing was written.
inline constexpr std::string_view kMsgRenameFailed = "Unable to rename the template file ";
inline constexpr std::string_view kMsgRenameNothingSaved =
    "The template file was left as it was and the changes were not saved.";

// Combo choices.
inline constexpr std::string_view kStartBeginning = "Beginning of Field";
inline constexpr std::string_view kStartAfterText = "After Defined Text";
inline constexpr std::string_view kStopEndOfField = "End of Field";
inline constexpr std::string_view kStopEndOfLine = "End of Line";
inline constexpr std::string_view kStopDefinedText = "Defined Text";
inline constexpr std::string_view kVarTypeMapi = "MAPI";

// A start or stop text longer than this is cut in the help line.
inline constexpr std::size_t kHelpTextShown = 15;

// Tab positions.
inline constexpr int kEditorTabGeneral = 0;
inline constexpr int kEditorTabVariables = 1;
inline constexpr int kEditorTabOutputFormat = 2;
inline constexpr int kEditorTabScripting = 3;

// The start and stop combo texts for a stored FindStart / FindStop.
std::string SetStartComboStr(const std::string& findStart);
std::string SetStopComboStr(const std::string& findStop);
// FindStart / FindStop from a combo choice and its text box.
std::string FindTextFromChoice(const std::string& choice, const std::string& boxText);
bool ShowVarStart(const std::string& choice);
bool ShowVarStop(const std::string& choice);
// Selects the first entry, then the first whose trimmed text equals the trimmed `text`.
void SetComboIndex(QComboBox* combo, const std::string& text);

class FrmTemplateEdit final : public QDialog {
    Q_OBJECT
  public:
    // Edits `tpl` (the manager's current template); `parent` is the main window.
    explicit FrmTemplateEdit(std::shared_ptr<clsTemplate> tpl, QWidget* parent = nullptr);
    ~FrmTemplateEdit() override;

    QTabWidget* tabMain;
    // General
    QLineEdit* txtTemplateName;
    QCheckBox* chkActive;
    QComboBox* cboFilterField;
    QLineEdit* txtFilterFindStr;
    QLineEdit* txtOutputFileName;
    QPushButton* cmdDirBrowse;
    QComboBox* cboDelimiter;
    // Variables
    QListWidget* lstVars;
    QPushButton* cmdVarAdd;
    QPushButton* cmdDelete;
    QGroupBox* frameProp;
    QLineEdit* txtVarName;
    QComboBox* cboVarMapiField;
    QComboBox* cboStart;
    QLineEdit* txtVarFindStr;
    QComboBox* cboStop;
    QLineEdit* txtVarStopStr;
    QComboBox* cboVarType;
    QCheckBox* chkUseQuote;
    QCheckBox* chkRemoveLF;
    QCheckBox* chkMatchString;
    QCheckBox* chkMatchCase;
    QCheckBox* chkStartOfLine;
    QLabel* lblHelp;
    // Output Format
    QListWidget* lstOutVars;
    QListWidget* lstVarIncluded;
    QPushButton* cmdAddOne;
    QPushButton* cmdRemoveOne;
    QPushButton* cmdAddAll;
    QPushButton* cmdRemoveAll;
    QPushButton* cmdMoveUp;
    QPushButton* cmdMoveDown;
    QLineEdit* txtOutputLine;
    QCheckBox* chkAllowDuplicate;
    // Scripting
    QListWidget* lstScripts;
    QListWidget* lstUseScripts;
    QPushButton* cmdScriptAddOne;
    QPushButton* cmdScriptRemoveOne;
    QPushButton* cmdScriptAddAll;
    QPushButton* cmdScriptRemoveAll;
    QPushButton* cmdScriptUp;
    QPushButton* cmdScriptDown;
    // Buttons
    QPushButton* cmdOK;
    QPushButton* cmdCancel;
    QPushButton* cmdApply;
    QPushButton* cmdHelp;

    // Fills the controls from the template; `isNew` keeps the name as given (a new
    // template's name is not a path yet).
    void SetEditCtrlValues(bool isNew);
    // Copies the controls into the template (nothing is written).
    void GetEditCtrlValues();

    // Apply: checks the name, copies the controls, renames the file of an existing template
    // when its name changed, writes the file and refills the main list. False when refused
    // or the rename failed (nothing written).
    bool SaveTemplate();

    // For windows that add a page of their own (a test bench): appends a tab, returns its
    // index.
    int AddTab(QWidget* page, const QString& caption);
    // The template as currently edited, as a copy (the controls copied in, nothing saved).
    std::shared_ptr<clsTemplate> EditedTemplate();
    std::shared_ptr<clsTemplate> Template() const { return m_tpl; }

    bool Changed() const { return m_changed; }
    // The help line's text as it stands.
    QString HelpText() const;
    // The output delimiter character in force (",", " " or a tab).
    std::string DelimiterChar() const { return m_delimiter; }

  Q_SIGNALS:
    // Every edit of the template's values (the changed flag is set again).
    void templateEdited();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void BuildGeneralTab();
    void BuildVariablesTab();
    void BuildOutputTab();
    void BuildScriptingTab();
    void Wire();

    void SetChanged(bool changed);
    void Activate();

    // Variables
    void SetExportFields();
    void SetExportFields(const std::vector<std::string>& outputArray);
    void AddVarEntry(const std::string& name, int position);
    void ClearVarList();
    void SetVarValues(int position);
    void GetVarValues(int position);
    void SaveAndSetVar(int row);
    void SetVarCntrls(bool enabled);
    void AddNewVariable();
    void DeleteCurVariable();
    void DeleteVariableClicked();
    // The rename checks when the name box is left; false when the name was refused (the
    // box then holds the old name again).
    bool CheckVarName();
    void ReNameVar(const std::string& newName);
    void ChangeIncludeList(const std::string& oldName, const std::string& newName);
    int CurrentPosition() const;
    std::string CurrentEntryName() const;
    void SelectVarEntry(const std::string& name);
    void UpdateStartStopBoxes();
    void ShowHelpLine();

    // Output and script lists
    void FillOutputLists();
    void MoveSelectedVar(const std::string& name);
    void MakeOutputFromList();
    void AddOneToInclude(QListWidget* from, QListWidget* to, bool sortTarget = false);
    void RemoveOneFromInclude(QListWidget* from, QListWidget* to, bool sortTarget = false);
    void AddAllToInclude(QListWidget* from, QListWidget* to, bool sortTarget = false);
    void RemoveAllFromInclude(QListWidget* from, QListWidget* to, bool sortTarget = false);
    void MoveUpList(QListWidget* list);
    void MoveDownList(QListWidget* list);
    void SetScripting();
    void SetScriptsUsed();
    void SetDelimiterFromCombo();

    // Dialog handlers
    void TemplateNameLeft();
    void OutputFileLeft();
    void BrowseOutputFile();
    void OkClicked();
    void ApplyClicked();

    std::shared_ptr<clsTemplate> m_tpl;
    bool m_changed = false;
    int m_curVar = -1;  // lstVars row shown in the property controls
    int m_filling = 0;  // > 0 while controls are filled by code
    std::string m_delimiter = ",";
    std::string m_varNameShown;  // the name the property controls were filled with
};

}  // namespace tallix::manager
