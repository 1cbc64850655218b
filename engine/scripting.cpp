#include "engine/scripting.h"

#include <string_view>

#include "engine/procedure_contexts.h"
#include "engine/script_host/script_process.h"
#include "model/template.h"
#include "settings/error_reporter.h"
#include "settings/report_capture.h"

namespace tallix::engine {
namespace {

constexpr std::string_view kTemplateObjectName = "Template";

// What the scripts' process hands back: whether the scripts ran through, the reports made
// there, what a trial withheld there, and what the scripts changed of the template.
struct ScriptsResult {
    bool done = false;
    std::vector<std::string> reports;
    std::vector<std::string> withheld;
    std::string state;
};

std::string Encode(const ScriptsResult& r) {
    std::string out;
    script::PutText(out, r.done ? "1" : "0");
    script::PutTexts(out, r.reports);
    script::PutTexts(out, r.withheld);
    script::PutText(out, r.state);
    return out;
}

bool Decode(std::string_view in, ScriptsResult& r) {
    std::string done;
    if (!script::TakeText(in, done) || !script::TakeTexts(in, r.reports) ||
        !script::TakeTexts(in, r.withheld) || !script::TakeText(in, r.state))
        return false;
    r.done = done == "1";
    return in.empty();
}

}  // namespace

bool DoScripts(RunContext& run, const TemplateWork& work) {
    if (!run.settings.useScripts) return true;
    // A fresh runner and host for every matching message and template: scripts keep nothing
    // from one message to the next.
    std::unique_ptr<clsScripting> scripting;
    if (!Guard(context::kDoScripts, [&] {
            scripting = clsScripting::Create(run.settings.scriptEngine);
            run.settings.useScripts = scripting != nullptr;
        }))
        return false;
    if (!scripting) return true;  // no scripts for the rest of the run

    const std::shared_ptr<clsTemplate>& current = work.tpl;
    script::WithheldEffects* withheld = script::WithheldEffects::Active();
    const std::size_t withheldBefore = withheld ? withheld->Texts().size() : 0;
    // The scripts run in a process of their own (engine/script_host/script_process.h); what
    // they change of the template and what they reported comes back from there.
    auto apart = [&] {
        ScriptsResult r;
        {
            ReportCapture capture;
            r.done = Guard(context::kDoScripts, [&] {
                scripting->SetDirectory(run.settings.scriptDir);
                scripting->sc()->AddObject(kTemplateObjectName, current);
                scripting->GetScripts();
                for (const std::string& name :
                     SplitScriptNames(current ? current->ScriptsToRun() : std::string()))
                    scripting->sc()->Run(name);
            });
            scripting.reset();  // the interpreter's teardown, finalizers and all
            r.reports = capture.Texts();
        }
        if (withheld)
            r.withheld.assign(
                withheld->Texts().begin() + static_cast<std::ptrdiff_t>(withheldBefore),
                withheld->Texts().end());
        if (current) r.state = script::SaveScriptedState(*current);
        return Encode(r);
    };
    ScriptsResult result;
    const bool back = Guard(context::kDoScripts, [&] {
        const script::ChildOutcome outcome = script::RunInChildProcess(apart);
        if (outcome.ending != script::ChildEnding::Finished) script::RaiseChildEnding(outcome);
        if (!Decode(outcome.result, result) ||
            (current && !script::RestoreScriptedState(*current, result.state)))
            Raise(kErrInternal, "The scripts' process handed back a result that does not fit");
        for (const std::string& text : result.reports) ReportAgain(text);
        if (withheld)
            for (std::string& text : result.withheld) withheld->Add(std::move(text));
    });
    // A failure in the scripts was reported where it happened.
    return back && result.done;
}

}  // namespace tallix::engine
