#pragma once
// The choices the template editor and the template wizard both offer: the message fields a
// variable or a filter can read (by mail source), the output-file check and the "Output
// File" save dialog.

#include <QString>
#include <QStringList>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class QComboBox;
class QWidget;

namespace tallix::manager {

inline constexpr std::string_view kMsgUnableToUseFile = "Unable to create or use the file: ";
inline constexpr std::string_view kOutputFileDialogTitle = "Output File";
inline constexpr std::string_view kOutputFileDefaultSuffix = "txt";
// The save dialog's filters: text files first, then everything.
inline constexpr std::string_view kOutputFileFilters =
    "Text Files (*.txt *.prn *.csv);;All Files (*)";

// The message fields a variable can read with the mail source `source` (the "UseSource"
// setting), in the order the lists show them.
std::vector<std::string> MapiFieldChoices(std::string_view source);
// The message fields a filter can test with the mail source `source`.
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
