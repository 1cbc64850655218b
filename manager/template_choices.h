#pragma once
// The choices the template editor and the template wizard both offer: the message fields a
// variable or a filter can read (by mail source), any header by name, the output-file check
// and the "Output File" save dialog.

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QComboBox;
class QLineEdit;
class QWidget;

namespace tallix::manager {

inline constexpr std::string_view kMsgUnableToUseFile = "Unable to create or use the file: ";
inline constexpr std::string_view kOutputFileDialogTitle = "Output File";
inline constexpr std::string_view kOutputFileDefaultSuffix = "csv";
// Where the output of a template made from now on goes, in the user's documents folder.
inline constexpr std::string_view kDefaultOutputFileName = "mylist.csv";
// The entry of the field lists that names a header; its name is typed into a box beside.
inline constexpr std::string_view kHeaderChoice = "Header...";
// The save dialog's filters: text files first, then everything.
inline constexpr std::string_view kOutputFileFilters =
    "Text Files (*.txt *.prn *.csv);;All Files (*)";

// The message fields a variable can read with the mail source `source` (the "UseSource"
// setting), in the order the lists show them, "Header..." last.
std::vector<std::string> MapiFieldChoices(std::string_view source);
// The message fields a filter can test with the mail source `source`, "Header..." last.
std::vector<std::string> MapiFilterFieldChoices(std::string_view source);

// Clear `combo` and fill it with the lists above for the current source setting.
void FillMapiCombo(QComboBox* combo);
void FillMapiFilterCombo(QComboBox* combo);

// Select the stored message field `text` in a combo box filled by one of the two above: the
// first entry for a blank text, else the entry equal to the trimmed text. A text the list does
// not hold (a field offered only for another mail source, or a filter field only the wizard
// offers, or a name typed into the file) gets one extra entry exactly as it stands, so that
// saving writes it back rather than the first entry. An extra entry left by an earlier call
// goes first.
void SelectFieldText(QComboBox* combo, const std::string& text);

// The header name of a field text written as the editor writes one: "MSG_HEADER:" and a name
// of printable characters without blanks or ":". Other spellings the run also takes (other
// case, blanks) are no header choice: they are shown and saved as they stand.
std::optional<std::string> HeaderNameOfField(std::string_view field);
// True when `name` is a header name ("" included, for a box still being filled).
bool IsHeaderNameText(std::string_view name);
// A box for a header name that takes only what a header name may hold.
QLineEdit* NewHeaderNameBox(QWidget* parent);
// Shows the field text `text` in `combo` (filled as above) and the header box beside it: a
// header field selects "Header..." with its name in the box, any other text is selected as
// SelectFieldText selects it and empties the box. The box is enabled with "Header...".
void SelectFieldChoice(QComboBox* combo, QLineEdit* headerBox, const std::string& text);
// The field text the combo and its header box give.
std::string ChosenField(const QComboBox* combo, const QLineEdit* headerBox);
// Enables the header box while "Header..." is chosen.
void EnableHeaderBox(const QComboBox* combo, QLineEdit* headerBox);

// The user's documents folder (the home folder without one) + "/mylist.csv".
QString DefaultOutputFile();

// True when `path` can take output lines: empty and "printer" (the engine prints) pass
// untouched; any other path is opened for appending and closed again, which creates a
// missing file. False when that fails.
bool CanUseOutputFile(const std::string& path);
// CanUseOutputFile, and on failure a message box "Unable to create or use the file: " +
// path. Returns the check's result.
bool CheckOutputFile(const std::string& path);

// The "Output File" save dialog: starts in the program directory when `current` is empty,
// else at `current`. Returns the chosen path, or an empty text when cancelled. The file is
// not checked here (callers run CheckOutputFile).
QString ChooseOutputFile(QWidget* parent, const QString& current);

// Tests answer the save dialog without showing it: while set, ChooseOutputFile returns what
// the chooser returns for (current). Pass an empty function to restore the real dialog.
using OutputFileChooser = std::function<QString(const QString& current)>;
void SetOutputFileChooser(OutputFileChooser chooser);

}  // namespace tallix::manager
