#include "engine/template_files.h"

#include <sys/stat.h>

#include <cerrno>
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

// Where the templates were looked for and why none was found there.
std::string WhereLooked(const std::string& dir, const std::string& pattern) {
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) return FileFaultLine(dir, SystemReason(errno));
    if (!S_ISDIR(st.st_mode)) return FileFaultLine(dir, SystemReason(ENOTDIR));
    return "No file matches " + pattern;
}

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
        ReportError(ExeName() + std::string(kNoTemplateFiles) + "\n" +
                        std::string(kCheckTemplatePath) + "\n" +
                        WhereLooked(run.settings.templateDir, pattern),
                    true, true);
    });
}

}  // namespace tallix::engine
