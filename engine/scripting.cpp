#include "engine/scripting.h"

#include <string_view>

#include "engine/procedure_contexts.h"
#include "model/template.h"
#include "settings/error_reporter.h"

namespace tallix::engine {
namespace {

constexpr std::string_view kTemplateObjectName = "Template";

}  // namespace

void DoScripts(RunContext& run, const TemplateWork& work) {
    if (!run.settings.useScripts) return;
    // A fresh runner and host for every matching message and template: scripts keep nothing
    // from one message to the next.
    std::unique_ptr<clsScripting> scripting;
    Guard(context::kDoScripts, [&] {
        scripting = clsScripting::Create(run.settings.scriptEngine);
        run.settings.useScripts = scripting != nullptr;
        if (!scripting) return;
        scripting->SetDirectory(run.settings.scriptDir);
        const std::shared_ptr<clsTemplate>& current = work.tpl;
        scripting->sc()->AddObject(kTemplateObjectName, current);
        scripting->GetScripts();
        for (const std::string& name :
             SplitScriptNames(current ? current->ScriptsToRun() : std::string()))
            scripting->sc()->Run(name);
    });
}

}  // namespace tallix::engine
