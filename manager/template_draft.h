#pragma once
// What the template editor edits: a template draft, plain values copied from the template
// when the editor opens and back into it when the user saves. The editor maps its controls
// to and from a draft (template_edit.h); the procedures here work on drafts alone, so what
// is loaded, saved and refused can be checked without the dialog.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/template.h"

namespace tallix::manager {

// Texts the editor shows.
inline constexpr std::string_view kNewVarName = "<NewVar>";
inline constexpr std::string_view kMsgVarBlank = "The variable name cannot be blank";
inline constexpr std::string_view kMsgVarInvalid = "Not a valid variable name.";
inline constexpr std::string_view kMsgVarExists = "Variable already exist with this name.";
inline constexpr std::string_view kMsgNoVariable = "No Variable defined or selected...";
inline constexpr std::string_view kMsgCannotSaveChanges = "Cannot save the current changes.\n";
inline constexpr std::string_view kWarningTitle = "Warning";
// Asked before a template whose output line lists nothing is saved (No keeps the editor open).
inline constexpr std::string_view kMsgEmptyOutputLine =
    "The output line lists no variable: every message the template reads would add an empty "
    "line to its output file (choose the variables on the Output Format tab).\n"
    "Save the template anyway?";
// A rename of the template's file that the system refused: nothing was written.
inline constexpr std::string_view kMsgRenameFailed = "Unable to rename the template file ";
inline constexpr std::string_view kMsgRenameNothingSaved =
    "The template file was left as it was and the changes were not saved.";

// Combo choices.
inline constexpr std::string_view kStartBeginning = "Beginning of Field";
inline constexpr std::string_view kStartAfterText = "After Defined Text";
inline constexpr std::string_view kStartRegex = "Regular Expression";
inline constexpr std::string_view kStopEndOfField = "End of Field";
inline constexpr std::string_view kStopEndOfLine = "End of Line";
inline constexpr std::string_view kStopDefinedText = "Defined Text";

// The output formats as the format list shows them (stored as kFormatDelimited, kFormatCsv
// and kFormatJsonl).
inline constexpr std::string_view kFormatDelimitedShown = "Delimited";
inline constexpr std::string_view kFormatCsvShown = "CSV";
inline constexpr std::string_view kFormatJsonlShown = "JSON Lines";

// Why a draft cannot be saved as it stands (each follows kMsgCannotSaveChanges).
inline constexpr std::string_view kMsgPatternVariable = "The regular expression of the variable '";
inline constexpr std::string_view kMsgPatternAt = "' has an error at character ";
inline constexpr std::string_view kMsgPatternLineBreak = "' holds a line break.";
inline constexpr std::string_view kMsgPatternKeyName =
    "' cannot be stored: a variable with a regular expression needs a name without \"=\" that "
    "does not start with \"[\" or \";\".";
inline constexpr std::string_view kMsgRepeatVariable = "The variable '";
inline constexpr std::string_view kMsgRepeatComma =
    "' cannot repeat: the list of repeated variables is separated by commas.";

// What the pattern check under the pattern box says.
inline constexpr std::string_view kPatternEmpty = "Enter a regular expression.";
inline constexpr std::string_view kPatternGood = "The regular expression is valid.";
inline constexpr std::string_view kPatternErrorAt = "Error at character ";

// A start or stop text longer than this is cut in the help line.
inline constexpr std::size_t kHelpTextShown = 15;

// One variable as the template holds it. The flags keep the text stored ("1", "0"): a
// variable the user never shows goes back to the file as it came.
struct VariableDraft {
    std::string name;       // FieldName
    std::string field;      // FieldType: the message field searched
    std::string findStart;  // a marker such as "{Beginning of Field}", or the text to follow
    std::string findStop;   // a marker such as "{End of Line}", or the text to stop at
    std::string useQuotes;
    std::string removeLF;
    std::string matchWholeString;
    std::string matchCase;
    std::string startOfLineOnly;
    // A regular expression searched instead of the start and stop texts ("" for none), and
    // whether every occurrence gives a line of its own.
    std::string pattern = {};
    bool repeat = false;
    bool operator==(const VariableDraft&) const = default;
};

struct TemplateDraft {
    // General
    std::string name;  // as the name box shows it: no directory, no ".txf"
    bool active = false;
    std::string filterField;
    std::string filterText;
    std::string outputFile;
    std::string delimiter;  // "COMMA", "SEMICOLON", "SPACE" or "TAB"
    // Each message offered once: unset follows the "ProcessOnce" setting; the key is in the
    // file only when set.
    std::optional<bool> processOnce;
    // Variables, in the template's order
    std::vector<VariableDraft> variables;
    // Output Format: the names of the output line, in output order
    std::vector<std::string> output;
    bool allowDuplicate = false;
    bool perAttachment = false;            // one line per attachment
    std::string format{kFormatDelimited};  // kFormatCsv, kFormatJsonl or the text stored
    bool formulaGuard = false;
    bool bom = false;
    bool headerRow = false;
    bool isoDates = false;
    // Scripting: the procedures to run, in run order
    std::vector<std::string> scripts;
    bool operator==(const TemplateDraft&) const = default;
};

// The draft of `tpl` as the editor opens on it: a new template's name is taken as given
// (it is no path yet), an existing one's is its file name without directory and extension.
// The output line is read with "," (it is stored so whatever the delimiter) and keeps only
// the names of variables. A new template gets NewTemplateDefaults for its output options.
TemplateDraft DraftFromTemplate(const clsTemplate& tpl, bool isNew);

// What a template made from now on starts with: CSV lines with formulas guarded, written to
// DefaultOutputFile().
void NewTemplateDefaults(TemplateDraft& draft);
// The same output options set on a template the editor does not open (the wizard's).
void NewTemplateDefaults(clsTemplate& tpl);

// Why `draft`'s patterns and repeated variables cannot be stored or run; "" when they can.
std::string DraftKeyRefusal(const TemplateDraft& draft);

// The regular-expression check of the pattern box, with the options a run compiles it with.
struct PatternCheck {
    bool ok = false;
    std::size_t position = 0;  // characters before the error
    std::string message;       // the compiler's description of the error
};
PatternCheck CheckPattern(std::string_view pattern, bool matchCase);
// The text shown under the pattern box.
std::string PatternCheckText(std::string_view pattern, bool matchCase);

// The output format shown for a stored one (an unknown text as it stands), and back.
std::string FormatShown(std::string_view stored);
std::string FormatStored(std::string_view shown);
// The sample line of the output names as `format` writes a line: joined with the delimiter
// character; CSV quotes a name holding the delimiter, a quotation mark, CR or LF; JSON Lines
// shows an object with the names as keys.
std::string SampleLine(const std::vector<std::string>& names, std::string_view delimiter,
                       std::string_view format);
// Copies `draft` into `tpl`: the file name made from the name, the one output line joined
// with ",", the variables and their patterns replaced by the draft's. An output option, the
// date format and the list of repeated variables are set only where their meaning changes,
// so that a template saved unchanged keeps its bytes. Nothing is written.
void GetEditCtrlValues(const TemplateDraft& draft, clsTemplate& tpl);

// Saving, as Apply does it (OK checks the name first): the name is checked against the
// list, the draft is copied into `tpl`, the file of an existing template is renamed when its
// name changed, the file is written and the main list refilled with the saved row
// selected. False when the name was refused or the rename failed; then nothing is written.
bool SaveDraft(const TemplateDraft& draft, const std::shared_ptr<clsTemplate>& tpl);

// The run list of the Scripting tab for a stored ScriptsToRun: while at least two characters
// are left, the text up to the next comma (or the rest). Empty and blank pieces are kept, so
// saving writes the text back as it was read; a last piece of one character is dropped.
std::vector<std::string> ScriptsUsedNames(std::string_view scriptsToRun);

// The variable names as the variable list shows them: sorted without regard to case (ties
// in byte order), each with its 1-based position in `variables`.
struct ListedVariable {
    std::string name;
    int position = 0;
};
std::vector<ListedVariable> ListedVariables(const std::vector<VariableDraft>& variables);
// True when `a` sorts before `b` in the editor's sorted lists.
bool SortsBefore(std::string_view a, std::string_view b);

// The output lists for `listed` (names in list order) and the wanted output order: each
// wanted name takes the first listed name still available whose trimmed text equals its
// trimmed text; wanted names without one are dropped.
struct OutputLists {
    std::vector<std::string> available;
    std::vector<std::string> included;
};
OutputLists SplitOutput(const std::vector<std::string>& listed,
                        const std::vector<std::string>& wanted);

// A new variable (named "<NewVar>", its flags off) at the end of `variables`; returns its
// position.
int AddNewVariable(std::vector<VariableDraft>& variables);
// The message that refuses `newName` for the variable at `ownRow` of the list `listed`
// (names in list order), or "" when the name may be taken.
std::string_view VarNameRefusal(const std::vector<std::string>& listed, int ownRow,
                                const std::string& newName);
// Renames the entries of the output list that name `oldName` (trimmed).
void ChangeIncludeList(std::vector<std::string>& output, const std::string& oldName,
                       const std::string& newName);

// The start and stop combo texts for a stored FindStart / FindStop.
std::string SetStartComboStr(const std::string& findStart);
std::string SetStopComboStr(const std::string& findStop);
// FindStart / FindStop from a combo choice and its text box.
std::string FindTextFromChoice(const std::string& choice, const std::string& boxText);
bool ShowVarStart(const std::string& choice);
bool ShowVarStop(const std::string& choice);

// The delimiter character of a delimiter name ("," for an unknown one).
std::string DelimiterCharacter(std::string_view delimiterName);

// The help line about a variable, from what its property controls show.
struct HelpLineParts {
    std::string name;
    std::string field;
    std::string startChoice;
    std::string startText;
    std::string stopChoice;
    std::string stopText;
    std::string pattern = {};
    bool repeat = false;
};
std::string HelpLine(const HelpLineParts& parts);

}  // namespace tallix::manager
