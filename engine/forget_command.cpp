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

int RunForgetCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 1 || Trim(args[0]).empty()) {
        err << kUsage << '\n';
        return kForgetUsage;
    }
    const std::string name = Trim(args[0]);
    const bool all = EqualsNoCase(name, kForgetAll);
    const std::string what = all ? std::string("every template") : "template " + name;
    const std::string path = JoinPath(ProgramDir(), kProcessedFileName);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        // Nothing was ever recorded: nothing to forget, and no record is made for it.
        out << "Removed 0 entries of " << what << " from " << path << '\n';
        return kForgetDone;
    }
    RunLock lock;
    if (const std::string problem =
            lock.Take(JoinPath(ProgramDir(), kRunLockFileName), RunLockWait());
        !problem.empty()) {
        err << problem << '\n';
        return kForgetFailed;
    }
    ProcessedStore store;
    if (const std::string error = store.Open(path); !error.empty()) {
        err << "The record of processed messages cannot be used: " << path << ": " << error << '\n';
        return kForgetFailed;
    }
    std::string error;
    const std::int64_t removed = store.Forget(name, error);
    if (removed < 0) {
        err << path << ": " << error << '\n';
        return kForgetFailed;
    }
    out << "Removed " << removed << (removed == 1 ? " entry" : " entries") << " of " << what
        << " from " << path << '\n';
    return kForgetDone;
}

}  // namespace tallix::engine
