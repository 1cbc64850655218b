#pragma once
// A variable made from a value the user selected in a sample message: where the value starts
// (the label before it on its line, else the end of the nearest line above, else the beginning
// of the field), where it stops (the end of its line, else the word that follows it), a name
// made from the label, and the options. More examples of the same value (from other messages)
// narrow the start and stop texts to what the examples have in common.
//
// Every candidate is tried on the examples with the run's own start and stop searches, so the
// variable chosen is one that cuts the selected value where it can; what it gives in each
// example is returned with it. The result is an ordinary variable: nothing about how it was
// made is kept.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tallix::engine {

// One selection: the text of the field it was made in (as the run reads that field) and the
// selected bytes.
struct ValueExample {
    std::string text;
    std::size_t start = 0;
    std::size_t length = 0;
};

struct SelectionRequest {
    std::string field;  // the message field the examples come from (MSG_TEXT, ATTACHMENT...)
    // The first selection, then the further examples that refine it, oldest first.
    std::vector<ValueExample> examples;
    std::string delimiter = ",";  // the output delimiter character
    // Names the variable may not take (compared without regard to case).
    std::vector<std::string> takenNames;
    // The name to keep (a refinement of a variable made before); "" makes one from the label.
    std::string name;
    // The variable is taken at every occurrence (a line item): any occurrence may be the
    // selected one.
    bool repeat = false;
};

struct SelectionVariable {
    std::string name;
    std::string field;
    std::string start;  // a label, or {Beginning of Field}
    std::string stop;   // a text, {End of Line} or {End of Field}
    bool useQuotes = false;
    bool removeLF = false;
    bool matchCase = false;
    bool wholeWord = false;
    bool startOfLine = false;
    bool repeat = false;
    // The selected values (trimmed), one per example, and what the variable gives in each
    // (the occurrence nearest the selection when it repeats).
    std::vector<std::string> selected;
    std::vector<std::string> values;
    std::size_t confirmed = 0;  // examples in which it gives exactly the selected value
    // How many lines of the first example begin with the label (2 or more: a repeated block,
    // such as several "Item:" lines).
    std::size_t repeatedLines = 0;
    // Why no variable could be made ("" when one was).
    std::string problem;
};

// The variable for the examples of `request`. A selection that holds nothing but blanks and
// line breaks, or lies outside its text, gives `problem` set and no name.
SelectionVariable VariableFromSelection(const SelectionRequest& request);

// The variable name a label gives: its words (letters, digits and any non-ASCII character),
// each with a capital first letter, joined ("Order number:" gives "OrderNumber"); at most
// kMaxMadeNameBytes bytes of whole words. A label without a word gives the field's words
// ("MSG_SUBJECT" gives "Subject").
std::string NameFromLabel(std::string_view label, std::string_view field);
inline constexpr std::size_t kMaxMadeNameBytes = 40;
// `name`, else `name` followed by the smallest number from 2 that no entry of `taken` has
// (compared without regard to case).
std::string UniqueName(const std::string& name, const std::vector<std::string>& taken);

// Whether `value` differs in shape from `sample`, the value a variable was made from: a
// number (digits, no letters) where the sample was none or the other way round, or ten times
// as long or as short. An empty value is no shape (it is "not found").
bool ShapeDiffers(std::string_view sample, std::string_view value);

// Where a variable with these search texts and options finds its values in `text`, as the run
// searches it: each cut's first byte and length, only the first unless `every`.
struct TextCut {
    std::size_t start = 0;
    std::size_t length = 0;
};
struct CutOptions {
    bool matchCase = false;
    bool wholeWord = false;
    bool startOfLine = false;
    bool every = false;
};
std::vector<TextCut> CutsOf(std::string_view start, std::string_view stop, std::string_view text,
                            const CutOptions& options);

}  // namespace tallix::engine
