#pragma once
// The engine's start-up: from the command line to the end of the run.

#include <functional>
#include <string>
#include <string_view>

#include "engine/run_context.h"

namespace tallix::engine {

inline constexpr std::string_view kAllTemplates = "ALL";

// What start-up needs from the program around it.
struct EngineHooks {
    // Shows the help modally and returns when it is closed.
    std::function<void()> showHelp;
    // The run over every source with the given selection ("" for every template);
    // RunSources when not set.
    std::function<void(RunContext& run, const std::string& selection)> runSources;
};

// Start-up in the engine's order: load the status window hidden, compute the POP3 account
// file path, read the settings, scan the command line, show the help and end when asked,
// otherwise enable the timer, write the first status lines, show the window unless /sx,
// run, and unload the window. Returns the exit status of a normal end.
int EngineMain(const std::string& argumentText, const EngineHooks& hooks);

// Options that Linux programs take, recognised when one of them is the whole argument text:
// "--help", "-h" and "-?" print the help columns, "--version" the product name and version.
// Either ends the program before anything is read or written (unlike "/?", which comes after
// the settings). The manager refuses template names beginning with "-"; a template so named
// by hand is still run with "/f" before its name.
enum class CommonOption { None, Help, Version };
CommonOption CommonOptionOf(std::string_view argumentText);
// What a common option prints on standard output ("" for None).
std::string CommonOptionOutput(CommonOption option);
// The answer to "--version": the product name, a blank and the version.
std::string VersionText();

// The engine's settings, in the order the engine reads them; the template directory named
// by TALLIX_TEMPLATE_DIR, when set, takes the stored one's place for this run only.
void ReadEngineSettings();

}  // namespace tallix::engine
