#pragma once
// The template editor "Template Properties": a modal dialog over the main window that edits
// the manager's current template (name, active flag, filter, output file, variables, output
// order, scripts) as a TemplateDraft, and writes its file on Apply or OK. The controls map to
// and from the draft in one place (Draft, SetDraft); the code of each tab is in a file of its
// own (template_edit_general.cpp, _variables, _output, _scripting, with the lists both list
// tabs use in _lists), the dialog's frame and its saving here in template_edit.cpp. The
// procedures below keep the names the rest of the manager and the help set use for them.

#include <QDialog>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "manager/path_field_check.h"
#include "manager/template_draft.h"

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

// Texts the editor shows (those of the variables and of saving are in template_draft.h).
inline constexpr std::string_view kEditorCaption = "Template Properties";
inline constexpr std::string_view kMsgDeleteVariable = "Delete the currently selected variable?";
inline constexpr std::string_view kMsgCannotSaveTemplate = "Cannot Save Template.\n";

// The choices for each message once: the setting decides (what it says now follows in
// brackets), or the template says yes or no.
inline constexpr std::string_view kProcessOnceFollow = "As in System Options";
inline constexpr std::string_view kProcessOnceYes = "Yes";
inline constexpr std::string_view kProcessOnceNo = "No";
inline constexpr int kProcessOnceFollowRow = 0;
inline constexpr int kProcessOnceYesRow = 1;
inline constexpr int kProcessOnceNoRow = 2;
// Asked before the record of the template's processed messages is cleared: its name between.
inline constexpr std::string_view kMsgForgetAsk = "Forget which messages the template ";
inline constexpr std::string_view kMsgForgetAskEnd =
    " has been offered?\nIts next run offers it every message of the mail source again, also "
    "those it has already written lines for.";
inline constexpr std::string_view kMsgForgetWaitForRun = "\nTry again when it has ended.";

// The variable type combo's single entry.
inline constexpr std::string_view kVarTypeMapi = "MAPI";

// Tab positions.
inline constexpr int kEditorTabGeneral = 0;
inline constexpr int kEditorTabVariables = 1;
inline constexpr int kEditorTabOutputFormat = 2;
inline constexpr int kEditorTabScripting = 3;

// Selects the first entry, then the first whose trimmed text equals the trimmed `text`.
void SetComboIndex(QComboBox* combo, const std::string& text);

class FrmTemplateEdit final : public QDialog {
    Q_OBJECT
  public:
    // Edits `tpl` (the manager's current template); `parent` is the main window.
    explicit FrmTemplateEdit(std::shared_ptr<clsTemplate> tpl, QWidget* parent = nullptr);
    ~FrmTemplateEdit() override;

    // The controls the tests drive where they check how the dialog behaves (focus, keys,
    // the lists' buttons, message boxes); the values go through the draft.
    QTabWidget* tabMain;
    // General
    QLineEdit* txtTemplateName;
    QCheckBox* chkActive;
    QComboBox* cboFilterField;
    QLineEdit* txtFilterHeaderName;  // the header's name when the field is "Header..."
    QLineEdit* txtFilterFindStr;
    QLineEdit* txtOutputFileName;
    PathFieldCheck* outputFileCheck;  // the warning beside it, as the path is typed
    QPushButton* cmdDirBrowse;
    QComboBox* cboDelimiter;
    QComboBox* cboProcessOnce;  // kProcessOnce... rows
    QPushButton* cmdForget;     // clears the record of the messages the template was offered
    // Variables
    QListWidget* lstVars;
    QPushButton* cmdVarAdd;
    QPushButton* cmdDelete;
    QGroupBox* frameProp;
    QLineEdit* txtVarName;
    QComboBox* cboVarMapiField;
    QLineEdit* txtVarHeaderName;
    QComboBox* cboStart;
    QLineEdit* txtVarFindStr;
    QLineEdit* txtVarPattern;  // the regular expression, with "Regular Expression"
    QLabel* lblPatternCheck;   // what the check of the pattern found
    QCheckBox* chkRepeat;
    QComboBox* cboStop;
    QLineEdit* txtVarStopStr;
    QLabel* lblHelp;
    // Output Format
    QListWidget* lstOutVars;
    QListWidget* lstVarIncluded;
    QPushButton* cmdAddOne;
    QPushButton* cmdRemoveAll;
    QPushButton* cmdMoveUp;
    QPushButton* cmdMoveDown;
    QLineEdit* txtOutputLine;
    QCheckBox* chkPerAttachment;
    QComboBox* cboFormat;
    QCheckBox* chkFormulaGuard;
    QCheckBox* chkBom;
    QCheckBox* chkHeaderRow;
    QCheckBox* chkIsoDates;
    // Scripting
    QListWidget* lstScripts;
    QListWidget* lstUseScripts;
    QPushButton* cmdScriptAddOne;
    QPushButton* cmdScriptRemoveOne;
    QPushButton* cmdScriptUp;
    // Buttons
    QPushButton* cmdOK;
    QPushButton* cmdCancel;
    QPushButton* cmdApply;
    QPushButton* cmdHelp;

