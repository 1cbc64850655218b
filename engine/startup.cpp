#include "engine/startup.h"

#include <cstdlib>
#include <optional>

#include "engine/engine_log.h"
#include "engine/engine_run.h"
#include "engine/help_text.h"
#include "engine/mime_host.h"
#include "engine/procedure_contexts.h"
#include "engine/process_once.h"
#include "engine/run_context.h"
#include "engine/run_lock.h"
#include "engine/run_stop.h"
#include "engine/run_summary.h"
#include "engine/status_window.h"
#include "engine/watch_mode.h"
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

// One run at a time: a second engine waits for the first, then gives up before it reads or
// writes anything but its error report. The program that started it (the manager) learns
// from the run report that it waits, and why it gave up.
bool TakeRunLock(RunLock& lock, const CommandLine& asked) {
    const std::string path = JoinPath(ProgramDir(), kRunLockFileName);
    const char* reportPath = std::getenv(kRunReportVariable);
    const auto tell = [reportPath](RunState state, const std::string& reason) {
        if (!reportPath || !*reportPath) return;
        RunReport report;
        report.state = state;
        report.reason = reason;
        (void)WriteRunReport(reportPath, report);
    };
    std::string problem = lock.Take(path, std::chrono::milliseconds(0));
    if (problem == kAnotherRun) {
        tell(RunState::Waiting, problem);
        problem = lock.Take(path, RunLockWait());
    }
    if (problem.empty()) return true;
    tell(RunState::Refused, problem);
    SetSilentMode(asked.silentMode);
    ReportError(problem, true, true);
    return false;
}

// A run over the sources, reported at its end.
void RunOnce(RunContext& run, const std::string& selection, const EngineHooks& hooks) {
    // A source may pass a failure on to the engine (the Simple MAPI source does while it
    // reads a message). Nothing in the run traps it, so it ends the run here, reported,
    // instead of taking the process down.
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
}

// Watch mode after the first run: each time new mail may have come, the settings are read
// again and a new run (a context of its own) reads the source, until a stop is asked for.
void WatchForMail(std::unique_ptr<MailWatch>& watch, const RunContext& first,
                  const std::string& selection, const EngineHooks& hooks) {
    while (!StopRequested() && !first.stopped) {
        watch->Wait();
        if (StopRequested()) break;
        ReadEngineSettings();
        RunContext run(Settings());
        run.pop3ConfigPath = first.pop3ConfigPath;
        run.decoder = first.decoder;
        run.reportPath = first.reportPath;
        run.commandLine = first.commandLine;
        run.processOnceForAll = true;
        if (!watch->Watches(run.settings)) {
            watch = std::make_unique<MailWatch>(run.settings);
            LogSystem("Watching for new mail: " + watch->How());
        }
        RunOnce(run, selection, hooks);
        if (run.stopped) break;
    }
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
    GetProcessOnce();
    GetPollMinutes();
}

int EngineMain(const std::string& argumentText, const EngineHooks& hooks) {
    const CommandLine asked = ParseCommandLine(argumentText);
    RunLock lock;
    if (!asked.helpRequested && !TakeRunLock(lock, asked)) return 1;
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
    const StopSignalScope stopSignals;
    std::unique_ptr<MailWatch> watch;
    if (run.commandLine.watch) {
        run.processOnceForAll = true;
        LogSystem(kProcessOnceForWatch);
        // Made before the first run, so mail that comes during it is seen.
        watch = std::make_unique<MailWatch>(run.settings);
        LogSystem("Watching for new mail: " + watch->How());
    }
    RunOnce(run, selection, hooks);
    if (watch) WatchForMail(watch, run, selection, hooks);

    Window().Unload();
    // Watch mode ends on a stop request, and that is its usual end; a run of it that stopped
    // for another reason (the record could not be written) ends it with an error. A single
    // run stopped by a signal did not read all of its mail; one that could write nothing
    // read none.
    if (watch) return StopRequested() ? 0 : 1;
    return run.stopped || run.nothingWritable ? 1 : 0;
}

}  // namespace tallix::engine
