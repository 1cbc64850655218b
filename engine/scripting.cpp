#include "engine/scripting.h"

#include <string_view>

#include "engine/run_state.h"
#include "model/template.h"
#include "settings/error_reporter.h"
#include "settings/settings_store.h"

namespace tallix::engine {
namespace {

constexpr std::string_view kTemplateObjectName = "Template";

}  // namespace

void DoScripts() {
    if (!Settings().useScripts) return;
    // A fresh runner and host for every matching message and template: scripts keep nothing
    // from one message to the next.
    std::unique_ptr<clsScripting> scripting;
    Guard("Sub DoScripts: ", [&] {
        scripting = clsScripting::Create();
        if (!scripting) return;
        scripting->SetDirectory(Settings().scriptDir);
        const std::shared_ptr<clsTemplate> current = CurrentRun().currentTemplate;
        scripting->sc()->AddObject(kTemplateObjectName, current);
        scripting->GetScripts();
        for (const std::string& name :
             SplitScriptNames(current ? current->ScriptsToRun() : std::string()))
            scripting->sc()->Run(name);
    });
}

}  // namespace tallix::engine
