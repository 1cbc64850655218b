// tallix: the template manager.

#include <QApplication>
#include <cstdio>

#include "manager/client_procs.h"
#include "manager/main_window.h"
#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/registry.h"
#include "ui/qt_printer.h"
#include "ui/qt_user_interface.h"

using namespace tallix;

int main(int argc, char** argv) {
    SetProgramIdentity("tallix", "Tallix");
    if (!ui::DisplayAvailable()) {
        std::fprintf(stderr,
                     "tallix: no display to show the window on (set DISPLAY or "
                     "WAYLAND_DISPLAY, or QT_QPA_PLATFORM).\n");
        return 1;
    }
    QApplication app(argc, argv);
    ui::UseScreenshotPalette(app);
    QApplication::setApplicationName("tallix");
    QApplication::setApplicationDisplayName(
        QString::fromStdString(LoadResString(kResShortProductName)));
    QApplication::setDesktopFileName("tallix");
    ui::QtWindowScope windowScope;
    ui::QtPrinter printer;
    SetPrinter(&printer);
    std::unique_ptr<manager::FrmMain> form = manager::Main();
    if (!form) {
        // Start-up failed before the window existed: the splash has nothing to show.
        manager::ExitSplash();
        return 1;
    }
    const int status = app.exec();
    SetPrinter(nullptr);
    return status;
}
