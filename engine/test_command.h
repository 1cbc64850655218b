#pragma once
// "txengine /test NAME [FILE]": a trial of template NAME over the messages of FILE (a mailbox
// file or one message), or over the configured source's messages, printed message by message.
// It writes nothing outside the scratch directory: no output line, no stamp, no log, no
// deletion.

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace tallix::engine {

inline constexpr std::string_view kTestSwitch = "/test";

// True when the first argument is the test switch (any case).
bool IsTestCommand(int argc, char** argv);

// Exit statuses: 0 the trial ran (whatever it found), 1 the template or the file could not be
// read or the source not built, 2 the arguments were wrong.
inline constexpr int kTestRan = 0;
inline constexpr int kTestCannotRun = 1;
inline constexpr int kTestUsage = 2;

// Runs the trial; `args` are the arguments after the switch. The report goes to `out`,
// problems to `err`.
int RunTestCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tallix::engine