    // The one mapping between the controls and the draft. SetDraft shows `draft` (the
    // first variable in the property controls, the output and script lists in their
    // order); Draft gives what the controls show, with the variables as edited so far and
    // the shown one's property controls copied in.
    void SetDraft(const TemplateDraft& draft);
    TemplateDraft Draft() const;

    // Fills the controls from the template; `isNew` keeps the name as given (a new
    // template's name is not a path yet).
    void SetEditCtrlValues(bool isNew);
    // Copies the draft into the template (nothing is written).
    void GetEditCtrlValues();

    // Apply: a variable name still being typed is checked, then the draft is saved
    // (SaveDraft). False when refused or the rename failed (nothing written).
    bool SaveTemplate();

    // A variable made elsewhere (from a value selected on the Test tab), added to the
    // variable list and the end of the output line as if typed on the Variables tab; a name
    // taken already gets a number. Then the same variable (by name) with new start and stop
    // texts and options, added again when it has gone meanwhile.
    void AddMadeVariable(const VariableDraft& variable);
    void ReplaceMadeVariable(const VariableDraft& variable);

    // For windows that add a page of their own (a test bench): appends a tab, returns its
    // index.
    int AddTab(QWidget* page, const QString& caption);
    // The template as currently edited, as a copy (the draft copied in, nothing saved).
    std::shared_ptr<clsTemplate> EditedTemplate();
    std::shared_ptr<clsTemplate> Template() const { return m_tpl; }

    bool Changed() const { return m_changed; }
    // The help line's text as it stands.
    QString HelpText() const;
    // The output delimiter character in force (",", ";", " " or a tab).
    std::string DelimiterChar() const { return m_delimiter; }

  Q_SIGNALS:
    // Every edit of the template's values (the changed flag is set again).
    void templateEdited();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    // Controls the procedures and tests reach only through the draft or the dialog's own
    // handlers.
    QComboBox* cboVarType;
    QCheckBox* chkUseQuote;
    QCheckBox* chkRemoveLF;
    QCheckBox* chkMatchString;
    QCheckBox* chkMatchCase;
    QCheckBox* chkStartOfLine;
    QPushButton* cmdRemoveOne;
    QPushButton* cmdAddAll;
    QCheckBox* chkAllowDuplicate;
    QPushButton* cmdScriptAddAll;
    QPushButton* cmdScriptRemoveAll;
    QPushButton* cmdScriptDown;

    // Each tab's controls and their connections (template_edit_<tab>.cpp).
    void BuildGeneralTab();
    void BuildVariablesTab();
    void BuildOutputTab();
    void BuildScriptingTab();
    void BuildButtons();
    void WireGeneralTab();
    void WireVariablesTab();
    void WireOutputTab();
    void WireScriptingTab();
    void WireButtons();

    void SetChanged(bool changed);
    // An edit by the user (not by code filling the controls) sets the changed flag.
    void MarkEdited();
    void Activate();

    // The property controls to and from one variable (part of the mapping; the name box is
    // not read back: a new name reaches the variable only through the rename checks).
    void ShowVariable(const VariableDraft& variable);
    void TakeVariable(VariableDraft& variable) const;
    VariableDraft* VariableAt(int position);

    // Variables
    void SetExportFields(const std::vector<std::string>& outputArray);
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
    void ShowPatternCheck();

    // Output and script lists
    // Runs one move of the list procedure `procedure`; a move that took place is an edit.
    void MoveEntries(std::string_view procedure, const std::function<bool()>& move);
    void FillOutputLists(const std::vector<std::string>& outputArray);
    void MakeOutputFromList();
    void AddOneToInclude(QListWidget* from, QListWidget* to, bool sortTarget = false);
    void RemoveOneFromInclude(QListWidget* from, QListWidget* to, bool sortTarget = false);
    void AddAllToInclude(QListWidget* from, QListWidget* to, bool sortTarget = false);
    void RemoveAllFromInclude(QListWidget* from, QListWidget* to, bool sortTarget = false);
    void MoveUpList(QListWidget* list);
    void MoveDownList(QListWidget* list);
    void SetScripting();
    void SetScriptsUsed(const std::vector<std::string>& scripts);
    void SetDelimiterFromCombo();
    // Selects the stored output format (an unknown text gets an entry of its own).
    void SelectFormat(const std::string& stored);

    // Dialog handlers
    void TemplateNameLeft();
    void OutputFileLeft();
    void BrowseOutputFile();
    void ForgetProcessed();
    // Forgetting needs a saved template file: the record knows templates by their file names.
    void EnableForget();
    void OkClicked();
    void ApplyClicked();

    std::shared_ptr<clsTemplate> m_tpl;
    // The variables as edited; the variable list's entries carry their 1-based positions.
    std::vector<VariableDraft> m_vars;
    bool m_changed = false;
    int m_curVar = -1;  // lstVars row shown in the property controls
    int m_filling = 0;  // > 0 while controls are filled by code
    std::string m_delimiter = ",";
};

}  // namespace tallix::manager
