#pragma once
// The printer as the programs use it: one interface, so the text that is printed is worked
// out without a toolkit and tests can record the pages. The Qt printer implements it.

#include <string>

namespace tallix {

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

}  // namespace tallix
