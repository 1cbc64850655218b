#include "engine/run_state.h"

#include "settings/error_reporter.h"
#include "settings/system_rules.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"

namespace tallix::engine {

CommandLine ParseCommandLine(std::string_view argumentText, void (*perCharacter)()) {
    CommandLine cl;
    std::string_view text = TrimView(argumentText);
    char current = 'F';
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '/') {
            if (i + 1 == text.size()) break;
            current = UpperAscii(text[++i]);
            switch (current) {
                case 'F':
                    cl.templateSelection.clear();
                    break;
                case 'S':
                    cl.silentMode = true;
                    break;
                case 'H':
                case '?':
                    cl.helpRequested = true;
                    break;
                default:
                    break;
            }
        } else if (current == 'F') {
            cl.templateSelection.push_back(c);
        } else if (current == 'S' && UpperAscii(c) == 'X') {
            cl.noWindow = true;
        }
        if (perCharacter) perCharacter();
    }
    cl.templateSelection = Trim(cl.templateSelection);
    return cl;
}

std::string ArgumentText(int argc, char** argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) text.push_back(' ');
        text += argv[i];
    }
    return text;
}

void RunState::Reset() {
    pop3ConfigPath.clear();
    templateFiles.clear();
    haveTemplateFiles = false;
    badTemplates.clear();
    templateStatus.clear();
    allParsedOK = true;
    currentSource = nullptr;
    currentTemplate.reset();
    currentTemplateIndex = 0;
    messageNo = totalMessageCount = templateNo = templateCount = 0;
    messageProgress = templateProgress = 0;
    outputLine.clear();
    outputOrder.clear();
    delimiter = ",";
    outputs.Clear();
    templates.Clear();
    watch.Reset();
    fields.Clear();
}

namespace {
thread_local RunState* t_scopedRun = nullptr;
}  // namespace

RunState& CurrentRun() {
    if (t_scopedRun) return *t_scopedRun;
    static RunState state;
    return state;
}

RunStateScope::RunStateScope(RunState& state) : m_previous(t_scopedRun) {
    t_scopedRun = &state;
}
RunStateScope::~RunStateScope() {
    t_scopedRun = m_previous;
}

void InitApp() {
    Guard("Sub InitApp:", [] {
        CurrentRun().commandLine = CommandLine{};
        SetSilentMode(false);
    });
}

void GetCmdLnArgs(std::string_view argumentText) {
    Guard("Sub GetCmdLnArgs: ", [&] {
        CurrentRun().commandLine = ParseCommandLine(argumentText, &LetEventsRun);
        if (CurrentRun().commandLine.silentMode) SetSilentMode(true);
    });
}

}  // namespace tallix::engine

namespace tallix::engine {

void CalcPrgValue(ProgressKind kind) {
    Guard("Sub CalcPrgValue:", [&] {
        RunState& run = CurrentRun();
        bool messages = kind == ProgressKind::Messages;
        double numerator = messages ? run.messageNo : run.templateNo + 1.0;
        double denominator = messages ? run.totalMessageCount : run.templateCount;
        std::int32_t value = 0;
        if (numerator != 0 && denominator != 0) value = CLng(numerator / denominator * 100.0);
        (messages ? run.messageProgress : run.templateProgress) = value;
    });
}

bool IsBadTemplate(std::string_view name) {
    std::string wanted = Trim(name);
    for (const std::string& bad : CurrentRun().badTemplates)
        if (Trim(bad) == wanted) return true;
    return false;
}

void ResetTemplateStatus() {
    for (auto& status : CurrentRun().templateStatus) status = TemplateOutcome::NotUsed;
}

void MarkTemplateFailed() {
    RunState& run = CurrentRun();
    run.allParsedOK = false;
    if (run.currentTemplateIndex >= 0 &&
        static_cast<std::size_t>(run.currentTemplateIndex) < run.templateStatus.size())
        run.templateStatus[run.currentTemplateIndex] = TemplateOutcome::Failed;
}

}  // namespace tallix::engine
