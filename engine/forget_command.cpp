#include "engine/forget_command.h"

#include <sys/stat.h>

#include <ostream>

#include "engine/processed_store.h"
#include "engine/run_lock.h"
#include "settings/app_info.h"
#include "settings/text_functions.h"

namespace tallix::engine {
namespace {

constexpr std::string_view kUsage = "Usage: txengine /forget NAME (a template file name, or ALL)";

}  // namespace

bool IsForgetCommand(int argc, char** argv) {
    return argc > 1 && EqualsNoCase(argv[1], kForgetSwitch);
}

ForgetOutcome ForgetProcessed(std::string_view name, std::chrono::milliseconds wait) {
    ForgetOutcome outcome;
    outcome.path = JoinPath(ProgramDir(), kProcessedFileName);
    struct stat st {};
    // Nothing was ever recorded: nothing to forget, and no record is made for it.
    if (::stat(outcome.path.c_str(), &st) != 0) return outcome;
    RunLock lock;
    if (std::string problem = lock.Take(JoinPath(ProgramDir(), kRunLockFileName), wait);
        !problem.empty()) {
        outcome.error = std::move(problem);
        return outcome;
    }
    ProcessedStore store;
    if (const std::string error = store.Open(outcome.path); !error.empty()) {
        outcome.error = std::string(kRecordCannotBeUsed) + outcome.path + ": " + error;
        return outcome;
    }
    std::string error;
    const std::int64_t removed = store.Forget(name, error);
    if (removed < 0)
        outcome.error = outcome.path + ": " + error;
    else
        outcome.removed = removed;
    return outcome;
}

std::string ForgetDoneText(const ForgetOutcome& outcome, std::string_view name) {
    const std::string what = EqualsNoCase(name, kForgetAll) ? std::string("every template")
                                                            : "template " + std::string(name);
    return "Removed " + std::to_string(outcome.removed) +
           (outcome.removed == 1 ? " entry" : " entries") + " of " + what + " from " + outcome.path;
}

int RunForgetCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 1 || Trim(args[0]).empty()) {
        err << kUsage << '\n';
        return kForgetUsage;
    }
    const std::string name = Trim(args[0]);
    const ForgetOutcome outcome = ForgetProcessed(name, RunLockWait());
    if (!outcome.error.empty()) {
        err << outcome.error << '\n';
        return kForgetFailed;
    }
    out << ForgetDoneText(outcome, name) << '\n';
    return kForgetDone;
}

}  // namespace tallix::engine
