#pragma once
// Template scripts in the run: DoScripts runs the procedures a matching template names, after
// its variables are filled and before its output line is built, with a fresh clsScripting
// (engine/templates/script_files.h) over the script directory.

#include "engine/run_context.h"
#include "engine/templates/script_files.h"

namespace tallix::engine {

// Runs the template's scripts with a fresh host, in a process of their own, when the run has
// scripts switched on; a language that does not start switches them off for the rest of the
// run. False when the scripts failed (reported): what they were to give the line is missing.
bool DoScripts(RunContext& run, const TemplateWork& work);

}  // namespace tallix::engine
