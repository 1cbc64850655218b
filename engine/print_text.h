#pragma once
// Printing a record on the default printer: one printed line per line of the text, wrapped
// at 78 columns, a new page once the print position passes 14700 twips.

#include <string>
#include <string_view>

#include "settings/printer.h"

namespace tallix::engine {

inline constexpr int kPrintColumns = 78;
inline constexpr double kPageBreakTwips = 14700;

// Prints `text` word-wrapped: a CR ends a printed line (its LF is skipped); at 78 columns
// the line so far is printed and the word in progress carries over.
void PrintText(std::string_view text, Printer& printer);

}  // namespace tallix::engine
