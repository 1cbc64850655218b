#include "settings/error_reporter.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <new>
#include <stdexcept>
#include <system_error>

#include "settings/app_info.h"
#include "settings/logs.h"
#include "settings/report_capture.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"

namespace tallix {
namespace {

struct ReporterState {
    bool silent = false;
    std::function<void(int)> endHandler;
    std::function<void()> unloadStatusWindow;
};

ReporterState& State() {
    static ReporterState s;
    return s;
}

std::string UnexpectedErrorBoxText(const PendingError& e) {
    std::string t;
    t += "The following unexpected error occurred.\n\n";
    t += "Err Number: " + std::to_string(e.number) + "\n";
    t += "Err Description: " + Trim(e.description) + "\n";
    // Which file, and why, on a line of its own beside the error's description.
    if (!e.file.empty()) t += FileFaultLine(e.file, e.reason) + "\n";
    t += "\n";
    t += "Please report this error via E-mail to ";
    t += kSupportAddress;
    t += " by attaching the following file < " + JoinPath(ProgramDir(), kErrorLog) +
         " > to your email message. Also provide a brief description "
         "of what you were doing in Tallix at the time the error "
         "occurred. Vantroy will resolve the issue and inform you "
         "of their findings.\n\n";
    t += "Note! that is very likely that this specific error will not allow " + ProductName() +
         " to operate correctly. We suggest shutting down the application.\n\n";
    t += "Would you like to shutdown Tallix now?";
    return t;
}

void EndForReport() {
    UnloadStatusWindowForEnd();
    EndProgram(1);
}

}  // namespace

// Per thread: a trial running on a worker thread of the manager has its own pending error.
PendingError& Err() {
    thread_local PendingError pending;
    return pending;
}

bool SilentMode() {
    return State().silent;
}
void SetSilentMode(bool on) {
    State().silent = on;
}

void SetEndProgramHandler(std::function<void(int)> handler) {
    State().endHandler = std::move(handler);
}

void EndProgram(int status) {
    if (State().endHandler) State().endHandler(status);
    std::cout.flush();
    std::cerr.flush();
    std::exit(status);
}

void SetUnloadStatusWindowHook(std::function<void()> hook) {
    State().unloadStatusWindow = std::move(hook);
}

void UnloadStatusWindowForEnd() {
    if (UCase(ExeName()) == "TXENGINE" && State().unloadStatusWindow) State().unloadStatusWindow();
}

void SetPendingFromCurrentException() {
    PendingError& e = Err();
    try {
        throw;
    } catch (const RunTimeError& ex) {
        e.number = ex.Number();
        e.description = ex.Description();
        e.file = ex.File();
        e.reason = ex.Reason();
    } catch (const std::filesystem::filesystem_error& ex) {
        e.number = ErrorNumberFromErrno(ex.code().value());
        e.description = std::string(StandardErrorDescription(e.number));
        e.file = ex.path1().string();
        e.reason = ex.code().message();
    } catch (const std::system_error& ex) {
        e.number = ex.code().category() == std::generic_category() ||
                           ex.code().category() == std::system_category()
                       ? ErrorNumberFromErrno(ex.code().value())
                       : kErrInternal;
        e.description = std::string(StandardErrorDescription(e.number));
    } catch (const std::bad_alloc&) {
        e.number = kErrOutOfMemory;
        e.description = std::string(StandardErrorDescription(e.number));
    } catch (const std::out_of_range&) {
        e.number = kErrSubscript;
        e.description = std::string(StandardErrorDescription(e.number));
    } catch (const std::exception& ex) {
        e.number = kErrInternal;
        e.description = ex.what();
    } catch (...) {
        e.number = kErrInternal;
        e.description = std::string(StandardErrorDescription(kErrInternal));
    }
}

namespace {
thread_local std::uint64_t t_reports = 0;
thread_local std::string t_lastReport;
}  // namespace

std::uint64_t ReportsOnThisThread() {
    return t_reports;
}

const std::string& LastReportOnThisThread() {
    return t_lastReport;
}

void ReportError(std::string_view message, bool logFlag, bool endFlag) {
    ++t_reports;
    const PendingError pending = Err();
    const bool hasError = pending.number != 0;

    std::string logText(message);
    if (hasError) {
        logText += "\nError# " + std::to_string(pending.number) + "  " + pending.description;
        // A file name may hold a line feed: it stays on its line.
        if (!pending.file.empty())
            logText += "\n" + FileFaultLine(LogSafe(pending.file), pending.reason);
    }
    t_lastReport = logText;

    // A quiet trial records the report and carries on: no log, no box, no end.
    if (ReportCapture* capture = ReportCapture::Active()) {
        capture->Add(std::move(logText));
        Err().Clear();
        return;
    }

    if (logFlag) WriteLog(kErrorLog, logText);

    if (!(logFlag && SilentMode())) {
        if (hasError) {
            MsgAnswer a = MsgBox(UnexpectedErrorBoxText(pending), MsgButtons::YesNo, MsgIcon::None,
                                 kErrorTitle);
            if (a == MsgAnswer::Yes) {
                Err().Clear();
                EndForReport();
            }
        } else {
            MsgBox(message, MsgButtons::Ok, MsgIcon::Critical, kErrorTitle);
        }
    }

    if (endFlag) {
        Err().Clear();
        EndForReport();
    }
    Err().Clear();
}

}  // namespace tallix
