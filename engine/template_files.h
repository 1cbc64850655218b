#pragma once
// The run's template files, listed with the rules of engine/templates/template_listing.h.

#include <string>

#include "engine/run_context.h"
#include "engine/templates/template_listing.h"

namespace tallix::engine {

// Fills the run's template list (or leaves none) and empties its bad templates for the
// selection ("" for every template of the template directory); each message's status list
// gets one entry per name. No template file at all is reported and ends the program.
void GetTemplateFiles(RunContext& run, const std::string& selection);

}  // namespace tallix::engine
