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
#include "engine/ui/qt_printer.h"
#include "engine/ui/qt_user_interface.h"
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
    QtUserInterface ui;
    SetUi(&ui);
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
    SetUi(nullptr);
    return status;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    SetProgramIdentity("txengine", "txEngine");
#ifdef TALLIX_WITH_QT
    QtPrinter printer;
    SetPrinter(&printer);
#endif
    const std::string given = ArgumentText(argc, argv);
    if (CommonOptionOf(given) == CommonOption::Version) {
        std::cout << VersionText() << std::endl;
        return 0;
    }
    const std::string args = WithCommonOptions(given);
#ifdef TALLIX_WITH_QT
    // Qt is started only when a window may be shown: never without a display (Qt would
    // abort), and with /sx only for the help window.
    const CommandLine wanted = ParseCommandLine(args);
    if (DisplayAvailable() && (!wanted.noWindow || wanted.helpRequested))
        return RunWithWindow(argc, argv, args);
#endif
    return RunWithoutWindow(args);
}
