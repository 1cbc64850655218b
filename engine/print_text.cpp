#include "engine/print_text.h"

namespace tallix::engine {

void PrintText(std::string_view text, Printer& printer) {
    std::string word, line;
    int column = 1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (printer.CurrentY() > kPageBreakTwips) printer.NewPage();
        char c = text[i];
        if (c != '\r') word.push_back(c);
        if (c == '\r') {
            printer.PrintLine(line.empty() ? word : line + word);
            ++i;  // the LF of a CR LF pair
            line.clear();
            word.clear();
            column = 0;
        }
        if (column >= kPrintColumns) {
            printer.PrintLine(line);
            line.clear();
            column = 0;
        }
        if (c == ' ') {
            line += word;
            word.clear();
        }
        ++column;
    }
    if (!line.empty() || !word.empty()) printer.PrintLine(line + word);
}

}  // namespace tallix::engine
