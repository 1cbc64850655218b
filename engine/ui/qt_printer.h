#pragma once
// The default printer through Qt Print Support. With TALLIX_PRINT_PDF set, every document
// goes to that PDF file instead (the last document printed is the file's content).

#include <memory>

#include "engine/print_text.h"

class QPainter;
class QPrinter;

namespace tallix::engine {

class QtPrinter final : public Printer {
public:
    QtPrinter();
    ~QtPrinter() override;
    void PrintLine(const std::string& text) override;
    double CurrentY() const override;
    void NewPage() override;
    void EndDoc() override;

private:
    void Begin();
    std::unique_ptr<QPrinter> m_printer;
    std::unique_ptr<QPainter> m_painter;
    double m_y = 0;  // device pixels from the top of the printable area
};

}  // namespace tallix::engine
