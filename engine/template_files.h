#pragma once
// The run's template files, listed with the rules of engine/templates/template_listing.h.

#include <string>

#include "engine/templates/template_listing.h"

namespace tallix::engine {

// Fills TemplateFiles (or leaves none), empties BadTemplates and sizes TemplateStatus for the
// selection ("" for every template of the template directory). No template file at all is
// reported and ends the program.
void GetTemplateFiles(const std::string& selection);

}  // namespace tallix::engine
