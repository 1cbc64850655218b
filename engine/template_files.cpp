#include "engine/template_files.h"

#include <string_view>

#include "engine/procedure_contexts.h"
#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/global_utils.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"

namespace tallix::engine {
namespace {

constexpr std::string_view kNoTemplateFiles = " unable to locate template files.";
constexpr std::string_view kCheckTemplatePath =
    "Check the system options to ensure the path to the template files is correct.";

}  // namespace

void GetTemplateFiles(RunContext& run, const std::string& selection) {
    Guard(context::kGetTemplateFiles, [&] {
        run.templateFiles.clear();
        run.haveTemplateFiles = false;
        run.badTemplates.clear();
        std::string trimmed = Trim(selection);
        std::string pattern =
            JoinPath(run.settings.templateDir, (trimmed.empty() ? std::string("*") : trimmed) +
                                                   std::string(kTemplateExtension));
        for (std::string& name : ListMatchingFiles(pattern)) {
            run.templateFiles.push_back(std::move(name));
            LetEventsRun();
        }
        if (!run.templateFiles.empty()) {
            run.haveTemplateFiles = true;
            return;
        }
        ReportError(
            ExeName() + std::string(kNoTemplateFiles) + "\n" + std::string(kCheckTemplatePath),
            true, true);
    });
}

}  // namespace tallix::engine
