#pragma once
// "txengine /forget NAME": the record of processed messages forgets what template NAME was
// offered (NAME "ALL": everything), so the next run offers those messages again. It waits for
// a run in progress to end, as a second run does, and says how many entries it removed. The
// template manager's editor forgets a template's messages through ForgetProcessed.

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace tallix::engine {

inline constexpr std::string_view kForgetSwitch = "/forget";
inline constexpr std::string_view kRecordCannotBeUsed =
    "The record of processed messages cannot be used: ";

// True when the first argument is the forget switch (any case).
bool IsForgetCommand(int argc, char** argv);

// Exit statuses: 0 done (also when nothing was recorded), 1 the record could not be used or
// another run kept it, 2 the arguments were wrong.
inline constexpr int kForgetDone = 0;
inline constexpr int kForgetFailed = 1;
inline constexpr int kForgetUsage = 2;

// What forgetting did: the entries removed and the record's path, or why nothing was removed.
struct ForgetOutcome {
    std::int64_t removed = 0;
    std::string path;   // the record: Processed.db in the program directory
    std::string error;  // "" when it was done
};

// Removes what the record holds for template `name` (with or without its ".txf", in any case;
// kForgetAll: everything) while holding the run lock, waiting up to `wait` for a run in
// progress. Without a record file nothing was ever recorded: 0 removed, and no record is made.
ForgetOutcome ForgetProcessed(std::string_view name, std::chrono::milliseconds wait);

// "Removed N entries of template NAME from PATH" (NAME kForgetAll: "of every template").
std::string ForgetDoneText(const ForgetOutcome& outcome, std::string_view name);

// `args` are the arguments after the switch; the answer goes to `out`, problems to `err`.
int RunForgetCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tallix::engine
