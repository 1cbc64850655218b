#pragma once
// The default printer through Qt Print Support. With TALLIX_PRINT_PDF set, every document
// goes to that PDF file instead (the last document printed is the file's content).

#include <memory>

#include "settings/printer.h"

class QPainter;
class QPrinter;

namespace tallix::ui {

// Points `printer` at the PDF file named by TALLIX_PRINT_PDF when that is set; returns
// whether it did. Every print path of both programs goes through this.
bool ApplyPrintTarget(QPrinter& printer);

// Fonts need a GUI application; a program without a window has none, so printing makes
// one on the offscreen platform, which needs no display.
void EnsureGuiApplication();

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

}  // namespace tallix::ui
