// txengine: reads the configured mail source and applies the templates to every message.

#include <iostream>

#include "engine/help_text.h"
#include "engine/mime_host.h"
#include "engine/print_text.h"
#include "engine/run_state.h"
#include "engine/startup.h"
#include "engine/status_window.h"
#include "settings/app_info.h"
#include "settings/error_reporter.h"

#ifdef TALLIX_WITH_QT
#include <QApplication>

#include "engine/ui/help_window.h"
#include "engine/ui/main_window.h"
#include "engine/ui/mime_windows.h"
#include "ui/qt_printer.h"
#include "ui/qt_user_interface.h"
#endif

using namespace tallix;
using namespace tallix::engine;

namespace {

int RunWithoutWindow(const std::string& args) {
    EngineHooks hooks;
    hooks.showHelp = [] { std::cout << HelpColumnsForConsole() << std::flush; };
    return EngineMain(args, hooks);
}

#ifdef TALLIX_WITH_QT
int RunWithWindow(int argc, char** argv, const std::string& args) {
    QApplication app(argc, argv);
    ui::QtWindowScope windowScope;
    QtStatusWindow window;
    SetWindow(&window);
    QtMimeWindows mimeWindows;
    MimeHost().SetHostWindows(&mimeWindows);
    SetUnloadStatusWindowHook([] { Window().Unload(); });
    EngineHooks hooks;
    hooks.showHelp = [] {
        FrmHelp help;
        help.exec();
    };
    int status = EngineMain(args, hooks);
    SetUnloadStatusWindowHook(nullptr);
    MimeHost().SetHostWindows(nullptr);
    SetWindow(nullptr);
    return status;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    SetProgramIdentity("txengine", "txEngine");
#ifdef TALLIX_WITH_QT
    ui::QtPrinter printer;
    SetPrinter(&printer);
#endif
    const std::string args = ArgumentText(argc, argv);
#ifdef TALLIX_WITH_QT
    // Qt is started only when a window may be shown: never without a display (Qt would
    // abort), and with /sx only for the help window.
    const CommandLine wanted = ParseCommandLine(args);
    if (ui::DisplayAvailable() && (!wanted.noWindow || wanted.helpRequested))
        return RunWithWindow(argc, argv, args);
#endif
    return RunWithoutWindow(args);
}
