#pragma once
// Template scripts in the run: DoScripts runs the procedures a matching template names, after
// its variables are filled and before its output line is built, with a fresh clsScripting
// (engine/templates/script_files.h) over the script directory.

#include "engine/templates/script_files.h"

namespace tallix::engine {

// Runs the current template's scripts with a fresh host, when scripts are switched on.
void DoScripts();

}  // namespace tallix::engine
