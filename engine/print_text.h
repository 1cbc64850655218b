#pragma once
// Printing a record on the default printer: one printed line per line of the text, wrapped
// at 78 columns, a new page once the print position passes 14700 twips.

#include <string>
#include <string_view>

namespace tallix::engine {

inline constexpr int kPrintColumns = 78;
inline constexpr double kPageBreakTwips = 14700;

// The printer as the engine uses it.
class Printer {
public:
    virtual ~Printer() = default;
    // Prints one line and moves the print position down by one line.
    virtual void PrintLine(const std::string& text) = 0;
    // The vertical print position on the page, in twips (1/1440 inch).
    virtual double CurrentY() const = 0;
    virtual void NewPage() = 0;
    // Ends the document so that it goes to the printer.
    virtual void EndDoc() = 0;
};

// The printer in force (not owned); nullptr when the program has none.
Printer* CurrentPrinter();
void SetPrinter(Printer* printer);

// Prints `text` word-wrapped: a CR ends a printed line (its LF is skipped); at 78 columns
// the line so far is printed and the word in progress carries over.
void PrintText(std::string_view text, Printer& printer);

}  // namespace tallix::engine
