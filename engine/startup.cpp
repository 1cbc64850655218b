#include "engine/startup.h"

#include <cstdlib>
#include <optional>

#include "engine/engine_run.h"
#include "engine/help_text.h"
#include "engine/mime_host.h"
#include "engine/procedure_contexts.h"
#include "engine/run_context.h"
#include "engine/run_stop.h"
#include "engine/run_summary.h"
#include "engine/status_window.h"
#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/run_time_error.h"
#include "settings/scratch_dir.h"
#include "settings/settings_store.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"
#include "sources/pop3_config.h"

namespace tallix::engine {
CommonOption CommonOptionOf(std::string_view argumentText) {
    const std::string_view text = TrimView(argumentText);
    if (text == "--help" || text == "-h" || text == "-?") return CommonOption::Help;
    if (text == "--version") return CommonOption::Version;
    return CommonOption::None;
}

std::string CommonOptionOutput(CommonOption option) {
    switch (option) {
        case CommonOption::Help:
            return HelpColumnsForConsole();
        case CommonOption::Version:
            return VersionText() + "\n";
        case CommonOption::None:
            break;
    }
    return {};
}

std::string VersionText() {
    return ProductName() + " " + TALLIX_VERSION;
}

namespace {

std::optional<std::string> TemplateDirForThisRun() {
    const char* dir = std::getenv(kTemplateDirVariable);
    if (!dir || !*dir) return std::nullopt;
    return std::string(dir);
}

}  // namespace

void ReadEngineSettings() {
    GetMapiProfile();
    // The program that started the run may name the template directory for it (the manager
    // does in its examples mode); the stored one is then neither read nor checked.
    if (std::optional<std::string> dir = TemplateDirForThisRun())
        Settings().templateDir = *dir;
    else
        GetTemplateDir();
    GetUseSource();
    GetUseScripts();
    GetScriptEngine();
    GetScriptDir();
    GetDeleteFlag();
    GetLocalFileName();
}

int EngineMain(const std::string& argumentText, const EngineHooks& hooks) {
    StatusWindow& window = Window();
    window.Load();
    const std::string pop3ConfigPath = sources::Pop3ConfigPath();
    ReadEngineSettings();
    // The run works on the values just read; nothing changes them while it runs.
    RunContext run(Settings());
    run.pop3ConfigPath = pop3ConfigPath;
    run.decoder = &MimeHost();
    if (const char* report = std::getenv(kRunReportVariable)) run.reportPath = report;
    InitApp(run);
    GetCmdLnArgs(run, argumentText);
    // A run killed before its end left its scratch directory, with a copy of its mail.
    RemoveAbandonedScratchDirs(ScratchBase());

    if (run.commandLine.helpRequested) {
        if (hooks.showHelp) hooks.showHelp();
        return 0;
    }

    window.EnableTimer();
    DoGUIStatus(0, "Templates...", 2);
    DoGUIStatus(0, "Messages...", 3);
    DoGUIStatus(0, "Initializing application...", 1);
    LetEventsRun();
    // The operating-system version check of /sx runs always passes on Linux.
    if (!run.commandLine.noWindow) window.Show();

    std::string selection = Trim(run.commandLine.templateSelection);
    if (selection == kAllTemplates) selection.clear();
    // A source may pass a failure on to the engine (the Simple MAPI source does while it
    // reads a message). Nothing in the run traps it, so it ends the run here, reported,
    // instead of taking the process down.
    const StopSignalScope stopSignals;
    Guard(
        context::kRunSources,
        [&] {
            if (hooks.runSources)
                hooks.runSources(run, selection);
            else
                RunSources(run, selection);
        },
        kLoggedEnding);
    FinishRunReport(run);

    Window().Unload();
    // A run stopped by a signal did not read all of its mail; one that could write nothing
    // read none.
    return run.stopped || run.nothingWritable ? 1 : 0;
}

}  // namespace tallix::engine
