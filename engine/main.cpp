// txengine: reads the configured mail source and applies the templates to every message.

#include <csignal>
#include <iostream>

#include "engine/forget_command.h"
#include "engine/help_text.h"
#include "engine/mime_host.h"
#include "engine/print_text.h"
#include "engine/run_context.h"
#include "engine/startup.h"
#include "engine/status_window.h"
#include "engine/test_command.h"
#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/user_interface.h"

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
// The engine's windows for the length of one run: the Qt message boxes, the status window and
// the MIME component's windows are installed when the scope begins and removed, in reverse
// order, when it ends. Window events are processed at a bounded rate meanwhile.
class WindowScope {
  public:
    WindowScope() {
        SetUi(&m_ui);
        SetWindow(&m_window);
        MimeHost().SetHostWindows(&m_mimeWindows);
        SetUnloadStatusWindowHook([] { Window().Unload(); });
        SetEventInterval(kWindowEventInterval);
    }
    ~WindowScope() {
        SetEventInterval(std::chrono::milliseconds{0});
        SetUnloadStatusWindowHook(nullptr);
        MimeHost().SetHostWindows(nullptr);
        SetWindow(nullptr);
        SetUi(nullptr);
    }
    WindowScope(const WindowScope&) = delete;
    WindowScope& operator=(const WindowScope&) = delete;

  private:
    ui::QtUserInterface m_ui;
    QtStatusWindow m_window;
    QtMimeWindows m_mimeWindows;
};

int RunWithWindow(int argc, char** argv, const std::string& args) {
    QApplication app(argc, argv);
    WindowScope windows;
    EngineHooks hooks;
    hooks.showHelp = [] {
        FrmHelp help;
        help.exec();
    };
    return EngineMain(args, hooks);
}
#endif

}  // namespace

int main(int argc, char** argv) {
    // A write past the file size limit fails with EFBIG instead of ending the process halfway
    // through a line, so the output file is cut back and the failure reported.
    std::signal(SIGXFSZ, SIG_IGN);
    SetProgramIdentity("txengine", "txEngine");
#ifdef TALLIX_WITH_QT
    ui::QtPrinter printer;
    SetPrinter(&printer);
#endif
    // Forgetting processed messages answers in the terminal, whatever the display.
    if (IsForgetCommand(argc, argv))
        return RunForgetCommand(std::vector<std::string>(argv + 2, argv + argc), std::cout,
                                std::cerr);
    // A trial of one template runs in the terminal, whatever the display.
    if (IsTestCommand(argc, argv))
        return RunTestCommand(std::vector<std::string>(argv + 2, argv + argc), std::cout,
                              std::cerr);
    const std::string args = ArgumentText(argc, argv);
    // --help and --version answer in the terminal and end before the settings are read, so
    // they neither create a settings file nor complain about a missing template directory.
    if (const CommonOption option = CommonOptionOf(args); option != CommonOption::None) {
        std::cout << CommonOptionOutput(option) << std::flush;
        return 0;
    }
#ifdef TALLIX_WITH_QT
    // Qt is started only when a window may be shown: never without a display (Qt would
    // abort), and with /sx only for the help window.
    const CommandLine wanted = ParseCommandLine(args);
    if (ui::DisplayAvailable() && (!wanted.noWindow || wanted.helpRequested))
        return RunWithWindow(argc, argv, args);
#endif
    return RunWithoutWindow(args);
}
