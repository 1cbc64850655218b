#include "settings/printer.h"

namespace tallix {
namespace {

Printer*& Installed() {
    static Printer* printer = nullptr;
    return printer;
}

}  // namespace

Printer* CurrentPrinter() {
    return Installed();
}
void SetPrinter(Printer* printer) {
    Installed() = printer;
}

}  // namespace tallix
