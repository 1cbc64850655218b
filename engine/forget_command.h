#pragma once
// "txengine /forget NAME": the record of processed messages forgets what template NAME was
// offered (NAME "ALL": everything), so the next run offers those messages again. It waits for
// a run in progress to end, as a second run does, and says how many entries it removed.

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace tallix::engine {

inline constexpr std::string_view kForgetSwitch = "/forget";

// True when the first argument is the forget switch (any case).
bool IsForgetCommand(int argc, char** argv);

// Exit statuses: 0 done (also when nothing was recorded), 1 the record could not be used or
// another run kept it, 2 the arguments were wrong.
inline constexpr int kForgetDone = 0;
inline constexpr int kForgetFailed = 1;
inline constexpr int kForgetUsage = 2;

// `args` are the arguments after the switch; the answer goes to `out`, problems to `err`.
int RunForgetCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tallix::engine
